// The headless window layer: USER32's dialog operations over in-memory
// windows, for the native build and its tests.
#include "winlayer/headless_user.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>

#include "resources/dialog_controls.h"

// A window: a host's top-level window, a dialog or one of its controls.
struct HWND__ {
  HWND parent = nullptr;  // the dialog, for a control; the owner, for a dialog
  int id = 0;
  std::string class_name;
  std::string text;
  DWORD style = 0;
  UINT check = BST_UNCHECKED;
  size_t text_limit = 0;
  // Dialogs only.
  DLGPROC procedure = nullptr;
  bool ended = false;
  INT_PTR result = 0;
  std::vector<std::unique_ptr<HWND__>> controls;
};

namespace {

// A single-line edit control takes this much text until EM_LIMITTEXT says less.
constexpr size_t kDefaultTextLimit = 0x7FFFFFFE;

std::map<HWND, std::unique_ptr<HWND__>> top_windows;  // top-level windows and dialogs
headless::User current_user;
headless::MessageBoxHandler message_box_handler;
std::vector<headless::ShownMessageBox> shown_boxes;

HWND__* find_dialog(HWND dialog) {
  auto found = top_windows.find(dialog);
  return found != top_windows.end() && found->second->procedure ? found->second.get() : nullptr;
}

HWND__* find_control(HWND dialog, int id) {
  HWND__* owner = find_dialog(dialog);
  if (!owner) return nullptr;
  for (auto& control : owner->controls)
    if (control->id == id) return control.get();
  return nullptr;
}

// Any live window, or null.
HWND__* find_window(HWND window) {
  if (top_windows.count(window)) return window;
  for (auto& entry : top_windows)
    for (auto& control : entry.second->controls)
      if (control.get() == window) return window;
  return nullptr;
}

bool is_edit(const HWND__* window) {
  return window->class_name == "Edit";
}

// A character as an edit control stores it.
char as_entered(const HWND__* edit, char c) {
  if (!(edit->style & ES_UPPERCASE)) return c;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

LRESULT send_command_to(HWND__* dialog, int id, WORD notification, HWND control) {
  return dialog->procedure(dialog, WM_COMMAND, MAKEWPARAM(id, notification),
                           reinterpret_cast<LPARAM>(control));
}

// An edit control tells its dialog about every change of its text.
void set_text(HWND__* window, const std::string& text) {
  window->text = text;
  if (window->parent && is_edit(window))
    send_command_to(window->parent, window->id, EN_CHANGE, window);
}

std::unique_ptr<HWND__> make_dialog(HWND owner, DLGPROC procedure) {
  auto dialog = std::make_unique<HWND__>();
  dialog->parent = owner;
  dialog->class_name = "#32770";
  dialog->text = TENVORA_DIALOG_CAPTION;
  dialog->style = TENVORA_DIALOG_STYLE;
  dialog->procedure = procedure;
#define HEADLESS_ADD_CONTROL(text_, id_, class_, style_, x, y, width, height) \
  {                                                                           \
    auto control = std::make_unique<HWND__>();                                \
    control->parent = dialog.get();                                           \
    control->id = id_;                                                        \
    control->class_name = class_;                                             \
    control->text = text_;                                                    \
    control->style = style_;                                                  \
    control->text_limit = kDefaultTextLimit;                                  \
    dialog->controls.push_back(std::move(control));                           \
  }
  TENVORA_DIALOG_CONTROLS(HEADLESS_ADD_CONTROL)
#undef HEADLESS_ADD_CONTROL
  return dialog;
}

// A control that a user can reach on an open dialog, or null.
HWND__* user_control(HWND dialog, int id) {
  HWND__* owner = find_dialog(dialog);
  HWND__* control = find_control(dialog, id);
  if (!owner || owner->ended || !control) return nullptr;
  if (!(control->style & WS_VISIBLE) || (control->style & WS_DISABLED)) return nullptr;
  return control;
}

headless::Control describe(const HWND__* control) {
  return {true,
          control->id,
          control->class_name,
          control->text,
          control->style,
          !(control->style & WS_DISABLED),
          (control->style & WS_VISIBLE) != 0,
          control->check,
          control->text_limit};
}

}  // namespace

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR template_name, HWND owner, DLGPROC procedure,
                        LPARAM init_param) {
  if (template_name != MAKEINTRESOURCEA(IDD_MAIN) || !procedure) return -1;
  std::unique_ptr<HWND__> created = make_dialog(owner, procedure);
  HWND dialog = created.get();
  top_windows[dialog] = std::move(created);
  procedure(dialog, WM_INITDIALOG, 0, init_param);
  if (!dialog->ended && current_user) current_user(dialog);
  INT_PTR result = dialog->ended ? dialog->result : -1;
  top_windows.erase(dialog);
  return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  HWND__* window = find_dialog(dialog);
  if (!window) return FALSE;
  window->ended = true;
  window->result = result;
  return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND__* target = find_window(window);
  if (!target) return 0;
  switch (message) {
    case WM_GETTEXT: {
      if (wparam == 0 || lparam == 0) return 0;
      size_t length = std::min<size_t>(target->text.size(), wparam - 1);
      char* buffer = reinterpret_cast<char*>(lparam);
      target->text.copy(buffer, length);
      buffer[length] = '\0';
      return static_cast<LRESULT>(length);
    }
    case WM_SETTEXT:
      set_text(target, lparam ? reinterpret_cast<const char*>(lparam) : "");
      return TRUE;
    case EM_LIMITTEXT:
      if (is_edit(target)) target->text_limit = wparam ? wparam : kDefaultTextLimit;
      return 0;
    default:
      return 0;
  }
}

