// Every code path of the kernels that have vector versions: the
// straightforward reference, SSE2 (the baseline of both builds) and AVX2
// (only where the processor has it). The names in kernels.h choose between
// the last two once; tests and benchmarks call each path by name.
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
