#include "tools/tenvora_match/match_frames.h"

#include "matching/output_titles.h"

namespace {

OutputImage output(const char* title, const Frame& like) {
  return {title, {like.width, like.height, std::vector<float>(like.pixels.size())}};
}

}  // namespace

MatchedFrames match_frames(const MatchInput& in) {
  const Frame& light = *in.light;
  const FrameGeometry frame{light.width, light.height};
  const float* bias = in.bias ? in.bias->pixels.data() : nullptr;
  const int32_t bias_factor = in.bias ? in.bias_factor : 0;

  MatchedFrames run;
  run.images = {output(kGlowTitle, light), output(kHotTitle, light),
                output(in.bias ? kMatchedBiasTitle : kMatchedTitle, light)};
  float* glow = run.images[0].frame.pixels.data();
  float* hot = run.images[1].frame.pixels.data();
  float* matched = run.images[2].frame.pixels.data();

  split_dark(frame, in.dark->pixels.data(), bias, glow, hot);
  // The matched plane holds the light less the bias until the scaling.
  const float* measured = light_to_measure(frame, light.pixels.data(), bias, bias_factor, matched);
  run.levels = measure(frame, measured, glow, hot);
  scale_and_sum(frame, glow, run.levels.glow_ratio, hot, run.levels.hot_ratio, bias, bias_factor,
                matched, glow, hot);
  if (in.subtract) {
    run.images.push_back(output(kCorrectedTitle, light));
    correct_light(frame, light.pixels.data(), matched, run.images[3].frame.pixels.data());
  }
  return run;
}
