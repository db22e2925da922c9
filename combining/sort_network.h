// Sorting the values of several pixels at once: a fixed sequence of
// compare-exchanges (Batcher's merge exchange, for any count) applied to
// vectors whose lanes are the pixels.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

// Knuth, The Art of Computer Programming, 5.2.2, Algorithm M: calls
// exchange(i, j), i < j, for each step in order.
template <class Exchange>
constexpr void merge_exchange(int count, Exchange&& exchange) {
  int t = 0;
  while ((1 << t) < count) ++t;
  for (int p = t > 0 ? 1 << (t - 1) : 0; p > 0; p >>= 1) {
    int q = 1 << (t - 1), r = 0, d = p;
    while (d > 0) {
      for (int i = 0; i + d < count; ++i)
        if ((i & p) == r) exchange(i, i + d);
      d = q - p;
      q >>= 1;
      r = p;
    }
  }
}

using SortNetwork = std::vector<std::pair<uint32_t, uint32_t>>;

SortNetwork sort_network(int count);

// The network for a count known when compiling, for unrolled sorts.
template <int count>
struct FixedNetwork {
  static constexpr int size() {
    int steps = 0;
    merge_exchange(count, [&](int, int) { ++steps; });
    return steps;
  }
  static constexpr std::array<std::pair<uint8_t, uint8_t>, size()> steps() {
    std::array<std::pair<uint8_t, uint8_t>, size()> network{};
    int at = 0;
    merge_exchange(count, [&](int i, int j) {
      network[at].first = static_cast<uint8_t>(i);
      network[at].second = static_cast<uint8_t>(j);
      ++at;
    });
    return network;
  }
  static constexpr auto kSteps = steps();
};
