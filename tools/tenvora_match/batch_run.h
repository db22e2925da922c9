// A run over many lights against one dark (and bias).
#pragma once

#include <ostream>

#include "tools/tenvora_match/match_files.h"
#include "tools/tenvora_match/options.h"

// Refuses (ToolError) before any work a bad dark or bias and outputs that
// exist or would replace an input; then matches light after light (the jobs
// of light_jobs()), reporting progress on err. A light that fails is
// reported and skipped: the summary lists it.
Summary run_batch(const Options& options, const RunSettings& settings,
                  const std::vector<LightJob>& jobs, std::ostream& err, bool err_is_terminal);
