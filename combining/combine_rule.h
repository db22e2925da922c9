// How the frames' values of one pixel become the master's value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "combining/sort_network.h"

enum class CombineMethod { sigma_clip, median, mean };

// The method's name on the command line and in headers, and back (false for
// an unknown name).
const char* method_name(CombineMethod method);
bool method_of(const std::string& name, CombineMethod* method);

struct CombineRule {
  CombineMethod method = CombineMethod::sigma_clip;
  double kappa = 3.0;
};

// The robust sigma is this times the median absolute deviation.
constexpr double kMadToSigma = 1.4826;
constexpr int kClipRounds = 5;

// Values that are not finite (NaN, infinities) are left out; a pixel with no
// value left is NaN. sigma-clip: of the values kept, the median m and the
// robust sigma s; those with |v - m| > kappa x s are dropped, and again
// until none is, for at most kClipRounds rounds; nothing is dropped when
// fewer than 3 values are kept or s is 0; the mean of the rest. median: of
// an even count, the mean of the middle two. Sums and medians in double.

// The kept values of n sorted ones (stride floats apart): [first, end).
struct KeptRange {
  int first, end;
};
KeptRange clip_sorted(const float* sorted, int stride, int n, double kappa);
double median_sorted(const float* sorted, int stride, int first, int end);

// Combines the values of count pixels of the frames (frames[f][i]) into
// out[i]; with sigma-clip adds to clipped[f] the values of frame f dropped.
// The same values give the same result wherever they stand in the strip.
class PixelCombiner {
 public:
  PixelCombiner(const CombineRule& rule, int frames);
  void combine(const float* const* frames, size_t count, float* out, long long* clipped);

 private:
  // kLanes pixels from frames[f][at] on, out[0] to out[kLanes - 1].
  void combine_group(const float* const* frames, size_t at, float* out, long long* clipped);
  void finish_clipped(const float* const* frames, size_t at, const int32_t* n, const int32_t* first,
                      const int32_t* end, float* out, long long* clipped);
  void combine_mean(const float* const* frames, size_t count, float* out);

  CombineRule rule_;
  int frames_;
  SortNetwork network_;
  std::vector<float> lanes_;  // frames_ x kLanes values being sorted
  std::vector<float> tail_;   // a last partial group, padded
  std::vector<const float*> tail_frames_;
};
