// Sorting the values of several pixels at once: a fixed sequence of
// compare-exchanges (Batcher's merge exchange, for any count) applied to
// vectors whose lanes are the pixels.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

constexpr int kLanes = 4;

using SortNetwork = std::vector<std::pair<uint32_t, uint32_t>>;

SortNetwork sort_network(int count);

// Sorts count = network's size vectors of kLanes floats (values[k * kLanes +
// lane]) lane by lane, ascending. NaN must not be among them.
void sort_lanes(const SortNetwork& network, float* values);
