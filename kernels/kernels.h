// Computations on pixel planes. Every plane is frame_width x frame_height
// 32-bit floats, row after row; the kernels read the geometry from
// plugin_state and take no size arguments.
#pragma once

#include <cstdint>

// The kernels that have vector versions, one table per code path: the
// straightforward reference, SSE2 (the baseline of both builds) and AVX2 with
// FMA. Every path gives the reference's results bit for bit.
struct KernelTable {
  const char* name;
  void (*subtract_plane)(float* a, const float* b);  // a = a - b
  void (*add_plane)(float* a, const float* b);       // a = a + b
  // Hot-pixel separation: writes the glow component of source into destination.
  void (*separate_hot_pixels)(const float* source, float* destination);
  void (*find_darkest_block)(const float* plane);
  void (*find_hot_pixels)(const float* plane);

  // The pipeline's passes, each the work of several kernels in one walk over
  // the frame, with the same results pixel for pixel. The reference has none
  // (null): there they are the single kernels one after the other.
  // glow = S(dark - bias), hot = (dark - bias) - glow; without a bias (null)
  // glow = S(dark), hot = dark - glow. The planes must not overlap.
  void (*split_dark_frame)(const float* dark, const float* bias, float* glow, float* hot);
  // copy_plane(a, destination), then times times subtract_plane(destination, b)
  // (a plain copy, b not read, when times <= 0).
  void (*subtract_plane_times)(float* destination, const float* a, const float* b, int32_t times);
  // glow = glow_ratio * glow and hot = hot_ratio * hot; matched = glow + hot;
  // then times times add_plane(matched, bias). bias is not read when times <= 0.
  void (*scale_and_sum)(float* glow, float glow_ratio, float* hot, float hot_ratio, float* matched,
                        const float* bias, int32_t times);
  // destination = a - b: copy_plane(a, destination), subtract_plane(destination, b).
  void (*difference_plane)(float* destination, const float* a, const float* b);
};

extern const KernelTable reference_kernels;
extern const KernelTable sse2_kernels;
extern const KernelTable avx2_kernels;  // only where cpu_has_avx2()

// Whether the processor has AVX2 and FMA (the AVX2 hot-pixel test uses FMA).
bool cpu_has_avx2();
// The fastest table the processor runs, chosen at the first call.
const KernelTable& kernels();

void copy_plane(const float* source, float* destination);

// Glow measurement.
double glow_level(const float* plane);

// Hot-pixel measurement.
float neighbour_median(const float* plane, int32_t x, int32_t y);
double mean_at_hot_pixels(const float* plane);
double mean_background_at_hot_pixels(const float* plane);

// pixel_at, median_of_9 and median_of_25 only move values, so they are inline:
// on the 32-bit target a float returned from a called function passes through
// the x87 stack, which quiets signalling NaNs.
#include "kernels/median_networks.h"
#include "kernels/pixel_at.h"
