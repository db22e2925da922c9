// The levels and ratios behind a run's outputs.
#pragma once

#include <cstdint>

#include "tools/tenvora_match/match_run.h"

struct Levels {
  float glow_light, glow_dark, glow_ratio;
  double hot_light;  // kept wide, as the pipeline keeps it until divided
  float hot_dark, hot_ratio;
  int32_t darkest_x, darkest_y;  // anchor of the darkest 5x5 block
};

// The plug-in hands back images, not numbers. This measures again, on copies
// of the planes, with the plug-in's own kernels called in the order and with
// the roundings of its pipeline, so the ratios are the ones that scaled the
// outputs. The glow component is the run's own (splitting the dark again
// would cost a quarter of a run); the rest is rebuilt from the inputs.
// Overwrites the kernels' block anchor and hot-pixel list.
Levels measure_levels(const MatchInput& input, const std::vector<float>& glow_component);
