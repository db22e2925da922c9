// Matching FITS files: read, run the pipeline, write the outputs.
#pragma once

#include <string>
#include <vector>

#include "tools/tenvora_match/fits_io.h"
#include "tools/tenvora_match/match_frames.h"
#include "tools/tenvora_match/summary.h"

struct MatchJob {
  std::string light, dark, bias;  // bias empty: no bias
  int32_t bias_factor = 1;
  bool subtract = false, preview = false, overwrite = false;
  std::string out_dir;
  long long max_pixels = kDefaultMaxPixels;
};

struct MatchOutcome {
  Summary summary;
  Frame light;
  std::vector<OutputImage> images;  // in the order the plug-in makes them
};

// Throws ToolError for bad input; writes nothing then.
MatchOutcome match_files(const MatchJob& job);

// The file names a job writes in its output directory.
std::vector<std::string> output_names(bool subtract, bool preview);

// The output file name for an image title.
std::string output_name(const std::string& title);
