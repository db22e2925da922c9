// Checks after a match: warnings when the frames do not suit the two-factor
// match and its scales cannot be trusted. Shared by the command-line tool and
// other front ends; the plug-in itself does not use them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "matching/fit_scales.h"
#include "matching/stages.h"

// Every threshold of the checks, in one place for the help texts.
namespace diagnostic_limits {
// Noise is a robust sigma, 1.4826 x the median absolute deviation, never
// below the floor: quantised frames can have a deviation of 0.
constexpr double mad_to_sigma = 1.4826;
constexpr double noise_floor = 0.5;
// A block's region: the square of this side centred on the 5 x 5 block,
// clipped to the frame, less the block itself.
constexpr int32_t region_side = 25;
// corner-source: the corner block's median above its region's median by more
// than this many noise units of the region (light less the scaled glow).
constexpr double corner_source_sigmas = 5.0;
// saturated-hot-pixel: at least this fraction of the input's largest
// representable value, or the frame's own maximum when at least this many
// pixels share it.
constexpr double saturation_fraction = 0.99;
constexpr int64_t shared_maximum_pixels = 10;
// weak-dark-glow: the dark's glow level within this many noise units of 0.
constexpr double weak_glow_sigmas = 3.0;
// dark-holds-bias: the predicted shift above this many noise units of the light.
constexpr double bias_shift_sigmas = 3.0;
// ratio-out-of-range: above this, or negative, NaN or infinite.
constexpr double ratio_maximum = 10.0;
// many-negative-pixels: more than this fraction of the corrected light below 0.
constexpr double negative_fraction = 0.20;
// fit-few-pixels: the fit used fewer pixels than this.
constexpr int64_t fit_minimum_pixels = 1000;
// fit-uncertain-scale: a standard error above this fraction of its scale.
constexpr double fit_relative_error = 0.25;
// fit-heavy-clipping: the clipping removed more than this share of the
// pixels it could use.
constexpr double fit_clipped_fraction = 0.30;
// fit-scale-out-of-range: a fitted scale below 0 or above this.
constexpr double fit_scale_maximum = 10.0;
// scale-off-exposure: a scale more than this factor above or below the
// exposure ratio (dark current grows with the exposure time).
constexpr double exposure_factor = 1.5;
}  // namespace diagnostic_limits

// The header keywords that give a frame's exposure time in seconds; the
// first one present counts.
inline constexpr const char* kExposureKeywords[] = {"EXPTIME", "EXPOSURE"};

// The light's exposure time over the dark's: what the scales would be if dark
// current alone made the dark. NaN when either time is unknown (NaN), not
// finite or negative, or the dark's is 0. Inline: the Python module shares it.
inline double exposure_ratio(double light_seconds, double dark_seconds) {
  if (!(light_seconds >= 0 && dark_seconds > 0) || !std::isfinite(light_seconds) ||
      !std::isfinite(dark_seconds))
    return std::numeric_limits<double>::quiet_NaN();
  return light_seconds / dark_seconds;
}

// What the checks read about one match. Planes are width x height floats, row
// after row, the pixel (x, y) at x + width * y; none is changed.
struct DiagnosticInput {
  int32_t width = 0, height = 0;
  bool use_bias = false;

  // The light as read and, with use_bias, the bias and its factor: the
  // levels were measured on the light less the bias, factor times, each step
  // rounded, which the checks form pixel by pixel where they read it.
  const float* light = nullptr;
  const float* bias = nullptr;
  int32_t bias_factor = 0;
  // The dark as read (the bias not taken off), and its unscaled glow
  // component (with a bias, that of the dark less the bias). Without a bias
  // the two differ only at hot pixels. Only the checks of the plug-in's
  // levels read the glow: under the fit it may be null.
  const float* dark = nullptr;
  const float* glow = nullptr;
  // The corrected light (light less matched dark). May be null: then it is
  // formed pixel by pixel from the light and the matched dark, which must be
  // given, without allocating a plane.
  const float* corrected = nullptr;
  const float* matched = nullptr;

  // Levels and scales of the match: those of the method used, which the
  // checks of the scales judge.
  double glow_light = 0, glow_dark = 0, glow_ratio = 0;
  double hot_light = 0, hot_dark = 0, hot_ratio = 0;
  // exposure_ratio() of the light and the dark; NaN when unknown.
  double exposure_ratio = std::numeric_limits<double>::quiet_NaN();

  // Top-left pixel of the darkest 5 x 5 block as measured (the anchor as
  // recorded by the search; the block measured starts there).
  int32_t darkest_x = 0, darkest_y = 0;

  // The nine hot-pixel positions, one per cell of the 3 x 3 grid, and whether
  // the search found a pixel above 0 in the cell (else the entry holds the
  // position it had, (0, 0) after a reset).
  int32_t hot_x[9] = {}, hot_y[9] = {};
  bool hot_found[9] = {};

  // The largest value each input file can hold (largest_representable), NaN
  // or 0 when unknown, as for floating-point files.
  double light_maximum = 0, dark_maximum = 0;
  // saturation_level of the dark when the caller has it already (a run
  // works it out once for all its lights); else the check works it out.
  std::optional<double> dark_saturation;

  // The scales were fitted (take_fit): the checks of the plug-in's levels
  // (corner-source, empty-hot-cell, weak-dark-glow, ratio-out-of-range)
  // give way to those of the fit.
  bool fitted = false;
  bool fit_solved = false;
  double glow_error = 0, hot_error = 0;
  int64_t fit_used = 0, fit_clipped = 0, fit_usable = 0;  // usable: used + clipped
};

struct Diagnostic {
  std::string code;     // stable: corner-source, saturated-hot-pixel, ...
  std::string message;  // one sentence for the user
  std::vector<std::pair<std::string, double>> numbers;  // what it was decided on
};

// Copies the levels, ratios and search results of a match into the input.
void take_measurement(DiagnosticInput& input, const Measurement& m);

// Marks the input as fitted and copies the fit in; glow_ratio and hot_ratio
// become the scales applied.
void take_fit(DiagnosticInput& input, const ScaleFit& fit, double glow_scale, double hot_scale);

// All checks on one match, in a fixed order; empty when none fires.
std::vector<Diagnostic> diagnose_match(const DiagnosticInput& input);

// The value from which a pixel of the plane counts as saturated: the lower
// of saturation_fraction of the largest value its file can hold (maximum;
// NaN or 0 when unknown) and the plane's own maximum when at least
// shared_maximum_pixels pixels hold it (a camera of fewer bits, a
// floating-point file); NaN when neither applies.
double saturation_level(const float* plane, size_t count, double maximum);

// The largest physical value an integer FITS image of this BITPIX (8, 16, 32,
// 64) holds, BZERO + BSCALE x stored value; NaN for floating-point BITPIX,
// BSCALE 0 or a BITPIX that is not one of these.
double largest_representable(int bitpix, double bzero, double bscale);
