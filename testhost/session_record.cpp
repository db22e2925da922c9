#include "testhost/session_record.h"

#include <chrono>
#include <cstdio>
#include <fstream>

namespace testhost {
namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\n')
      out += "\\n";
    else if (c == '"' || c == '\\')
      out += std::string("\\") + c;
    else
      out += c;
  }
  return out + "\"";
}

bool write_file(const std::string& path, const char* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(data, std::streamsize(size));
  return bool(out);
}

bool write_text(const std::string& path, const std::string& text) {
  return write_file(path, text.data(), text.size());
}

}  // namespace

std::string step_heading(size_t step, const std::vector<Step>& steps) {
  return std::to_string(step) + " " +
         (step == 0 || step > steps.size() ? std::string("open") : format_step(steps[step - 1]));
}

void SessionRecord::controls(const std::string& heading, const std::vector<ControlState>& all) {
  for (const ControlState& c : all) {
    controls_ += heading + " | " + std::to_string(c.id) + " " +
                 (c.enabled ? "enabled" : "disabled") + " " + std::to_string(c.check) + " " +
                 quoted(c.text) + "\n";
  }
}

void SessionRecord::dialog_closed(const std::string& heading) {
  controls_ += heading + " | dialog closed\n";
}

void SessionRecord::refused(const std::string& heading) {
  events_ += heading + " | refused\n";
}

void SessionRecord::message_box(const std::string& heading, const std::string& owner,
                                const std::string& caption, const std::string& text) {
  events_ +=
      heading + " | message box (" + owner + ") " + quoted(caption) + ": " + quoted(text) + "\n";
}

void SessionRecord::initialized(int32_t result, const std::string& name,
                                const std::string& description) {
  result_ += "pi_initialize " + std::to_string(result) + " " + quoted(name) + " " +
             quoted(description) + "\n";
}

void SessionRecord::go_time(const std::vector<HostCall>& log, size_t before) {
  if (log.size() <= before) return;
  using Seconds = std::chrono::duration<double>;
  go_seconds_ = Seconds(log.back().when - log[before].when).count();
  // The plug-in's own share: the span less the time the host spent in its
  // commands (making images, showing them).
  plugin_seconds_ = go_seconds_;
  for (size_t i = before; i + 1 < log.size(); ++i)
    plugin_seconds_ -= Seconds(log[i].done - log[i].when).count();
}

void SessionRecord::activated(intptr_t result) {
  result_ += "pi_activate " + std::to_string(static_cast<long long>(result)) + "\n";
}

bool SessionRecord::write(const std::string& dir, const HostEmulation& host,
                          bool with_pixels) const {
  bool ok = write_text(dir + "/result.txt", result_) &&
            write_text(dir + "/controls.txt", controls_) &&
            write_text(dir + "/events.txt", events_) &&
            write_text(dir + "/host_log.txt", host.log_text());
  std::string images;
  for (const HostImage& image : host.images()) {
    const std::string handle = std::to_string(static_cast<long long>(image.handle));
    images += handle + " " + std::to_string(image.width) + " x " + std::to_string(image.height) +
              " " + quoted(image.title) + " updates " + std::to_string(image.updates) + "\n";
    if (with_pixels) {
      ok = write_file(dir + "/image_" + handle + ".f32",
                      reinterpret_cast<const char*>(image.pixels.data()),
                      image.pixels.size() * sizeof(float)) &&
           ok;
    }
  }
  char go[64] = "no go\n";
  if (go_seconds_ >= 0.0)
    std::snprintf(go, sizeof go, "go %.6f s plug-in %.6f s\n", go_seconds_, plugin_seconds_);
  return write_text(dir + "/images.txt", images) && write_text(dir + "/go_time.txt", go) && ok;
}

}  // namespace testhost
