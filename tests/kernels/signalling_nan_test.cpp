// Values that the kernels only move must arrive bit for bit, a signalling NaN
// too; on the 32-bit target a pass through the x87 stack would quiet it.
#include <gtest/gtest.h>

#include <array>

#include "tests/kernels/frame.h"

namespace {

TEST(SignallingNan, SurvivesCopyPlane) {
  Frame source(3, 2, 1.0f), destination(3, 2);
  set_bits(&source.at(1, 1), kSignallingNan);
  copy_plane(source.geometry(), source.data(), destination.data());
  EXPECT_EQ(bits_of(destination.at(1, 1)), kSignallingNan);
}

TEST(SignallingNan, SurvivesMedianOf9) {
  std::array<float, 9> v = {0, 1, 2, 3, 0, 5, 6, 7, 8};
  set_bits(&v[4], kSignallingNan);
  const float median = median_of_9(v.data());
  EXPECT_EQ(bits_of(median), kSignallingNan);
}

TEST(SignallingNan, SurvivesMedianOf25) {
  std::array<float, 25> v;
  for (float& value : v) set_bits(&value, kSignallingNan);
  const float median = median_of_25(v.data());
  EXPECT_EQ(bits_of(median), kSignallingNan);
}

TEST(SignallingNan, SurvivesSeparationAsAnInteriorCentre) {
  Frame source(3, 3, 1.0f), destination(3, 3);
  set_bits(&source.at(1, 1), kSignallingNan);
  kernels().separate_hot_pixels(source.geometry(), source.data(), destination.data());
  EXPECT_EQ(bits_of(destination.at(1, 1)), kSignallingNan);
}

}  // namespace
