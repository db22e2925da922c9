// Lights matched against a dark (and bias) in memory, through the pipeline's
// stages. The dark is split once, and the pixels the fit reads are chosen
// once; every light of a run is matched against them. Under the plug-in's
// method the images are the plug-in's, bit for bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fits/frame.h"
#include "matching/fit_scales.h"
#include "matching/stages.h"
#include "tools/tenvora_match/frame_units.h"

// How the two scales are found: fitted over the whole frame, or the
// plug-in's levels (its corner block and nine hot pixels).
enum class MatchMethod { fit, plugin };

const char* method_name(MatchMethod method);

// What every light of a run is matched against; made once, then only read,
// so lights may be matched against it on several threads at once.
struct DarkSet {
  FrameGeometry frame{};
  Frame bias;                  // no pixels: no bias
  int32_t bias_factor = 0;     // 0 to 999; applies only with a bias
  bool subtract = false;       // also make the corrected image
  Pixels glow, hot;            // the dark (less the bias) split, unscaled
  Frame dark;                  // as read: the checks after a match look at it
  double dark_saturation;      // saturation_level of the dark, worked out once
  FitSample sample;            // the pixels the fit reads
  double dark_exposure = NAN;  // seconds, from the dark's header
  FrameUnits dark_units = FrameUnits::unknown, bias_units = FrameUnits::unknown;
};

// Splits the dark and picks the fit's pixels; the bias, when it has pixels,
// must have the dark's size.
DarkSet split_dark_set(Frame dark, Frame bias, int32_t bias_factor, bool subtract);

// saturation_level of a frame as read, from its file's largest value.
double frame_saturation(const Frame& frame);

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
  MatchMethod method = MatchMethod::fit;
  Measurement levels;  // the plug-in's levels, measured under either method
  ScaleFit fit;        // the fit, made under either method
  Exposures exposure;
  // The scales the images were made with: the fit's (the plug-in's levels
  // when the fit could not be solved) or the plug-in's ratios.
  float glow_scale = 0, hot_scale = 0;
  std::vector<float> sample_values;  // the light as measured at the fit's pixels
  std::vector<OutputImage> images;   // in the plug-in's order
};

// The light must have the set's size. Besides the light and the set it holds
// only the output planes: the matched dark, the corrected image when the set
// asks for it and, with components, the scaled glow and hot images.
// light_exposure is the light's exposure time in seconds, NaN when unknown.
// spent: the set itself, for a set made for this one light; under the fit
// its glow and hot planes are scaled in place into the components, two
// planes fewer (the plug-in's checks, which read the unscaled glow, do not
// run under the fit).
MatchedFrames match_light(const Frame& light, const DarkSet& set, bool components = true,
                          double light_exposure = NAN, MatchMethod method = MatchMethod::fit,
                          DarkSet* spent = nullptr);