BOOL CheckRadioButton(HWND dialog, int first_id, int last_id, int check_id) {
  if (!find_dialog(dialog)) return FALSE;
  for (int id = first_id; id <= last_id; ++id)
    if (HWND__* control = find_control(dialog, id))
      control->check = id == check_id ? BST_CHECKED : BST_UNCHECKED;
  return TRUE;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND__* control = find_control(dialog, id);
  if (!control) return FALSE;
  control->check = check;
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND__* control = find_control(dialog, id);
  return control ? control->check : 0;
}

HWND GetDlgItem(HWND dialog, int id) {
  return find_control(dialog, id);
}

BOOL EnableWindow(HWND window, BOOL enable) {
  HWND__* target = find_window(window);
  if (!target) return FALSE;
  BOOL was_disabled = (target->style & WS_DISABLED) != 0;
  if (enable)
    target->style &= ~static_cast<DWORD>(WS_DISABLED);
  else
    target->style |= WS_DISABLED;
  return was_disabled;
}

// Blanks are skipped, then digits (after a '-' when signed) are read up to
// the first non-digit; no digit, or a value beyond the 32-bit range, is a
// failure that reads as 0.
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL is_signed) {
  if (translated) *translated = FALSE;
  HWND__* control = find_control(dialog, id);
  if (!control) return 0;
  const char* text = control->text.c_str();
  while (*text == ' ') ++text;
  bool negative = is_signed && *text == '-';
  if (negative) ++text;
  if (!std::isdigit(static_cast<unsigned char>(*text))) return 0;
  uint64_t limit = !is_signed ? 0xFFFFFFFFu : negative ? 0x80000000u : 0x7FFFFFFFu;
  uint64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    value = value * 10 + static_cast<uint64_t>(*text - '0');
    if (value > limit) return 0;
  }
  if (translated) *translated = TRUE;
  return static_cast<UINT>(negative ? 0u - value : value);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL is_signed) {
  char text[16];
  if (is_signed)
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  else
    std::snprintf(text, sizeof text, "%u", value);
  return SetDlgItemTextA(dialog, id, text);
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND__* control = find_control(dialog, id);
  if (!control) return FALSE;
  set_text(control, text ? text : "");
  return TRUE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  shown_boxes.push_back({owner, text ? text : "", caption ? caption : "Error", type});
  return message_box_handler ? message_box_handler(shown_boxes.back()) : IDOK;
}

namespace headless {

HWND create_window(const std::string& title) {
  auto window = std::make_unique<HWND__>();
  window->text = title;
  window->style = WS_VISIBLE;
  HWND handle = window.get();
  top_windows[handle] = std::move(window);
  return handle;
}

void destroy_window(HWND window) {
  if (!find_dialog(window)) top_windows.erase(window);
}

void set_user(User user) {
  current_user = std::move(user);
}

void set_message_box_handler(MessageBoxHandler handler) {
  message_box_handler = std::move(handler);
}

const std::vector<ShownMessageBox>& message_boxes() {
  return shown_boxes;
}

void reset() {
  current_user = nullptr;
  message_box_handler = nullptr;
  shown_boxes.clear();
}

bool click(HWND dialog, int id) {
  HWND__* control = user_control(dialog, id);
  if (!control || control->class_name != "Button") return false;
  if ((control->style & BS_TYPEMASK) == BS_GROUPBOX) return false;
  send_command_to(control->parent, id, BN_CLICKED, control);
  return true;
}

bool send_command(HWND dialog, int id, WORD notification) {
  HWND__* owner = find_dialog(dialog);
  if (!owner || owner->ended) return false;
  send_command_to(owner, id, notification, find_control(dialog, id));
  return true;
}

bool type_text(HWND dialog, int id, const std::string& keys) {
  HWND__* control = user_control(dialog, id);
  if (!control || !is_edit(control)) return false;
  bool selected = true;  // the whole text, until the first accepted key replaces it
  for (char key : keys) {
    if (key == '\b') {
      if (control->text.empty()) continue;
      set_text(control,
               selected ? std::string() : control->text.substr(0, control->text.size() - 1));
      selected = false;
      continue;
    }
    if ((control->style & ES_NUMBER) && !std::isdigit(static_cast<unsigned char>(key))) continue;
    std::string kept = selected ? std::string() : control->text;
    if (kept.size() >= control->text_limit) continue;
    selected = false;
    set_text(control, kept + as_entered(control, key));
  }
  return true;
}

bool paste_text(HWND dialog, int id, const std::string& text) {
  HWND__* control = user_control(dialog, id);
  if (!control || !is_edit(control)) return false;
  std::string pasted = text.substr(0, control->text_limit);
  for (char& c : pasted) c = as_entered(control, c);
  set_text(control, pasted);
  return true;
}

Control control(HWND dialog, int id) {
  HWND__* found = find_control(dialog, id);
  return found ? describe(found) : Control{};
}

std::vector<Control> controls(HWND dialog) {
  std::vector<Control> all;
  if (HWND__* owner = find_dialog(dialog))
    for (auto& control : owner->controls) all.push_back(describe(control.get()));
  return all;
}

std::string window_text(HWND window) {
  HWND__* found = find_window(window);
  return found ? found->text : std::string();
}

bool is_open(HWND dialog) {
  HWND__* owner = find_dialog(dialog);
  return owner && !owner->ended;
}

}  // namespace headless
