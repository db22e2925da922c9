#include "matching/matched_dark.h"

#include <cstdint>

#include "matching/output_titles.h"
#include "matching/stages.h"
#include "plugin/host_commands.h"
#include "plugin/plugin_state.h"

namespace {

HostWord address(const void* pointer) {
  return reinterpret_cast<HostWord>(pointer);
}

FrameGeometry frame_of(const PluginState& s) {
  return {s.frame_width, s.frame_height};
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
// the handle, or 0 when the host made no image, lent no plane for it or lent
// one over a chosen image's pixels (which the run would then overwrite); the
// plane is null then.
ImageHandle new_image(float** plane) {
  *plane = nullptr;
  ImageHandle image =
      call_host(HC_NEW_IMAGE, plugin_state.frame_width, plugin_state.frame_height, 0);
  if (image != 0) call_host(HC_GET_PIXELS, image, address(plane), 0);
  if (image != 0 && *plane != nullptr && !overlaps_chosen_image(*plane)) return image;
  *plane = nullptr;
  return 0;
}

bool has_size(ImageHandle image, int32_t width, int32_t height) {
  int32_t image_width = -1;
  int32_t image_height = -1;
  call_host(HC_GET_SIZE, image, address(&image_width), address(&image_height));
  return image_width == width && image_height == height;
}

// Takes the frame size from the active image and checks that every chosen
// image has it, since every stage reads and writes that many pixels of each
// plane.
RunStop check_frame_size(bool bias) {
  PluginState& s = plugin_state;
  s.frame_width = 0;
  s.frame_height = 0;
  call_host(HC_GET_SIZE, s.active_image, address(&s.frame_width), address(&s.frame_height));
  if (s.frame_width <= 0 || s.frame_height <= 0) return RunStop::kNoPixels;
  // Every size is asked, even after a mismatch, so the host always sees the
  // same requests.
  bool agree = has_size(s.light_image, s.frame_width, s.frame_height);
  agree = has_size(s.dark_image, s.frame_width, s.frame_height) && agree;
  if (bias) agree = has_size(s.bias_image, s.frame_width, s.frame_height) && agree;
  return agree ? RunStop::kDone : RunStop::kSizesDiffer;
}

void set_title(ImageHandle image, const char* title) {
  call_host(HC_SET_TITLE, image, address(title), 0);
}

void update(ImageHandle image) {
  call_host(HC_UPDATE, image, 1, 1);
}

// The light image minus the matched dark, as a fourth image.
bool make_corrected_image() {
  const PluginState& s = plugin_state;
  float* corrected_plane = nullptr;
  const ImageHandle corrected_image = new_image(&corrected_plane);
  if (corrected_image == 0) return false;
  correct_light(frame_of(s), s.light_plane, s.matched_plane, corrected_plane);
  set_title(corrected_image, kCorrectedTitle);
  update(corrected_image);
  return true;
}

}  // namespace

RunOutcome run_matched_dark() {
  PluginState& s = plugin_state;
  const bool bias = s.use_bias != 0;
  const bool corrected = s.subtract_matched != 0;
  const char* const matched_title = bias ? kMatchedBiasTitle : kMatchedTitle;
  RunOutcome outcome{check_frame_size(bias), frame_of(s), bias, nullptr};
  if (outcome.stop != RunStop::kDone) return outcome;
  // The light is measured less the bias: less its own multiples, the light
  // image as its bias frame would leave nothing to measure.
  if (bias && s.bias_factor > 0 && s.light_plane == s.bias_plane) {
    outcome.stop = RunStop::kBiasIsLight;
    return outcome;
  }
  auto no_image = [&outcome](const char* title) {
    outcome.stop = RunStop::kNoImage;
    outcome.image = title;
    return outcome;
  };

  // The chosen images are only read; every value the run writes goes into
  // these outputs.
  const ImageHandle glow_image = new_image(&s.glow_plane);
  if (glow_image == 0) return no_image(kGlowTitle);
  const ImageHandle hot_image = new_image(&s.hot_plane);
  if (hot_image == 0) return no_image(kHotTitle);
  const ImageHandle matched_image = new_image(&s.matched_plane);
  if (matched_image == 0) return no_image(matched_title);

  const FrameGeometry frame = frame_of(s);
  const float* const bias_plane = bias ? s.bias_plane : nullptr;
  const int32_t bias_factor = bias ? s.bias_factor : 0;
  // The hot plane already holds its component when the glow is shown; the
  // host sees it only at its own update.
  split_dark(frame, s.dark_plane, bias_plane, s.glow_plane, s.hot_plane);
  update(glow_image);
  // The light less the bias waits in the matched dark's plane, which the
  // scaling writes only after the measurements, so the light stays as chosen.
  const float* measured =
      light_to_measure(frame, s.light_plane, bias_plane, bias_factor, s.matched_plane);
  const Measurement m = measure(frame, measured, s.glow_plane, s.hot_plane,
                                SearchStart{s.darkest_block, s.hot_pixels});
  s.darkest_block = m.darkest_block;
  s.hot_pixels = m.hot_pixels;
  // The host shows the scaled components in the images it made for them.
  scale_and_sum(frame, s.glow_plane, m.glow_ratio, s.hot_plane, m.hot_ratio, bias_plane,
                bias_factor, s.matched_plane, s.glow_plane, s.hot_plane);

  // When only the corrected image cannot be made, the other three are still
  // handed over.
  bool corrected_made = true;
  if (corrected && !bias) corrected_made = make_corrected_image();
  set_title(matched_image, matched_title);
  set_title(glow_image, kGlowTitle);
  set_title(hot_image, kHotTitle);
  update(hot_image);
  update(glow_image);
  update(matched_image);
  if (corrected && bias) corrected_made = make_corrected_image();
  return corrected_made ? outcome : no_image(kCorrectedTitle);
}
