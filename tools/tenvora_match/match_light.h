// Matching one light against the run's dark (and bias): the one call the
// tool makes per light, on frames held in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tenvora_match/levels.h"
#include "tools/tenvora_match/match_run.h"

// What every light of a run is matched against; read once per run and only
// read afterwards.
struct DarkSet {
  Frame dark, bias;
  bool use_bias = false;
  int32_t bias_factor = 1;  // 0 to 999
  bool subtract = false;    // also make the corrected image
  std::string dark_title = "dark", bias_title = "bias";
};

struct MatchedLight {
  std::vector<OutputImage> images;  // in the order the plug-in made them
  Levels levels;
};

// The plug-in's images for the light and the levels they were made with.
// The light must have the set's size. Throws InternalError when the plug-in
// does not behave as expected.
MatchedLight match_light(const Frame& light, const std::string& light_title, const DarkSet& set);
