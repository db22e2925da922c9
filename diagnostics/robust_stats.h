// Median and robust noise of a set of pixel values.
#pragma once

#include <vector>

struct RobustStats {
  double median;  // NaN when no value is finite
  double noise;   // 1.4826 x median absolute deviation, at least the floor
};

// NaN and infinite values are left out.
RobustStats robust_stats(std::vector<double> values);
