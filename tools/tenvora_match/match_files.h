// Matching FITS files: read, run the pipeline, write the outputs.
#pragma once

#include <string>
#include <vector>

#include "fits/fits_io.h"
#include "fits/staged_files.h"
#include "tools/tenvora_match/match_frames.h"
#include "tools/tenvora_match/summary.h"

// What a run does with every light.
struct RunSettings {
  std::string dark, bias;  // bias empty: no bias
  int32_t bias_factor = 1;
  bool subtract = false, preview = false, overwrite = false;
  bool skip_existing = false;  // see earlier_outputs.h
  bool compress = false;       // tile-compressed outputs, named .fits.fz
  std::string out_dir;
  long long max_pixels = kDefaultMaxPixels;
  // The outputs written, of "glow", "hot", "matched" and "corrected".
  std::vector<std::string> kinds = {"glow", "hot", "matched"};
  MatchMethod method = MatchMethod::fit;
};

// One light and the start of its output names ("" gives glow.fits and so
// on; "m42_" gives m42_glow.fits).
struct LightJob {
  std::string path, prefix;
};

struct LightOutcome {
  LightSummary summary;
  Frame light;
  std::vector<OutputImage> images;  // the images made, in the plug-in's order
};

// The one-light run: the light is read first, and the dark and bias must
// have its size. Throws ToolError for bad input; writes nothing then.
LightOutcome match_files(const RunSettings& settings, const LightJob& job,
                         const std::vector<FileId>& inputs);

// A dark as read, with the exposure time its header gives (NaN: none).
struct DarkInput {
  Frame dark;
  double exposure = NAN;
};

// The dark of a batch, read before anything else: its size is the run's.
// check refuses a dark of the wrong size from its header.
DarkInput read_dark(const RunSettings& settings, const SizeCheck& check = {});

// The rest of the batch's dark set: the bias read (it must have the dark's
// size) and the dark split.
DarkSet finish_dark_set(const RunSettings& settings, DarkInput dark);

// A light of a batch as read, with its header cards.
struct LightInput {
  Frame light;
  std::vector<std::string> cards;
};

// Reads a light of a batch; it must have the dark's size. Throws ToolError
// for a light that cannot be read.
LightInput read_light_file(const RunSettings& settings, const LightJob& job, FrameGeometry frame);

// The light matched against the dark set and written (all its outputs or
// none). Throws ToolError for a light that cannot be matched or written;
// InternalError for a fault of the tool.
LightSummary match_light_file(const RunSettings& settings, const DarkSet& set, const LightJob& job,
                              LightInput input, const std::vector<FileId>& inputs);

// The file names a light's outputs take in the output directory.
// ".fits", or ".fits.fz" for tile-compressed outputs.
const char* fits_extension(const RunSettings& settings);

std::vector<std::string> output_names(const RunSettings& settings, const std::string& prefix);

// The kind of output ("glow", "hot", "matched", "corrected") of an image title.
std::string output_kind(const std::string& title);

// The image title of a kind of output, with or without a bias.
std::string output_title(const std::string& kind, bool bias);
