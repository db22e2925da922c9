// Registration, edition detection, the command dispatcher and activation.
#include <gtest/gtest.h>

#include <cstring>

#include "resources/resource_ids.h"
#include "tests/shell/fake_host.h"

namespace {

struct TitleCase {
  const char* title;
  int16_t light_host;
};

class EditionTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(EditionTest, MainWindowTitleSetsTheEdition) {
  FakeHost host;
  start_plugin(host);
  char name[16];
  char description[16];
  std::memset(name, 'x', sizeof name);
  std::memset(description, 'x', sizeof description);
  HWND main_window = headless::create_window(GetParam().title);
  EXPECT_EQ(pi_initialize(fake_host_callback, name, description, main_window), 1);
  headless::destroy_window(main_window);
  EXPECT_STREQ(name, "Tenvora");
  EXPECT_STREQ(description, "Tenvora.");
  EXPECT_EQ(plugin_state.host_callback, &fake_host_callback);
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
  FakeHost host;
  start_plugin(host, "ZVL Orvantis Light");
  char name[16];
  char description[16];
  EXPECT_EQ(pi_initialize(fake_host_callback, name, description, nullptr), 1);
  EXPECT_EQ(plugin_state.light_host, 0);
}

TEST(EntryPoints, CallHostOffsetsLightEditionCommands) {
  FakeHost host;
  start_plugin(host);
  for (int16_t light : {0, 1}) {
    plugin_state.light_host = light;
    host.calls.clear();
    call_host(HC_GET_SIZE, 5, 6, 7);
    ASSERT_EQ(host.calls.size(), 1u);
    EXPECT_EQ(host.calls[0], (std::array<HostWord, 4>{HC_GET_SIZE + light * 32, 5, 6, 7}));
  }
  HostWord picked = call_host(HC_SELECT_IMAGE, SELECT_IMAGE_KIND, 0, 0);
  EXPECT_EQ(picked, host.next_image - 1);
}

TEST(EntryPoints, CallHostWithoutHostReturnsZero) {
  FakeHost host;
  start_plugin(host);
  plugin_state.host_callback = nullptr;
  EXPECT_EQ(call_host(HC_SELECT_IMAGE, SELECT_IMAGE_KIND, 0, 0), 0);
  EXPECT_TRUE(host.calls.empty());
}

// The Light edition keeps its offset through activation: a choice sends
// every command shifted by 32.
TEST(EntryPoints, LightEditionSurvivesActivation) {
  FakeHost host;
  start_plugin(host, "ZVL Orvantis Light");
  activate([](HWND dialog) {
    headless::click(dialog, IDC_CHOOSE_IMAGE);
    headless::click(dialog, IDC_CANCEL);
  });
  EXPECT_EQ(plugin_state.light_host, 1);
  EXPECT_EQ(plugin_state.image_chosen, 1);
  ASSERT_EQ(host.calls.size(), 3u);
  EXPECT_EQ(host.calls[0][0], HC_SELECT_IMAGE + 32);
  EXPECT_EQ(host.calls[1][0], HC_GET_PIXELS + 32);
  EXPECT_EQ(host.calls[2][0], HC_GET_TITLE + 32);
}

TEST(EntryPoints, DialogLeftOpenReturnsTheFailureValue) {
  FakeHost host;
  start_plugin(host);
  EXPECT_EQ(activate([](HWND) {}), -1);
}

TEST(EntryPoints, ProcessAttachKeepsTheModuleInstance) {
  FakeHost host;
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
