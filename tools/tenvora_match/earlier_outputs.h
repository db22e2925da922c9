// Lights an earlier run finished: a rerun with --skip-existing leaves them
// and reads their summaries back from their outputs' headers.
#pragma once

#include <optional>

#include "tools/tenvora_match/match_files.h"

// The light's summary when every output the settings ask for (previews
// included) is there and each header says it was made by this tool for this
// light from the same dark, bias, bias factor and method; nothing otherwise
// (a file that cannot be read counts as missing).
std::optional<LightSummary> earlier_outputs(const RunSettings& settings, const LightJob& job);
