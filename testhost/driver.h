// Runs the plug-in as the host does: pi_initialize with a main window of the
// headless window layer, then pi_activate on an active image while a user
// acts out a scenario in the modal dialog and answers every message box.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win_api.h"
#include "testhost/host_emulation.h"
#include "testhost/scenario.h"

namespace testhost {

// The plug-in as loaded into the host.
struct Session {
  HWND main_window = nullptr;
  int32_t initialize_result = 0;
  std::string name, description;  // the texts the plug-in registered
};

// Creates the host's main window with `main_window_title` (the edition shows
// in it) and calls pi_initialize with the emulation's command function.
Session start_session(const std::string& main_window_title);
// Calls pi_finalize and closes the main window.
void end_session(Session& session);

struct MessageBoxRecord {
  std::string owner;  // "dialog", "host" or "other"
  std::string text, caption;
  UINT type = 0;
  std::string line() const;  // readable one-line form
};

struct Activation {
  INT_PTR result = 0;  // what pi_activate returned
  std::vector<MessageBoxRecord> message_boxes;
  // Steps the user could not take (a disabled control, the dialog already
  // closed), each as its scenario line.
  std::vector<std::string> refused_steps;
};

// Looks at the dialog once it has opened (step 0) and after each step
// (numbered from 1), told whether the user could take that step.
using StepObserver = std::function<void(HWND dialog, size_t step, bool taken)>;

// Calls pi_activate on `active_image` with the main window as owner and acts
// out the steps; every message box is answered with OK. A choose step queues
// its pick in `host` just before the click.
Activation activate(const Session& session, HostEmulation& host, ImageHandle active_image,
                    const std::vector<Step>& steps, const StepObserver& observer = {});

}  // namespace testhost
