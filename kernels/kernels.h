// Computations on pixel planes. Every plane handed to a kernel has the frame
// geometry it is given; kernels keep no state between calls.
#pragma once

#include <cstdint>

#include "kernels/frame_types.h"

// The kernels that have vector versions, one table per code path: the
// straightforward reference, SSE2 (the baseline of both builds) and AVX2 with
// FMA. Every path gives the reference's results bit for bit.
struct KernelTable {
  const char* name;
  void (*subtract_plane)(FrameGeometry frame, float* a, const float* b);  // a = a - b
  void (*add_plane)(FrameGeometry frame, float* a, const float* b);       // a = a + b
  // Hot-pixel separation: writes the glow component of source into destination.
  void (*separate_hot_pixels)(FrameGeometry frame, const float* source, float* destination);
  // Records the anchor of the darkest block in *anchor, which keeps its value
  // when no candidate fits the frame.
  void (*find_darkest_block)(FrameGeometry frame, const float* plane, BlockAnchor* anchor);
  // Records the brightest pixel of each cell in *hot; a cell without a pixel
  // above 0 keeps its entry. Returns the cells found, bit k for cell k.
  uint32_t (*find_hot_pixels)(FrameGeometry frame, const float* plane, HotPixelList* hot);

  // The pipeline's passes, each the work of several kernels in one walk over
  // the frame, with the same results pixel for pixel. The reference has none
  // (null): there they are the single kernels one after the other.
  // glow = S(dark - bias), hot = (dark - bias) - glow; without a bias (null)
  // glow = S(dark), hot = dark - glow. The planes must not overlap.
  void (*split_dark_frame)(FrameGeometry frame, const float* dark, const float* bias, float* glow,
                           float* hot);
  // copy_plane(a, destination), then times times subtract_plane(destination, b)
  // (a plain copy, b not read, when times <= 0).
  void (*subtract_plane_times)(FrameGeometry frame, float* destination, const float* a,
                               const float* b, int32_t times);
  // scaled_glow = glow_ratio * glow and scaled_hot = hot_ratio * hot, each
  // left out when null and allowed to be its source plane; matched = scaled
  // glow + scaled hot, then times times add_plane(matched, bias). bias is not
  // read when times <= 0.
  void (*scale_and_sum)(FrameGeometry frame, const float* glow, float glow_ratio, const float* hot,
                        float hot_ratio, const float* bias, int32_t times, float* matched,
                        float* scaled_glow, float* scaled_hot);
  // destination = a - b: copy_plane(a, destination), subtract_plane(destination, b).
  void (*difference_plane)(FrameGeometry frame, float* destination, const float* a, const float* b);
};

extern const KernelTable reference_kernels;
extern const KernelTable sse2_kernels;
extern const KernelTable avx2_kernels;  // only where cpu_has_avx2()

// Whether the processor has AVX2 and FMA (the AVX2 hot-pixel test uses FMA).
bool cpu_has_avx2();
// The fastest table the processor runs, chosen at the first call.
const KernelTable& kernels();

void copy_plane(FrameGeometry frame, const float* source, float* destination);

// Glow measurement against the darkest block at anchor.
double glow_level(FrameGeometry frame, const float* plane, BlockAnchor anchor);

// Hot-pixel measurement at the positions of hot.
float neighbour_median(FrameGeometry frame, const float* plane, int32_t x, int32_t y);
double mean_at_hot_pixels(FrameGeometry frame, const float* plane, const HotPixelList& hot);
double mean_background_at_hot_pixels(FrameGeometry frame, const float* plane,
                                     const HotPixelList& hot);

// pixel_at, median_of_9 and median_of_25 only move values, so they are inline:
// on the 32-bit target a float returned from a called function passes through
// the x87 stack, which quiets signalling NaNs.
#include "kernels/median_networks.h"
#include "kernels/pixel_at.h"
