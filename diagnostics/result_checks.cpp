// Checks of the match's results: its ratios and the corrected light.
#include <cmath>

#include "diagnostics/checks.h"

namespace {

std::string describe(double value) {
  if (std::isnan(value)) return "not a number";
  if (std::isinf(value)) return value > 0 ? "infinite" : "minus infinity";
  return sentence("%g", value);
}

}  // namespace

void check_ratios(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  const struct {
    const char *component, *name;
    double ratio, light_level, dark_level;
  } ratios[] = {{"glow", "glow_ratio", input.glow_ratio, input.glow_light, input.glow_dark},
                {"hot-pixel", "hot_ratio", input.hot_ratio, input.hot_light, input.hot_dark}};
  for (const auto& r : ratios) {
    if (r.ratio >= 0 && r.ratio <= diagnostic_limits::ratio_maximum) continue;  // NaN fails both
    warnings.push_back(
        {"ratio-out-of-range",
         sentence("The %s ratio is %s, outside 0 to %g, so the dark's %s component was scaled "
                  "by a factor that cannot be trusted.",
                  r.component, describe(r.ratio).c_str(), diagnostic_limits::ratio_maximum,
                  r.component),
         {{r.name, r.ratio},
          {"light_level", r.light_level},
          {"dark_level", r.dark_level},
          {"limit", diagnostic_limits::ratio_maximum}}});
  }
}

void check_negative_pixels(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  if (!input.corrected && !input.matched) return;
  const size_t n = static_cast<size_t>(input.width) * static_cast<size_t>(input.height);
  size_t negative = 0;
  for (size_t i = 0; i < n; ++i) {
    // The corrected pixel as the difference of the two planes gives it.
    const float value = input.corrected ? input.corrected[i] : input.light[i] - input.matched[i];
    negative += value < 0.0f;
  }
  const double fraction = static_cast<double>(negative) / static_cast<double>(n);
  if (!(fraction > diagnostic_limits::negative_fraction)) return;
  warnings.push_back(
      {"many-negative-pixels",
       sentence("%.1f %% of the corrected light is below 0, so the matched dark is too strong "
                "for this light.",
                100.0 * fraction),
       {{"negative_pixels", static_cast<double>(negative)},
        {"fraction", fraction},
        {"limit", diagnostic_limits::negative_fraction}}});
}
