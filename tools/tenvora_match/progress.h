// Progress of a batch run, on standard error: on a terminal one bar with the
// count, the rate and the time left; otherwise one line per light with its
// two scales. A failed light's error line, and with verbose its warnings,
// come as the light is done, either way.
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

#include "tools/tenvora_match/summary.h"

struct Progress {
  std::ostream& err;
  bool terminal;
  size_t total;
  bool verbose;        // each light's warnings as it is done
  std::string folder;  // the lights' common folder, left out of their names
  size_t done = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

void progress_start(Progress& p);
void progress_matched(Progress& p, const LightSummary& light);
void progress_failed(Progress& p, const std::string& error_line);
// Ends the bar's line.
void progress_end(Progress& p);
