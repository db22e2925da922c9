// The combining of a vector's worth of pixels, one kernel per instruction
// set and frame count (a count up to kUnrolledFrames sorts in registers),
// each giving the rule's result bit for bit.
#pragma once

#include <cstddef>

#include "combining/combine_rule.h"
#include "combining/sort_network.h"

constexpr int kUnrolledFrames = 32;

struct GroupJob {
  CombineRule rule;
  int frames;
  const SortNetwork* network;  // for frames
  float* scratch;              // frames x lanes floats, aligned for a vector
};

// Combines pixels at .. at + lanes - 1 of the frames (frames[f][at + i]) into
// out[0 .. lanes - 1]; with sigma-clip adds to clipped[f] the values of frame
// f dropped. The median and sigma-clip only: the mean sorts nothing.
using GroupKernel = void (*)(const GroupJob& job, const float* const* frames, size_t at, float* out,
                             long long* clipped);

struct CombineKernels {
  const char* name;
  int lanes;
  GroupKernel by_frames[kUnrolledFrames + 1];  // [0]: any count
};

extern const CombineKernels sse2_combine_kernels;
extern const CombineKernels avx2_combine_kernels;

bool combining_has_avx2();
// AVX2 where the processor has it, else SSE2; asked once.
const CombineKernels& combine_kernels();
