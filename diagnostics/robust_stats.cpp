#include "diagnostics/robust_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "diagnostics/diagnostics.h"

namespace {

// Median of a non-empty set; the mean of the two middle values for an even count.
double median(std::vector<double>& values) {
  const size_t half = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + half, values.end());
  const double upper = values[half];
  if (values.size() % 2 != 0) return upper;
  return 0.5 * (*std::max_element(values.begin(), values.begin() + half) + upper);
}

}  // namespace

RobustStats robust_stats(std::vector<double> values) {
  values.erase(
      std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
      values.end());
  if (values.empty())
    return {std::numeric_limits<double>::quiet_NaN(), diagnostic_limits::noise_floor};
  const double centre = median(values);
  for (double& v : values) v = std::fabs(v - centre);
  return {centre, std::max(diagnostic_limits::mad_to_sigma * median(values),
                           diagnostic_limits::noise_floor)};
}
