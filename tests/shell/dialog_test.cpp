// The dialog's state machine, driven through the headless window layer as a
// user would drive it.
#include <gtest/gtest.h>

#include "resources/resource_ids.h"
#include "tests/shell/shell_session.h"

namespace {

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { start_plugin(host); }
  testhost::HostEmulation host;
};

bool go_enabled(HWND dialog) {
  return headless::control(dialog, IDC_GO).enabled;
}

// One user action and the state of Go after it.
struct Action {
  int id;
  bool raw;  // a WM_COMMAND whatever the control's state, rather than a click
  bool go_after;
};

struct GoCase {
  const char* name;
  std::vector<Action> actions;
};

class GoEnablingTest : public DialogTest, public ::testing::WithParamInterface<GoCase> {};

TEST_P(GoEnablingTest, GoFollowsTheChosenFrames) {
  activate([](HWND dialog) {
    EXPECT_FALSE(go_enabled(dialog));
    int step = 0;
    for (const Action& action : GetParam().actions) {
      if (action.raw)
        ASSERT_TRUE(headless::send_command(dialog, action.id));
      else
        ASSERT_TRUE(headless::click(dialog, action.id)) << "step " << step;
      EXPECT_EQ(go_enabled(dialog), action.go_after) << "step " << step;
      ++step;
    }
    headless::click(dialog, IDC_CANCEL);
  });
}

constexpr int kImage = IDC_CHOOSE_IMAGE, kDark = IDC_CHOOSE_DARK, kBias = IDC_CHOOSE_BIAS,
              kToggle = IDC_SUBTRACT_BIAS;

INSTANTIATE_TEST_SUITE_P(
    Dialog, GoEnablingTest,
    ::testing::Values(
        GoCase{"LightThenDark", {{kImage, false, false}, {kDark, false, true}}},
        GoCase{"DarkThenLight", {{kDark, false, false}, {kImage, false, true}}},
        GoCase{"SecondChoiceKeepsGo", {{kImage, 0, 0}, {kDark, 0, 1}, {kImage, 0, 1}}},
        GoCase{"BiasLast", {{kToggle, 0, 0}, {kImage, 0, 0}, {kDark, 0, 0}, {kBias, 0, 1}}},
        GoCase{"BiasFirst", {{kToggle, 0, 0}, {kBias, 0, 0}, {kDark, 0, 0}, {kImage, 0, 1}}},
        GoCase{"BiasBetween", {{kToggle, 0, 0}, {kDark, 0, 0}, {kBias, 0, 0}, {kImage, 0, 1}}},
        GoCase{"BiasOnWithoutBiasDisablesGoUntilAChoice",
               {{kImage, 0, 0}, {kDark, 0, 1}, {kToggle, 0, 0}, {kToggle, 0, 0}, {kDark, 0, 1}}},
        GoCase{"BiasOnAfterBiasChosenLeavesGo",
               {{kToggle, 0, 0},
                {kBias, 0, 0},
                {kToggle, 0, 0},
                {kImage, 0, 0},
                {kDark, 0, 1},
                {kToggle, 0, 1}}},
        GoCase{"BiasCommandsIgnoredWhileOff",
               {{kImage, 0, 0}, {kBias, true, false}, {kDark, 0, 1}, {kBias, true, true}}},
        GoCase{"OtherNotificationsAndUnknownIdsChangeNothing",
               {{kImage, 0, 0}, {IDC_FINAL_STEP, true, false}, {IDC_BIAS_FACTOR, true, false}}}),
    [](const ::testing::TestParamInfo<GoCase>& info) { return info.param.name; });

TEST_F(DialogTest, IgnoredBiasCommandAsksNothingOfTheHost) {
  activate([](HWND dialog) {
    headless::send_command(dialog, IDC_CHOOSE_BIAS);
    headless::click(dialog, IDC_CANCEL);
  });
  EXPECT_TRUE(host.log().empty());
  EXPECT_EQ(plugin_state.bias_chosen, 0);
}

