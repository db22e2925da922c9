#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/kernels/frame.h"

namespace {

HotPixelList all_at(int32_t x, int32_t y) {
  HotPixelList hot;
  for (int k = 0; k < 9; ++k) {
    hot.x[k] = x;
    hot.y[k] = y;
  }
  return hot;
}

void expect_entry(const HotPixelList& hot, int k, int32_t x, int32_t y) {
  EXPECT_EQ(hot.x[k], x) << "entry " << k;
  EXPECT_EQ(hot.y[k], y) << "entry " << k;
}

TEST(FindHotPixels, OneEntryPerCellOfTheGrid) {
  // 10 x 7: cells 3 wide and 2 high over columns 0..8 and rows 0..5; column 9
  // and row 6 belong to no cell.
  Frame frame(10, 7, -1.0f);
  for (int32_t y = 0; y < 7; ++y) frame.at(9, y) = 1000.0f;
  for (int32_t x = 0; x < 10; ++x) frame.at(x, 6) = 1000.0f;
  const int32_t hot[9][2] = {{2, 1}, {3, 0}, {8, 1}, {0, 2}, {4, 3},
                             {6, 2}, {1, 5}, {5, 4}, {8, 5}};
  for (int k = 0; k < 9; ++k) frame.at(hot[k][0], hot[k][1]) = static_cast<float>(10 + k);
  HotPixelList found = all_at(-1, -1);
  EXPECT_EQ(kernels().find_hot_pixels(frame.geometry(), frame.data(), &found), 0x1ffu);
  for (int k = 0; k < 9; ++k) expect_entry(found, k, hot[k][0], hot[k][1]);
}

TEST(FindHotPixels, CellsWithoutAPositivePixelKeepTheirEntries) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Frame frame(9, 9, 0.0f);
  frame.at(1, 1) = -5.0f;  // cell 0: nothing above 0
  frame.at(4, 1) = nan;    // cell 1: NaN never qualifies
  frame.at(7, 1) = 0.5f;   // cell 2 is found
  HotPixelList hot = all_at(77, 88);
  EXPECT_EQ(kernels().find_hot_pixels(frame.geometry(), frame.data(), &hot), 1u << 2);
  expect_entry(hot, 0, 77, 88);
  expect_entry(hot, 1, 77, 88);
  expect_entry(hot, 2, 7, 1);
  for (int k = 3; k < 9; ++k) expect_entry(hot, k, 77, 88);
}

TEST(FindHotPixels, FramesWithEmptyCellsWriteNothing) {
  const std::pair<int32_t, int32_t> sizes[] = {{2, 9}, {9, 2}, {1, 1}};
  for (const auto& [width, height] : sizes) {
    Frame frame(width, height, 5.0f);
    HotPixelList hot = all_at(77, 88);
    EXPECT_EQ(kernels().find_hot_pixels(frame.geometry(), frame.data(), &hot), 0u);
    for (int k = 0; k < 9; ++k) expect_entry(hot, k, 77, 88);
  }
}

TEST(FindHotPixels, FirstOfEqualMaximaWins) {
  Frame frame(6, 6, 1.0f);
  frame.at(1, 1) = 9.0f;  // cell 0: same row, smaller x wins
  frame.at(0, 1) = 9.0f;
  frame.at(3, 1) = 9.0f;  // cell 1: earlier row wins
  frame.at(2, 0) = 9.0f;
  HotPixelList hot = all_at(-1, -1);
  kernels().find_hot_pixels(frame.geometry(), frame.data(), &hot);
  expect_entry(hot, 0, 0, 1);
  expect_entry(hot, 1, 2, 0);
  expect_entry(hot, 4, 2, 2);  // all equal: the cell's first pixel
}

struct NeighbourCase {
  int32_t x, y;
  float expected;
};

