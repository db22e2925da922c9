// A user's session with the plug-in's dialog as plain data, with a small text
// form of one step per line, shared by the in-process driver and the Windows
// test host:
//
//   choose light 3     pick image 3 with "Choose the Image" (dark, bias alike);
//                      a handle the host does not know is a failed pick
//   toggle-bias        click the Subtract Bias box
//   type 2             type into the bias factor field (the rest of the line)
//   set-text 1234      put the rest of the line into the bias factor field with
//                      WM_SETTEXT, as a program would (no key filter, no limit)
//   subtract on        pick "Subtract Matched Dark" ("off": don't subtract)
//   about              click About
//   go                 click Go
//   cancel             click Cancel
//
// Blank lines and lines starting with '#' are ignored.
#pragma once

#include <string>
#include <vector>

#include "plugin/host_commands.h"

namespace testhost {

enum class StepKind { choose, toggle_bias, type, set_text, subtract, about, go, cancel };
enum class Role { light, dark, bias };

struct Step {
  StepKind kind = StepKind::go;
  Role role = Role::light;  // choose
  ImageHandle pick = 0;     // choose
  std::string text;         // type, set_text
  bool on = false;          // subtract
};

// Parses a whole scenario; on a bad line returns false with `error` naming
// the line and leaves `steps` holding the lines before it.
bool parse_scenario(const std::string& text, std::vector<Step>& steps, std::string& error);

// The step's line in the text form.
std::string format_step(const Step& step);

}  // namespace testhost
