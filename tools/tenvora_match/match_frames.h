// One light matched against its dark (and bias) in memory, through the
// pipeline's stages: the plug-in's images, bit for bit, and the levels they
// were made with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "matching/stages.h"
#include "tools/tenvora_match/frame.h"

struct MatchInput {
  const Frame* light = nullptr;
  const Frame* dark = nullptr;
  const Frame* bias = nullptr;  // null: no bias
  int32_t bias_factor = 1;      // 0 to 999
  bool subtract = false;        // also make the corrected image
};

struct OutputImage {
  std::string title;
  Frame frame;
};

struct MatchedFrames {
  Measurement levels;
  std::vector<OutputImage> images;  // glow, hot, matched and maybe corrected
};

// The frames must have one size. Besides the inputs it holds only the three
// or four output planes.
MatchedFrames match_frames(const MatchInput& input);