TEST_F(DialogTest, ChoiceShowsTheHostTitleAndLendsThePlane) {
  host.find(1)->title = "M31 light 300s";
  activate([](HWND dialog) {
    headless::click(dialog, IDC_CHOOSE_IMAGE);
    EXPECT_EQ(headless::control(dialog, IDC_CHOOSE_IMAGE).text, "M31 light 300s");
    EXPECT_EQ(headless::control(dialog, IDC_CHOOSE_DARK).text, "Choose the Dark Frame");
    headless::click(dialog, IDC_CANCEL);
  });
  EXPECT_EQ(plugin_state.light_image, 1);
  EXPECT_EQ(plugin_state.light_plane, host.find(1)->pixels.data());
  EXPECT_EQ(plugin_state.image_chosen, 1);
  EXPECT_EQ(host.log_text(),
            "HC_SELECT_IMAGE 4097 0 0 -> image 1 \"M31 light 300s\"\n"
            "HC_GET_PIXELS image 1 \"M31 light 300s\" -> 1, plane\n"
            "HC_GET_TITLE image 1 \"M31 light 300s\" -> \"M31 light 300s\"\n");
}

struct FailedChoice {
  HostWord pixels_result;
  bool lends_plane;
};

class FailedChoiceTest : public DialogTest, public ::testing::WithParamInterface<FailedChoice> {};

