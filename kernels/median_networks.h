// Median networks for 3x3 neighbourhoods and 5x5 blocks: fixed sequences of
// compare-exchange steps that reorder the caller's array in place and return
// its middle element. Results with NaN inputs, and the sign of a zero result,
// depend on the exact sequence and the exact exchange rule, so neither may be
// replaced by a sort.
#pragma once

#include "kernels/force_inline.h"

// The exchange sequences, each pair (i, j) in order, for X(i, j) to expand:
// the scalar networks below and the vector networks, which run the same
// sequence on many neighbourhoods at once, share them.

// 19 exchanges. The first nine sort each row triple (0-2, 3-5, 6-8) on its
// own, each by the three of TENVORA_TRIPLE_EXCHANGES; exchanges on different
// triples do not interact, so a triple sorted once serves every
// neighbourhood that shares it. The last three name the higher index first:
// that is where the smaller value goes.
// clang-format off
#define TENVORA_TRIPLE_EXCHANGES(X) X(1, 2) X(0, 1) X(1, 2)
#define TENVORA_MEDIAN_OF_SORTED_TRIPLES_EXCHANGES(X) \
  X(0, 3) X(5, 8) X(4, 7) X(3, 6) X(1, 4) X(2, 5) \
  X(4, 7) X(4, 2) X(6, 4) X(4, 2)
#define TENVORA_MEDIAN_OF_9_EXCHANGES(X) \
  X(1, 2) X(4, 5) X(7, 8) X(0, 1) X(3, 4) X(6, 7) \
  X(1, 2) X(4, 5) X(7, 8) TENVORA_MEDIAN_OF_SORTED_TRIPLES_EXCHANGES(X)

// 99 exchanges.
#define TENVORA_MEDIAN_OF_25_EXCHANGES(X) \
  /* Exchanges 1 to 23. */ \
  X(0, 1) X(3, 4) X(2, 4) X(2, 3) X(6, 7) X(5, 7) X(5, 6) X(9, 10) \
  X(8, 10) X(8, 9) X(12, 13) X(11, 13) X(11, 12) X(15, 16) X(14, 16) X(14, 15) \
  X(18, 19) X(17, 19) X(17, 18) X(21, 22) X(20, 22) X(20, 21) X(23, 24) \
  /* Exchanges 24 to 46. */ \
  X(2, 5) X(3, 6) X(0, 6) X(0, 3) X(4, 7) X(1, 7) X(1, 4) X(11, 14) \
  X(8, 14) X(8, 11) X(12, 15) X(9, 15) X(9, 12) X(13, 16) X(10, 16) X(10, 13) \
  X(20, 23) X(17, 23) X(17, 20) X(21, 24) X(18, 24) X(18, 21) X(19, 22) \
  /* Exchanges 47 to 68. */ \
  X(8, 17) X(9, 18) X(0, 18) X(0, 9) X(10, 19) X(1, 19) X(1, 10) X(11, 20) \
  X(2, 20) X(2, 11) X(12, 21) X(3, 21) X(3, 12) X(13, 22) X(4, 22) X(4, 13) \
  X(14, 23) X(5, 23) X(5, 14) X(15, 24) X(6, 24) X(6, 15) \
  /* Exchanges 69 to 99. */ \
  X(7, 16) X(7, 19) X(13, 21) X(15, 23) X(7, 13) X(7, 15) X(1, 9) X(3, 11) \
  X(5, 17) X(11, 17) X(9, 17) X(4, 10) X(6, 12) X(7, 14) X(4, 6) X(4, 7) \
  X(12, 14) X(10, 14) X(6, 7) X(10, 12) X(6, 10) X(6, 17) X(12, 17) X(7, 17) \
  X(7, 10) X(12, 18) X(7, 12) X(10, 18) X(12, 20) X(10, 20) X(10, 12)
// clang-format on

// Leaves v[i] <= v[j]. Equal values (zeros of either sign too) stay put; a
// NaN on either side makes the comparison false, so the two are swapped.
TENVORA_FORCE_INLINE void compare_exchange(float* v, int i, int j) {
  if (!(v[j] >= v[i])) {
    const float t = v[i];
    v[i] = v[j];
    v[j] = t;
  }
}

#define TENVORA_SCALAR_EXCHANGE(i, j) compare_exchange(v, i, j);

// The 5th smallest of 9 values.
TENVORA_FORCE_INLINE float median_of_9(float* v) {
  TENVORA_MEDIAN_OF_9_EXCHANGES(TENVORA_SCALAR_EXCHANGE)
  return v[4];
}

// The 13th smallest of 25 values.
TENVORA_FORCE_INLINE float median_of_25(float* v) {
  TENVORA_MEDIAN_OF_25_EXCHANGES(TENVORA_SCALAR_EXCHANGE)
  return v[12];
}

#undef TENVORA_SCALAR_EXCHANGE
