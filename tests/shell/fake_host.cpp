#include "tests/shell/fake_host.h"

FakeHost* fake_host = nullptr;

namespace {
// Copied before any test runs: the record is constant-initialized.
const PluginState load_values = plugin_state;
}  // namespace

HostWord WINAPI fake_host_callback(HostWord code, HostWord p1, HostWord p2, HostWord p3) {
  FakeHost& host = *fake_host;
  host.calls.push_back({code, p1, p2, p3});
  switch (code % LIGHT_COMMAND_OFFSET) {
    case HC_SELECT_IMAGE:
      return host.next_image++;
    case HC_GET_PIXELS:
      if (host.lends_plane) *reinterpret_cast<float**>(p2) = host.plane_of(p1);
      return host.pixels_result;
    case HC_GET_TITLE:
      return reinterpret_cast<HostWord>(host.title_of(p1).c_str());
    default:
      return 0;
  }
}

void start_plugin(FakeHost& host, const std::string& main_window_title) {
  plugin_state = load_values;
  headless::reset();
  fake_host = &host;
  for (int i = 0; i < 8; ++i) host.titles[i] = "Image " + std::to_string(i);
  char name[32];
  char description[32];
  HWND main_window = headless::create_window(main_window_title);
  pi_initialize(fake_host_callback, name, description, main_window);
  headless::destroy_window(main_window);
}

INT_PTR activate(const std::function<void(HWND dialog)>& user, ImageHandle active_image) {
  headless::set_user(user);
  return pi_activate(active_image, nullptr);
}