// After a good choice of the dark frame, a failed second choice (including a
// host that writes a plane although it reports failure) changes nothing.
TEST_P(FailedChoiceTest, ChangesNothing) {
  for (int nth : {3, 4})
    host.fail_get_pixels(nth, GetParam().pixels_result, GetParam().lends_plane);
  activate([](HWND dialog) {
    headless::click(dialog, IDC_CHOOSE_IMAGE);
    headless::click(dialog, IDC_CHOOSE_DARK);
    headless::click(dialog, IDC_CHOOSE_DARK);
    EXPECT_EQ(headless::control(dialog, IDC_CHOOSE_DARK).text, "Image 2");
    EXPECT_TRUE(go_enabled(dialog));
    // A failed first choice of a role leaves it unchosen.
    headless::click(dialog, IDC_SUBTRACT_BIAS);
    headless::click(dialog, IDC_CHOOSE_BIAS);
    EXPECT_EQ(headless::control(dialog, IDC_CHOOSE_BIAS).text, "Choose the Bias Frame");
    EXPECT_FALSE(go_enabled(dialog));
    headless::click(dialog, IDC_CANCEL);
  });
  EXPECT_EQ(plugin_state.dark_image, 2);
  EXPECT_EQ(plugin_state.dark_plane, host.find(2)->pixels.data());
  EXPECT_EQ(plugin_state.dark_chosen, 1);
  EXPECT_EQ(plugin_state.bias_chosen, 0);
  EXPECT_EQ(plugin_state.bias_plane, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Dialog, FailedChoiceTest,
                         ::testing::Values(FailedChoice{0, false}, FailedChoice{0, true},
                                           FailedChoice{3, true}, FailedChoice{-1, true},
                                           FailedChoice{1, false}, FailedChoice{2, false}));

TEST_F(DialogTest, ResultTwoIsAlsoSuccess) {
  for (int nth : {1, 2}) host.fail_get_pixels(nth, 2, true);
  activate([](HWND dialog) {
    headless::click(dialog, IDC_CHOOSE_DARK);
    headless::click(dialog, IDC_CHOOSE_IMAGE);
    EXPECT_TRUE(go_enabled(dialog));
    headless::click(dialog, IDC_CANCEL);
  });
}

TEST_F(DialogTest, SubtractBiasTogglesTheBiasControlsAndShowsTheFactor) {
  activate([](HWND dialog) {
    const int bias_controls[] = {IDC_CHOOSE_BIAS, IDC_BIAS_FACTOR, IDC_BIAS_FACTOR_LABEL};
    for (bool on : {true, false, true}) {
      headless::click(dialog, IDC_SUBTRACT_BIAS);
      EXPECT_EQ(plugin_state.use_bias, on ? 1 : 0);
      EXPECT_EQ(headless::control(dialog, IDC_SUBTRACT_BIAS).check, on ? BST_CHECKED : 0u);
      for (int id : bias_controls) EXPECT_EQ(headless::control(dialog, id).enabled, on) << id;
      if (on) {
        // The field shows the carried factor; what was typed is lost.
        EXPECT_EQ(headless::control(dialog, IDC_BIAS_FACTOR).text, "1");
        headless::type_text(dialog, IDC_BIAS_FACTOR, "42");
      }
    }
    headless::click(dialog, IDC_CANCEL);
  });
  EXPECT_EQ(plugin_state.bias_factor, 1);
}

TEST_F(DialogTest, RadioButtonsFollowSubtractMatched) {
  activate([](HWND dialog) {
    auto checks = [dialog] {
      return std::make_pair(headless::control(dialog, IDC_DONT_SUBTRACT).check,
                            headless::control(dialog, IDC_SUBTRACT).check);
    };
    EXPECT_EQ(checks(), std::make_pair(1u, 0u));
    for (int twice = 0; twice < 2; ++twice) {
      headless::click(dialog, IDC_SUBTRACT);
      EXPECT_EQ(plugin_state.subtract_matched, 1);
      EXPECT_EQ(checks(), std::make_pair(0u, 1u));
    }
    headless::click(dialog, IDC_DONT_SUBTRACT);
    EXPECT_EQ(plugin_state.subtract_matched, 0);
    EXPECT_EQ(checks(), std::make_pair(1u, 0u));
    headless::click(dialog, IDC_CANCEL);
  });
}

TEST_F(DialogTest, AboutShowsTheCreditOwnedByTheDialog) {
  HWND shown_in = nullptr;
  activate([&shown_in](HWND dialog) {
    shown_in = dialog;
    headless::click(dialog, IDC_ABOUT);
    // Any notification of the button runs its action.
    headless::send_command(dialog, IDC_ABOUT, 5);
    headless::click(dialog, IDC_CANCEL);
  });
  ASSERT_EQ(headless::message_boxes().size(), 2u);
  const headless::ShownMessageBox& box = headless::message_boxes()[0];
  EXPECT_EQ(box.owner, shown_in);
  EXPECT_EQ(box.text, "Tenvora Plugin.\nImplemented by Quillmere.");
  EXPECT_EQ(box.caption, "About Tenvora Plugin");
  EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
}

TEST_F(DialogTest, CancelAndGoEndTheDialog) {
  EXPECT_EQ(activate([](HWND dialog) { headless::click(dialog, IDC_CANCEL); }), 2);
  EXPECT_EQ(activate([](HWND dialog) {
              headless::click(dialog, IDC_CHOOSE_IMAGE);
              headless::click(dialog, IDC_CHOOSE_DARK);
              headless::click(dialog, IDC_GO);
              EXPECT_FALSE(headless::is_open(dialog));
              // An ended dialog takes no more input.
              EXPECT_FALSE(headless::click(dialog, IDC_CANCEL));
            }),
            1);
  // Go is disabled and so cannot be clicked; a raw command still ends with 1.
  EXPECT_EQ(activate([](HWND dialog) {
              EXPECT_FALSE(headless::click(dialog, IDC_GO));
              headless::send_command(dialog, IDC_GO);
            }),
            1);
}

// A Go command (raw when the button is disabled) ends the dialog with 1 but
// runs the pipeline, whose first command asks the active image's size, only
// with every frame the mode needs chosen in this activation.
struct RawGoCase {
  const char* name;
  std::vector<int> clicks;
  bool runs;
};

class RawGoTest : public DialogTest, public ::testing::WithParamInterface<RawGoCase> {};

TEST_P(RawGoTest, RunsOnlyWithTheModesFrames) {
  EXPECT_EQ(activate([](HWND dialog) {
              for (int id : GetParam().clicks) headless::click(dialog, id);
              headless::send_command(dialog, IDC_GO);
            }),
            1);
  bool asked_size = false;
  for (const auto& call : host.log()) asked_size = asked_size || call.code == HC_GET_SIZE;
  EXPECT_EQ(asked_size, GetParam().runs);
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, RawGoTest,
    ::testing::Values(RawGoCase{"LightOnly", {kImage}, false},
                      RawGoCase{"LightAndDark", {kImage, kDark}, true},
                      RawGoCase{"BiasOnWithoutBias", {kImage, kDark, kToggle}, false},
                      RawGoCase{"BiasOnWithBias", {kToggle, kImage, kDark, kBias}, true},
                      // The bias chosen while the box was on still counts after off and on.
                      RawGoCase{
                          "BiasOnAgain", {kToggle, kBias, kToggle, kImage, kDark, kToggle}, true}),
    [](const ::testing::TestParamInfo<RawGoCase>& info) { return info.param.name; });

// Puts `text` into the factor field as given (as another program could) and
// presses Go with the bias on.
struct FactorCase {
  const char* text;
  bool accepted;
  int32_t factor_after;
};

class FactorTest : public DialogTest, public ::testing::WithParamInterface<FactorCase> {};

TEST_P(FactorTest, GoReadsOrRefusesTheFactor) {
  bool ended = false;
  INT_PTR result = activate([&ended](HWND dialog) {
    headless::click(dialog, IDC_SUBTRACT_BIAS);
    for (int id : {IDC_CHOOSE_IMAGE, IDC_CHOOSE_DARK, IDC_CHOOSE_BIAS}) headless::click(dialog, id);
    SetDlgItemTextA(dialog, IDC_BIAS_FACTOR, GetParam().text);
    headless::click(dialog, IDC_GO);
    ended = !headless::is_open(dialog);
    EXPECT_EQ(go_enabled(dialog), !GetParam().accepted);
    if (!ended) headless::click(dialog, IDC_CANCEL);
  });
  EXPECT_EQ(ended, GetParam().accepted);
  EXPECT_EQ(result, GetParam().accepted ? 1 : 2);
  EXPECT_EQ(plugin_state.bias_factor, GetParam().factor_after);
  if (GetParam().accepted) {
    // The run itself may speak (this host answers no image size), but the
    // factor is not refused.
    for (const headless::ShownMessageBox& box : headless::message_boxes())
      EXPECT_EQ(box.text.find("bias multiplication factor"), std::string::npos) << box.text;
  } else {
    ASSERT_EQ(headless::message_boxes().size(), 1u);
    const headless::ShownMessageBox& box = headless::message_boxes()[0];
    EXPECT_NE(box.owner, nullptr);
    EXPECT_EQ(box.text, "The bias multiplication factor must be a whole number from 0 to 999.");
    EXPECT_EQ(box.type & 0xF0u, static_cast<UINT>(MB_ICONWARNING));
  }
}

INSTANTIATE_TEST_SUITE_P(Dialog, FactorTest,
                         ::testing::Values(FactorCase{"999", true, 999}, FactorCase{"0", true, 0},
                                           FactorCase{"", true, 0}, FactorCase{"abc", true, 0},
                                           FactorCase{"1000", false, 1},
                                           FactorCase{"4294967295", false, 1}));

TEST_F(DialogTest, FactorFieldTakesThreeDigits) {
  activate([](HWND dialog) {
    headless::click(dialog, IDC_SUBTRACT_BIAS);
    headless::type_text(dialog, IDC_BIAS_FACTOR, "12345");
    EXPECT_EQ(headless::control(dialog, IDC_BIAS_FACTOR).text, "123");
    headless::paste_text(dialog, IDC_BIAS_FACTOR, "98765");
    EXPECT_EQ(headless::control(dialog, IDC_BIAS_FACTOR).text, "987");
    headless::click(dialog, IDC_CANCEL);
  });
}

TEST_F(DialogTest, FactorCarriesOverAndActivationResetsTheRest) {
  activate([](HWND dialog) {
    headless::click(dialog, IDC_SUBTRACT);
    headless::click(dialog, IDC_SUBTRACT_BIAS);
    for (int id : {IDC_CHOOSE_IMAGE, IDC_CHOOSE_DARK, IDC_CHOOSE_BIAS}) headless::click(dialog, id);
    headless::type_text(dialog, IDC_BIAS_FACTOR, "17");
    headless::click(dialog, IDC_GO);
  });
  EXPECT_EQ(plugin_state.bias_factor, 17);
  plugin_state.darkest_block = {3, 4};

  activate(
      [](HWND dialog) {
        EXPECT_EQ(plugin_state.image_chosen + plugin_state.dark_chosen + plugin_state.bias_chosen,
                  0);
        EXPECT_EQ(plugin_state.use_bias, 0);
        EXPECT_EQ(plugin_state.subtract_matched, 0);
        EXPECT_EQ(plugin_state.darkest_block.x + plugin_state.darkest_block.y, 0);
        EXPECT_EQ(plugin_state.active_image, 9);
        EXPECT_EQ(headless::control(dialog, IDC_DONT_SUBTRACT).check, 1u);
        EXPECT_EQ(headless::control(dialog, IDC_SUBTRACT_BIAS).check, 0u);
        EXPECT_EQ(headless::control(dialog, IDC_CHOOSE_IMAGE).text, "Choose the Image");
        EXPECT_FALSE(go_enabled(dialog));
        headless::click(dialog, IDC_SUBTRACT_BIAS);
        EXPECT_EQ(headless::control(dialog, IDC_BIAS_FACTOR).text, "17");
        headless::click(dialog, IDC_CANCEL);
      },
      9);
  EXPECT_EQ(plugin_state.bias_factor, 17);
}

}  // namespace
