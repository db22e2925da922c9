#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/kernels/frame.h"

namespace {

constexpr BlockAnchor kUntouched = {-5, -5};

// Values falling in storage order: every candidate's median is below the
// one before, so the search ends on the last candidate it visits.
void fill_falling(Frame& frame) {
  for (int32_t y = 0; y < frame.height; ++y)
    for (int32_t x = 0; x < frame.width; ++x)
      frame.at(x, y) = static_cast<float>(100000 - (x + frame.width * y));
}

struct GridCase {
  int32_t width, height;
  BlockAnchor last;  // anchor of the last candidate, or kUntouched
};

TEST(FindDarkestBlock, VisitsTheGridThatFitsTheFrame) {
  const GridCase cases[] = {
      {16, 16, {4, 4}},     {20, 20, {4, 4}},     {21, 16, {9, 4}},
      {16, 21, {4, 9}},     {21, 21, {9, 9}},     {26, 30, {14, 14}},
      {15, 40, kUntouched}, {40, 15, kUntouched}, {15, 15, kUntouched},
  };
  for (const GridCase& c : cases) {
    Frame frame(c.width, c.height);
    fill_falling(frame);
    BlockAnchor anchor = kUntouched;
    kernels().find_darkest_block(frame.geometry(), frame.data(), &anchor);
    EXPECT_EQ(anchor.x, c.last.x) << c.width << "x" << c.height;
    EXPECT_EQ(anchor.y, c.last.y) << c.width << "x" << c.height;
  }
}

struct TieCase {
  int32_t first_x0, first_y0, second_x0, second_y0;
};

TEST(FindDarkestBlock, FirstOfEqualBlocksWins) {
  const TieCase cases[] = {
      {3, 3, 8, 3},   // same band: smaller x0
      {13, 3, 3, 8},  // earlier band, though further right
      {8, 8, 13, 13},
  };
  for (const TieCase& c : cases) {
    Frame frame(30, 30, 5.0f);
    frame.fill_block(c.first_x0, c.first_y0, 1.0f);
    frame.fill_block(c.second_x0, c.second_y0, 1.0f);
    BlockAnchor anchor = kUntouched;
    kernels().find_darkest_block(frame.geometry(), frame.data(), &anchor);
    EXPECT_EQ(anchor.x, c.first_x0 + 1);
    EXPECT_EQ(anchor.y, c.first_y0 + 1);
  }
}

TEST(FindDarkestBlock, KeepsTheAnchorWhenNoMedianIsBelow1e30) {
  for (float value : {std::numeric_limits<float>::infinity(), 1e30f, 3e38f}) {
    Frame frame(30, 30, value);
    BlockAnchor anchor = kUntouched;
    kernels().find_darkest_block(frame.geometry(), frame.data(), &anchor);
    EXPECT_EQ(anchor.x, kUntouched.x) << value;
    EXPECT_EQ(anchor.y, kUntouched.y) << value;
  }
}

// Block values 5 y + x with NaN at (0, 1) and (2, 1): the median depends on
// the gather order. Column by column from the last, each column bottom up, it
// is 12, and every other walk of rows and columns gives more than 12 or NaN;
// row by row, each row left to right, it is 13.
void fill_block_with_nans(Frame& frame, int32_t x0, int32_t y0) {
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 5; ++x) frame.at(x0 + x, y0 + y) = static_cast<float>(5 * y + x);
  frame.at(x0, y0 + 1) = std::numeric_limits<float>::quiet_NaN();
  frame.at(x0 + 2, y0 + 1) = std::numeric_limits<float>::quiet_NaN();
}

TEST(FindDarkestBlock, GathersColumnsFromTheLastOne) {
  Frame frame(30, 30, 100.0f);
  fill_block_with_nans(frame, 3, 3);
  frame.fill_block(8, 3, 12.5f);  // beats any other order's median, but not 12
  BlockAnchor anchor = kUntouched;
  kernels().find_darkest_block(frame.geometry(), frame.data(), &anchor);
  EXPECT_EQ(anchor.x, 4);
  EXPECT_EQ(anchor.y, 4);
}

TEST(FindDarkestBlock, NanMedianAlwaysReplacesTheBest) {
  Frame frame(26, 26, std::numeric_limits<float>::quiet_NaN());
  BlockAnchor anchor = kUntouched;
  kernels().find_darkest_block(frame.geometry(), frame.data(), &anchor);
  EXPECT_EQ(anchor.x, 14);
  EXPECT_EQ(anchor.y, 14);
}

// Pixel values x + 100 y: the median of a 5x5 block is its centre pixel, which
// tells which columns and rows were read.
struct LevelCase {
  int32_t width, height;
  BlockAnchor anchor;
  double expected;
};

TEST(GlowLevel, CornerMedianMinusMedianAtTheAnchor) {
  const LevelCase cases[] = {
      // corner rows h-13..h-9, columns 3..7: centre (5, h-11)
      {30, 40, {10, 2}, (5 + 100 * 29) - (12 + 100 * 4)},
      {30, 40, {0, 0}, (5 + 100 * 29) - (2 + 100 * 2)},
      // 12 rows: rows -1..3 read 0, 0, 1, 2, 3, whose 13th smallest is 105
      {20, 12, {0, 0}, 105 - (2 + 100 * 2)},
      // blocks past the frame read its edge
      {20, 20, {18, 18}, (5 + 100 * 9) - (19 + 100 * 19)},
  };
  for (const LevelCase& c : cases) {
    Frame frame(c.width, c.height);
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x) frame.at(x, y) = static_cast<float>(x + 100 * y);
    EXPECT_EQ(glow_level(frame.geometry(), frame.data(), c.anchor), c.expected)
        << c.width << "x" << c.height;
  }
}

TEST(GlowLevel, GathersRowsInAscendingOrder) {
  Frame frame(30, 30, 100.0f);
  fill_block_with_nans(frame, 10, 4);
  EXPECT_EQ(glow_level(frame.geometry(), frame.data(), {10, 4}), 100.0 - 13.0);
}

TEST(GlowLevel, ConstantPlaneHasNoGlow) {
  Frame frame(40, 30, 7.25f);
  BlockAnchor anchor = kUntouched;
  kernels().find_darkest_block(frame.geometry(), frame.data(), &anchor);
  EXPECT_EQ(glow_level(frame.geometry(), frame.data(), anchor), 0.0);
}

TEST(GlowLevel, DifferenceIsNotRoundedToFloat) {
  Frame frame(40, 40, 1.0f);
  const float tiny = std::ldexp(1.0f, -30);
  frame.fill_block(20, 10, tiny);
  EXPECT_EQ(glow_level(frame.geometry(), frame.data(), {20, 10}), 1.0 - std::ldexp(1.0, -30));
}

}  // namespace
