// A pixel plane held by the tool: width x height floats, row after row,
// row 0 first (the first row stored in the FITS file).
#pragma once

#include <cstdint>
#include <vector>

#include "fits/plane_memory.h"

// How a file stored the pixels: BITPIX, and value = BZERO + BSCALE x stored.
struct PixelStorage {
  int bitpix = -32;
  double bzero = 0.0, bscale = 1.0;
};

struct Frame {
  int32_t width = 0;
  int32_t height = 0;
  Pixels pixels;
  PixelStorage storage{};  // of the file read; -32 for frames made in memory
};
