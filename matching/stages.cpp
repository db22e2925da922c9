#include "matching/stages.h"

#include <cmath>

#include "kernels/pixel_at.h"

namespace {

// A dark-side level of zero (either sign) or not a number divides as 1.
float ratio(double light_level, float dark_level) {
  const double divisor = dark_level == 0.0f || std::isnan(dark_level) ? 1.0 : dark_level;
  return static_cast<float>(light_level / divisor);
}

// A hot-pixel level: the mean at the hot pixels, rounded, less the mean of
// their backgrounds, unrounded.
double hot_pixel_level(FrameGeometry frame, const float* plane, const HotPixelList& hot) {
  return static_cast<double>(static_cast<float>(mean_at_hot_pixels(frame, plane, hot))) -
         mean_background_at_hot_pixels(frame, plane, hot);
}

}  // namespace

void split_dark(FrameGeometry frame, const float* dark, const float* bias, float* glow,
                float* hot) {
  kernels().split_dark_frame(frame, dark, bias, glow, hot);
}

const float* light_to_measure(FrameGeometry frame, const float* light, const float* bias,
                              int32_t bias_factor, float* work) {
  if (bias == nullptr || bias_factor <= 0) return light;
  kernels().subtract_plane_times(frame, work, light, bias, bias_factor);
  return work;
}

Measurement measure(FrameGeometry frame, const float* light, const float* glow, const float* hot,
                    const SearchStart& start, const KernelTable& path) {
  Measurement m{};
  // The darkest block is searched in the light, and the same block serves
  // both glow levels; the hot pixels are searched in the hot plane, and the
  // same positions serve both hot-pixel levels.
  m.darkest_block = start.darkest_block;
  path.find_darkest_block(frame, light, &m.darkest_block);
  m.glow_light = static_cast<float>(glow_level(frame, light, m.darkest_block));
  m.glow_dark = static_cast<float>(glow_level(frame, glow, m.darkest_block));

  m.hot_pixels = start.hot_pixels;
  const uint32_t found = path.find_hot_pixels(frame, hot, &m.hot_pixels);
  m.hot_dark = static_cast<float>(hot_pixel_level(frame, hot, m.hot_pixels));
  m.hot_light = hot_pixel_level(frame, light, m.hot_pixels);

  m.glow_ratio = ratio(m.glow_light, m.glow_dark);
  m.hot_ratio = ratio(m.hot_light, m.hot_dark);
  for (int k = 0; k < 9; ++k) {
    m.hot_pixel_found[k] = ((found >> k) & 1u) != 0;
    m.light_at_hot_pixels[k] = pixel_at(frame, light, m.hot_pixels.x[k], m.hot_pixels.y[k]);
    m.hot_at_hot_pixels[k] = pixel_at(frame, hot, m.hot_pixels.x[k], m.hot_pixels.y[k]);
  }
  return m;
}

void scale_and_sum(FrameGeometry frame, const float* glow, float glow_ratio, const float* hot,
                   float hot_ratio, const float* bias, int32_t bias_factor, float* matched,
                   float* scaled_glow, float* scaled_hot) {
  kernels().scale_and_sum(frame, glow, glow_ratio, hot, hot_ratio, bias, bias_factor, matched,
                          scaled_glow, scaled_hot);
}

void correct_light(FrameGeometry frame, const float* light, const float* matched,
                   float* corrected) {
  kernels().difference_plane(frame, corrected, light, matched);
}
