// An in-process emulation of the image-processing host: in-memory images, the
// host commands the plug-in sends, a log of every command in order, and
// failures on demand. Tests and tools hand host_callback() to pi_initialize
// (or put it into plugin_state directly) and read the results back here.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "plugin/host_commands.h"

namespace testhost {

struct HostImage {
  ImageHandle handle = 0;
  std::string title;
  int32_t width = 0;
  int32_t height = 0;
  // Exactly width x height values, so that an overrun is an overrun of the
  // allocation itself (AddressSanitizer reports it).
  std::vector<float> pixels;
  // The pixels as the host took them up at each HC_UPDATE, oldest first
  // (while the host keeps them, see keep_shown), and the number of updates.
  std::vector<std::vector<float>> shown;
  int updates = 0;
};

// One command as the host received it.
struct HostCall {
  HostWord code = 0;  // as received, edition offset included
  HostWord p1 = 0, p2 = 0, p3 = 0;
  HostWord result = 0;
  std::string text;                            // the title set or returned, for the title commands
  std::string line;                            // readable form, free of pointer values
  std::chrono::steady_clock::time_point when;  // when the command arrived
  std::chrono::steady_clock::time_point done;  // when it returned to the plug-in
};

class HostEmulation {
 public:
  // The newest emulation is the one that host_callback() reaches.
  explicit HostEmulation(bool light_edition = false);
  ~HostEmulation();
  HostEmulation(const HostEmulation&) = delete;
  HostEmulation& operator=(const HostEmulation&) = delete;

  // Opens an image; pixels, when given, must hold width x height values
  // (otherwise the image starts at zero).
  ImageHandle add_image(const std::string& title, int32_t width, int32_t height,
                        const std::vector<float>& pixels = {});
  HostImage* find(ImageHandle handle);
  const std::deque<HostImage>& images() const { return images_; }

  // The images the user picks at the next HC_SELECT_IMAGE requests, in
  // order; a handle that names no image stands for a failed pick. With the
  // queue empty the host answers 0.
  void queue_pick(ImageHandle handle) { picks_.push_back(handle); }

  // Failures: the n-th HC_NEW_IMAGE (counting from 1) answers 0; the n-th
  // HC_GET_PIXELS answers `result` and supplies the plane or not.
  void fail_new_image(int nth) { new_image_failures_.push_back(nth); }
  void fail_get_pixels(int nth, HostWord result, bool supply_plane);

  // Runs `hook` inside every command once the host has carried it out and
  // logged it, before it answers: a host that pumps messages there calls
  // back into the plug-in.
  void call_back(std::function<void(const HostCall&)> hook) { call_back_ = std::move(hook); }

  // Whether HC_UPDATE keeps a copy of the pixels (on by default); hosts of
  // large frames turn it off.
  void keep_shown(bool keep) { keep_shown_ = keep; }

  const std::vector<HostCall>& log() const { return log_; }
  // The log, one line per command.
  std::string log_text() const;
  void clear_log() { log_.clear(); }

  // Carries out one command as the host would.
  HostWord command(HostWord code, HostWord p1, HostWord p2, HostWord p3);

  // The host's command function, as handed to the plug-in.
  static HostCallback callback();

 private:
  struct PixelsFailure {
    int nth;
    HostWord result;
    bool supply_plane;
  };

  std::string describe(ImageHandle handle);
  HostWord dispatch(HostWord command, HostCall& call);

  bool light_edition_;
  bool keep_shown_ = true;
  HostEmulation* previous_;
  std::deque<HostImage> images_;  // a deque keeps references stable
  std::deque<ImageHandle> picks_;
  std::vector<int> new_image_failures_;
  std::vector<PixelsFailure> pixels_failures_;
  int new_image_calls_ = 0;
  int get_pixels_calls_ = 0;
  std::vector<HostCall> log_;
  std::function<void(const HostCall&)> call_back_;
};

}  // namespace testhost
