#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/kernels/frame.h"

namespace {

struct CentreCase {
  float neighbours;  // all eight
  float centre;
  float written;
};

TEST(SeparateHotPixels, DecidesOnTheSignedQuotientInDouble) {
  const CentreCase cases[] = {
      {2.0f, 10.0f, 2.0f},
      {4.0f, 5.0f, 5.0f},  // exactly 1.25 stays
      {0.0f, 2.0f, 1.0f},  // zero median becomes 1.0, and 1.0 is written
      {-0.0f, 2.0f, 1.0f},
      {0.0f, 1.2f, 1.2f},
      {0.0f, 0.0f, 0.0f},
      {-2.0f, -3.0f, -2.0f},
      {-2.0f, 3.0f, 3.0f},
      {2.0f, -3.0f, -3.0f},
      // Just above 1.25, though the quotient rounds to 1.25 in single precision.
      {8388607.0f, 10485759.0f, 8388607.0f},
      {8388608.0f, 10485760.0f, 10485760.0f},
  };
  for (const CentreCase& c : cases) {
    Frame source(3, 3, c.neighbours), destination(3, 3, -7.0f);
    source.at(1, 1) = c.centre;
    kernels().separate_hot_pixels(source.geometry(), source.data(), destination.data());
    EXPECT_EQ(bits_of(destination.at(1, 1)), bits_of(c.written))
        << c.centre << " among " << c.neighbours;
    for (int i = 0; i < 9; ++i)
      if (i != 4) {
        EXPECT_EQ(bits_of(destination.pixels[i]), bits_of(c.neighbours)) << i;
      }
  }
}

TEST(SeparateHotPixels, NanCentreStaysNan) {
  Frame source(3, 3, 1.0f), destination(3, 3);
  source.at(1, 1) = std::numeric_limits<float>::quiet_NaN();
  kernels().separate_hot_pixels(source.geometry(), source.data(), destination.data());
  EXPECT_TRUE(std::isnan(destination.at(1, 1)));
}

// One hot pixel on a flat frame, at every position of frames of several sizes:
// it is removed in the interior and copied on the border, and frames under 3
// wide or high come out as exact copies.
TEST(SeparateHotPixels, FiltersTheInteriorAndCopiesTheBorder) {
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 4}, {4, 1}, {2, 5}, {5, 2},
                                               {3, 3}, {4, 4}, {6, 5}, {5, 6}};
  for (const auto& [width, height] : sizes) {
    for (int32_t hot_y = 0; hot_y < height; ++hot_y) {
      for (int32_t hot_x = 0; hot_x < width; ++hot_x) {
        Frame source(width, height, 1.0f), destination(width, height, -7.0f);
        source.at(hot_x, hot_y) = 10.0f;
        const Frame original = source;
        kernels().separate_hot_pixels(source.geometry(), source.data(), destination.data());
        const bool interior = hot_x > 0 && hot_y > 0 && hot_x < width - 1 && hot_y < height - 1;
        for (int32_t y = 0; y < height; ++y)
          for (int32_t x = 0; x < width; ++x) {
            const bool removed = interior && x == hot_x && y == hot_y;
            EXPECT_EQ(destination.at(x, y), removed ? 1.0f : source.at(x, y))
                << width << "x" << height << " hot at (" << hot_x << ", " << hot_y << "), pixel ("
                << x << ", " << y << ")";
          }
        EXPECT_EQ(source.pixels, original.pixels);
        if (HasFailure()) return;
      }
    }
  }
}

}  // namespace
