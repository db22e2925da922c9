// The reference table, and the choice of the table the pipeline uses.
#include "kernels/kernels.h"

// The straightforward kernels, each defined beside the measurement or the
// planes it belongs to.
void subtract_plane_reference(FrameGeometry frame, float* a, const float* b);
void add_plane_reference(FrameGeometry frame, float* a, const float* b);
void separate_hot_pixels_reference(FrameGeometry frame, const float* source, float* destination);
void find_darkest_block_reference(FrameGeometry frame, const float* plane, BlockAnchor* anchor);
uint32_t find_hot_pixels_reference(FrameGeometry frame, const float* plane, HotPixelList* hot);

const KernelTable reference_kernels = {"reference",
                                       subtract_plane_reference,
                                       add_plane_reference,
                                       separate_hot_pixels_reference,
                                       find_darkest_block_reference,
                                       find_hot_pixels_reference,
                                       nullptr,
                                       nullptr,
                                       nullptr,
                                       nullptr};

bool cpu_has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
}

// The processor is asked once; the initialisation of a local static is safe
// should two threads ask first at the same time.
const KernelTable& kernels() {
  static const KernelTable& chosen = cpu_has_avx2() ? avx2_kernels : sse2_kernels;
  return chosen;
}
