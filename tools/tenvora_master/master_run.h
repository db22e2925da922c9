// One run of tenvora-master: the frames read strip by strip, combined, and
// the master written whole or not at all.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/tenvora_master/master_frames.h"
#include "tools/tenvora_master/master_options.h"

struct MasterResult {
  std::string out, kind, bias;
  CombineRule rule;
  int jobs = 1;
  int32_t width = 0, height = 0;
  std::vector<std::string> frames;
  std::vector<FrameStats> stats;  // per frame
  double clipped_share = 0.0;
  std::vector<MasterWarning> warnings;
};

// Throws ToolError for bad input, having written nothing. Progress goes to
// err when it is a terminal.
MasterResult make_master(const MasterOptions& options, std::ostream& err, bool err_is_terminal);

// The median and noise (kMadToSigma x the median absolute deviation) of the
// finite values; NaN for none.
FrameStats sample_stats(std::vector<float> values);
