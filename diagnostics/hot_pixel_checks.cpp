// Checks of the hot-pixel measurement: saturated and missing hot pixels.
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>

#include "diagnostics/checks.h"

namespace {

// Whether a pixel of the plane lies above value; stops at the first block
// holding one, and a light's stars or hot pixels are seldom far off.
bool any_above(const float* plane, size_t count, float value) {
  constexpr size_t kBlock = 4096;
  for (size_t start = 0; start < count; start += kBlock) {
    const size_t end = std::min(count, start + kBlock);
    int above = 0;  // an int, which the compiler keeps in vector lanes
    for (size_t i = start; i < end; ++i) above |= plane[i] > value;
    if (above) return true;
  }
  return false;
}

// Which of the values, pixels of the plane, lie at or above its
// saturation_level, mostly without working the level out: a value below
// the representable part of the level reaches it only as the plane's own
// maximum, which none of them is once a pixel lies above them all.
std::array<bool, 9> saturated(const float* plane, size_t count, double maximum,
                              const double (&values)[9]) {
  const double representable = representable_saturation(maximum);
  std::array<bool, 9> result{};
  float top = -std::numeric_limits<float>::infinity();
  bool undecided = false;
  for (int k = 0; k < 9; ++k) {
    result[k] = values[k] >= representable;
    if (result[k] || std::isnan(values[k])) continue;
    top = std::max(top, static_cast<float>(values[k]));
    undecided = true;
  }
  if (!undecided || any_above(plane, count, top)) return result;
  const double level = saturation_level(plane, count, maximum);
  for (int k = 0; k < 9; ++k) result[k] = values[k] >= level;
  return result;
}

}  // namespace

void check_saturated_hot_pixels(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  const size_t n = static_cast<size_t>(input.width) * static_cast<size_t>(input.height);
  int32_t x[9], y[9];
  double dark[9], light[9];
  for (int k = 0; k < 9; ++k) {
    // Positions are read clamped into the frame, as the measurement reads them.
    x[k] = std::clamp(input.hot_x[k], 0, input.width - 1);
    y[k] = std::clamp(input.hot_y[k], 0, input.height - 1);
    dark[k] = input.dark[pixel_index(input, x[k], y[k])];
    light[k] = input.light[pixel_index(input, x[k], y[k])];
  }
  std::array<bool, 9> in_dark{};
  if (input.dark_saturation)
    for (int k = 0; k < 9; ++k) in_dark[k] = dark[k] >= *input.dark_saturation;
  else
    in_dark = saturated(input.dark, n, input.dark_maximum, dark);
  const std::array<bool, 9> in_light = saturated(input.light, n, input.light_maximum, light);

  // The levels themselves only for the warning's numbers.
  std::optional<double> dark_level = input.dark_saturation, light_level;
  for (int k = 0; k < 9; ++k) {
    if (!in_dark[k] && !in_light[k]) continue;
    if (!dark_level) dark_level = saturation_level(input.dark, n, input.dark_maximum);
    if (!light_level) light_level = saturation_level(input.light, n, input.light_maximum);
    warnings.push_back(
        {"saturated-hot-pixel",
         sentence("The hot pixel of grid cell %d at (%d, %d) is saturated in the %s, so the "
                  "hot-pixel level is only a bound and hot pixels may be over- or "
                  "under-corrected.",
                  k, x[k], y[k],
                  in_dark[k] && in_light[k] ? "dark and the light"
                  : in_dark[k]              ? "dark"
                                            : "light"),
         {{"cell", k},
          {"x", x[k]},
          {"y", y[k]},
          {"dark_value", dark[k]},
          {"dark_saturation", *dark_level},
          {"light_value", light[k]},
          {"light_saturation", *light_level}}});
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
