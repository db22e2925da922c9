#include "tools/tenvora_match/match_frames.h"

#include "diagnostics/diagnostics.h"
#include "matching/output_titles.h"

namespace {

OutputImage output(const char* title, FrameGeometry frame) {
  return {title, {frame.width, frame.height, Pixels(size_t(frame.width) * size_t(frame.height))}};
}

}  // namespace

const char* method_name(MatchMethod method) {
  return method == MatchMethod::fit ? "fit" : "plugin";
}

double frame_saturation(const Frame& frame) {
  const PixelStorage& p = frame.storage;
  return saturation_level(frame.pixels.data(), frame.pixels.size(),
                          largest_representable(p.bitpix, p.bzero, p.bscale));
}

DarkSet split_dark_set(Frame dark, Frame bias, int32_t bias_factor, bool subtract) {
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
  set.dark_saturation = frame_saturation(dark);
  set.sample = fit_sample(set.frame, dark.pixels.data(), set.glow.data(), set.hot.data(),
                          set.dark_saturation);
  set.dark = std::move(dark);
  return set;
}

MatchedFrames match_light(const Frame& light, const DarkSet& set, bool components,
                          double light_exposure, MatchMethod method, DarkSet* spent) {
  const FrameGeometry frame = set.frame;
  const bool use_bias = !set.bias.pixels.empty();
  const float* bias = use_bias ? set.bias.pixels.data() : nullptr;
  const int32_t bias_factor = use_bias ? set.bias_factor : 0;

  MatchedFrames run;
  run.method = method;
  run.exposure = {light_exposure, set.dark_exposure,
                  exposure_ratio(light_exposure, set.dark_exposure)};
  // A spent set's planes become the components: no planes of their own.
  const bool in_place = spent == &set && components && method == MatchMethod::fit;
  const FrameGeometry none{0, 0};
  if (components)
    run.images = {output(kGlowTitle, in_place ? none : frame),
                  output(kHotTitle, in_place ? none : frame)};
  run.images.push_back(output(use_bias ? kMatchedBiasTitle : kMatchedTitle, frame));
  float* matched = run.images.back().frame.pixels.data();
  float* scaled_glow = components ? run.images[0].frame.pixels.data() : nullptr;
  float* scaled_hot = components ? run.images[1].frame.pixels.data() : nullptr;

  // The matched plane holds the light less the bias until the scaling.
  const float* measured = light_to_measure(frame, light.pixels.data(), bias, bias_factor, matched);
  run.levels = measure(frame, measured, set.glow.data(), set.hot.data());
  run.sample_values =
      sample_light(light.pixels.data(), bias, bias_factor, set.sample, frame_saturation(light));
  run.fit = fit_scales(set.sample, run.sample_values);
  const bool fitted = method == MatchMethod::fit && run.fit.solved;
  run.glow_scale = fitted ? static_cast<float>(run.fit.glow_scale) : run.levels.glow_ratio;
  run.hot_scale = fitted ? static_cast<float>(run.fit.hot_scale) : run.levels.hot_ratio;
  const float *glow = set.glow.data(), *hot = set.hot.data();
  if (in_place) {
    run.images[0].frame = {frame.width, frame.height, std::move(spent->glow)};
    run.images[1].frame = {frame.width, frame.height, std::move(spent->hot)};
    glow = scaled_glow = run.images[0].frame.pixels.data();
    hot = scaled_hot = run.images[1].frame.pixels.data();
  }
  scale_and_sum(frame, glow, run.glow_scale, hot, run.hot_scale, bias, bias_factor, matched,
                scaled_glow, scaled_hot);
  if (set.subtract) {
    run.images.push_back(output(kCorrectedTitle, frame));
    correct_light(frame, light.pixels.data(), matched, run.images.back().frame.pixels.data());
  }
  return run;
}
