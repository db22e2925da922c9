#include "combining/sort_network.h"

#include <xmmintrin.h>

SortNetwork sort_network(int count) {
  // Knuth, The Art of Computer Programming, 5.2.2, Algorithm M.
  SortNetwork network;
  int t = 0;
  while ((1 << t) < count) ++t;
  for (int p = t > 0 ? 1 << (t - 1) : 0; p > 0; p >>= 1) {
    int q = 1 << (t - 1), r = 0, d = p;
    while (d > 0) {
      for (int i = 0; i + d < count; ++i)
        if ((i & p) == r) network.emplace_back(i, i + d);
      d = q - p;
      q >>= 1;
      r = p;
    }
  }
  return network;
}

void sort_lanes(const SortNetwork& network, float* values) {
  for (const auto& [low, high] : network) {
    const __m128 a = _mm_loadu_ps(values + low * kLanes);
    const __m128 b = _mm_loadu_ps(values + high * kLanes);
    _mm_storeu_ps(values + low * kLanes, _mm_min_ps(a, b));
    _mm_storeu_ps(values + high * kLanes, _mm_max_ps(a, b));
  }
}
