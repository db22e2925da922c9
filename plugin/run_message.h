// What the user is told when Go's run stops.
#pragma once

#include <cstddef>

#include "matching/matched_dark.h"

// Writes the warning for a run that stopped into text (size bytes) and
// returns true; returns false, writing nothing, for a run that was done.
bool run_message(const RunOutcome& outcome, char* text, size_t size);
