// Checks of the hot-pixel measurement: saturated and missing hot pixels.
#include <algorithm>
#include <cmath>
#include <limits>

#include "diagnostics/checks.h"

void check_saturated_hot_pixels(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  const size_t n = static_cast<size_t>(input.width) * static_cast<size_t>(input.height);
  const double dark_level = input.dark_saturation
                                ? *input.dark_saturation
                                : saturation_level(input.dark, n, input.dark_maximum);
  const double light_level = saturation_level(input.light, n, input.light_maximum);
  for (int k = 0; k < 9; ++k) {
    // Positions are read clamped into the frame, as the measurement reads them.
    const int32_t x = std::clamp(input.hot_x[k], 0, input.width - 1);
    const int32_t y = std::clamp(input.hot_y[k], 0, input.height - 1);
    const double dark = input.dark[pixel_index(input, x, y)];
    const double light = input.light[pixel_index(input, x, y)];
    const bool in_dark = dark >= dark_level, in_light = light >= light_level;
    if (!in_dark && !in_light) continue;
    warnings.push_back(
        {"saturated-hot-pixel",
         sentence("The hot pixel of grid cell %d at (%d, %d) is saturated in the %s, so the "
                  "hot-pixel level is only a bound and hot pixels may be over- or "
                  "under-corrected.",
                  k, x, y,
                  in_dark && in_light ? "dark and the light"
                  : in_dark           ? "dark"
                                      : "light"),
         {{"cell", k},
          {"x", x},
          {"y", y},
          {"dark_value", dark},
          {"dark_saturation", dark_level},
          {"light_value", light},
          {"light_saturation", light_level}}});
  }
}

void check_empty_hot_cells(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  for (int k = 0; k < 9; ++k) {
    if (input.hot_found[k]) continue;
    warnings.push_back(
        {"empty-hot-cell",
         sentence("Grid cell %d has no pixel above 0 in the dark's hot-pixel component, so its "
                  "entry of the hot-pixel level read the pixel at (%d, %d) instead of a hot pixel.",
                  k, input.hot_x[k], input.hot_y[k]),
         {{"cell", k}, {"x", input.hot_x[k]}, {"y", input.hot_y[k]}}});
  }
}
