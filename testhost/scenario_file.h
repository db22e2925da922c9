// A whole end-to-end run as a text file: the host's main window title, the
// images open in the host, the active image, and the user's steps. Both the
// Windows test host and its native counterpart read it:
//
//   window ZVL Orvantis          the main window's title (the rest of the line)
//   image "Light" 64 48 light 1 2   opens an image: title, width, height, and
//                                either a synthetic frame (test_frames.h) or
//   image "Flat" 8 8 file x.f32  raw 32-bit floats, relative to this file
//   active 1                     the image the plug-in is invoked on
//   choose light 1 ...           the steps (scenario.h)
//
// Images get the handles 1, 2, ... in the order of their lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testhost/host_emulation.h"
#include "testhost/scenario.h"

namespace testhost {

struct ImageSpec {
  std::string title;
  int32_t width = 0, height = 0;
  std::vector<float> pixels;
};

struct ScenarioFile {
  std::string window_title;
  std::vector<ImageSpec> images;
  ImageHandle active = 0;
  std::vector<Step> steps;
};

// Reads and parses the file at `path`, making or loading every image. On a
// fault returns false with `error` naming the line.
bool load_scenario_file(const std::string& path, ScenarioFile& scenario, std::string& error);

// Opens the scenario's images in the host, in order, handing their pixels
// over (the scenario keeps only titles and sizes, so that large frames are
// not held twice).
void open_images(ScenarioFile& scenario, HostEmulation& host);

}  // namespace testhost

namespace testhost {

// The command line shared by both hosts:
//   HOST [--title TITLE] [--no-images] [--pause-after N] SCENARIO OUTDIR
// --title replaces the scenario's main window title; --no-images leaves the
// pixels unwritten (for timing runs on large frames); --pause-after (Windows
// host only) holds the dialog after step N until OUTDIR/resume exists,
// having written the dialog's screen rectangle to OUTDIR/paused.
struct HostOptions {
  std::string scenario, out_dir;
  bool title_given = false;
  std::string title;
  bool pixels = true;
  size_t pause_after = 0;
};
bool parse_host_options(int argc, char** argv, HostOptions& options);

// Reads a host program's command line and its scenario, and the main
// window's title to use. On a fault prints the usage or the error to stderr
// and returns false.
bool read_host_run(int argc, char** argv, const char* usage, HostOptions& options,
                   ScenarioFile& scenario, std::string& title);

}  // namespace testhost
