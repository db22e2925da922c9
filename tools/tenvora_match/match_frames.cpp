#include "tools/tenvora_match/match_frames.h"

#include "diagnostics/diagnostics.h"
#include "matching/output_titles.h"

namespace {

OutputImage output(const char* title, FrameGeometry frame) {
  return {title, {frame.width, frame.height, Pixels(size_t(frame.width) * size_t(frame.height))}};
}

}  // namespace

DarkSet split_dark_set(const Frame& dark, Frame bias, int32_t bias_factor, bool subtract) {
  DarkSet set;
  set.frame = {dark.width, dark.height};
  set.bias = std::move(bias);
  set.bias_factor = bias_factor;
  set.subtract = subtract;
  set.glow.resize(dark.pixels.size());
  set.hot.resize(dark.pixels.size());
  split_dark(set.frame, dark.pixels.data(),
             set.bias.pixels.empty() ? nullptr : set.bias.pixels.data(), set.glow.data(),
             set.hot.data());
  return set;
}

MatchedFrames match_light(const Frame& light, const DarkSet& set, bool components,
                          double light_exposure) {
  const FrameGeometry frame = set.frame;
  const bool use_bias = !set.bias.pixels.empty();
  const float* bias = use_bias ? set.bias.pixels.data() : nullptr;
  const int32_t bias_factor = use_bias ? set.bias_factor : 0;

  MatchedFrames run;
  run.exposure = {light_exposure, set.dark_exposure,
                  exposure_ratio(light_exposure, set.dark_exposure)};
  if (components) run.images = {output(kGlowTitle, frame), output(kHotTitle, frame)};
  run.images.push_back(output(use_bias ? kMatchedBiasTitle : kMatchedTitle, frame));
  float* matched = run.images.back().frame.pixels.data();
  float* scaled_glow = components ? run.images[0].frame.pixels.data() : nullptr;
  float* scaled_hot = components ? run.images[1].frame.pixels.data() : nullptr;

  // The matched plane holds the light less the bias until the scaling.
  const float* measured = light_to_measure(frame, light.pixels.data(), bias, bias_factor, matched);
  run.levels = measure(frame, measured, set.glow.data(), set.hot.data());
  scale_and_sum(frame, set.glow.data(), run.levels.glow_ratio, set.hot.data(), run.levels.hot_ratio,
                bias, bias_factor, matched, scaled_glow, scaled_hot);
  if (set.subtract) {
    run.images.push_back(output(kCorrectedTitle, frame));
    correct_light(frame, light.pixels.data(), matched, run.images.back().frame.pixels.data());
  }
  return run;
}
