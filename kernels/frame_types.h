// The frame geometry every plane of a run has, and the records of the two
// searches. Kernels and stages take them as arguments, so several frames can
// be matched at once.
#pragma once

#include <cstdint>

// Every plane is width x height 32-bit floats, row after row; the pixel in
// column x and row y is element x + width * y.
struct FrameGeometry {
  int32_t width;
  int32_t height;
};

// Anchor of the darkest 5x5 block: its second column and second row.
struct BlockAnchor {
  int32_t x;
  int32_t y;
};

// Nine positions, one per cell of a 3x3 grid over the frame.
struct HotPixelList {
  int32_t x[9];
  int32_t y[9];
};
