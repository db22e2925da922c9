// The Windows test host: a Win32 program that loads tenvora.dll as the image
// host does and acts as the user on the plug-in's real dialog.
//
// The main thread is the host's user-interface thread: it opens the main
// window, loads the library, calls pi_initialize and then pi_activate, whose
// modal loop runs the dialog and, on Go, the pipeline. A second thread is the
// user: it finds the dialog by its caption, clicks buttons with BM_CLICK and
// types into the factor field with WM_CHAR, reads the controls after each
// step, and reads and answers every message box. Each action runs on a
// helper thread of its own, since a click that opens a message box returns
// only once the box is closed; the user waits for the helper and answers
// boxes meanwhile. Between steps a SendMessage round trip makes sure that
// the dialog has handled everything. Writes the files of session_record.h.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "resources/dialog_controls.h"
#include "testhost/host_emulation.h"
#include "testhost/scenario_file.h"
#include "testhost/session_record.h"

namespace {

using testhost::Role;
using testhost::Step;
using testhost::StepKind;

// The library's entry points, called exactly as the host calls them.
typedef int32_t(WINAPI* InitializeFunction)(HostCallback, char*, char*, HWND);
typedef INT_PTR(WINAPI* ActivateFunction)(ImageHandle, HWND);
typedef void(WINAPI* FinalizeFunction)(HostWord);

// A step, or the dialog's appearance, that takes longer than this has hung.
constexpr DWORD kPatienceMs = 600000;
// How often the user looks for message boxes while an action runs.
constexpr DWORD kLookMs = 5;

template <typename Function>
Function entry_point(HMODULE dll, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

double now_seconds() {
  return double(GetTickCount64()) / 1000.0;
}

std::string class_of(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string text_of(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

[[noreturn]] void give_up(const char* why) {
  std::fprintf(stderr, "scenario_host: %s\n", why);
  std::fflush(stderr);
  ExitProcess(3);
}

DWORD WINAPI run_action(LPVOID parameter) {
  (*static_cast<std::function<void()>*>(parameter))();
  return 0;
}

struct FoundBoxes {
  HWND dialog;
  std::vector<HWND> boxes;
};

BOOL CALLBACK collect_box(HWND window, LPARAM parameter) {
  FoundBoxes* found = reinterpret_cast<FoundBoxes*>(parameter);
  if (window != found->dialog && IsWindowVisible(window) && class_of(window) == "#32770")
    found->boxes.push_back(window);
  return TRUE;
}

BOOL CALLBACK collect_text(HWND child, LPARAM parameter) {
  std::string* text = reinterpret_cast<std::string*>(parameter);
  if (text->empty() && class_of(child) == "Static") *text = text_of(child);
  return TRUE;
}

class User {
 public:
  User(testhost::HostEmulation& host, const std::vector<Step>& steps, HWND main_window,
       DWORD ui_thread, HANDLE activation_over, const testhost::HostOptions& options,
       testhost::SessionRecord& record)
      : host_(host),
        steps_(steps),
        main_window_(main_window),
        ui_thread_(ui_thread),
        activation_over_(activation_over),
        options_(options),
        record_(record) {}

  void act() {
    if (!wait_for_dialog()) return;
    observe(0, true);
    for (size_t i = 0; i < steps_.size(); ++i) {
      heading_ = testhost::step_heading(i + 1, steps_);
      const bool taken = dialog_open() && take(steps_[i]);
      if (!taken) record_.refused(heading_);
      observe(i + 1, taken);
      if (options_.pause_after == i + 1) pause();
    }
  }

 private:
  // The dialog is there once it is shown and its thread answers.
  bool wait_for_dialog() {
    const double start = now_seconds();
    for (;;) {
      HWND found = FindWindowA("#32770", TENVORA_DIALOG_CAPTION);
      if (found && GetWindowThreadProcessId(found, nullptr) == ui_thread_ &&
          IsWindowVisible(found)) {
        dialog_ = found;
        SendMessageA(dialog_, WM_NULL, 0, 0);
        return true;
      }
      if (WaitForSingleObject(activation_over_, kLookMs) == WAIT_OBJECT_0) return false;
      if (now_seconds() - start > kPatienceMs / 1000.0) give_up("the dialog did not appear");
    }
  }

  // EndDialog hides the dialog at once; it is destroyed when the modal loop
  // ends.
  bool dialog_open() const { return IsWindow(dialog_) && IsWindowVisible(dialog_); }

  // Template identifiers are 16 bits wide: -1 is stored as 0xFFFF.
  HWND item(int id) const { return GetDlgItem(dialog_, id & 0xFFFF); }

  bool usable(HWND control) const { return IsWindowEnabled(control) && IsWindowVisible(control); }

  // Runs `what` on a helper thread and answers message boxes until it is
  // done.
  void perform(std::function<void()> what) {
    HANDLE helper = CreateThread(nullptr, 0, run_action, &what, 0, nullptr);
    if (!helper) give_up("cannot start a helper thread");
    const double start = now_seconds();
    while (WaitForSingleObject(helper, kLookMs) == WAIT_TIMEOUT) {
      answer_message_boxes();
      if (now_seconds() - start > kPatienceMs / 1000.0) give_up("a step did not finish");
    }
    CloseHandle(helper);
  }

  void answer_message_boxes() {
    FoundBoxes found{dialog_, {}};
    EnumThreadWindows(ui_thread_, collect_box, reinterpret_cast<LPARAM>(&found));
    for (HWND box : found.boxes) {
      SendMessageA(box, WM_NULL, 0, 0);  // its initialisation is over
      std::string text;
      EnumChildWindows(box, collect_text, reinterpret_cast<LPARAM>(&text));
      HWND owner = GetWindow(box, GW_OWNER);
      const char* whose = owner == dialog_ ? "dialog" : owner == main_window_ ? "host" : "other";
      record_.message_box(heading_, whose, text_of(box), text);
      HWND ok = GetDlgItem(box, IDOK);
      if (!ok) give_up("a message box without an OK button");
      SendMessageA(ok, BM_CLICK, 0, 0);
      while (IsWindow(box)) {
        if (WaitForSingleObject(activation_over_, kLookMs) == WAIT_OBJECT_0) break;
      }
    }
  }

  // A click as the mouse gives it, only on a button that can take one: the
  // system's BM_CLICK presses even a disabled button (it feeds the button
  // its mouse messages directly), which no user can.
  bool click(int id) {
    HWND button = item(id);
    if (!button || !usable(button)) return false;
    perform([button] { SendMessageA(button, BM_CLICK, 0, 0); });
    return true;
  }

  // Keys go to the field only while it takes input; the whole text is
  // selected first, as a user's double click does.
  bool type(const std::string& keys) {
    HWND edit = item(IDC_BIAS_FACTOR);
    if (!edit || !usable(edit)) return false;
    perform([edit, keys] {
      SendMessageA(edit, EM_SETSEL, 0, -1);
      for (char key : keys) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(key), 1);
    });
    return true;
  }

  bool take(const Step& step) {
    switch (step.kind) {
      case StepKind::choose: {
        const int id = step.role == Role::light  ? IDC_CHOOSE_IMAGE
                       : step.role == Role::dark ? IDC_CHOOSE_DARK
                                                 : IDC_CHOOSE_BIAS;
        if (!item(id) || !usable(item(id))) return false;
        host_.queue_pick(step.pick);
        return click(id);
      }
      case StepKind::toggle_bias:
        return click(IDC_SUBTRACT_BIAS);
      case StepKind::type:
        return type(step.text);
      case StepKind::set_text: {
        HWND edit = item(IDC_BIAS_FACTOR);
        const std::string text = step.text;
        perform([edit, text] { SendMessageA(edit, WM_SETTEXT, 0, LPARAM(text.c_str())); });
        return true;
      }
      case StepKind::subtract:
        return click(step.on ? IDC_SUBTRACT : IDC_DONT_SUBTRACT);
      case StepKind::about:
        return click(IDC_ABOUT);
      case StepKind::go: {
        const size_t before = host_.log().size();
        const bool taken = click(IDC_GO);
        record_.go_time(host_.log(), before);
        return taken;
      }
      case StepKind::cancel:
        return click(IDC_CANCEL);
    }
    return false;
  }

  void observe(size_t step, bool) {
    const std::string heading = testhost::step_heading(step, steps_);
    if (dialog_open()) SendMessageA(dialog_, WM_NULL, 0, 0);
    if (!dialog_open()) {
      record_.dialog_closed(heading);
      return;
    }
    std::vector<testhost::ControlState> all;
#define RECORD_CONTROL(text, id, class_name, style, x, y, width, height)             \
  {                                                                                  \
    HWND control = item(id);                                                         \
    const bool button = std::string(class_name) == "Button";                         \
    all.push_back({id, IsWindowEnabled(control) != FALSE,                            \
                   button ? unsigned(SendMessageA(control, BM_GETCHECK, 0, 0)) : 0u, \
                   text_of(control)});                                               \
  }
    TENVORA_DIALOG_CONTROLS(RECORD_CONTROL)
#undef RECORD_CONTROL
    record_.controls(heading, all);
  }

  // Holds the dialog on the screen for a screenshot.
  void pause() {
    RECT r = {};
    GetWindowRect(dialog_, &r);
    const std::string paused = options_.out_dir + "/paused";
    if (FILE* f = std::fopen(paused.c_str(), "w")) {
      std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      std::fclose(f);
    }
    const std::string resume = options_.out_dir + "/resume";
    while (GetFileAttributesA(resume.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(50);
  }

  testhost::HostEmulation& host_;
  const std::vector<Step>& steps_;
  HWND main_window_;
  DWORD ui_thread_;
  HANDLE activation_over_;
  const testhost::HostOptions& options_;
  testhost::SessionRecord& record_;
  HWND dialog_ = nullptr;
  std::string heading_;
};

DWORD WINAPI user_thread(LPVOID parameter) {
  static_cast<User*>(parameter)->act();
  return 0;
}

HWND create_main_window(const std::string& title) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  window_class.lpszClassName = "TenvoraScenarioHost";
  RegisterClassA(&window_class);
  return CreateWindowExA(0, window_class.lpszClassName, title.c_str(),
                         WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1024, 768, nullptr, nullptr,
                         window_class.hInstance, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  testhost::HostOptions options;
  testhost::ScenarioFile scenario;
  std::string title;
  if (!testhost::read_host_run(
          argc, argv,
          "scenario_host [--title TITLE] [--no-images] [--pause-after N] SCENARIO OUTDIR", options,
          scenario, title))
    return 2;
  testhost::HostEmulation host(title == "ZVL Orvantis Light");
  host.keep_shown(false);
  testhost::open_images(scenario, host);

  HWND main_window = create_main_window(title);
  if (!main_window) give_up("cannot create the main window (is there a display?)");
  HMODULE dll = LoadLibraryA("tenvora.dll");
  if (!dll) give_up("cannot load tenvora.dll");
  auto initialize = entry_point<InitializeFunction>(dll, "pi_initialize");
  auto activate = entry_point<ActivateFunction>(dll, "pi_activate");
  auto finalize = entry_point<FinalizeFunction>(dll, "pi_finalize");
  if (!initialize || !activate || !finalize) give_up("tenvora.dll lacks an entry point");

  testhost::SessionRecord record;
  char name[64] = {};
  char description[64] = {};
  const int32_t initialized =
      initialize(testhost::HostEmulation::callback(), name, description, main_window);
  record.initialized(initialized, name, description);

  HANDLE activation_over = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  User user(host, scenario.steps, main_window, GetCurrentThreadId(), activation_over, options,
            record);
  HANDLE user_handle = CreateThread(nullptr, 0, user_thread, &user, 0, nullptr);
  if (!user_handle) give_up("cannot start the user thread");
  const INT_PTR result = activate(scenario.active, main_window);
  SetEvent(activation_over);
  WaitForSingleObject(user_handle, INFINITE);
  record.activated(result);
  finalize(0);
  DestroyWindow(main_window);
  FreeLibrary(dll);

  if (!record.write(options.out_dir, host, options.pixels)) give_up("cannot write the results");
  return 0;
}
