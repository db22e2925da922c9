// Registration, edition detection, the command dispatcher and activation.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "resources/resource_ids.h"
#include "tests/shell/shell_session.h"

namespace {

struct TitleCase {
  const char* title;
  int16_t light_host;
};

class EditionTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(EditionTest, MainWindowTitleSetsTheEdition) {
  testhost::HostEmulation host;
  start_plugin(host);
  char name[16];
  char description[16];
  std::memset(name, 'x', sizeof name);
  std::memset(description, 'x', sizeof description);
  HWND main_window = headless::create_window(GetParam().title);
  EXPECT_EQ(pi_initialize(testhost::HostEmulation::callback(), name, description, main_window), 1);
  headless::destroy_window(main_window);
  EXPECT_STREQ(name, "Tenvora");
  EXPECT_STREQ(description, "Tenvora.");
  EXPECT_EQ(plugin_state.host_callback, testhost::HostEmulation::callback());
  EXPECT_EQ(plugin_state.light_host, GetParam().light_host);
}

INSTANTIATE_TEST_SUITE_P(Shell, EditionTest,
                         ::testing::Values(TitleCase{"ZVL Orvantis Light", 1},
                                           TitleCase{"zvl orvantis light", 0},
                                           TitleCase{"ZVL Orvantis Light ", 0},
                                           TitleCase{"ZVL Orvantis Lightning", 0},
                                           TitleCase{"ZVL Orvantis", 0}, TitleCase{"", 0},
                                           // Read cut to 23 characters, which can never match.
                                           TitleCase{"ZVL Orvantis Light 2.0 (32-bit)", 0}));

TEST(EntryPoints, NoMainWindowStillRegisters) {
  testhost::HostEmulation host;
  start_plugin(host, "ZVL Orvantis Light");
  char name[16];
  char description[16];
  EXPECT_EQ(pi_initialize(testhost::HostEmulation::callback(), name, description, nullptr), 1);
  EXPECT_EQ(plugin_state.light_host, 0);
}

TEST(EntryPoints, CallHostOffsetsLightEditionCommands) {
  testhost::HostEmulation host(true);
  start_plugin(host);
  for (int16_t light : {0, 1}) {
    plugin_state.light_host = light;
    host.clear_log();
    call_host(HC_UPDATE, 5, 6, 7);
    ASSERT_EQ(host.log().size(), 1u);
    const testhost::HostCall& call = host.log()[0];
    EXPECT_EQ((std::array<HostWord, 4>{call.code, call.p1, call.p2, call.p3}),
              (std::array<HostWord, 4>{HC_UPDATE + light * 32, 5, 6, 7}));
  }
  EXPECT_EQ(call_host(HC_SELECT_IMAGE, SELECT_IMAGE_KIND, 0, 0), 1);
}

TEST(EntryPoints, CallHostWithoutHostReturnsZero) {
  testhost::HostEmulation host;
  start_plugin(host);
  plugin_state.host_callback = nullptr;
  EXPECT_EQ(call_host(HC_SELECT_IMAGE, SELECT_IMAGE_KIND, 0, 0), 0);
  EXPECT_TRUE(host.log().empty());
}

// The Light edition keeps its offset through activation: a choice sends
// every command shifted by 32.
TEST(EntryPoints, LightEditionSurvivesActivation) {
  testhost::HostEmulation host(true);
  start_plugin(host, "ZVL Orvantis Light");
  activate([](HWND dialog) {
    headless::click(dialog, IDC_CHOOSE_IMAGE);
    headless::click(dialog, IDC_CANCEL);
  });
  EXPECT_EQ(plugin_state.light_host, 1);
  EXPECT_EQ(plugin_state.image_chosen, 1);
  ASSERT_EQ(host.log().size(), 3u);
  EXPECT_EQ(host.log()[0].code, HC_SELECT_IMAGE + 32);
  EXPECT_EQ(host.log()[1].code, HC_GET_PIXELS + 32);
  EXPECT_EQ(host.log()[2].code, HC_GET_TITLE + 32);
}

TEST(EntryPoints, DialogLeftOpenReturnsTheFailureValue) {
  testhost::HostEmulation host;
  start_plugin(host);
  EXPECT_EQ(activate([](HWND) {}), -1);
}

TEST(EntryPoints, ProcessAttachKeepsTheModuleInstance) {
  testhost::HostEmulation host;
  start_plugin(host);
  HINSTANCE module = reinterpret_cast<HINSTANCE>(0x10000000);
  EXPECT_TRUE(DllMain(module, DLL_PROCESS_DETACH, nullptr));
  EXPECT_EQ(plugin_state.module_instance, nullptr);
  EXPECT_TRUE(DllMain(module, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(plugin_state.module_instance, module);
  pi_finalize(0);
  EXPECT_EQ(plugin_state.module_instance, module);
}

}  // namespace
