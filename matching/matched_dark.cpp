#include "matching/matched_dark.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kernels/kernels.h"
#include "plugin/host_commands.h"
#include "plugin/plugin_state.h"

namespace {

const char* const glow_title = "Glow Dark Frame";
const char* const hot_title = "Hot Dark Frame";
const char* const matched_title = "Matched Dark Frame";
const char* const matched_bias_title = "Matched Dark Frame + Bias";
const char* const corrected_title = "Corrected Image";

HostWord address(const void* pointer) {
  return reinterpret_cast<HostWord>(pointer);
}

void warn(const char* text) {
  MessageBoxA(plugin_state.dialog_window, text, "Tenvora Plugin", MB_OK | MB_ICONWARNING);
}

// Whether a plane of the frame size shares pixels with the plane of a chosen
// image. A bias plane counts once chosen in this activation, used or not:
// before that it may be one lent in an earlier activation.
bool overlaps_chosen_image(const float* plane) {
  const PluginState& s = plugin_state;
  const uint64_t bytes = uint64_t(s.frame_width) * uint64_t(s.frame_height) * sizeof(float);
  auto overlaps = [plane, bytes](const float* chosen) {
    const uint64_t start = reinterpret_cast<uintptr_t>(plane);
    const uint64_t chosen_start = reinterpret_cast<uintptr_t>(chosen);
    return start < chosen_start + bytes && chosen_start < start + bytes;
  };
  return overlaps(s.light_plane) || overlaps(s.dark_plane) ||
         (s.bias_chosen == 1 && overlaps(s.bias_plane));
}

// Asks the host for a new image of the frame size and its plane. Returns
// the handle, or 0 after telling the user when the host made no image, lent
// no plane for it or lent one over a chosen image's pixels (which the run
// would then overwrite); the plane is null then.
ImageHandle new_image(float** plane, const char* title) {
  *plane = nullptr;
  ImageHandle image =
      call_host(HC_NEW_IMAGE, plugin_state.frame_width, plugin_state.frame_height, 0);
  if (image != 0) call_host(HC_GET_PIXELS, image, address(plane), 0);
  if (image != 0 && *plane != nullptr && !overlaps_chosen_image(*plane)) return image;
  *plane = nullptr;
  char text[96];
  std::snprintf(text, sizeof text, "The host could not create the image \"%s\".", title);
  warn(text);
  return 0;
}

bool has_size(ImageHandle image, int32_t width, int32_t height) {
  int32_t image_width = -1;
  int32_t image_height = -1;
  call_host(HC_GET_SIZE, image, address(&image_width), address(&image_height));
  return image_width == width && image_height == height;
}

// Takes the frame size from the active image and checks that every chosen
// image has it, since every kernel reads and writes that many pixels of each
// plane. Tells the user and returns false when the run cannot go on.
bool frame_size_agrees(bool bias) {
  plugin_state.frame_width = 0;
  plugin_state.frame_height = 0;
  call_host(HC_GET_SIZE, plugin_state.active_image, address(&plugin_state.frame_width),
            address(&plugin_state.frame_height));
  const int32_t width = plugin_state.frame_width;
  const int32_t height = plugin_state.frame_height;
  char text[160];
  if (width <= 0 || height <= 0) {
    std::snprintf(text, sizeof text, "The active image has no pixels (%ld x %ld).", long(width),
                  long(height));
    warn(text);
    return false;
  }
  // Every size is asked, even after a mismatch, so the host always sees the
  // same requests.
  bool agree = has_size(plugin_state.light_image, width, height);
  agree = has_size(plugin_state.dark_image, width, height) && agree;
  if (bias) agree = has_size(plugin_state.bias_image, width, height) && agree;
  if (agree) return true;
  std::snprintf(text, sizeof text, "%s must have the size of the active image (%ld x %ld).",
                bias ? "The light image, the dark frame and the bias frame"
                     : "The light image and the dark frame",
                long(width), long(height));
  warn(text);
  return false;
}

// A dark-side level of zero (either sign) or not a number divides as 1.
double divisor(float level) {
  return level == 0.0f || std::isnan(level) ? 1.0 : level;
}

void set_title(ImageHandle image, const char* title) {
  call_host(HC_SET_TITLE, image, address(title), 0);
}

void update(ImageHandle image) {
  call_host(HC_UPDATE, image, 1, 1);
}

// The light image minus the matched dark, as a fourth image. When the host
// cannot make it, the user is told and the other images are still handed over.
void make_corrected_image() {
  float* corrected_plane = nullptr;
  ImageHandle corrected_image = new_image(&corrected_plane, corrected_title);
  if (corrected_image == 0) return;
  kernels().difference_plane(corrected_plane, plugin_state.light_plane, plugin_state.matched_plane);
  set_title(corrected_image, corrected_title);
  update(corrected_image);
}

}  // namespace

