// Runs that cannot go on: nothing is written, the light image stays as it
// was, and the user is told why.
#include <string>

#include "matched_dark_fixture.h"
#include "matching/matched_dark.h"

namespace matching_test {
namespace {

struct SizeCase {
  const char* name;
  bool use_bias;
  ImageHandle resized;  // opened with the size below instead of the frame's
  int32_t width, height;
  const char* message;  // empty: the run goes on
};

class SizeRefusals : public PipelineTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(SizeRefusals, CreateAndWriteNothing) {
  const SizeCase& c = GetParam();
  const Mode mode{c.use_bias, 2, true};
  reference::Inputs in = sample_frames();
  open(in, mode, c.resized == kActive ? c.width : kWidth,
       c.resized == kActive ? c.height : kHeight);
  if (c.resized != kActive) {
    testhost::HostImage& image = *host_->find(c.resized);
    image.width = c.width;
    image.height = c.height;
  }

  const std::string message = message_of(run_matched_dark());

  EXPECT_EQ(message, c.message);
  if (*c.message == '\0') {
    EXPECT_EQ(host_->images().size(), 8u);
    return;
  }
  EXPECT_EQ(host_->images().size(), 4u);
  for (const testhost::HostCall& call : host_->log()) EXPECT_EQ(call.code, HC_GET_SIZE);
  EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
  EXPECT_TRUE(same_pixels(in.dark, image(kDark).pixels));
  EXPECT_TRUE(same_pixels(in.bias, image(kBias).pixels));
}

const char no_bias_message[] =
    "The light image and the dark frame must have the size of the active image (24 x 21).";
const char bias_message[] =
    "The light image, the dark frame and the bias frame must have the size of the active image "
    "(24 x 21).";

INSTANTIATE_TEST_SUITE_P(
    Pipeline, SizeRefusals,
    ::testing::Values(
        SizeCase{"NarrowerLight", false, kLight, 23, 21, no_bias_message},
        SizeCase{"LowerDark", false, kDark, 24, 20, no_bias_message},
        SizeCase{"LargerDarkWithBias", true, kDark, 25, 22, bias_message},
        SizeCase{"OtherBias", true, kBias, 21, 24, bias_message},
        SizeCase{"OtherBiasUnused", false, kBias, 21, 24, ""},
        SizeCase{"EmptyActive", false, kActive, 0, 21, "The active image has no pixels (0 x 21)."},
        SizeCase{"NegativeActive", true, kActive, 24, -3,
                 "The active image has no pixels (24 x -3)."},
        SizeCase{"SmallerActive", true, kActive, 20, 20,
                 "The light image, the dark frame and the bias frame must have the size of the "
                 "active image (20 x 20)."}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

struct HostFailure {
  const char* name;
  bool use_bias;
  int nth;            // which of the new images fails: glow, hot, matched, corrected
  bool no_image;      // HC_NEW_IMAGE answers 0; else HC_GET_PIXELS lends no plane
  HostWord result;    // HC_GET_PIXELS's answer when it lends no plane
  const char* title;  // of the image the host could not make
  // Or HC_GET_PIXELS lends the plane of this chosen image, moved by offset
  // pixels, for the new image.
  ImageHandle lent_over = 0;
  ptrdiff_t offset = 0;
};

class HostFailures : public PipelineTest, public ::testing::WithParamInterface<HostFailure> {};

TEST_P(HostFailures, StopBeforeWritingTheImage) {
  const HostFailure& c = GetParam();
  reference::Inputs in = sample_frames();
  open(in, Mode{c.use_bias, 2, true});
  int lent = 0;
  if (c.lent_over != 0) {
    host_->call_back([&](const testhost::HostCall& call) {
      if (call.code == HC_GET_PIXELS && ++lent == c.nth)
        *reinterpret_cast<float**>(call.p2) = host_->find(c.lent_over)->pixels.data() + c.offset;
    });
  } else if (c.no_image) {
    host_->fail_new_image(c.nth);
  } else {
    host_->fail_get_pixels(c.nth, c.result, /*supply_plane=*/false);
  }

  EXPECT_EQ(message_of(run_matched_dark()),
            "The host could not create the image \"" + std::string(c.title) + "\".");
  EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
  EXPECT_TRUE(same_pixels(in.dark, image(kDark).pixels));
  EXPECT_TRUE(same_pixels(in.bias, image(kBias).pixels));
  const ImageHandle failed = kGlow + c.nth - 1;
  if (!c.no_image) {
    EXPECT_EQ(host_->find(failed)->pixels, std::vector<float>(in.light.size(), 0.0f));
  }
  // The run ends at the failure, except that the three images are still
  // handed over when only the corrected image could not be made.
  const std::string last = host_->log().back().line;
  if (c.nth < 4) {
    EXPECT_EQ(last.rfind(c.no_image ? "HC_NEW_IMAGE" : "HC_GET_PIXELS", 0), 0u) << last;
  } else {
    EXPECT_EQ(host_->find(kMatched)->shown.size(), 1u);
    EXPECT_EQ(host_->find(kGlow)->shown.size(), 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pipeline, HostFailures,
    ::testing::Values(
        HostFailure{"NoGlowImage", false, 1, true, 0, "Glow Dark Frame"},
        HostFailure{"NoHotPlane", false, 2, false, 0, "Hot Dark Frame"},
        HostFailure{"NoMatchedImage", true, 3, true, 0, "Matched Dark Frame + Bias"},
        HostFailure{"NoMatchedPlane", false, 3, false, 2, "Matched Dark Frame"},
        HostFailure{"NoCorrectedImage", true, 4, true, 0, "Corrected Image"},
        HostFailure{"NoCorrectedPlane", true, 4, false, 1, "Corrected Image"},
        HostFailure{"NoCorrectedImageNoBias", false, 4, true, 0, "Corrected Image"},
        HostFailure{"GlowOverTheLight", true, 1, false, 1, "Glow Dark Frame", kLight, 0},
        HostFailure{"MatchedInsideTheBias", true, 3, false, 1, "Matched Dark Frame + Bias", kBias,
                    5},
        HostFailure{"CorrectedBeforeTheDark", false, 4, false, 1, "Corrected Image", kDark, -5}),
    [](const ::testing::TestParamInfo<HostFailure>& info) { return std::string(info.param.name); });

// A plane lent with an unexpected answer is still the host's plane.
TEST_F(PipelineTest, TheAnswerToAPlaneRequestIsNotTested) {
  reference::Inputs in = sample_frames();
  open(in, Mode{false, 1, false});
  host_->fail_get_pixels(2, 0, /*supply_plane=*/true);
  EXPECT_EQ(message_of(run_matched_dark()), "");
  EXPECT_TRUE(same_pixels(reference::matched_dark(in).hot, image(kHot).pixels));
}

// The light is measured less the bias: less itself, nothing would be left.
TEST_F(PipelineTest, RefusesTheLightImageAsBiasFrame) {
  reference::Inputs in = sample_frames();
  open(in, Mode{true, 1, true});
  plugin_state.bias_image = kLight;
  plugin_state.bias_plane = plugin_state.light_plane;
  EXPECT_EQ(message_of(run_matched_dark()),
            "The bias frame must be another image than the light image.");
  EXPECT_EQ(host_->images().size(), 4u);
  EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
}

}  // namespace
}  // namespace matching_test
