// tenvora-master's command line.
#pragma once

#include <string>
#include <vector>

#include "combining/combine_rule.h"
#include "fits/fits_io.h"

struct MasterOptions {
  std::string out;
  std::string kind;  // "bias", "dark", or "" to take it from the frames
  std::string bias;
  CombineRule rule;
  int jobs = 0;            // 0: one per core
  int32_t strip_rows = 0;  // 0: about 8 MiB of strips per job
  long long max_pixels = kDefaultMaxPixels;
  bool json = false, overwrite = false, refuse_mismatch = false;
  bool help = false, version = false;
  std::vector<std::string> frames;
};

// Throws ToolError naming the option for anything it cannot take.
MasterOptions parse_master_options(const std::vector<std::string>& args);
std::string master_help_text();
