#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "tests/kernels/frame.h"

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// The exchange lists as data, run by a plain interpreter: the straight-line
// networks must leave every array exactly as these do.
const std::vector<std::pair<int, int>> kPairsOf9 = {
    {1, 2}, {4, 5}, {7, 8}, {0, 1}, {3, 4}, {6, 7}, {1, 2}, {4, 5}, {7, 8}, {0, 3},
    {5, 8}, {4, 7}, {3, 6}, {1, 4}, {2, 5}, {4, 7}, {4, 2}, {6, 4}, {4, 2}};

const std::vector<std::pair<int, int>> kPairsOf25 = {
    {0, 1},   {3, 4},   {2, 4},   {2, 3},   {6, 7},   {5, 7},   {5, 6},   {9, 10},  {8, 10},
    {8, 9},   {12, 13}, {11, 13}, {11, 12}, {15, 16}, {14, 16}, {14, 15}, {18, 19}, {17, 19},
    {17, 18}, {21, 22}, {20, 22}, {20, 21}, {23, 24}, {2, 5},   {3, 6},   {0, 6},   {0, 3},
    {4, 7},   {1, 7},   {1, 4},   {11, 14}, {8, 14},  {8, 11},  {12, 15}, {9, 15},  {9, 12},
    {13, 16}, {10, 16}, {10, 13}, {20, 23}, {17, 23}, {17, 20}, {21, 24}, {18, 24}, {18, 21},
    {19, 22}, {8, 17},  {9, 18},  {0, 18},  {0, 9},   {10, 19}, {1, 19},  {1, 10},  {11, 20},
    {2, 20},  {2, 11},  {12, 21}, {3, 21},  {3, 12},  {13, 22}, {4, 22},  {4, 13},  {14, 23},
    {5, 23},  {5, 14},  {15, 24}, {6, 24},  {6, 15},  {7, 16},  {7, 19},  {13, 21}, {15, 23},
    {7, 13},  {7, 15},  {1, 9},   {3, 11},  {5, 17},  {11, 17}, {9, 17},  {4, 10},  {6, 12},
    {7, 14},  {4, 6},   {4, 7},   {12, 14}, {10, 14}, {6, 7},   {10, 12}, {6, 10},  {6, 17},
    {12, 17}, {7, 17},  {7, 10},  {12, 18}, {7, 12},  {10, 18}, {12, 20}, {10, 20}, {10, 12}};

void run_network(const std::vector<std::pair<int, int>>& pairs, uint32_t* v) {
  for (const auto& [i, j] : pairs) {
    if (!(float_of(v[j]) >= float_of(v[i]))) std::swap(v[i], v[j]);
  }
}

template <size_t N>
float run_kernel(std::array<float, N>& v) {
  if constexpr (N == 9)
    return median_of_9(v.data());
  else
    return median_of_25(v.data());
}

struct Listed9 {
  std::array<float, 9> input;
  uint32_t expected;
};

TEST(MedianOf9, ListedResults) {
  const Listed9 cases[] = {
      {{0, 1, 2, 3, 4, 5, 6, 7, 8}, bits_of(4.0f)},
      {{8, 7, 6, 5, 4, 3, 2, 1, 0}, bits_of(4.0f)},
      {{kNan, 1, 2, 3, 4, 5, 6, 7, 8}, bits_of(5.0f)},
      {{1, 2, 3, 4, 5, 6, 7, 8, kNan}, bits_of(4.0f)},
      {{0, 1, 2, 3, kNan, 5, 6, 7, 8}, bits_of(kNan)},
      {{-0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f}, 0x80000000u},
      {{0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f}, 0x00000000u},
  };
  for (const Listed9& c : cases) {
    std::array<float, 9> v = c.input;
    const float median = median_of_9(v.data());
    EXPECT_EQ(bits_of(median), c.expected) << ::testing::PrintToString(c.input);
  }
}

TEST(MedianOf9, EqualValuesStayInPlace) {
  std::array<float, 9> v;
  v.fill(2.5f);
  EXPECT_EQ(median_of_9(v.data()), 2.5f);
  for (float value : v) EXPECT_EQ(bits_of(value), bits_of(2.5f));
}

TEST(MedianOf25, ListedResults) {
  std::array<float, 25> descending, nan_first;
  for (int i = 0; i < 25; ++i) {
    descending[i] = static_cast<float>(24 - i);
    nan_first[i] = static_cast<float>(i);
  }
  nan_first[0] = kNan;
  EXPECT_EQ(median_of_25(descending.data()), 12.0f);
  EXPECT_EQ(median_of_25(nan_first.data()), 13.0f);
}

// Values drawn from a small pool give many ties, signed zeros among them.
float draw(std::mt19937& random, bool with_nans) {
  static const float pool[] = {-0.0f, 0.0f, 1.0f, -1.0f, 2.0f, 1e-45f, -kInf, kInf, 3.0e38f};
  const int kinds = with_nans ? 4 : 3;
  switch (std::uniform_int_distribution<int>(0, kinds - 1)(random)) {
    case 0:
      return pool[std::uniform_int_distribution<int>(0, 8)(random)];
    case 1:
      return static_cast<float>(std::uniform_int_distribution<int>(-3, 3)(random));
    case 2:
      return std::uniform_real_distribution<float>(-1e6f, 1e6f)(random);
    default:
      return float_of(0x7fc00000u | std::uniform_int_distribution<uint32_t>(0, 0x3fffff)(random));
  }
}

template <typename T>
class MedianNetwork : public ::testing::Test {};

using Sizes =
    ::testing::Types<std::integral_constant<size_t, 9>, std::integral_constant<size_t, 25>>;
TYPED_TEST_SUITE(MedianNetwork, Sizes);

TYPED_TEST(MedianNetwork, ReturnsTheTrueMedianWithoutNans) {
  constexpr size_t n = TypeParam::value;
  std::mt19937 random(n);
  for (int round = 0; round < 20000; ++round) {
    std::array<float, n> v;
    for (float& value : v) value = draw(random, false);
    std::array<float, n> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    const float median = run_kernel(v);
    EXPECT_EQ(median, sorted[n / 2]) << ::testing::PrintToString(sorted);
    std::sort(v.begin(), v.end());
    EXPECT_EQ(v, sorted) << "the network lost or duplicated a value";
    if (this->HasFailure()) break;
  }
}

TYPED_TEST(MedianNetwork, FollowsTheExchangeListBitForBit) {
  constexpr size_t n = TypeParam::value;
  const auto& pairs = n == 9 ? kPairsOf9 : kPairsOf25;
  std::mt19937 random(n + 1);
  for (int round = 0; round < 20000; ++round) {
    std::array<float, n> v;
    std::array<uint32_t, n> expected;
    for (size_t i = 0; i < n; ++i) {
      v[i] = draw(random, true);
      expected[i] = bits_of(v[i]);
    }
    run_network(pairs, expected.data());
    const float median = run_kernel(v);
    EXPECT_EQ(bits_of(median), expected[n / 2]);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(bits_of(v[i]), expected[i]) << "element " << i;
    if (this->HasFailure()) break;
  }
}

}  // namespace
