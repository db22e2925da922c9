// The pipeline's fused passes against a step-by-step run of the
// straightforward kernels, on frames full of NaN, infinities,
// signed zeros and subnormals, in both modes.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels/kernels.h"
#include "kernels/nan_order.h"
#include "matched_dark_fixture.h"
#include "matching/matched_dark.h"
#include "matching/stages.h"
#include "tests/kernels/random_frames.h"

namespace matching_test {
namespace {

struct Planes {
  std::vector<float> glow_shown, glow, hot, matched, corrected, light;
};

// The run as a sequence of single kernels, on planes of its own; the
// measurement's searches take the reference kernels too.
Planes step_by_step(const reference::Inputs& in, const Mode& mode) {
  const FrameGeometry frame = {in.width, in.height};
  const size_t count = in.light.size();
  Planes p{{},
           std::vector<float>(count),
           std::vector<float>(count),
           std::vector<float>(count),
           std::vector<float>(count),
           in.light};
  // The light as measured: less the bias, factor times; the chosen one stays.
  std::vector<float> measured = in.light;
  float* light = measured.data();
  const float* dark = in.dark.data();
  const float* bias = in.bias.data();
  float* glow = p.glow.data();
  float* hot = p.hot.data();
  if (mode.use_bias) {
    copy_plane(frame, dark, hot);
    reference_kernels.subtract_plane(frame, hot, bias);
    reference_kernels.separate_hot_pixels(frame, hot, glow);
  } else {
    reference_kernels.separate_hot_pixels(frame, dark, glow);
    copy_plane(frame, dark, hot);
  }
  p.glow_shown = p.glow;
  reference_kernels.subtract_plane(frame, hot, glow);
  if (mode.use_bias)
    for (int32_t k = 0; k < mode.bias_factor; ++k)
      reference_kernels.subtract_plane(frame, light, bias);
  SearchStart start{{in.darkest_block.x, in.darkest_block.y}, {}};
  for (int k = 0; k < 9; ++k) {
    start.hot_pixels.x[k] = in.hot_pixels[k].x;
    start.hot_pixels.y[k] = in.hot_pixels[k].y;
  }
  const Measurement m = measure(frame, light, glow, hot, start, reference_kernels);
  for (size_t i = 0; i < count; ++i) {
    glow[i] = product_of(m.glow_ratio, glow[i]);
    hot[i] = product_of(m.hot_ratio, hot[i]);
  }
  copy_plane(frame, glow, p.matched.data());
  reference_kernels.add_plane(frame, p.matched.data(), hot);
  if (mode.use_bias)
    for (int32_t k = 0; k < mode.bias_factor; ++k)
      reference_kernels.add_plane(frame, p.matched.data(), bias);
  copy_plane(frame, in.light.data(), p.corrected.data());
  reference_kernels.subtract_plane(frame, p.corrected.data(), p.matched.data());
  return p;
}

std::vector<uint32_t> patterns(const std::vector<float>& plane) {
  std::vector<uint32_t> result;
  for (const float& value : plane) result.push_back(bits_of(value));
  return result;
}

class FusedPipeline : public PipelineTest {};

TEST_F(FusedPipeline, GivesTheStepByStepPlanesBitForBit) {
  std::mt19937 random(7);
  const Mode modes[] = {{false, 1, true}, {true, 0, true}, {true, 1, true}, {true, 2, true}};
  for (const auto& [width, height] : {std::pair{37, 29}, std::pair{64, 40}, std::pair{5, 3}}) {
    for (int special : {20, 1}) {
      for (const Mode& mode : modes) {
        reference::Inputs in;
        in.width = width;
        in.height = height;
        for (reference::Plane* plane : {&in.light, &in.dark, &in.bias}) {
          plane->resize(size_t(width) * height);
          for (float& pixel : *plane) set_bits(&pixel, random_pixel(random, special));
        }
        open(in, mode, width, height);
        run_matched_dark();
        const std::vector<float> fused_light = image(kLight).pixels;
        const std::vector<float> fused_glow_shown = image(kGlow).shown.at(0);
        const Planes fused{fused_glow_shown,       image(kGlow).pixels,      image(kHot).pixels,
                           image(kMatched).pixels, image(kCorrected).pixels, fused_light};

        const Planes expected = step_by_step(in, mode);
        const auto where = ::testing::Message()
                           << width << " x " << height << ", " << special << "% special, "
                           << (mode.use_bias ? "bias x " : "no bias ") << mode.bias_factor;
        // Every plane bit for bit, NaN payloads included.
        EXPECT_EQ(patterns(fused.glow_shown), patterns(expected.glow_shown)) << where;
        EXPECT_EQ(patterns(fused.glow), patterns(expected.glow)) << where;
        EXPECT_EQ(patterns(fused.hot), patterns(expected.hot)) << where;
        EXPECT_EQ(patterns(fused.matched), patterns(expected.matched)) << where;
        EXPECT_EQ(patterns(fused.corrected), patterns(expected.corrected)) << where;
        EXPECT_EQ(patterns(fused.light), patterns(expected.light)) << where;
      }
    }
  }
}

}  // namespace
}  // namespace matching_test
