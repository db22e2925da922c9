// The vector kernels with AVX2 and FMA. Only this unit is compiled for them, and only
// after every header it shares with the rest of the program has been read
// for the baseline, so that no inline function used elsewhere is emitted
// with AVX2 instructions. Only a processor with AVX2 and FMA runs its
// table.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/block_search.h"
#include "kernels/glow_pixel.h"
#include "kernels/kernels.h"
#include "kernels/median_networks.h"
#include "kernels/planes.h"

// clang (the fuzz build) takes the target as an attribute on every function
// that follows.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif

#include "kernels/vector_avx2.h"
#include "kernels/vector_kernels.h"

const KernelTable avx2_kernels = vector_kernel_table<Avx2>("avx2");

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