void run_matched_dark() {
  PluginState& s = plugin_state;
  const bool bias = s.use_bias != 0;
  const bool corrected = s.subtract_matched != 0;
  const char* const matched_name = bias ? matched_bias_title : matched_title;
  if (!frame_size_agrees(bias)) return;
  // The light is measured less the bias: less its own multiples, the light
  // image as its bias frame would leave nothing to measure.
  if (bias && s.bias_factor > 0 && s.light_plane == s.bias_plane) {
    warn("The bias frame must be another image than the light image.");
    return;
  }

  // The chosen images are only read; every value the run writes goes into
  // these outputs.
  const ImageHandle glow_image = new_image(&s.glow_plane, glow_title);
  if (glow_image == 0) return;
  const ImageHandle hot_image = new_image(&s.hot_plane, hot_title);
  if (hot_image == 0) return;
  const ImageHandle matched_image = new_image(&s.matched_plane, matched_name);
  if (matched_image == 0) return;

  // Split the dark (less the bias, taken once) into glow and hot pixels, in
  // one pass. The hot plane already holds its component when the glow is
  // shown; the host sees it only at its own update.
  kernels().split_dark_frame(s.dark_plane, bias ? s.bias_plane : nullptr, s.glow_plane,
                             s.hot_plane);
  update(glow_image);
  // With a bias the light is measured less the bias, factor times, rounded
  // at every step. Those values wait in the matched dark's plane, which the
  // scaling writes only after the measurements, so the light stays as chosen.
  const float* measured = s.light_plane;
  if (bias && s.bias_factor > 0) {
    kernels().subtract_plane_times(s.matched_plane, s.light_plane, s.bias_plane, s.bias_factor);
    measured = s.matched_plane;
  }

  kernels().find_darkest_block(measured);
  const float glow_light = float(glow_level(measured));
  const float glow_dark = float(glow_level(s.glow_plane));

  kernels().find_hot_pixels(s.hot_plane);
  const float hot_dark = float(double(float(mean_at_hot_pixels(s.hot_plane))) -
                               mean_background_at_hot_pixels(s.hot_plane));
  const double hot_light =
      double(float(mean_at_hot_pixels(measured))) - mean_background_at_hot_pixels(measured);

  const float glow_ratio = float(glow_light / divisor(glow_dark));
  const float hot_ratio = float(hot_light / divisor(hot_dark));
  // Both components scaled and added into the matched dark, with the bias
  // factor times.
  kernels().scale_and_sum(s.glow_plane, glow_ratio, s.hot_plane, hot_ratio, s.matched_plane,
                          s.bias_plane, bias ? s.bias_factor : 0);

  if (corrected && !bias) make_corrected_image();
  set_title(matched_image, matched_name);
  set_title(glow_image, glow_title);
  set_title(hot_image, hot_title);
  update(hot_image);
  update(glow_image);
  update(matched_image);
  if (corrected && bias) make_corrected_image();
}
