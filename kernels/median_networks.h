// Median networks for 3x3 neighbourhoods and 5x5 blocks: fixed sequences of
// compare-exchange steps that reorder the caller's array in place and return
// its middle element. Results with NaN inputs, and the sign of a zero result,
// depend on the exact sequence and the exact exchange rule, so neither may be
// replaced by a sort.
#pragma once

#include "kernels/force_inline.h"

// Leaves v[i] <= v[j]. Equal values (zeros of either sign too) stay put; a
// NaN on either side makes the comparison false, so the two are swapped.
TENVORA_FORCE_INLINE void compare_exchange(float* v, int i, int j) {
  if (!(v[j] >= v[i])) {
    const float t = v[i];
    v[i] = v[j];
    v[j] = t;
  }
}

// The 5th smallest of 9 values, after 19 exchanges.
TENVORA_FORCE_INLINE float median_of_9(float* v) {
  compare_exchange(v, 1, 2);
  compare_exchange(v, 4, 5);
  compare_exchange(v, 7, 8);
  compare_exchange(v, 0, 1);
  compare_exchange(v, 3, 4);
  compare_exchange(v, 6, 7);
  compare_exchange(v, 1, 2);
  compare_exchange(v, 4, 5);
  compare_exchange(v, 7, 8);
  compare_exchange(v, 0, 3);
  compare_exchange(v, 5, 8);
  compare_exchange(v, 4, 7);
  compare_exchange(v, 3, 6);
  compare_exchange(v, 1, 4);
  compare_exchange(v, 2, 5);
  compare_exchange(v, 4, 7);
  // The higher index first: that is where the smaller value goes.
  compare_exchange(v, 4, 2);
  compare_exchange(v, 6, 4);
  compare_exchange(v, 4, 2);
  return v[4];
}

// The 13th smallest of 25 values, after 99 exchanges.
TENVORA_FORCE_INLINE float median_of_25(float* v) {
  // Exchanges 1 to 23.
  compare_exchange(v, 0, 1);
  compare_exchange(v, 3, 4);
  compare_exchange(v, 2, 4);
  compare_exchange(v, 2, 3);
  compare_exchange(v, 6, 7);
  compare_exchange(v, 5, 7);
  compare_exchange(v, 5, 6);
  compare_exchange(v, 9, 10);
  compare_exchange(v, 8, 10);
  compare_exchange(v, 8, 9);
  compare_exchange(v, 12, 13);
  compare_exchange(v, 11, 13);
  compare_exchange(v, 11, 12);
  compare_exchange(v, 15, 16);
  compare_exchange(v, 14, 16);
  compare_exchange(v, 14, 15);
  compare_exchange(v, 18, 19);
  compare_exchange(v, 17, 19);
  compare_exchange(v, 17, 18);
  compare_exchange(v, 21, 22);
  compare_exchange(v, 20, 22);
  compare_exchange(v, 20, 21);
  compare_exchange(v, 23, 24);
  // Exchanges 24 to 46.
  compare_exchange(v, 2, 5);
  compare_exchange(v, 3, 6);
  compare_exchange(v, 0, 6);
  compare_exchange(v, 0, 3);
  compare_exchange(v, 4, 7);
  compare_exchange(v, 1, 7);
  compare_exchange(v, 1, 4);
  compare_exchange(v, 11, 14);
  compare_exchange(v, 8, 14);
  compare_exchange(v, 8, 11);
  compare_exchange(v, 12, 15);
  compare_exchange(v, 9, 15);
  compare_exchange(v, 9, 12);
  compare_exchange(v, 13, 16);
  compare_exchange(v, 10, 16);
  compare_exchange(v, 10, 13);
  compare_exchange(v, 20, 23);
  compare_exchange(v, 17, 23);
  compare_exchange(v, 17, 20);
  compare_exchange(v, 21, 24);
  compare_exchange(v, 18, 24);
  compare_exchange(v, 18, 21);
  compare_exchange(v, 19, 22);
  // Exchanges 47 to 68.
  compare_exchange(v, 8, 17);
  compare_exchange(v, 9, 18);
  compare_exchange(v, 0, 18);
  compare_exchange(v, 0, 9);
  compare_exchange(v, 10, 19);
  compare_exchange(v, 1, 19);
  compare_exchange(v, 1, 10);
  compare_exchange(v, 11, 20);
  compare_exchange(v, 2, 20);
  compare_exchange(v, 2, 11);
  compare_exchange(v, 12, 21);
  compare_exchange(v, 3, 21);
  compare_exchange(v, 3, 12);
  compare_exchange(v, 13, 22);
  compare_exchange(v, 4, 22);
  compare_exchange(v, 4, 13);
  compare_exchange(v, 14, 23);
  compare_exchange(v, 5, 23);
  compare_exchange(v, 5, 14);
  compare_exchange(v, 15, 24);
  compare_exchange(v, 6, 24);
  compare_exchange(v, 6, 15);
  // Exchanges 69 to 99.
  compare_exchange(v, 7, 16);
  compare_exchange(v, 7, 19);
  compare_exchange(v, 13, 21);
  compare_exchange(v, 15, 23);
  compare_exchange(v, 7, 13);
  compare_exchange(v, 7, 15);
  compare_exchange(v, 1, 9);
  compare_exchange(v, 3, 11);
  compare_exchange(v, 5, 17);
  compare_exchange(v, 11, 17);
  compare_exchange(v, 9, 17);
  compare_exchange(v, 4, 10);
  compare_exchange(v, 6, 12);
  compare_exchange(v, 7, 14);
  compare_exchange(v, 4, 6);
  compare_exchange(v, 4, 7);
  compare_exchange(v, 12, 14);
  compare_exchange(v, 10, 14);
  compare_exchange(v, 6, 7);
  compare_exchange(v, 10, 12);
  compare_exchange(v, 6, 10);
  compare_exchange(v, 6, 17);
  compare_exchange(v, 12, 17);
  compare_exchange(v, 7, 17);
  compare_exchange(v, 7, 10);
  compare_exchange(v, 12, 18);
  compare_exchange(v, 7, 12);
  compare_exchange(v, 10, 18);
  compare_exchange(v, 12, 20);
  compare_exchange(v, 10, 20);
  compare_exchange(v, 10, 12);
  return v[12];
}
