#include "testhost/driver.h"

#include "plugin/entry_points.h"
#include "resources/resource_ids.h"
#include "winlayer/headless_user.h"

namespace testhost {
namespace {

int choose_button(Role role) {
  switch (role) {
    case Role::light:
      return IDC_CHOOSE_IMAGE;
    case Role::dark:
      return IDC_CHOOSE_DARK;
    case Role::bias:
      return IDC_CHOOSE_BIAS;
  }
  return 0;
}

// Takes one step in the open dialog; false when the user cannot take it.
bool take_step(HWND dialog, HostEmulation& host, const Step& step) {
  switch (step.kind) {
    case StepKind::choose: {
      int button = choose_button(step.role);
      if (!headless::control(dialog, button).enabled) return false;
      host.queue_pick(step.pick);
      return headless::click(dialog, button);
    }
    case StepKind::toggle_bias:
      return headless::click(dialog, IDC_SUBTRACT_BIAS);
    case StepKind::type:
      return headless::type_text(dialog, IDC_BIAS_FACTOR, step.text);
    case StepKind::set_text:
      SendMessageA(GetDlgItem(dialog, IDC_BIAS_FACTOR), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(step.text.c_str()));
      return true;
    case StepKind::subtract:
      return headless::click(dialog, step.on ? IDC_SUBTRACT : IDC_DONT_SUBTRACT);
    case StepKind::about:
      return headless::click(dialog, IDC_ABOUT);
    case StepKind::go:
      return headless::click(dialog, IDC_GO);
    case StepKind::cancel:
      return headless::click(dialog, IDC_CANCEL);
  }
  return false;
}

}  // namespace

Session start_session(const std::string& main_window_title) {
  Session session;
  session.main_window = headless::create_window(main_window_title);
  char name[64] = {};
  char description[64] = {};
  session.initialize_result =
      pi_initialize(HostEmulation::callback(), name, description, session.main_window);
  session.name = name;
  session.description = description;
  return session;
}

void end_session(Session& session) {
  pi_finalize(0);
  headless::destroy_window(session.main_window);
  session.main_window = nullptr;
}

std::string MessageBoxRecord::line() const {
  return "message box (" + owner + ") \"" + caption + "\": \"" + text + "\" type " +
         std::to_string(type);
}

Activation activate(const Session& session, HostEmulation& host, ImageHandle active_image,
                    const std::vector<Step>& steps, const StepObserver& observer) {
  Activation activation;
  HWND dialog_window = nullptr;
  headless::reset();
  headless::set_user([&](HWND dialog) {
    dialog_window = dialog;
    if (observer) observer(dialog, 0, true);
    for (size_t i = 0; i < steps.size(); ++i) {
      const bool taken = headless::is_open(dialog) && take_step(dialog, host, steps[i]);
      if (!taken) activation.refused_steps.push_back(format_step(steps[i]));
      if (observer) observer(dialog, i + 1, taken);
    }
  });
  activation.result = pi_activate(active_image, session.main_window);
  for (const headless::ShownMessageBox& box : headless::message_boxes()) {
    MessageBoxRecord record;
    record.owner = box.owner == dialog_window         ? "dialog"
                   : box.owner == session.main_window ? "host"
                                                      : "other";
    record.text = box.text;
    record.caption = box.caption;
    record.type = box.type;
    activation.message_boxes.push_back(record);
  }
  headless::reset();
  return activation;
}

}  // namespace testhost
