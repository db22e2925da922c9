// Running the tool in-process, and a small valid set of input files.
#pragma once

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/temp_dir.h"
#include "tools/tenvora_match/demo_set.h"
#include "fits/fits_io.h"
#include "tools/tenvora_match/tool_main.h"

struct CliRun {
  int status;
  std::string out, err;
};

inline CliRun run_cli(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = tool_main(args, out, err);
  return {status, out.str(), err.str()};
}

// A small synthetic light, dark and bias (48 x 40, big enough for every
// measurement window) as BITPIX -32 files in dir, and an empty dir/out.
inline DemoSet write_small_set(const TempDir& dir) {
  DemoParams p;
  p.width = 48;
  p.height = 40;
  p.glow_length = 12.0f;
  p.hot_count = 12;
  p.star_count = 4;
  p.clean_size = 10;
  const DemoSet set = make_demo_set(p);
  write_fits(dir / "light.fits", set.light, {});
  write_fits(dir / "dark.fits", set.dark, {});
  write_fits(dir / "bias.fits", set.bias, {});
  mkdir((dir / "out").c_str(), 0777);
  return set;
}
