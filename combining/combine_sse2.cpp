// The group kernels with SSE2, the baseline.
#include "combining/combine_group.h"
#include "combining/lanes_sse2.h"

const CombineKernels sse2_combine_kernels = combine_kernel_table<Sse2Lanes>("sse2");

bool combining_has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

// The initialisation of a local static is safe should two threads ask
// first at the same time.
const CombineKernels& combine_kernels() {
  static const CombineKernels& chosen =
      combining_has_avx2() ? avx2_combine_kernels : sse2_combine_kernels;
  return chosen;
}
