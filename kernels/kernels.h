// Computations on pixel planes. Every plane is frame_width x frame_height
// 32-bit floats, row after row; the kernels read the geometry from
// plugin_state and take no size arguments.
#pragma once

#include <cstdint>

// Whole-plane kernels.
void copy_plane(const float* source, float* destination);
void subtract_plane(float* a, const float* b);  // a = a - b
void add_plane(float* a, const float* b);       // a = a + b

// Hot-pixel separation: writes the glow component of source into destination.
void separate_hot_pixels(const float* source, float* destination);

// The pipeline's passes, each the work of several kernels above in one walk
// over the frame, with the same results pixel for pixel.
// glow = S(dark - bias), hot = (dark - bias) - glow; without a bias (null)
// glow = S(dark), hot = dark - glow. The planes must not overlap.
void split_dark_frame(const float* dark, const float* bias, float* glow, float* hot);
// copy_plane(a, destination), then times times subtract_plane(destination, b)
// (a plain copy, b not read, when times <= 0).
void subtract_plane_times(float* destination, const float* a, const float* b, int32_t times);
// glow = glow_ratio * glow and hot = hot_ratio * hot; matched = glow + hot;
// then times times add_plane(matched, bias). bias is not read when times <= 0.
void scale_and_sum(float* glow, float glow_ratio, float* hot, float hot_ratio, float* matched,
                   const float* bias, int32_t times);
// destination = a - b: copy_plane(a, destination), subtract_plane(destination, b).
void difference_plane(float* destination, const float* a, const float* b);

// Glow measurement.
void find_darkest_block(const float* plane);
double glow_level(const float* plane);

// Hot-pixel measurement.
void find_hot_pixels(const float* plane);
float neighbour_median(const float* plane, int32_t x, int32_t y);
double mean_at_hot_pixels(const float* plane);
double mean_background_at_hot_pixels(const float* plane);

// pixel_at, median_of_9 and median_of_25 only move values, so they are inline:
// on the 32-bit target a float returned from a called function passes through
// the x87 stack, which quiets signalling NaNs.
#include "kernels/median_networks.h"
#include "kernels/pixel_at.h"
