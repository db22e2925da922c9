// One run of the plug-in on frames held in memory, through the in-process
// host: the frames become host images, and the plug-in is initialized,
// activated and driven through its dialog as a user would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tenvora_match/frame.h"

struct MatchInput {
  const Frame* light = nullptr;
  const Frame* dark = nullptr;
  const Frame* bias = nullptr;  // null: no bias
  int32_t bias_factor = 1;      // 0 to 999
  bool subtract = false;        // also make the corrected image
  // Titles of the host images, shown on the dialog's buttons.
  std::string light_title = "light", dark_title = "dark", bias_title = "bias";
};

struct OutputImage {
  std::string title;
  Frame frame;
};

struct MatchRun {
  std::vector<OutputImage> images;  // in the order the plug-in made them
  // The glow image as the host first showed it, right after the split and
  // before the scaling: the dark's unscaled glow component.
  std::vector<float> glow_component;
};

// Throws InternalError when the plug-in does not end its dialog with Go or
// shows a message.
MatchRun run_match(const MatchInput& input);
