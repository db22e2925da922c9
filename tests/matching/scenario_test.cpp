#include "testhost/scenario.h"

#include <gtest/gtest.h>

namespace {

using testhost::format_step;
using testhost::parse_scenario;
using testhost::Step;

TEST(Scenario, ReadsEveryStepAndWritesItBack) {
  const char* text =
      "# a whole session\n"
      "choose light 3\n"
      "  choose dark 0x10\r\n"
      "\n"
      "toggle-bias\n"
      "choose bias -1\n"
      "type 2\n"
      "type\n"
      "type 12 a\n"
      "set-text 1234\n"
      "subtract on\n"
      "subtract off\n"
      "about\n"
      "go\n"
      "cancel\n";
  std::vector<Step> steps;
  std::string error;
  ASSERT_TRUE(parse_scenario(text, steps, error)) << error;
  std::string written;
  for (const Step& step : steps) written += format_step(step) + "\n";
  EXPECT_EQ(written,
            "choose light 3\nchoose dark 16\ntoggle-bias\nchoose bias -1\ntype 2\ntype \n"
            "type 12 a\nset-text 1234\nsubtract on\nsubtract off\nabout\ngo\ncancel\n");
}

TEST(Scenario, RefusesWhatIsNoStep) {
  for (const char* line :
       {"choose", "choose moon 3", "choose light", "choose light x", "choose light 3 4", "subtract",
        "subtract maybe", "go now", "toggle-bias 1", "click 1000", "Go"}) {
    std::vector<Step> steps;
    std::string error;
    EXPECT_FALSE(parse_scenario(std::string("go\n") + line + "\n", steps, error)) << line;
    EXPECT_EQ(error, std::string("line 2: not a step: ") + line);
    EXPECT_EQ(steps.size(), 1u);
  }
}

}  // namespace
