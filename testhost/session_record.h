// What an end-to-end run leaves behind, in the same form from the Windows
// test host and from its native counterpart, so that a script can compare
// the two folders file for file:
//
//   result.txt        what pi_initialize registered and what pi_activate returned
//   controls.txt      the 13 controls when the dialog opened and after each step
//   events.txt        steps the user could not take and message boxes, by step
//   host_log.txt      every host command, one line each, no pointer values
//   images.txt        every image in the host after the run: handle, size,
//                     title, number of updates; its pixels in image_N.f32
//   go_time.txt       how long the pipeline took on Go, and its own share
//                     without the host commands (not compared)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testhost/host_emulation.h"
#include "testhost/scenario.h"

namespace testhost {

// One control as the user sees it.
struct ControlState {
  int id = 0;
  bool enabled = false;
  unsigned check = 0;
  std::string text;
};

class SessionRecord {
 public:
  // `heading` names the step (step_heading below).
  void controls(const std::string& heading, const std::vector<ControlState>& all);
  void dialog_closed(const std::string& heading);
  void refused(const std::string& heading);
  // `owner` is "dialog", "host" or "other".
  void message_box(const std::string& heading, const std::string& owner, const std::string& caption,
                   const std::string& text);

  void initialized(int32_t result, const std::string& name, const std::string& description);
  void activated(intptr_t result);
  // The run of a Go step: from the first to the last host command the step
  // brought, `log` having held `before` commands when it began. (The
  // window system's own work around the click, such as hiding the ended
  // dialog, is left out.)
  void go_time(const std::vector<HostCall>& log, size_t before);

  // Writes the files into the existing folder `dir` (images only when
  // `with_pixels`); false when a file cannot be written.
  bool write(const std::string& dir, const HostEmulation& host, bool with_pixels) const;

 private:
  std::string controls_, events_, result_;
  double go_seconds_ = -1.0;
  double plugin_seconds_ = -1.0;
};

// The line that heads a step's records: "0 open", "3 toggle-bias".
std::string step_heading(size_t step, const std::vector<Step>& steps);

}  // namespace testhost
