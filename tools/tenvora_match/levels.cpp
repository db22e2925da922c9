#include "tools/tenvora_match/levels.h"

#include <cmath>
#include <vector>

#include "kernels/kernels.h"
#include "plugin/plugin_state.h"

namespace {

// A dark-side level of zero or NaN counts as 1.
float guarded_ratio(double light_level, float dark_level) {
  const double divisor = (dark_level == 0.0f || std::isnan(dark_level)) ? 1.0 : dark_level;
  return static_cast<float>(light_level / divisor);
}

}  // namespace

Levels measure_levels(const MatchInput& input, const std::vector<float>& glow_component) {
  plugin_state.frame_width = input.light->width;
  plugin_state.frame_height = input.light->height;
  std::vector<float> light = input.light->pixels;
  std::vector<float> glow = glow_component;
  std::vector<float> hot = input.dark->pixels;

  // The hot component is the dark (with a bias, less the bias) less the
  // glow; the light is measured less the bias factor times.
  if (input.bias) kernels().subtract_plane(hot.data(), input.bias->pixels.data());
  kernels().subtract_plane(hot.data(), glow.data());
  for (int32_t k = 0; input.bias && k < input.bias_factor; ++k)
    kernels().subtract_plane(light.data(), input.bias->pixels.data());

  Levels levels;
  kernels().find_darkest_block(light.data());
  levels.darkest_x = plugin_state.darkest_block.x;
  levels.darkest_y = plugin_state.darkest_block.y;
  levels.glow_light = static_cast<float>(glow_level(light.data()));
  levels.glow_dark = static_cast<float>(glow_level(glow.data()));

  kernels().find_hot_pixels(hot.data());
  levels.hot_dark = static_cast<float>(static_cast<float>(mean_at_hot_pixels(hot.data())) -
                                       mean_background_at_hot_pixels(hot.data()));
  levels.hot_light = static_cast<float>(mean_at_hot_pixels(light.data())) -
                     mean_background_at_hot_pixels(light.data());

  levels.glow_ratio = guarded_ratio(levels.glow_light, levels.glow_dark);
  levels.hot_ratio = guarded_ratio(levels.hot_light, levels.hot_dark);
  return levels;
}
