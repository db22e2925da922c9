// A minimal host for the shell tests: hands out image handles, lends planes,
// names images and records every command it receives.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "winlayer/headless_user.h"

struct FakeHost {
  std::vector<std::array<HostWord, 4>> calls;
  HostWord next_image = 100;
  // Result of HC_GET_PIXELS and whether a plane is stored through p2 then.
  HostWord pixels_result = 1;
  bool lends_plane = true;
  float planes[8][4] = {};
  std::string titles[8];

  float* plane_of(ImageHandle image) { return planes[image % 8]; }
  const std::string& title_of(ImageHandle image) { return titles[image % 8]; }
};

extern FakeHost* fake_host;
HostWord WINAPI fake_host_callback(HostWord code, HostWord p1, HostWord p2, HostWord p3);

// Loads fresh plug-in state, a fresh host and a fresh window layer, and
// initializes the plug-in under a main window with the given title.
void start_plugin(FakeHost& host, const std::string& main_window_title = "Host");

// Runs one activation with `user` acting in the dialog; returns its result.
INT_PTR activate(const std::function<void(HWND dialog)>& user, ImageHandle active_image = 7);
