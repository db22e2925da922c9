// Checks of the fitted scales: enough pixels, scales the frame determines,
// clipping that kept most of it, scales in a plausible range.
#include <cmath>

#include "diagnostics/checks.h"

void check_fit(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  namespace limits = diagnostic_limits;
  if (!input.fit_solved || input.fit_used < limits::fit_minimum_pixels) {
    warnings.push_back(
        {"fit-few-pixels",
         sentence("The fit had %lld pixels left (at least %lld wanted) once saturated, "
                  "non-finite and clipped pixels were left out, so its scales cannot be "
                  "trusted%s.",
                  static_cast<long long>(input.fit_used),
                  static_cast<long long>(limits::fit_minimum_pixels),
                  input.fit_solved ? "" : "; the plug-in's ratios were used instead"),
         {{"used", static_cast<double>(input.fit_used)},
          {"limit", static_cast<double>(limits::fit_minimum_pixels)}}});
    if (!input.fit_solved) return;
  }
  const struct {
    const char *component, *name;
    double scale, error;
  } scales[] = {{"glow", "glow_scale", input.glow_ratio, input.glow_error},
                {"hot-pixel", "hot_scale", input.hot_ratio, input.hot_error}};
  for (const auto& s : scales) {
    // A NaN error (a component that does not vary) counts as large.
    if (!(s.error <= limits::fit_relative_error * std::fabs(s.scale)))
      warnings.push_back(
          {"fit-uncertain-scale",
           std::isnan(s.error)
               ? sentence("The fitted %s scale could not be determined: the dark's %s component "
                          "does not vary over the pixels the fit used, so it was scaled by %g.",
                          s.component, s.component, s.scale)
               : sentence("The fitted %s scale, %g, has a standard error of %g, more than %g %% "
                          "of it, so the frame says little about that component.",
                          s.component, s.scale, s.error, 100 * limits::fit_relative_error),
           {{s.name, s.scale}, {"error", s.error}, {"limit", limits::fit_relative_error}}});
    if (!(s.scale >= 0 && s.scale <= limits::fit_scale_maximum))
      warnings.push_back(
          {"fit-scale-out-of-range",
           sentence("The fitted %s scale is %g, outside 0 to %g, so the dark's %s component "
                    "was scaled by a factor that cannot be trusted.",
                    s.component, s.scale, limits::fit_scale_maximum, s.component),
           {{s.name, s.scale}, {"limit", limits::fit_scale_maximum}}});
  }
  const double clipped = input.fit_usable > 0 ? static_cast<double>(input.fit_clipped) /
                                                    static_cast<double>(input.fit_usable)
                                              : 0.0;
  if (clipped > limits::fit_clipped_fraction)
    warnings.push_back(
        {"fit-heavy-clipping",
         sentence("The fit's clipping left out %.1f %% of the pixels it could use, more than "
                  "%g %%: the light holds much that is neither sky nor dark (nebula, clouds, "
                  "a gradient the sky's plane cannot follow).",
                  100 * clipped, 100 * limits::fit_clipped_fraction),
         {{"clipped", static_cast<double>(input.fit_clipped)},
          {"fraction", clipped},
          {"limit", limits::fit_clipped_fraction}}});
}
