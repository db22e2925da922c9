#include "testhost/host_emulation.h"

#include <algorithm>
#include <string>

namespace testhost {
namespace {

HostEmulation* current = nullptr;

HostWord WINAPI dispatch_to_current(HostWord code, HostWord p1, HostWord p2, HostWord p3) {
  return current ? current->command(code, p1, p2, p3) : 0;
}

const char* command_name(HostWord command) {
  switch (command) {
    case HC_GET_PIXELS:
      return "HC_GET_PIXELS";
    case HC_GET_SIZE:
      return "HC_GET_SIZE";
    case HC_UPDATE:
      return "HC_UPDATE";
    case HC_NEW_IMAGE:
      return "HC_NEW_IMAGE";
    case HC_SELECT_IMAGE:
      return "HC_SELECT_IMAGE";
    case HC_SET_TITLE:
      return "HC_SET_TITLE";
    case HC_GET_TITLE:
      return "HC_GET_TITLE";
  }
  return nullptr;
}

std::string number(HostWord value) {
  return std::to_string(static_cast<long long>(value));
}

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace

HostEmulation::HostEmulation(bool light_edition)
    : light_edition_(light_edition), previous_(current) {
  current = this;
}

HostEmulation::~HostEmulation() {
  if (current == this) current = previous_;
}

HostCallback HostEmulation::callback() {
  return &dispatch_to_current;
}

ImageHandle HostEmulation::add_image(const std::string& title, int32_t width, int32_t height,
                                     const std::vector<float>& pixels) {
  HostImage image;
  image.handle = static_cast<ImageHandle>(images_.size() + 1);
  image.title = title;
  image.width = width;
  image.height = height;
  size_t count = width > 0 && height > 0 ? size_t(width) * size_t(height) : 0;
  image.pixels = pixels.size() == count ? pixels : std::vector<float>(count, 0.0f);
  images_.push_back(std::move(image));
  return images_.back().handle;
}

HostImage* HostEmulation::find(ImageHandle handle) {
  for (HostImage& image : images_)
    if (image.handle == handle) return &image;
  return nullptr;
}

void HostEmulation::fail_get_pixels(int nth, HostWord result, bool supply_plane) {
  pixels_failures_.push_back({nth, result, supply_plane});
}

std::string HostEmulation::log_text() const {
  std::string text;
  for (const HostCall& call : log_) text += call.line + "\n";
  return text;
}

std::string HostEmulation::describe(ImageHandle handle) {
  HostImage* image = find(handle);
  std::string text = "image " + number(handle);
  if (!image) return text + " (unknown)";
  return image->title.empty() ? text : text + " " + quoted(image->title);
}

HostWord HostEmulation::command(HostWord code, HostWord p1, HostWord p2, HostWord p3) {
  HostCall call;
  call.code = code;
  call.p1 = p1;
  call.p2 = p2;
  call.p3 = p3;
  call.when = std::chrono::steady_clock::now();
  // A Light-edition host numbers its commands from the offset on; a code
  // of the other edition is a command it does not know.
  HostWord command = light_edition_ ? code - LIGHT_COMMAND_OFFSET : code;
  const char* name = command_name(command);
  if (!name) {
    call.line = "unknown command " + number(code) + " " + number(p1) + " " + number(p2) + " " +
                number(p3) + " -> 0";
  } else {
    call.line = std::string(name) + (light_edition_ ? "+32 " : " ");
    call.result = dispatch(command, call);
  }
  call.done = std::chrono::steady_clock::now();
  log_.push_back(call);
  if (call_back_) call_back_(call);
  return call.result;
}

// Carries out a known command and completes its log line.
HostWord HostEmulation::dispatch(HostWord command, HostCall& call) {
  std::string& line = call.line;
  switch (command) {
    case HC_GET_PIXELS: {
      line += describe(call.p1);
      ++get_pixels_calls_;
      HostImage* image = find(call.p1);
      HostWord result = image ? 1 : 0;
      bool supply = image != nullptr;
      for (const PixelsFailure& failure : pixels_failures_) {
        if (failure.nth == get_pixels_calls_) {
          result = failure.result;
          supply = supply && failure.supply_plane;
        }
      }
      if (supply) *reinterpret_cast<float**>(call.p2) = image->pixels.data();
      line += " -> " + number(result) + (supply ? ", plane" : ", no plane");
      return result;
    }
    case HC_GET_SIZE: {
      line += describe(call.p1);
      HostImage* image = find(call.p1);
      if (!image) {
        line += " -> 0";
        return 0;
      }
      *reinterpret_cast<int32_t*>(call.p2) = image->width;
      *reinterpret_cast<int32_t*>(call.p3) = image->height;
      line += " -> 1 (" + number(image->width) + " x " + number(image->height) + ")";
      return 1;
    }
    case HC_UPDATE: {
      line += describe(call.p1) + " " + number(call.p2) + " " + number(call.p3);
      HostImage* image = find(call.p1);
      if (image) {
        ++image->updates;
        if (keep_shown_) image->shown.push_back(image->pixels);
      }
      line += image ? " -> 1" : " -> 0";
      return image ? 1 : 0;
    }
    case HC_NEW_IMAGE: {
      line += number(call.p1) + " x " + number(call.p2) + " " + number(call.p3);
      ++new_image_calls_;
      bool refused =
          call.p1 <= 0 || call.p2 <= 0 ||
          std::count(new_image_failures_.begin(), new_image_failures_.end(), new_image_calls_) > 0;
      HostWord handle =
          refused ? 0 : add_image("", static_cast<int32_t>(call.p1), static_cast<int32_t>(call.p2));
      line += " -> " + (handle ? describe(handle) : std::string("0"));
      return handle;
    }
    case HC_SELECT_IMAGE: {
      line += number(call.p1) + " " + number(call.p2) + " " + number(call.p3);
      HostWord handle = 0;
      if (!picks_.empty()) {
        handle = picks_.front();
        picks_.pop_front();
      }
      line += " -> " + (handle ? describe(handle) : std::string("0"));
      return handle;
    }
    case HC_SET_TITLE: {
      line += describe(call.p1);
      HostImage* image = find(call.p1);
      call.text = call.p2 ? reinterpret_cast<const char*>(call.p2) : "";
      if (image) image->title = call.text;
      line += " <- " + quoted(call.text) + " " + number(call.p3) + (image ? " -> 1" : " -> 0");
      return image ? 1 : 0;
    }
    case HC_GET_TITLE: {
      line += describe(call.p1);
      HostImage* image = find(call.p1);
      if (!image) {
        line += " -> 0";
        return 0;
      }
      call.text = image->title;
      line += " -> " + quoted(call.text);
      // The host's own string: it lives as long as the image keeps its title.
      return reinterpret_cast<HostWord>(image->title.c_str());
    }
  }
  return 0;
}

}  // namespace testhost
