// The command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fits/fits_io.h"

struct Options {
  std::string light, dark, bias, out_dir, demo_dir;
  std::string report, plot;  // --report FILE.csv|FILE.json, --plot FILE.png; empty: none
  // LIGHT arguments: files, directories and @lists, as given.
  std::vector<std::string> lights;
  // --outputs: of "glow", "hot", "matched", "corrected"; empty when not given.
  std::vector<std::string> outputs;
  // --out-name: the start of the one light's output names instead of its own
  // name; "" gives glow.fits and so on.
  std::optional<std::string> out_name;
  int32_t bias_factor = 1;
  long long max_pixels = kDefaultMaxPixels;  // pixels of one input frame at most
  int jobs = 0;                // lights matched at once; 0: as many as cores and memory allow
  std::string method = "fit";  // --method: "fit" or "plugin"
  bool subtract = false, json = false, preview = false, overwrite = false;
  bool skip_existing = false;  // lights whose outputs an earlier run wrote alike are left
  bool strict = false;         // exit status 3 when a light warned
  bool compress = false;       // outputs tile-compressed, named .fits.fz
  bool help = false, version = false;
  // -v: each light's warnings on standard error as it is done, and what the
  // dark did under each set of scales
  bool verbose = false;
};

// Throws ToolError naming the offending option.
Options parse_options(const std::vector<std::string>& args);

std::string help_text();
