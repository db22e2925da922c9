// Every code path of the kernels that have vector versions: the
// straightforward reference, SSE2 (the baseline of both builds) and AVX2
// (only where the processor has it, and FMA). The names in kernels.h choose
// between the last two once; tests and benchmarks call each path by name.
#pragma once

#include <cstdint>

bool cpu_has_avx2();

void separate_hot_pixels_reference(const float* source, float* destination);
void separate_hot_pixels_sse2(const float* source, float* destination);
void separate_hot_pixels_avx2(const float* source, float* destination);

void find_darkest_block_reference(const float* plane);
void find_darkest_block_sse2(const float* plane);
void find_darkest_block_avx2(const float* plane);

void find_hot_pixels_reference(const float* plane);
void find_hot_pixels_sse2(const float* plane);
void find_hot_pixels_avx2(const float* plane);

void subtract_plane_reference(float* a, const float* b);
void subtract_plane_sse2(float* a, const float* b);
void subtract_plane_avx2(float* a, const float* b);

void add_plane_reference(float* a, const float* b);
void add_plane_sse2(float* a, const float* b);
void add_plane_avx2(float* a, const float* b);

// The pipeline's fused passes (kernels.h says what each does).
void split_dark_frame_sse2(const float* dark, const float* bias, float* glow, float* hot);
void split_dark_frame_avx2(const float* dark, const float* bias, float* glow, float* hot);
void subtract_plane_times_sse2(float* destination, const float* a, const float* b, int32_t times);
void subtract_plane_times_avx2(float* destination, const float* a, const float* b, int32_t times);
void scale_and_sum_sse2(float* glow, float glow_ratio, float* hot, float hot_ratio, float* matched,
                        const float* bias, int32_t times);
void scale_and_sum_avx2(float* glow, float glow_ratio, float* hot, float hot_ratio, float* matched,
                        const float* bias, int32_t times);
void difference_plane_sse2(float* destination, const float* a, const float* b);
void difference_plane_avx2(float* destination, const float* a, const float* b);
