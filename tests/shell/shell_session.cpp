#include "tests/shell/shell_session.h"

namespace {
// Copied before any test runs: the record is constant-initialized.
const PluginState load_values = plugin_state;
}  // namespace

void start_plugin(testhost::HostEmulation& host, const std::string& main_window_title) {
  plugin_state = load_values;
  headless::reset();
  for (int i = 1; i <= 6; ++i) host.queue_pick(host.add_image("Image " + std::to_string(i), 2, 2));
  char name[32];
  char description[32];
  HWND main_window = headless::create_window(main_window_title);
  pi_initialize(testhost::HostEmulation::callback(), name, description, main_window);
  headless::destroy_window(main_window);
}

INT_PTR activate(const std::function<void(HWND dialog)>& user, ImageHandle active_image) {
  headless::set_user(user);
  return pi_activate(active_image, nullptr);
}
