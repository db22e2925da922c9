#include "combining/sort_network.h"

SortNetwork sort_network(int count) {
  SortNetwork network;
  merge_exchange(count, [&](int i, int j) { network.emplace_back(i, j); });
  return network;
}
