// The group kernels with AVX2. Only this unit is compiled for it, and only
// after every header it shares with the rest of the program has been read
// for the baseline, so that no inline function used elsewhere is emitted
// with AVX2 instructions. Only a processor with AVX2 runs them.
#include <immintrin.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "combining/combine_kernels.h"
#include "kernels/force_inline.h"

// clang (the fuzz build) takes the target as an attribute on every function
// that follows.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "combining/combine_group.h"
#include "combining/lanes_avx2.h"

const CombineKernels avx2_combine_kernels = combine_kernel_table<Avx2Lanes>("avx2");

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
