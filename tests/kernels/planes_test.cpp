#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "tests/kernels/frame.h"

namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

struct ClampCase {
  int32_t x, y;            // asked for
  int32_t read_x, read_y;  // pixel that must come back
};

TEST(PixelAt, ClampsEachCoordinateToTheFrame) {
  Frame frame(10, 10);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 10; ++x) frame.at(x, y) = static_cast<float>(x + 100 * y);
  const ClampCase cases[] = {
      {-1, -1, 0, 0}, {10, 10, 9, 9},     {-7, 2, 0, 2},      {3, 1000000, 3, 9},
      {4, 5, 4, 5},   {kMin, kMax, 0, 9}, {kMax, kMin, 9, 0}, {9, -1, 9, 0},
  };
  for (const ClampCase& c : cases)
    EXPECT_EQ(pixel_at(frame.geometry(), frame.data(), c.x, c.y), frame.at(c.read_x, c.read_y))
        << "at (" << c.x << ", " << c.y << ")";
}

TEST(PixelAt, OnePixelFrameAnswersEveryCoordinate) {
  Frame frame(1, 1, 42.0f);
  for (int32_t x : {kMin, -1, 0, 1, kMax})
    for (int32_t y : {kMin, -1, 0, 1, kMax})
      EXPECT_EQ(pixel_at(frame.geometry(), frame.data(), x, y), 42.0f);
}

// A frame without pixels has no plane to read: null planes must not be touched.
class EmptyFrame : public ::testing::TestWithParam<std::pair<int32_t, int32_t>> {};

TEST_P(EmptyFrame, NoKernelReadsOrWritesAPlane) {
  const FrameGeometry frame = {GetParam().first, GetParam().second};
  BlockAnchor anchor = {1, 2};
  HotPixelList hot = {{3}, {4}};
  float* none = nullptr;
  EXPECT_EQ(pixel_at(frame, none, 0, 0), 0.0f);
  copy_plane(frame, none, none);
  for (const KernelTable* path : {&reference_kernels, &kernels()}) {
    path->subtract_plane(frame, none, none);
    path->add_plane(frame, none, none);
    path->separate_hot_pixels(frame, none, none);
    path->find_darkest_block(frame, none, &anchor);
    EXPECT_EQ(path->find_hot_pixels(frame, none, &hot), 0u);
  }
  kernels().split_dark_frame(frame, none, none, none, none);
  kernels().subtract_plane_times(frame, none, none, none, 2);
  kernels().scale_and_sum(frame, none, 1.0f, none, 1.0f, none, 2, none, none, none);
  kernels().difference_plane(frame, none, none, none);
  EXPECT_EQ(glow_level(frame, none, anchor), 0.0);
  EXPECT_EQ(neighbour_median(frame, none, 5, 5), 0.0f);
  EXPECT_EQ(mean_at_hot_pixels(frame, none, hot), 0.0);
  EXPECT_EQ(mean_background_at_hot_pixels(frame, none, hot), 0.0);
  EXPECT_EQ(anchor.x, 1);
  EXPECT_EQ(hot.y[0], 4);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EmptyFrame,
                         ::testing::Values(std::make_pair(0, 0), std::make_pair(0, 7),
                                           std::make_pair(7, 0), std::make_pair(-3, -3),
                                           std::make_pair(-1, 5)));

TEST(CopyPlane, MovesBitPatterns) {
  const uint32_t patterns[] = {0x7fc12345u, 0xffa00001u, kSignallingNan, 0x80000000u,
                               0x00000001u, 0x807fffffu, 0x7f800000u,    0x3f800000u};
  Frame source(4, 2), destination(4, 2, 9.0f);
  for (int i = 0; i < 8; ++i) set_bits(&source.pixels[i], patterns[i]);
  copy_plane(source.geometry(), source.data(), destination.data());
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(bits_of(destination.pixels[i]), patterns[i]) << i;
    EXPECT_EQ(bits_of(source.pixels[i]), patterns[i]) << i;
  }
  copy_plane(destination.geometry(), destination.data(), destination.data());
  for (int i = 0; i < 8; ++i) EXPECT_EQ(bits_of(destination.pixels[i]), patterns[i]) << i;
}

enum class Op { kAdd, kSubtract };

struct ArithmeticCase {
  Op op;
  float a, b;
  uint32_t expected;
};

TEST(PlaneArithmetic, RoundsEachResultToNearestEven) {
  const float two24 = 16777216.0f;
  const float inf = std::numeric_limits<float>::infinity();
  const ArithmeticCase cases[] = {
      {Op::kAdd, two24, 1.0f, bits_of(two24)},
      {Op::kAdd, two24, 3.0f, bits_of(two24 + 4.0f)},
      {Op::kSubtract, two24 + 2.0f, 1.0f, bits_of(two24)},         // 2^24 + 1 goes to even
      {Op::kSubtract, two24 + 6.0f, 1.0f, bits_of(two24 + 4.0f)},  // 2^24 + 5 goes to even
      {Op::kAdd, FLT_MAX, FLT_MAX, bits_of(inf)},
      {Op::kSubtract, inf, inf, 0},  // NaN, checked below
      {Op::kSubtract, -0.0f, -0.0f, 0x00000000u},
      {Op::kAdd, -0.0f, -0.0f, 0x80000000u},
      {Op::kAdd, 1e-45f, 1e-45f, 0x00000002u},
  };
  for (const ArithmeticCase& c : cases) {
    Frame a(1, 1, c.a), b(1, 1, c.b);
    if (c.op == Op::kAdd)
      kernels().add_plane(a.geometry(), a.data(), b.data());
    else
      kernels().subtract_plane(a.geometry(), a.data(), b.data());
    if (std::isinf(c.a) && std::isinf(c.b))
      EXPECT_TRUE(std::isnan(a.pixels[0]));
    else
      EXPECT_EQ(bits_of(a.pixels[0]), c.expected)
          << c.a << (c.op == Op::kAdd ? " + " : " - ") << c.b;
    EXPECT_EQ(bits_of(b.pixels[0]), bits_of(c.b));
  }
}

TEST(PlaneArithmetic, SamePlaneOnBothSides) {
  const float inf = std::numeric_limits<float>::infinity();
  const float values[] = {1.5f, -3.0f, 0.0f, -0.0f, FLT_MAX, inf, -inf, std::nanf("")};
  Frame differences(4, 2), sums(4, 2);
  for (int i = 0; i < 8; ++i) differences.pixels[i] = sums.pixels[i] = values[i];
  kernels().subtract_plane(differences.geometry(), differences.data(), differences.data());
  kernels().add_plane(sums.geometry(), sums.data(), sums.data());
  for (int i = 0; i < 8; ++i) {
    if (std::isfinite(values[i])) {
      EXPECT_EQ(bits_of(differences.pixels[i]), 0u) << values[i];
    } else {
      EXPECT_TRUE(std::isnan(differences.pixels[i])) << values[i];
    }
    if (!std::isnan(values[i])) {
      EXPECT_EQ(sums.pixels[i], values[i] * 2.0f) << values[i];
    }
  }
  EXPECT_EQ(sums.pixels[4], inf);
}

TEST(PlaneArithmetic, RepeatedCallsRoundEveryTime) {
  Frame a(1, 1, 16777216.0f), one(1, 1, 1.0f);
  kernels().add_plane(a.geometry(), a.data(), one.data());
  kernels().add_plane(a.geometry(), a.data(), one.data());
  EXPECT_EQ(a.pixels[0], 16777216.0f);  // 2^24 + 2 if held wider between calls
}

}  // namespace
