// The pipeline's images and host commands in both modes, checked against the
// reference computation.
#include "matching/matched_dark.h"

#include <cmath>
#include <string>

#include "matched_dark_fixture.h"

namespace matching_test {
namespace {

class Modes : public PipelineTest, public ::testing::WithParamInterface<Mode> {
 protected:
  void check_run(const Mode& mode, reference::Inputs in);
};

TEST_P(Modes, MakesTheImagesOfTheReference) {
  // Several frames, since a missing rounding changes a result only now and then.
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    check_run(GetParam(), sample_frames(seed));
  }
}

void Modes::check_run(const Mode& mode, reference::Inputs in) {
  in.use_bias = mode.use_bias;
  in.bias_factor = mode.bias_factor;
  open(in, mode);
  const reference::Outputs want = reference::matched_dark(in);
  // Ratios away from 0 and 1, so that a pixel scaled twice or not at all shows.
  ASSERT_GT(std::fabs(want.glow_ratio - 1.0f), 0.1f);
  ASSERT_GT(std::fabs(want.hot_ratio - 1.0f), 0.1f);

  EXPECT_EQ(run_matched_dark().stop, RunStop::kDone);

  EXPECT_EQ(host_->log_text(), expected_commands(mode));
  ASSERT_EQ(host_->images().size(), mode.subtract ? 8u : 7u);
  EXPECT_TRUE(same_pixels(want.glow, image(kGlow).pixels));
  EXPECT_TRUE(same_pixels(want.hot, image(kHot).pixels));
  EXPECT_TRUE(same_pixels(want.matched, image(kMatched).pixels));
  if (mode.subtract) {
    EXPECT_TRUE(same_pixels(want.corrected, image(kCorrected).pixels));
  }
  // The glow is first shown unscaled; every image shows its final pixels.
  EXPECT_TRUE(same_pixels(want.glow_unscaled, image(kGlow).shown.at(0)));
  for (ImageHandle made = kGlow; made < ImageHandle(host_->images().size()) + 1; ++made)
    EXPECT_TRUE(same_pixels(image(made).pixels, image(made).shown.back()));
  // The frames are only read.
  EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
  EXPECT_TRUE(same_pixels(in.dark, image(kDark).pixels));
  EXPECT_TRUE(same_pixels(in.bias, image(kBias).pixels));
  EXPECT_TRUE(image(kLight).shown.empty());
  EXPECT_EQ(plugin_state.frame_width, kWidth);
  EXPECT_EQ(plugin_state.frame_height, kHeight);
}

INSTANTIATE_TEST_SUITE_P(Pipeline, Modes,
                         ::testing::Values(Mode{false, 1, false}, Mode{false, 1, true},
                                           Mode{false, 0, true}, Mode{true, 0, true},
                                           Mode{true, 1, false}, Mode{true, 1, true},
                                           Mode{true, 2, true}, Mode{true, 3, false},
                                           Mode{true, -3, true}),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           const Mode& m = info.param;
                           std::string name = m.use_bias ? "BiasFactor" : "NoBiasFactor";
                           name += m.bias_factor < 0 ? "Minus" + std::to_string(-m.bias_factor)
                                                     : std::to_string(m.bias_factor);
                           return name + (m.subtract ? "Subtract" : "Keep");
                         });

// The light (of fractional values here) is only read, whatever the bias
// holds and however often it is taken; the corrected image is that light
// less the matched dark.
class LightImage : public PipelineTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(LightImage, StaysAsChosen) {
  reference::Inputs in = sample_frames();
  in.bias[3] = NAN;
  in.bias[40] = -INFINITY;
  open(in, Mode{true, GetParam(), true});

  run_matched_dark();

  EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
  std::vector<float> corrected = in.light;
  for (size_t i = 0; i < corrected.size(); ++i) corrected[i] -= image(kMatched).pixels[i];
  EXPECT_TRUE(same_pixels(corrected, image(kCorrected).pixels));
}

INSTANTIATE_TEST_SUITE_P(Pipeline, LightImage, ::testing::Values(1, 999));

// Dark levels that do not divide: the ratio becomes the light's level.
struct Guard {
  const char* name;
  void (*make_dark)(reference::Inputs&);
  bool (*is_case)(float glow_dark);
};

class Guards : public PipelineTest, public ::testing::WithParamInterface<Guard> {};

TEST_P(Guards, DivideByOne) {
  reference::Inputs in = sample_frames();
  GetParam().make_dark(in);
  const reference::Outputs want = reference::matched_dark(in);
  ASSERT_TRUE(GetParam().is_case(want.glow_dark)) << want.glow_dark;
  EXPECT_EQ(want.glow_ratio, want.glow_light);
  EXPECT_EQ(want.hot_ratio, float(want.hot_light));
  open(in, Mode{false, 1, true});

  run_matched_dark();

  EXPECT_TRUE(same_pixels(want.glow, image(kGlow).pixels));
  EXPECT_TRUE(same_pixels(want.hot, image(kHot).pixels));
  EXPECT_TRUE(same_pixels(want.matched, image(kMatched).pixels));
  EXPECT_TRUE(same_pixels(want.corrected, image(kCorrected).pixels));
}

INSTANTIATE_TEST_SUITE_P(
    Pipeline, Guards,
    ::testing::Values(
        // No glow and no hot pixel: both levels +0, and the hot-pixel search
        // keeps the positions it had.
        Guard{"Zero", [](reference::Inputs& in) { in.dark.assign(in.dark.size(), 5.0f); },
              [](float level) { return level == 0.0f && !std::signbit(level); }},
        // -0 in the corner block, +0 in the darkest block of the light.
        Guard{"NegativeZero",
              [](reference::Inputs& in) {
                in.dark.assign(in.dark.size(), 0.0f);
                for (int32_t y = in.height - 13; y <= in.height - 9; ++y)
                  for (int32_t x = 3; x <= 7; ++x)
                    in.dark[size_t(x) + size_t(in.width) * y] = -0.0f;
              },
              [](float level) { return level == 0.0f && std::signbit(level); }},
        // An infinite dark: infinity minus infinity for both levels.
        Guard{"NotANumber", [](reference::Inputs& in) { in.dark.assign(in.dark.size(), INFINITY); },
              [](float level) { return bool(std::isnan(level)); }}),
    [](const ::testing::TestParamInfo<Guard>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace matching_test
