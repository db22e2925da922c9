// Driving the headless window layer from a host or a test: top-level windows,
// a user who acts while a modal dialog runs, and message boxes.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "winlayer/headless_win_api.h"

namespace headless {

// A top-level window with a title (a host's main window); destroy it when done.
HWND create_window(const std::string& title);
void destroy_window(HWND window);

// Called by DialogBoxParamA once the procedure has handled WM_INITDIALOG (and
// not already ended the dialog). The user acts synchronously through the
// functions below; when the callback returns with the dialog still open,
// DialogBoxParamA destroys it and fails with -1.
using User = std::function<void(HWND dialog)>;
void set_user(User user);

// Every message box is recorded; the handler chooses the button pressed
// (without one, every box is answered with IDOK).
struct ShownMessageBox {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};
using MessageBoxHandler = std::function<int(const ShownMessageBox& box)>;
void set_message_box_handler(MessageBoxHandler handler);
const std::vector<ShownMessageBox>& message_boxes();

// Forgets the user, the message-box handler and the recorded boxes.
void reset();

// User actions, on a dialog that is still open (not ended). Each returns
// false when the action is impossible and then does nothing.
// Clicks a button as the mouse would: only an enabled, visible push button,
// check box or radio button reacts, with WM_COMMAND / BN_CLICKED.
bool click(HWND dialog, int id);
// Sends WM_COMMAND for any identifier, whatever the control's state.
bool send_command(HWND dialog, int id, WORD notification = BN_CLICKED);
// Selects the whole text of an enabled edit control and types the keys one
// by one ('\b' is backspace), as a keyboard does: ES_NUMBER refuses
// non-digits, the text limit refuses keys beyond it, ES_UPPERCASE converts,
// and every change sends EN_CHANGE.
bool type_text(HWND dialog, int id, const std::string& keys);
// Selects the whole text and pastes: the edit control checks only the text
// limit (cutting the text there), not ES_NUMBER; one EN_CHANGE.
bool paste_text(HWND dialog, int id, const std::string& text);

// What a control shows. `exists` is false for an unknown identifier.
struct Control {
  bool exists;
  int id;
  std::string class_name;
  std::string text;
  DWORD style;
  bool enabled;
  bool visible;
  UINT check;
  size_t text_limit;
};
Control control(HWND dialog, int id);
// All controls of a dialog, in template order.
std::vector<Control> controls(HWND dialog);
// A window's title (a dialog's caption); empty for an unknown window.
std::string window_text(HWND window);
// Whether the dialog still takes user input (it has not been ended).
bool is_open(HWND dialog);

}  // namespace headless
