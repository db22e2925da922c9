// The kernels the pipeline calls: each goes to the AVX2 version where the
// processor has AVX2 and FMA (its hot-pixel test uses FMA) and to the SSE2
// version elsewhere. The processor is
// asked once.
#include "kernels/kernel_paths.h"
#include "kernels/kernels.h"

bool cpu_has_avx2() {
  static const bool has_avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
  }();
  return has_avx2;
}

void separate_hot_pixels(const float* source, float* destination) {
  if (cpu_has_avx2())
    separate_hot_pixels_avx2(source, destination);
  else
    separate_hot_pixels_sse2(source, destination);
}

void find_darkest_block(const float* plane) {
  if (cpu_has_avx2())
    find_darkest_block_avx2(plane);
  else
    find_darkest_block_sse2(plane);
}

void find_hot_pixels(const float* plane) {
  if (cpu_has_avx2())
    find_hot_pixels_avx2(plane);
  else
    find_hot_pixels_sse2(plane);
}

void subtract_plane(float* a, const float* b) {
  if (cpu_has_avx2())
    subtract_plane_avx2(a, b);
  else
    subtract_plane_sse2(a, b);
}

void add_plane(float* a, const float* b) {
  if (cpu_has_avx2())
    add_plane_avx2(a, b);
  else
    add_plane_sse2(a, b);
}

void split_dark_frame(const float* dark, const float* bias, float* glow, float* hot) {
  if (cpu_has_avx2())
    split_dark_frame_avx2(dark, bias, glow, hot);
  else
    split_dark_frame_sse2(dark, bias, glow, hot);
}

void subtract_plane_times(float* destination, const float* a, const float* b, int32_t times) {
  if (cpu_has_avx2())
    subtract_plane_times_avx2(destination, a, b, times);
  else
    subtract_plane_times_sse2(destination, a, b, times);
}

void scale_and_sum(float* glow, float glow_ratio, float* hot, float hot_ratio, float* matched,
                   const float* bias, int32_t times) {
  if (cpu_has_avx2())
    scale_and_sum_avx2(glow, glow_ratio, hot, hot_ratio, matched, bias, times);
  else
    scale_and_sum_sse2(glow, glow_ratio, hot, hot_ratio, matched, bias, times);
}

void difference_plane(float* destination, const float* a, const float* b) {
  if (cpu_has_avx2())
    difference_plane_avx2(destination, a, b);
  else
    difference_plane_sse2(destination, a, b);
}
