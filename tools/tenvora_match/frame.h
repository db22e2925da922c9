// A pixel plane held by the tool: width x height floats, row after row,
// row 0 first (the first row stored in the FITS file).
#pragma once

#include <cstdint>
#include <vector>

struct Frame {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<float> pixels;
};
