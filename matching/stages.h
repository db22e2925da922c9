// The matched-dark pipeline as stages that any front end calls: the plug-in
// through its host, the command-line tool on its own planes. Each stage works
// on the planes and the frame geometry it is given and keeps nothing between
// calls, so several frames may be matched at once on several threads.
#pragma once

#include <cstdint>

#include "kernels/kernels.h"

// Everything the levels of one light were measured from.
struct Measurement {
  float glow_light;  // glow level of the light as measured
  float glow_dark;   // glow level of the dark's glow plane
  float glow_ratio;  // glow_light / glow_dark
  double hot_light;  // hot-pixel level of the light, kept wide until divided
  float hot_dark;    // hot-pixel level of the dark's hot plane
  float hot_ratio;   // hot_light / hot_dark
  // Where the darkest 5x5 block of the light lies, and the brightest pixel of
  // each cell of the hot plane; a cell whose search found no pixel above 0
  // (found false) keeps the position the search started from.
  BlockAnchor darkest_block;
  HotPixelList hot_pixels;
  bool hot_pixel_found[9];
  // The pixels at those positions, in the light as measured and in the hot
  // plane.
  float light_at_hot_pixels[9];
  float hot_at_hot_pixels[9];
};

// What each search keeps where it finds nothing; zero, as in a fresh
// activation, unless a front end carries its own records.
struct SearchStart {
  BlockAnchor darkest_block;
  HotPixelList hot_pixels;
};

// The dark, less the bias (taken once; null: none), split into its glow
// plane and its hot-pixel plane. No two planes may overlap.
void split_dark(FrameGeometry frame, const float* dark, const float* bias, float* glow, float* hot);

// The light as its levels are measured: less the bias, bias_factor times,
// each step rounded. That is written into work, which must not overlap the
// light, and work is returned; without a bias or with a factor of 0 or less
// the light itself is returned and work is not touched.
const float* light_to_measure(FrameGeometry frame, const float* light, const float* bias,
                              int32_t bias_factor, float* work);

// Measures the light (as light_to_measure gives it) against the glow and hot
// planes of its dark. No plane is written. The kernels of `path` do the
// searches (the fastest the processor runs, unless a test asks for another).
Measurement measure(FrameGeometry frame, const float* light, const float* glow, const float* hot,
                    const SearchStart& start = SearchStart{}, const KernelTable& path = kernels());

// matched = glow_ratio * glow + hot_ratio * hot, plus the bias bias_factor
// times (bias not read at 0 or less). The scaled planes go to scaled_glow and
// scaled_hot, which may be glow and hot themselves (scaled in place) or null
// (not kept); glow and hot are only read otherwise, so one split dark serves
// many lights. matched overlaps no other plane.
void scale_and_sum(FrameGeometry frame, const float* glow, float glow_ratio, const float* hot,
                   float hot_ratio, const float* bias, int32_t bias_factor, float* matched,
                   float* scaled_glow, float* scaled_hot);

// corrected = light - matched.
void correct_light(FrameGeometry frame, const float* light, const float* matched, float* corrected);
