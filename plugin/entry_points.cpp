#include "plugin/entry_points.h"

#include <cstring>

#include "plugin/dialog.h"
#include "plugin/plugin_state.h"
#include "resources/resource_ids.h"

namespace {

// The title of the Light edition's main window; its commands are offset.
constexpr char kLightHostTitle[] = "ZVL Orvantis Light";
// WM_GETTEXT brings at most this many characters of the title plus a zero.
constexpr WPARAM kTitleRead = 24;

}  // namespace

extern "C" {

FOREIGN_ENTRY int32_t WINAPI pi_initialize(HostCallback host_callback, char* name,
                                           char* description, HWND main_window) {
  std::memcpy(name, "Tenvora", sizeof "Tenvora");
  std::memcpy(description, "Tenvora.", sizeof "Tenvora.");
  plugin_state.host_callback = host_callback;

  char title[kTitleRead + 1] = {};
  SendMessageA(main_window, WM_GETTEXT, kTitleRead, reinterpret_cast<LPARAM>(title));
  plugin_state.light_host = std::strcmp(title, kLightHostTitle) == 0 ? 1 : 0;
  return 1;
}

// light_host is deliberately kept: a Light-edition host gets offset command
// codes for as long as the plug-in is loaded. The kernels' searches start
// afresh, so the same frames give the same images in every activation.
FOREIGN_ENTRY INT_PTR WINAPI pi_activate(ImageHandle active_image, HWND host_window) {
  // An activation from inside the open dialog (a host calling back from one
  // of its commands) ends as if cancelled and leaves the open one alone.
  if (plugin_state.dialog_open) return 2;
  plugin_state.dialog_open = 1;
  plugin_state.active_image = active_image;
  plugin_state.image_chosen = 0;
  plugin_state.dark_chosen = 0;
  plugin_state.bias_chosen = 0;
  plugin_state.use_bias = 0;
  plugin_state.subtract_matched = 0;
  plugin_state.darkest_block = {0, 0};
  plugin_state.hot_pixels = HotPixelList{};
  const INT_PTR result = DialogBoxParamA(plugin_state.module_instance, MAKEINTRESOURCEA(IDD_MAIN),
                                         host_window, plugin_dialog_proc, 0);
  plugin_state.dialog_open = 0;
  return result;
}

FOREIGN_ENTRY void WINAPI pi_finalize(HostWord) {}

FOREIGN_ENTRY BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) plugin_state.module_instance = instance;
  return TRUE;
}
}
