// Checks of the match's results: its ratios and the corrected light.
#include <array>
#include <cmath>

#include "diagnostics/checks.h"

namespace {

std::string describe(double value) {
  if (std::isnan(value)) return "not a number";
  if (std::isinf(value)) return value > 0 ? "infinite" : "minus infinity";
  return sentence("%g", value);
}

// The two scales of a match, as the checks of the scales read them.
struct Scale {
  const char *component, *name;
  double ratio, light_level, dark_level;
};

std::array<Scale, 2> scales(const DiagnosticInput& input) {
  return {{{"glow", "glow_ratio", input.glow_ratio, input.glow_light, input.glow_dark},
           {"hot-pixel", "hot_ratio", input.hot_ratio, input.hot_light, input.hot_dark}}};
}

}  // namespace

void check_ratios(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  for (const Scale& r : scales(input)) {
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

// Scales that are not finite are the business of check_ratios.
void check_exposure_ratio(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  const double exposure = input.exposure_ratio, limit = diagnostic_limits::exposure_factor;
  if (!(exposure > 0)) return;
  for (const Scale& r : scales(input)) {
    const double factor = r.ratio / exposure;
    if (!std::isfinite(factor) || (factor <= limit && factor >= 1 / limit)) continue;
    warnings.push_back(
        {"scale-off-exposure",
         sentence("The %s scale is %s, %.2g times the exposure ratio %g of the light and the "
                  "dark, so the dark may not suit this light (another temperature or a pedestal "
                  "left in it).",
                  r.component, describe(r.ratio).c_str(), factor, exposure),
         {{r.name, r.ratio}, {"exposure_ratio", exposure}, {"factor", factor}, {"limit", limit}}});
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
