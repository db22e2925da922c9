// Frames combined strip by strip: each job reads a strip of rows of every
// frame, then combines it into the output while the next job reads.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "combining/combine_rule.h"

// Reads rows first to first + rows - 1 of a frame into to (width x rows).
using RowReader = std::function<void(int32_t first, int32_t rows, float* to)>;

struct StripPlan {
  int32_t width = 0, height = 0;
  int jobs = 1;
  int32_t strip_rows = 0;  // 0: strip_rows_for
};

// Rows per strip: one strip of every frame about 8 MiB, at least one row.
int32_t strip_rows_for(int32_t width, size_t frames);

// Combines the frames (minus bias, when given, read alike) into out (width x
// height), on plan.jobs threads. Frames are read one reader at a time, each
// strip in increasing row order, so a reader can stream its file. Returns,
// per frame, the values the clipping dropped. An exception of a reader stops
// every job and is thrown on.
// progress, when given, is called after each strip with the rows done
// (from the reading thread, one call at a time).
std::vector<long long> combine_strips(const StripPlan& plan, const std::vector<RowReader>& frames,
                                      const RowReader& bias, const CombineRule& rule, float* out,
                                      const std::function<void(int32_t rows_done)>& progress = {});
