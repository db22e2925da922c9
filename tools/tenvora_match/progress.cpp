#include "tools/tenvora_match/progress.h"

#include <cstdio>

namespace {

constexpr int kBarWidth = 30;

std::string clock_text(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

void draw_bar(Progress& p) {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - p.start).count();
  const int filled = static_cast<int>(kBarWidth * p.done / (p.total ? p.total : 1));
  std::string line = "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') +
                     "] " + std::to_string(p.done) + "/" + std::to_string(p.total);
  if (p.done > 0 && elapsed > 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "  %.2f lights/s", p.done / elapsed);
    line += rate + ("  " + clock_text(elapsed / p.done * (p.total - p.done)) + " left");
  }
  // Clears what a longer line left behind.
  p.err << line << "\x1b[K" << std::flush;
}

}  // namespace

void progress_start(Progress& p) {
  if (p.terminal) draw_bar(p);
}

void progress_matched(Progress& p, const LightSummary& light) {
  ++p.done;
  if (p.terminal) {
    // The warnings go above the bar, which is drawn anew below them.
    if (p.verbose && !light.warnings.empty()) {
      p.err << "\r\x1b[K";
      print_warnings(p.err, light);
    }
    draw_bar(p);
    return;
  }
  p.err << "[" << p.done << "/" << p.total << "] " << relative_name(light.light.path, p.folder)
        << "  glow " << number_text(light.glow_scale, true) << "  hot "
        << number_text(light.hot_scale, true) << "\n";
  if (p.verbose) print_warnings(p.err, light);
}

void progress_failed(Progress& p, const std::string& error_line) {
  ++p.done;
  if (p.terminal) p.err << "\r\x1b[K";
  p.err << "tenvora-match: " << error_line << "\n";
  if (p.terminal) draw_bar(p);
}

void progress_end(Progress& p) {
  if (p.terminal) p.err << "\n";
  p.err << std::flush;
}
