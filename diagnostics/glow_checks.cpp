// Checks of the glow measurement: the corner block, the dark's glow level and
// an offset left in the dark.
#include <cmath>

#include "diagnostics/block_values.h"
#include "diagnostics/checks.h"
#include "diagnostics/robust_stats.h"

namespace {

// Top-left pixel of the fixed corner block where the glow level is read.
constexpr int32_t corner_x = 3;
int32_t corner_y(const DiagnosticInput& input) {
  return input.height - 13;
}

// The plane's pixels through value(x, y): the block with top-left (x, y) and its region.
template <class Value>
RobustStats block_stats(const DiagnosticInput& input, int32_t x, int32_t y, Value value) {
  return robust_stats(block_values(input.width, input.height, x, y, value));
}
template <class Value>
RobustStats region_stats(const DiagnosticInput& input, int32_t x, int32_t y, Value value) {
  return robust_stats(region_values(input.width, input.height, x, y, value));
}

auto plane(const DiagnosticInput& input, const float* pixels) {
  return
      [&input, pixels](int32_t x, int32_t y) -> double { return pixels[pixel_index(input, x, y)]; };
}

}  // namespace

void check_corner_source(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  // Once the scaled glow is taken off, the corner should look like its
  // surroundings; what is left over is light that is not glow.
  const auto residual = [&input](int32_t x, int32_t y) {
    const size_t i = pixel_index(input, x, y);
    return static_cast<double>(measured_light(input, i)) - input.glow_ratio * input.glow[i];
  };
  const RobustStats corner = block_stats(input, corner_x, corner_y(input), residual);
  const RobustStats region = region_stats(input, corner_x, corner_y(input), residual);
  const double excess = corner.median - region.median;
  if (!(excess > diagnostic_limits::corner_source_sigmas * region.noise)) return;
  warnings.push_back(
      {"corner-source",
       sentence("The glow corner of the light is %.1f ADU brighter than its surroundings "
                "(%.1f noise units), likely a star or nebula, so the glow was overestimated "
                "and the corrected light comes out too dark near that corner.",
                excess, excess / region.noise),
       {{"corner_median", corner.median},
        {"region_median", region.median},
        {"region_noise", region.noise},
        {"limit_noise_units", diagnostic_limits::corner_source_sigmas}}});
}

void check_weak_dark_glow(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  const double noise =
      region_stats(input, input.darkest_x, input.darkest_y, plane(input, input.glow)).noise;
  // A NaN level is no better than a level of 0.
  if (std::fabs(input.glow_dark) > diagnostic_limits::weak_glow_sigmas * noise) return;
  warnings.push_back(
      {"weak-dark-glow",
       sentence("The dark's glow level, %.2f ADU, is within %g noise units (%.2f ADU each) of "
                "0, so the glow ratio is mostly noise.",
                input.glow_dark, diagnostic_limits::weak_glow_sigmas, noise),
       {{"glow_dark", input.glow_dark},
        {"glow_noise", noise},
        {"limit_noise_units", diagnostic_limits::weak_glow_sigmas}}});
}

void check_dark_holds_bias(const DiagnosticInput& input, std::vector<Diagnostic>& warnings) {
  if (input.use_bias) return;
  // Without a bias the whole dark, offset included, is scaled by the glow
  // ratio, so the offset left in the light is (1 - ratio) x offset.
  const double dark_median =
      block_stats(input, input.darkest_x, input.darkest_y, plane(input, input.dark)).median;
  const double shift = std::fabs((1.0 - input.glow_ratio) * dark_median);
  const double noise =
      region_stats(input, input.darkest_x, input.darkest_y, plane(input, input.light)).noise;
  if (!(shift > diagnostic_limits::bias_shift_sigmas * noise)) return;
  warnings.push_back(
      {"dark-holds-bias",
       sentence("No bias was given but the dark reads %.1f ADU in its darkest block, so if "
                "that is the camera's offset the whole corrected light is shifted by %.1f ADU; "
                "give a bias frame or a bias-subtracted dark.",
                dark_median, shift),
       {{"dark_block_median", dark_median},
        {"glow_ratio", input.glow_ratio},
        {"predicted_shift", shift},
        {"light_noise", noise},
        {"limit_noise_units", diagnostic_limits::bias_shift_sigmas}}});
}
