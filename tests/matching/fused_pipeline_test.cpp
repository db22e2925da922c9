// The pipeline's fused passes against a step-by-step run of the
// straightforward kernels, on frames full of NaN, infinities,
// signed zeros and subnormals, in both modes.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "kernels/kernels.h"
#include "kernels/nan_order.h"
#include "matched_dark_fixture.h"
#include "matching/matched_dark.h"
#include "tests/kernels/random_frames.h"

namespace matching_test {
namespace {

struct Planes {
  std::vector<float> glow_shown, glow, hot, matched, corrected, light;
};

double divisor(float level) {
  return level == 0.0f || std::isnan(level) ? 1.0 : level;
}

// The run as a sequence of single kernels, on planes of its own.
Planes step_by_step(const reference::Inputs& in, const Mode& mode) {
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
    copy_plane(dark, hot);
    reference_kernels.subtract_plane(hot, bias);
    reference_kernels.separate_hot_pixels(hot, glow);
  } else {
    reference_kernels.separate_hot_pixels(dark, glow);
    copy_plane(dark, hot);
  }
  p.glow_shown = p.glow;
  reference_kernels.subtract_plane(hot, glow);
  if (mode.use_bias)
    for (int32_t k = 0; k < mode.bias_factor; ++k) reference_kernels.subtract_plane(light, bias);
  reference_kernels.find_darkest_block(light);
  const float glow_light = float(glow_level(light));
  const float glow_dark = float(glow_level(glow));
  reference_kernels.find_hot_pixels(hot);
  const float hot_dark =
      float(double(float(mean_at_hot_pixels(hot))) - mean_background_at_hot_pixels(hot));
  const double hot_light =
      double(float(mean_at_hot_pixels(light))) - mean_background_at_hot_pixels(light);
  const float glow_ratio = float(glow_light / divisor(glow_dark));
  const float hot_ratio = float(hot_light / divisor(hot_dark));
  for (size_t i = 0; i < count; ++i) {
    glow[i] = product_of(glow_ratio, glow[i]);
    hot[i] = product_of(hot_ratio, hot[i]);
  }
  copy_plane(glow, p.matched.data());
  reference_kernels.add_plane(p.matched.data(), hot);
  if (mode.use_bias)
    for (int32_t k = 0; k < mode.bias_factor; ++k)
      reference_kernels.add_plane(p.matched.data(), bias);
  copy_plane(in.light.data(), p.corrected.data());
  reference_kernels.subtract_plane(p.corrected.data(), p.matched.data());
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

        // The same searches start from the same kernel state.
        open_images(in, width, height);
        plugin_state.frame_width = width;
        plugin_state.frame_height = height;
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
