// Lights matched against a dark (and bias) in memory, through the pipeline's
// stages: the plug-in's images, bit for bit, and the levels they were made
// with. The dark is split once; every light of a run is matched against it.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fits/frame.h"
#include "matching/stages.h"

// What every light of a run is matched against; made once, then only read,
// so lights may be matched against it on several threads at once.
struct DarkSet {
  FrameGeometry frame{};
  Frame bias;                             // no pixels: no bias
  int32_t bias_factor = 0;                // 0 to 999; applies only with a bias
  bool subtract = false;                  // also make the corrected image
  Pixels glow, hot;                       // the dark (less the bias) split, unscaled
  Frame dark;                             // as read: the checks after a match look at it
  std::optional<double> dark_saturation;  // for the checks, worked out once
  double dark_exposure = NAN;             // seconds, from the dark's header
};

// Splits the dark; the bias, when it has pixels, must have the dark's size.
DarkSet split_dark_set(const Frame& dark, Frame bias, int32_t bias_factor, bool subtract);

struct OutputImage {
  std::string title;
  Frame frame;
};

// The exposure times in seconds of the light and the dark (NaN when the
// header gives none) and exposure_ratio() of them, for beside the scales.
struct Exposures {
  double light = NAN, dark = NAN, ratio = NAN;
};

struct MatchedFrames {
  Measurement levels;
  Exposures exposure;
  std::vector<OutputImage> images;  // in the plug-in's order
};

// The light must have the set's size. Besides the light and the set it holds
// only the output planes: the matched dark, the corrected image when the set
// asks for it and, with components, the scaled glow and hot images.
// light_exposure is the light's exposure time in seconds, NaN when unknown.
MatchedFrames match_light(const Frame& light, const DarkSet& set, bool components = true,
                          double light_exposure = NAN);
