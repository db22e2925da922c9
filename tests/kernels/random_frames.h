// Random frames full of the values that decide exchanges and comparisons:
// NaN with several payloads (signalling too, of either sign), infinities,
// zeros of either sign, subnormals, small integers that tie, and ordinary
// values. Pixels are written as bit patterns, so nothing quiets a NaN.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "tests/kernels/frame.h"

// How many pixels are special values, in percent; the rest are small
// integers (ties) and ordinary values around them.
inline uint32_t random_pixel(std::mt19937& random, int special_percent) {
  const uint32_t sign = (random() & 1u) << 31;
  if (static_cast<int>(random() % 100) < special_percent) {
    switch (random() % 6) {
      case 0:  // quiet NaN, random payload
        return sign | 0x7fc00000u | (random() & 0x3fffffu);
      case 1:  // signalling NaN, random non-zero payload
        return sign | 0x7f800000u | (1u + random() % 0x3fffffu);
      case 2:
        return sign | 0x7f800000u;  // infinity
      case 3:
        return sign;  // zero
      case 4:
        return sign | (random() & 0x7fffffu);  // subnormal
      default:
        return sign | 0x7f7fffffu;  // the greatest finite value
    }
  }
  if (random() % 2) return bits_of(static_cast<float>(static_cast<int>(random() % 9) - 3));
  return bits_of(std::uniform_real_distribution<float>(-8.0f, 8.0f)(random));
}

inline void fill_randomly(Frame& frame, std::mt19937& random, int special_percent) {
  for (float& pixel : frame.pixels) set_bits(&pixel, random_pixel(random, special_percent));
}

// The same mix without NaN, so the vector networks take their NaN-free path:
// zeros of either sign, infinities, subnormals and the greatest value, which
// tie often, among small integers and ordinary values.
inline void fill_without_nan(Frame& frame, std::mt19937& random, int special_percent) {
  for (float& pixel : frame.pixels) {
    uint32_t pattern;
    do pattern = random_pixel(random, special_percent);
    while ((pattern & 0x7fffffffu) > 0x7f800000u);
    set_bits(&pixel, pattern);
  }
}

// The pixels' bit patterns, for comparisons that tell NaN payloads and the
// sign of zero apart.
inline std::vector<uint32_t> patterns(const Frame& frame) {
  std::vector<uint32_t> result;
  for (const float& pixel : frame.pixels) result.push_back(bits_of(pixel));
  return result;
}

// Widths and heights that reach every tail and border of four- and
// eight-lane vectors: 1 to 20, around multiples of the lanes, and a few
// larger odd sizes.
inline std::vector<int32_t> telling_lengths() {
  std::vector<int32_t> lengths;
  for (int32_t n = 1; n <= 20; ++n) lengths.push_back(n);
  for (int32_t n : {23, 31, 33, 34, 35, 41, 42, 43, 57, 66, 67, 91, 97}) lengths.push_back(n);
  return lengths;
}
