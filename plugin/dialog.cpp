#include "plugin/dialog.h"

#include "matching/matched_dark.h"
#include "plugin/host_commands.h"
#include "plugin/plugin_state.h"
#include "plugin/run_message.h"
#include "resources/resource_ids.h"

namespace {

// Every unit of the factor costs a full pass over the frame, so larger
// readings would stall the host for hours; the field takes three digits.
constexpr UINT kMaxBiasFactor = 999;
constexpr WPARAM kBiasFactorDigits = 3;

void enable_control(HWND dialog, int id, BOOL enable) {
  EnableWindow(GetDlgItem(dialog, id), enable);
}

void warn(HWND dialog, const char* text) {
  MessageBoxA(dialog, text, "Tenvora Plugin", MB_OK | MB_ICONWARNING);
}

// Asks the host for a frame and takes it only when the host lends its
// pixels: a failed choice leaves handle, plane, flag and caption as they were.
bool choose_frame(HWND dialog, int button, ImageHandle* handle, float** plane, int16_t* chosen) {
  ImageHandle picked = call_host(HC_SELECT_IMAGE, SELECT_IMAGE_KIND, 0, 0);
  float* pixels = nullptr;
  HostWord lent = call_host(HC_GET_PIXELS, picked, reinterpret_cast<HostWord>(&pixels), 0);
  if ((lent != 1 && lent != 2) || pixels == nullptr) return false;
  *handle = picked;
  *plane = pixels;
  SetDlgItemTextA(dialog, button, reinterpret_cast<LPCSTR>(call_host(HC_GET_TITLE, picked, 0, 0)));
  *chosen = 1;
  return true;
}

// Every frame the mode needs has been chosen in this activation.
bool frames_ready() {
  const PluginState& s = plugin_state;
  return s.image_chosen == 1 && s.dark_chosen == 1 && (s.use_bias != 1 || s.bias_chosen == 1);
}

// After a successful choice Go is enabled once every frame the mode needs is
// there; choosing the light image or the dark frame otherwise disables it,
// choosing the bias frame leaves it alone.
void update_go(HWND dialog, int button) {
  if (frames_ready())
    enable_control(dialog, IDC_GO, TRUE);
  else if (button != IDC_CHOOSE_BIAS)
    enable_control(dialog, IDC_GO, FALSE);
}

INT_PTR on_choose(HWND dialog, int button) {
  PluginState& s = plugin_state;
  bool chosen = false;
  if (button == IDC_CHOOSE_IMAGE)
    chosen = choose_frame(dialog, button, &s.light_image, &s.light_plane, &s.image_chosen);
  else if (button == IDC_CHOOSE_DARK)
    chosen = choose_frame(dialog, button, &s.dark_image, &s.dark_plane, &s.dark_chosen);
  else if (s.use_bias == 1)
    chosen = choose_frame(dialog, button, &s.bias_image, &s.bias_plane, &s.bias_chosen);
  if (chosen) update_go(dialog, button);
  return 0;
}

INT_PTR on_subtract_bias(HWND dialog) {
  PluginState& s = plugin_state;
  BOOL turn_on = IsDlgButtonChecked(dialog, IDC_SUBTRACT_BIAS) != BST_CHECKED;
  CheckDlgButton(dialog, IDC_SUBTRACT_BIAS, turn_on ? BST_CHECKED : BST_UNCHECKED);
  s.use_bias = turn_on ? 1 : 0;
  enable_control(dialog, IDC_CHOOSE_BIAS, turn_on);
  enable_control(dialog, IDC_BIAS_FACTOR, turn_on);
  enable_control(dialog, IDC_BIAS_FACTOR_LABEL, turn_on);
  if (turn_on) {
    SetDlgItemInt(dialog, IDC_BIAS_FACTOR, static_cast<UINT>(s.bias_factor), FALSE);
    if (s.bias_chosen == 0) enable_control(dialog, IDC_GO, FALSE);
  }
  return 0;
}

INT_PTR on_go(HWND dialog) {
  PluginState& s = plugin_state;
  if (s.use_bias == 1) {
    UINT factor = GetDlgItemInt(dialog, IDC_BIAS_FACTOR, nullptr, FALSE);
    if (factor > kMaxBiasFactor) {
      warn(dialog, "The bias multiplication factor must be a whole number from 0 to 999.");
      return 1;
    }
    // Shown disabled while the pipeline runs inside this command.
    enable_control(dialog, IDC_GO, FALSE);
    s.bias_factor = static_cast<int32_t>(factor);
  }
  EndDialog(dialog, 1);
  // A Go command can arrive while the button is disabled (another program's
  // WM_COMMAND): with the bias on but no bias frame chosen in this
  // activation, the bias plane would be one lent in an earlier activation.
  if (frames_ready()) {
    s.run_in_progress = 1;
    const RunOutcome outcome = run_matched_dark();
    s.run_in_progress = 0;
    char text[160];
    if (run_message(outcome, text, sizeof text)) warn(dialog, text);
  }
  return 1;
}

}  // namespace

FOREIGN_ENTRY INT_PTR CALLBACK plugin_dialog_proc(HWND dialog, UINT message, WPARAM wparam,
                                                  LPARAM) {
  PluginState& s = plugin_state;
  // The radio buttons and the box always show the state, whatever happened.
  CheckRadioButton(dialog, IDC_DONT_SUBTRACT, IDC_SUBTRACT,
                   s.subtract_matched == 1 ? IDC_SUBTRACT : IDC_DONT_SUBTRACT);
  CheckDlgButton(dialog, IDC_SUBTRACT_BIAS, s.use_bias == 1 ? BST_CHECKED : BST_UNCHECKED);

  if (message == WM_INITDIALOG) {
    SendMessageA(GetDlgItem(dialog, IDC_BIAS_FACTOR), EM_LIMITTEXT, kBiasFactorDigits, 0);
    return 0;
  }
  if (message != WM_COMMAND) return 0;
  // A command delivered while the host runs one of the run's commands would
  // start a second run or swap a plane under the first: none is taken then.
  if (s.run_in_progress) return 0;

  // The notification code is not looked at: every command of a control runs
  // its action.
  switch (LOWORD(wparam)) {
    case IDC_CHOOSE_IMAGE:
    case IDC_CHOOSE_DARK:
    case IDC_CHOOSE_BIAS:
      return on_choose(dialog, LOWORD(wparam));
    case IDC_SUBTRACT_BIAS:
      return on_subtract_bias(dialog);
    case IDC_DONT_SUBTRACT:
    case IDC_SUBTRACT:
      s.subtract_matched = LOWORD(wparam) == IDC_SUBTRACT ? 1 : 0;
      CheckRadioButton(dialog, IDC_DONT_SUBTRACT, IDC_SUBTRACT, LOWORD(wparam));
      return 0;
    case IDC_ABOUT:
      MessageBoxA(dialog, "Tenvora Plugin.\nImplemented by Quillmere.", "About Tenvora Plugin",
                  MB_OK | MB_ICONINFORMATION);
      return 0;
    case IDC_CANCEL:
      EndDialog(dialog, 2);
      return 1;
    case IDC_GO:
      return on_go(dialog);
    default:
      return 0;
  }
}
