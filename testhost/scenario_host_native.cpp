// The native counterpart of the Windows test host: runs a scenario file
// through the headless window layer and the in-process host emulation and
// writes the same files (session_record.h), for comparison with the DLL's.
#include <cstdio>

#include "testhost/driver.h"
#include "testhost/scenario_file.h"
#include "testhost/session_record.h"
#include "winlayer/headless_user.h"

namespace {

using testhost::ControlState;

std::vector<ControlState> control_states(HWND dialog) {
  std::vector<ControlState> all;
  for (const headless::Control& c : headless::controls(dialog))
    all.push_back({c.id, c.enabled, c.class_name == "Button" ? c.check : 0u, c.text});
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  testhost::HostOptions options;
  testhost::ScenarioFile scenario;
  std::string title;
  if (!testhost::read_host_run(argc, argv,
                               "scenario_host_native [--title TITLE] [--no-images] SCENARIO OUTDIR",
                               options, scenario, title))
    return 2;
  testhost::HostEmulation host(title == "ZVL Orvantis Light");
  host.keep_shown(false);
  testhost::open_images(scenario, host);

  testhost::SessionRecord record;
  testhost::Session session = testhost::start_session(title);
  record.initialized(session.initialize_result, session.name, session.description);

  size_t boxes_seen = 0;
  size_t commands_before = 0;  // host commands before the current step
  auto observe = [&](HWND dialog, size_t step, bool taken) {
    const std::string heading = testhost::step_heading(step, scenario.steps);
    if (step > 0 && scenario.steps[step - 1].kind == testhost::StepKind::go)
      record.go_time(host.log(), commands_before);
    commands_before = host.log().size();
    const std::vector<headless::ShownMessageBox>& boxes = headless::message_boxes();
    for (; boxes_seen < boxes.size(); ++boxes_seen) {
      const headless::ShownMessageBox& box = boxes[boxes_seen];
      const char* owner = box.owner == dialog                ? "dialog"
                          : box.owner == session.main_window ? "host"
                                                             : "other";
      record.message_box(heading, owner, box.caption, box.text);
    }
    if (!taken) record.refused(heading);
    if (headless::is_open(dialog))
      record.controls(heading, control_states(dialog));
    else
      record.dialog_closed(heading);
  };
  const testhost::Activation done =
      testhost::activate(session, host, scenario.active, scenario.steps, observe);
  record.activated(done.result);
  testhost::end_session(session);

  if (!record.write(options.out_dir, host, options.pixels)) {
    std::fprintf(stderr, "cannot write into %s\n", options.out_dir.c_str());
    return 1;
  }
  return 0;
}
