// The whole road of a Go press: entry points, the dialog acted out by a user
// through the headless window layer, and the pipeline in the host emulation.
#include <cstring>
#include <string>

#include "matched_dark_fixture.h"
#include "plugin/dialog.h"
#include "plugin/entry_points.h"
#include "resources/resource_ids.h"
#include "testhost/driver.h"

namespace matching_test {
namespace {

// The sample frames with the kernels' records as every activation sets them.
reference::Inputs activated_frames() {
  reference::Inputs in = sample_frames();
  for (reference::Position& position : in.hot_pixels) position = {};
  return in;
}

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
  reference::Inputs in = activated_frames();
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
  EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
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

std::vector<testhost::Step> steps_of(const char* scenario) {
  std::vector<testhost::Step> steps;
  std::string error;
  EXPECT_TRUE(testhost::parse_scenario(scenario, steps, error)) << error;
  return steps;
}

// A host that pumps messages inside one of its commands, so that the user's
// click or another activation reaches the plug-in from there.
struct CallBackCase {
  const char* name;
  HostWord command;  // the command inside which the plug-in is called
  INT_PTR (*call)();
  INT_PTR answer;  // what the call gets
};

class CallsBack : public PipelineTest, public ::testing::WithParamInterface<CallBackCase> {};

HWND open_dialog = nullptr;  // the dialog of the activation under way

INT_PTR command_to_dialog(int id) {
  return plugin_dialog_proc(open_dialog, WM_COMMAND, WPARAM(id), 0);
}

TEST_P(CallsBack, ChangeNothingOfTheRunOrTheOpenDialog) {
  const CallBackCase& c = GetParam();
  reference::Inputs in = activated_frames();
  in.use_bias = true;
  in.bias_factor = 2;
  open_images(in);
  INT_PTR answer = -1;
  bool called = false;
  host_->call_back([&](const testhost::HostCall& call) {
    if (call.code != c.command || called) return;
    called = true;
    // A choice taken here would swap the light for the dark.
    if (c.command == HC_UPDATE) host_->queue_pick(kDark);
    const PluginState before = plugin_state;
    answer = c.call();
    const PluginState& after = plugin_state;
    EXPECT_EQ(after.active_image, before.active_image);
    EXPECT_EQ(after.light_plane, before.light_plane);
    EXPECT_EQ(after.image_chosen + after.dark_chosen + after.bias_chosen + after.use_bias,
              before.image_chosen + before.dark_chosen + before.bias_chosen + before.use_bias);
    EXPECT_EQ(std::memcmp(&after.hot_pixels, &before.hot_pixels, sizeof before.hot_pixels), 0);
  });
  testhost::Session session = testhost::start_session("ZVL Orvantis");
  const testhost::Activation done = testhost::activate(
      session, *host_, kActive,
      steps_of("toggle-bias\nchoose light 2\nchoose dark 3\nchoose bias 4\ntype 2\n"
               "subtract on\ngo\n"),
      [](HWND dialog, size_t, bool) { open_dialog = dialog; });
  testhost::end_session(session);

  EXPECT_EQ(answer, c.answer);
  EXPECT_EQ(done.result, 1);
  EXPECT_TRUE(done.refused_steps.empty());
  // One run, with the commands and images of a run that nothing disturbed.
  const std::string log = host_->log_text();
  EXPECT_EQ(log.substr(log.find("HC_GET_SIZE")), expected_commands(Mode{true, 2, true}));
  const reference::Outputs want = reference::matched_dark(in);
  EXPECT_TRUE(same_pixels(want.matched, image(kMatched).pixels));
  EXPECT_TRUE(same_pixels(want.corrected, image(kCorrected).pixels));
  EXPECT_TRUE(same_pixels(in.light, image(kLight).pixels));
}

INSTANTIATE_TEST_SUITE_P(
    Pipeline, CallsBack,
    ::testing::Values(CallBackCase{"GoInsideAnUpdate", HC_UPDATE,
                                   [] { return command_to_dialog(IDC_GO); }, 0},
                      CallBackCase{"ChoiceInsideAnUpdate", HC_UPDATE,
                                   [] { return command_to_dialog(IDC_CHOOSE_IMAGE); }, 0},
                      CallBackCase{"ActivationInsideAChoice", HC_SELECT_IMAGE,
                                   [] { return pi_activate(kDark, nullptr); }, 2}),
    [](const ::testing::TestParamInfo<CallBackCase>& info) {
      return std::string(info.param.name);
    });

// The same frames give the same images whatever ran before them in the
// loaded library: here a run on another pair whose hot pixels fill the cells
// that this pair leaves without one.
TEST_F(PipelineTest, EveryActivationGivesWhatAFreshLibraryGives) {
  const reference::Inputs other = [] {
    reference::Inputs frames = sample_frames(5);
    for (size_t at : {20 + size_t(kWidth) * 10, 12 + size_t(kWidth) * 17})
      frames.dark[at] += 900.0f;
    return frames;
  }();
  const reference::Inputs in = sample_frames(2);
  const auto steps = steps_of("choose light 2\nchoose dark 3\nsubtract on\ngo\n");
  testhost::Session session = testhost::start_session("ZVL Orvantis");
  std::vector<std::vector<float>> fresh;
  HotPixelList kept{};  // as loaded
  for (const reference::Inputs* frames : {&in, &other, &in}) {
    open_images(*frames);
    plugin_state.hot_pixels = kept;  // the library stays loaded
    testhost::activate(session, *host_, kActive, steps);
    kept = plugin_state.hot_pixels;
    if (frames != &in) continue;
    if (fresh.empty()) {
      for (ImageHandle made : {kGlow, kHot, kMatched, kCorrected})
        fresh.push_back(image(made).pixels);
      continue;
    }
    for (ImageHandle made : {kGlow, kHot, kMatched, kCorrected})
      EXPECT_TRUE(same_pixels(fresh[made - kGlow], image(made).pixels)) << made;
  }
  testhost::end_session(session);
}

}  // namespace
}  // namespace matching_test
