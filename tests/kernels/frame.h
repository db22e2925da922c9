// Test frames: a plane of the given size with its geometry, and bit-level
// access to its pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/kernels.h"

inline uint32_t bits_of(const float& value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Only for values that are not signalling NaNs: on the 32-bit target a
// returned float may pass through the x87 stack.
inline float float_of(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void set_bits(float* target, uint32_t bits) {
  std::memcpy(target, &bits, sizeof bits);
}

constexpr uint32_t kSignallingNan = 0x7f800001u;

struct Frame {
  Frame(int32_t width, int32_t height, float fill = 0.0f)
      : width(width), height(height), pixels(static_cast<size_t>(width) * height, fill) {}

  FrameGeometry geometry() const { return {width, height}; }

  float& at(int32_t x, int32_t y) { return pixels[x + static_cast<size_t>(width) * y]; }
  float* data() { return pixels.data(); }

  // Sets the 5x5 block with top-left pixel (x0, y0) to one value.
  void fill_block(int32_t x0, int32_t y0, float value) {
    for (int32_t y = y0; y < y0 + 5; ++y)
      for (int32_t x = x0; x < x0 + 5; ++x) at(x, y) = value;
  }

  int32_t width;
  int32_t height;
  std::vector<float> pixels;
};
