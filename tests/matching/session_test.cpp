// The whole road of a Go press: entry points, the dialog acted out by a user
// through the headless window layer, and the pipeline in the host emulation.
#include <string>

#include "matched_dark_fixture.h"
#include "testhost/driver.h"

namespace matching_test {
namespace {

struct SessionCase {
  const char* name;
  const char* main_window_title;
  const char* scenario;
  Mode mode;        // what the scenario asks for
  INT_PTR result;   // of pi_activate
  bool runs;        // the pipeline makes its images
  const char* box;  // the one message box shown, or empty
};

class Sessions : public PipelineTest, public ::testing::WithParamInterface<SessionCase> {};

TEST_P(Sessions, RunThePlugInAsTheHostDoes) {
  const SessionCase& c = GetParam();
  const bool light_edition = std::string(c.main_window_title) == "ZVL Orvantis Light";
  reference::Inputs in = sample_frames();
  in.use_bias = c.mode.use_bias;
  in.bias_factor = c.mode.bias_factor;
  const bool other_size = *c.box != '\0';
  open_images(in, kWidth, other_size ? kHeight + 1 : kHeight, light_edition);
  std::vector<testhost::Step> steps;
  std::string error;
  ASSERT_TRUE(testhost::parse_scenario(c.scenario, steps, error)) << error;

  testhost::Session session = testhost::start_session(c.main_window_title);
  const testhost::Activation done = testhost::activate(session, *host_, kActive, steps);
  testhost::end_session(session);

  EXPECT_EQ(session.initialize_result, 1);
  EXPECT_EQ(done.result, c.result);
  EXPECT_TRUE(done.refused_steps.empty());
  // Every command carries the edition's numbering.
  for (const testhost::HostCall& call : host_->log())
    EXPECT_EQ(call.line.rfind("unknown", 0), std::string::npos) << call.line;
  if (other_size) {
    ASSERT_EQ(done.message_boxes.size(), 1u);
    EXPECT_EQ(done.message_boxes[0].owner, "dialog");
    EXPECT_EQ(done.message_boxes[0].text, c.box);
  } else {
    EXPECT_TRUE(done.message_boxes.empty());
  }
  if (!c.runs) {
    EXPECT_EQ(host_->images().size(), 4u);
    EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
    return;
  }
  // The dialog's choices come first (three commands each), then the run.
  std::string log = host_->log_text();
  const size_t choices = c.mode.use_bias ? 3 : 2;
  size_t run_start = 0;
  for (size_t i = 0; i < 3 * choices; ++i) run_start = log.find('\n', run_start) + 1;
  std::string run_log = log.substr(run_start);
  if (light_edition) {
    for (size_t at = 0; (at = run_log.find("HC_", at)) != std::string::npos;)
      run_log.erase(at = run_log.find("+32", at), 3);
  }
  EXPECT_EQ(run_log, expected_commands(c.mode));
  const reference::Outputs want = reference::matched_dark(in);
  EXPECT_TRUE(same_pixels(want.matched, image(kMatched).pixels));
  EXPECT_TRUE(same_pixels(want.light_after, image(kLight).pixels));
  if (c.mode.subtract) {
    EXPECT_TRUE(same_pixels(want.corrected, image(kCorrected).pixels));
  }
}

const char size_box[] =
    "The light image and the dark frame must have the size of the active image (24 x 22).";

INSTANTIATE_TEST_SUITE_P(
    Pipeline, Sessions,
    ::testing::Values(
        SessionCase{"NoBias", "ZVL Orvantis", "choose light 2\nchoose dark 3\nsubtract on\ngo\n",
                    Mode{false, 1, true}, 1, true, ""},
        SessionCase{"BiasTwice", "ZVL Orvantis",
                    "toggle-bias\nchoose dark 3\nchoose bias 4\nchoose light 2\ntype 2\ngo\n",
                    Mode{true, 2, false}, 1, true, ""},
        SessionCase{"LightEdition", "ZVL Orvantis Light",
                    "choose light 2\nchoose dark 3\ntoggle-bias\nchoose bias 4\nsubtract on\n"
                    "type 0\ngo\n",
                    Mode{true, 0, true}, 1, true, ""},
        SessionCase{"OtherSize", "ZVL Orvantis", "choose light 2\nchoose dark 3\ngo\n",
                    Mode{false, 1, false}, 1, false, size_box},
        SessionCase{"Cancel", "ZVL Orvantis", "choose light 2\nchoose dark 3\ncancel\n",
                    Mode{false, 1, false}, 2, false, ""}),
    [](const ::testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace matching_test
