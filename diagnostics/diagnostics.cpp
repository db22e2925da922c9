#include "diagnostics/diagnostics.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "diagnostics/checks.h"

std::string sentence(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::vector<Diagnostic> diagnose_match(const DiagnosticInput& input) {
  if (input.width <= 0 || input.height <= 0 || !input.light || (input.use_bias && !input.bias) ||
      !input.dark || (!input.fitted && !input.glow))
    throw std::invalid_argument("diagnose_match: empty frame or missing plane");
  std::vector<Diagnostic> warnings;
  if (input.fitted) {
    check_saturated_hot_pixels(input, warnings);
    check_fit(input, warnings);
    check_dark_holds_bias(input, warnings);
    check_exposure_ratio(input, warnings);
    check_negative_pixels(input, warnings);
    return warnings;
  }
  check_corner_source(input, warnings);
  check_saturated_hot_pixels(input, warnings);
  check_empty_hot_cells(input, warnings);
  check_weak_dark_glow(input, warnings);
  check_dark_holds_bias(input, warnings);
  check_ratios(input, warnings);
  check_exposure_ratio(input, warnings);
  check_negative_pixels(input, warnings);
  return warnings;
}

double representable_saturation(double maximum) {
  return std::isfinite(maximum) && maximum > 0 ? diagnostic_limits::saturation_fraction * maximum
                                               : std::numeric_limits<double>::quiet_NaN();
}

double saturation_level(const float* plane, size_t count, double maximum) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double representable = representable_saturation(maximum);
  // The highest value (NaN never is) in lanes the compiler keeps in vector
  // registers, then how many pixels hold it: two passes without branches.
  constexpr size_t kLanes = 16;
  float lanes[kLanes];
  std::fill(lanes, lanes + kLanes, -std::numeric_limits<float>::infinity());
  size_t i = 0;
  for (; i + kLanes <= count; i += kLanes)
    for (size_t k = 0; k < kLanes; ++k)
      lanes[k] = plane[i + k] > lanes[k] ? plane[i + k] : lanes[k];
  for (; i < count; ++i) lanes[0] = plane[i] > lanes[0] ? plane[i] : lanes[0];
  const float highest = *std::max_element(lanes, lanes + kLanes);
  int64_t holding = 0;
  for (i = 0; i < count; ++i) holding += plane[i] == highest;
  const double shared = holding >= diagnostic_limits::shared_maximum_pixels ? highest : nan;
  return std::fmin(representable, shared);  // fmin takes the other when one is NaN
}

double largest_representable(int bitpix, double bzero, double bscale) {
  double lowest, highest;  // stored values
  switch (bitpix) {
    case 8:
      lowest = 0, highest = 255;
      break;
    case 16:
      lowest = -32768, highest = 32767;
      break;
    case 32:
      lowest = -2147483648.0, highest = 2147483647.0;
      break;
    case 64:
      lowest = -0x1p63, highest = 0x1p63;
      break;
    default:
      return std::numeric_limits<double>::quiet_NaN();
  }
  if (bscale == 0 || !std::isfinite(bscale) || !std::isfinite(bzero))
    return std::numeric_limits<double>::quiet_NaN();
  // A negative scale turns the lowest stored value into the largest.
  return bzero + std::fmax(bscale * lowest, bscale * highest);
}

void take_fit(DiagnosticInput& in, const ScaleFit& fit, double glow_scale, double hot_scale) {
  in.fitted = true;
  in.fit_solved = fit.solved;
  in.glow_ratio = glow_scale, in.hot_ratio = hot_scale;
  in.glow_error = fit.glow_error, in.hot_error = fit.hot_error;
  in.fit_used = fit.used, in.fit_clipped = fit.clipped;
  in.fit_usable = fit.sample - fit.left_out;
}

void take_measurement(DiagnosticInput& in, const Measurement& m) {
  in.glow_light = m.glow_light, in.glow_dark = m.glow_dark, in.glow_ratio = m.glow_ratio;
  in.hot_light = m.hot_light, in.hot_dark = m.hot_dark, in.hot_ratio = m.hot_ratio;
  in.darkest_x = m.darkest_block.x, in.darkest_y = m.darkest_block.y;
  for (int k = 0; k < 9; ++k) {
    in.hot_x[k] = m.hot_pixels.x[k], in.hot_y[k] = m.hot_pixels.y[k];
    in.hot_found[k] = m.hot_pixel_found[k];
  }
}