TEST(NeighbourMedian, ReplacesTheCentreAndClampsAtTheEdges) {
  // Pixel values x + 10 y on a 3 x 3 frame with a hot centre of 1000.
  Frame frame(3, 3);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) frame.at(x, y) = static_cast<float>(x + 10 * y);
  frame.at(1, 1) = 1000.0f;
  const NeighbourCase cases[] = {
      // 0, 1, 2, 10, (1+12+10+21)/4 = 11, 12, 20, 21, 22: the centre is not read
      {1, 1, 11.0f},
      // at (0, 0): 10, 10, 1000, 0, (0+1+0+10)/4 = 2.75, 1, 0, 0, 1
      {0, 0, 1.0f},
      // at (2, 2): 21, 22, 22, 21, (12+22+21+22)/4 = 19.25, 22, 1000, 12, 12
      {2, 2, 21.0f},
  };
  for (const NeighbourCase& c : cases)
    EXPECT_EQ(neighbour_median(frame.geometry(), frame.data(), c.x, c.y), c.expected)
        << "at (" << c.x << ", " << c.y << ")";
}

TEST(NeighbourMedian, GathersTheRowBelowFirst) {
  // Values 3 y + x around (1, 1), substitute 4, and a NaN in one corner: the
  // median depends on the order of the gather.
  const struct {
    int32_t nan_x, nan_y;
    float expected;
  } cases[] = {{0, 0, 4.0f}, {2, 2, 4.0f}};
  for (const auto& c : cases) {
    Frame frame(3, 3);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 3; ++x) frame.at(x, y) = static_cast<float>(3 * y + x);
    frame.at(c.nan_x, c.nan_y) = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(neighbour_median(frame.geometry(), frame.data(), 1, 1), c.expected)
        << c.nan_x << ", " << c.nan_y;
  }
}

TEST(NeighbourMedian, IsolatedPixelHasZeroBackground) {
  Frame frame(5, 5, 0.0f);
  frame.at(2, 2) = 50.0f;
  EXPECT_EQ(neighbour_median(frame.geometry(), frame.data(), 2, 2), 0.0f);
}

TEST(NeighbourMedian, SubstituteIsSummedInDoubleAndRoundedOnce) {
  // Edge neighbours 1 and three times 2^-24: summed in float the sum stays 1
  // and the substitute is 0.25; in double it is 0.25 + 3 * 2^-26, which
  // rounds to 0.25 + 2^-24. Corners 0, 2, 2, 2 make it the median.
  const float e = std::ldexp(1.0f, -24);
  Frame frame(3, 3);
  const float values[9] = {0.0f, 1.0f, 2.0f, e, 99.0f, e, 2.0f, e, 2.0f};
  for (int i = 0; i < 9; ++i) frame.pixels[i] = values[i];
  EXPECT_EQ(neighbour_median(frame.geometry(), frame.data(), 1, 1), 0.25f + e);
}

TEST(MeansAtHotPixels, ConstantOneGivesNineTimesTheFloatNinth) {
  Frame frame(12, 12, 1.0f);
  HotPixelList hot = all_at(-1, -1);
  kernels().find_hot_pixels(frame.geometry(), frame.data(), &hot);
  const double expected = 9.0 * static_cast<double>(0.111111112f);
  EXPECT_EQ(mean_at_hot_pixels(frame.geometry(), frame.data(), hot), expected);
  EXPECT_EQ(mean_background_at_hot_pixels(frame.geometry(), frame.data(), hot), expected);
  EXPECT_NE(expected, 1.0);
  EXPECT_EQ(static_cast<float>(expected), 1.0f);
}

TEST(MeansAtHotPixels, SumIsRoundedToFloatAfterEachAddition) {
  // 1 then eight times 2^-24: each addition is a tie that goes back to 1.
  Frame frame(9, 1, std::ldexp(1.0f, -24));
  frame.at(0, 0) = 1.0f;
  HotPixelList hot;
  for (int k = 0; k < 9; ++k) {
    hot.x[k] = k;
    hot.y[k] = 0;
  }
  EXPECT_EQ(mean_at_hot_pixels(frame.geometry(), frame.data(), hot),
            static_cast<double>(0.111111112f));
}

TEST(MeansAtHotPixels, PositionsFromALargerFrameReadTheEdge) {
  Frame frame(4, 4, 0.0f);
  frame.at(3, 3) = 9.0f;
  EXPECT_EQ(mean_at_hot_pixels(frame.geometry(), frame.data(), all_at(50, 60)),
            81.0 * static_cast<double>(0.111111112f));
}

}  // namespace
