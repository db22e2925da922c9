// Every vector path against the straightforward kernels, bit for bit, on
// the same random frames: NaN payloads, signed zeros and every tail.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "kernels/kernels.h"
#include "kernels/nan_order.h"
#include "kernels/vector_sse2.h"
#include "tests/kernels/random_frames.h"

namespace {

const KernelTable& kReference = reference_kernels;

class VectorPath : public testing::TestWithParam<const KernelTable*> {
 protected:
  void SetUp() override {
    if (GetParam() == &avx2_kernels && !cpu_has_avx2()) GTEST_SKIP() << "no AVX2 on this processor";
  }
};

// A negative percentage asks for that many special values but no NaN, so
// whole vectors take the NaN-free networks on frames full of signed zeros
// and ties.
void fill(Frame& frame, std::mt19937& random, int special_percent) {
  if (special_percent < 0)
    fill_without_nan(frame, random, -special_percent);
  else
    fill_randomly(frame, random, special_percent);
}

std::string size_text(int32_t width, int32_t height, int special_percent) {
  return std::to_string(width) + " x " + std::to_string(height) + ", " +
         std::to_string(special_percent < 0 ? -special_percent : special_percent) + "% special" +
         (special_percent < 0 ? ", no NaN" : "");
}

TEST_P(VectorPath, SeparatesLikeTheReference) {
  std::mt19937 random(1);
  for (int32_t height : telling_lengths()) {
    for (int32_t width : telling_lengths()) {
      for (int special : {50, 5, -90}) {
        Frame source(width, height), expected(width, height, -7.0f), actual(width, height, -7.0f);
        fill(source, random, special);
        kReference.separate_hot_pixels(source.geometry(), source.data(), expected.data());
        GetParam()->separate_hot_pixels(source.geometry(), source.data(), actual.data());
        ASSERT_EQ(patterns(actual), patterns(expected)) << size_text(width, height, special);
      }
    }
  }
}

// Frames whose interior pixels each see six neighbours of one value m and
// three of the value c, so the median is m (or what NaN makes of it): every
// pair of edge values, and centres one step either side of 1.25 m, decides
// as the quotient c / m in double does. That holds the SSE2 test in double
// and the AVX2 one by the sign of an FMA, where 1.25 m - c may be too small
// for a subnormal (m = 3 * tiny, c = 4 * tiny).
TEST_P(VectorPath, DecidesHotPixelsAsTheQuotientDoes) {
  const float max = FLT_MAX, inf = std::numeric_limits<float>::infinity();
  const float tiny = std::numeric_limits<float>::denorm_min(), small_normal = FLT_MIN;
  std::vector<float> values = {
      0.0f,        -0.0f,        tiny,        -tiny,       0x1.fffffcp-127f,
      1.0f,        -1.0f,        1.25f,       -1.25f,      4.0f,
      5.0f,        -4.0f,        -5.0f,       max,         -max,
      inf,         -inf,         8388607.0f,  10485759.0f, 8388608.0f,
      10485760.0f, small_normal, 2.5f * tiny, 0.75f * max};
  for (float m : {1.0f, -1.0f, 3.0f, -7.0f, 8388607.0f, tiny, 3 * tiny, -5 * tiny, max / 2,
                  small_normal, 0x1.8p-126f}) {
    const double threshold = 1.25 * static_cast<double>(m);
    const float rounded = static_cast<float>(threshold);
    for (float c : {rounded, std::nextafter(rounded, inf), std::nextafter(rounded, -inf)})
      values.push_back(c);
  }
  uint32_t nan_bits[] = {0x7fc00001u, 0xffc12345u, kSignallingNan, 0xff800003u};
  for (uint32_t bits : nan_bits) values.push_back(float_of(bits | 0x00400000u));
  for (float m : values) {
    for (float c : values) {
      Frame source(20, 3, m), expected(20, 3), actual(20, 3);
      for (int32_t x = 1; x <= 18; ++x) source.at(x, 1) = c;
      kReference.separate_hot_pixels(source.geometry(), source.data(), expected.data());
      GetParam()->separate_hot_pixels(source.geometry(), source.data(), actual.data());
      ASSERT_EQ(patterns(actual), patterns(expected)) << c << " among " << m;
    }
  }
  // Signalling NaN as centre and as neighbours, written as patterns.
  for (uint32_t bits : nan_bits) {
    Frame source(20, 3, 2.0f), expected(20, 3), actual(20, 3);
    for (int32_t x = 0; x < 20; x += 3) set_bits(&source.at(x, x % 3), bits);
    kReference.separate_hot_pixels(source.geometry(), source.data(), expected.data());
    GetParam()->separate_hot_pixels(source.geometry(), source.data(), actual.data());
    ASSERT_EQ(patterns(actual), patterns(expected)) << std::hex << bits;
  }
}

TEST_P(VectorPath, FindsTheDarkestBlockLikeTheReference) {
  std::mt19937 random(2);
  for (int32_t height : {15, 16, 20, 21, 27, 33}) {
    for (int32_t width = 14; width <= 110; ++width) {
      for (int special : {30, 2, 0, -90}) {
        Frame frame(width, height);
        fill(frame, random, special);
        BlockAnchor expected = {-5, -6}, actual = expected;
        kReference.find_darkest_block(frame.geometry(), frame.data(), &expected);
        GetParam()->find_darkest_block(frame.geometry(), frame.data(), &actual);
        ASSERT_EQ(actual.x, expected.x) << size_text(width, height, special);
        ASSERT_EQ(actual.y, expected.y) << size_text(width, height, special);
      }
    }
  }
}

// Frames of one value with a few NaN: many ties, so the first-wins rule and
// NaN medians decide among the eight (four) blocks of a vector.
TEST_P(VectorPath, KeepsTheFirstOfEqualBlocksAndTakesNan) {
  for (int32_t nan_block = -1; nan_block < 12; ++nan_block) {
    Frame frame(80, 16, 3.0f);
    if (nan_block >= 0)
      for (int32_t k = 0; k < 13; ++k)
        set_bits(&frame.at(3 + 5 * nan_block + k % 5, 3 + k / 5), 0x7fc00000u | nan_block);
    BlockAnchor expected = {0, 0}, actual = expected;
    kReference.find_darkest_block(frame.geometry(), frame.data(), &expected);
    GetParam()->find_darkest_block(frame.geometry(), frame.data(), &actual);
    EXPECT_EQ(actual.x, expected.x) << nan_block;
    EXPECT_EQ(actual.y, expected.y) << nan_block;
  }
}

TEST_P(VectorPath, FindsHotPixelsLikeTheReference) {
  std::mt19937 random(3);
  for (int32_t height : telling_lengths()) {
    for (int32_t width : telling_lengths()) {
      for (int special : {50, 5}) {
        Frame frame(width, height);
        fill_randomly(frame, random, special);
        // Cells without a pixel above 0 keep their entries.
        if (random() % 3 == 0)
          for (float& pixel : frame.pixels) pixel = -std::fabs(pixel);
        HotPixelList before;
        for (int k = 0; k < 9; ++k) before.x[k] = before.y[k] = -k;
        HotPixelList expected = before, actual = before;
        const uint32_t found =
            kReference.find_hot_pixels(frame.geometry(), frame.data(), &expected);
        ASSERT_EQ(GetParam()->find_hot_pixels(frame.geometry(), frame.data(), &actual), found)
            << size_text(width, height, special);
        for (int k = 0; k < 9; ++k) {
          ASSERT_EQ(actual.x[k], expected.x[k]) << size_text(width, height, special);
          ASSERT_EQ(actual.y[k], expected.y[k]) << size_text(width, height, special);
        }
      }
    }
  }
}

TEST_P(VectorPath, SubtractsAndAddsLikeTheReference) {
  std::mt19937 random(4);
  using Kernel = void (*)(FrameGeometry, float*, const float*);
  const std::pair<Kernel, Kernel> pairs[] = {
      {kReference.subtract_plane, GetParam()->subtract_plane},
      {kReference.add_plane, GetParam()->add_plane}};
  for (int32_t width : telling_lengths()) {
    for (int32_t height : {1, 2, 3, 7}) {
      for (const auto& [reference, path] : pairs) {
        Frame a(width, height), b(width, height);
        fill_randomly(a, random, 40);
        fill_randomly(b, random, 40);
        Frame expected = a, actual = a;
        reference(expected.geometry(), expected.data(), b.data());
        path(actual.geometry(), actual.data(), b.data());
        ASSERT_EQ(patterns(actual), patterns(expected)) << size_text(width, height, 40);
        // One plane as both operands.
        expected = a;
        actual = a;
        reference(expected.geometry(), expected.data(), expected.data());
        path(actual.geometry(), actual.data(), actual.data());
        ASSERT_EQ(patterns(actual), patterns(expected)) << size_text(width, height, 40);
      }
    }
  }
}

// Two NaN operands: the sum carries the first operand's NaN, quieted, in
// every lane and in the tail, whichever operand the compiler made the
// destination; one NaN operand gives that NaN, quieted.
TEST_P(VectorPath, SumsSettleWhichNanComesOut) {
  struct Case {
    uint32_t a, b, sum;
  };
  const Case cases[] = {
      {0x7fc00001u, 0xffc00002u, 0x7fc00001u}, {0xffc00002u, 0x7fc00001u, 0xffc00002u},
      {0x7f800001u, 0x7fc00003u, 0x7fc00001u}, {0x7fc00003u, 0x7f800001u, 0x7fc00003u},
      {0x3f800000u, 0x7f800005u, 0x7fc00005u}, {0xff800005u, 0x3f800000u, 0xffc00005u},
      {0x7f800000u, 0xff800000u, 0xffc00000u},
  };
  for (const Case& c : cases) {
    for (const KernelTable* path : {&kReference, GetParam()}) {
      Frame a(11, 3), b(11, 3);  // whole vectors and a tail
      for (size_t i = 0; i < a.pixels.size(); ++i) {
        set_bits(&a.pixels[i], c.a);
        set_bits(&b.pixels[i], c.b);
      }
      path->add_plane(a.geometry(), a.data(), b.data());
      for (float pixel : a.pixels)
        ASSERT_EQ(bits_of(pixel), c.sum) << path->name << std::hex << ": " << c.a << " + " << c.b;
    }
  }
}

// No kernel output shows the sign of a zero median (a zero median tests as 1,
// and -0 ties +0 in the block search), so the exchange itself is checked: on
// NaN-free lanes min/max must leave every pair, zeros of either sign and ties
// too, exactly as the compare-and-select does. A compiler that swapped the
// min/max operands would fail here.
TEST(MinMaxExchange, MatchesTheCompareAndSelectWithoutNan) {
  const uint32_t values[] = {0x00000000u, 0x80000000u, 0x3f800000u, 0xbf800000u,
                             0x7f800000u, 0xff800000u, 0x00000001u, 0x80000001u};
  for (uint32_t a : values) {
    for (uint32_t b : values) {
      alignas(16) float lanes_a[4], lanes_b[4];
      for (int lane = 0; lane < 4; ++lane) {
        set_bits(&lanes_a[lane], lane % 2 ? b : a);
        set_bits(&lanes_b[lane], lane % 2 ? a : b);
      }
      __m128 exact_a = Sse2::load(lanes_a), exact_b = Sse2::load(lanes_b);
      __m128 fast_a = exact_a, fast_b = exact_b;
      Sse2::compare_exchange(exact_a, exact_b);
      Sse2::min_max_exchange(fast_a, fast_b);
      alignas(16) float out[4][4];
      Sse2::store(out[0], exact_a);
      Sse2::store(out[1], exact_b);
      Sse2::store(out[2], fast_a);
      Sse2::store(out[3], fast_b);
      for (int lane = 0; lane < 4; ++lane) {
        EXPECT_EQ(bits_of(out[2][lane]), bits_of(out[0][lane])) << std::hex << a << " " << b;
        EXPECT_EQ(bits_of(out[3][lane]), bits_of(out[1][lane])) << std::hex << a << " " << b;
      }
    }
  }
}

// Each fused pass against the single reference kernels it stands for, in
// their order, on frames full of special values, with every tail.
TEST_P(VectorPath, FusedPassesGiveTheStepByStepPlanes) {
  const KernelTable& path = *GetParam();
  std::mt19937 random(5);
  const float ratios[][2] = {{0.5f, -3.0f}, {float_of(0x7fc01234u), 2.0f}, {-0.0f, INFINITY}};
  for (int32_t height : {1, 2, 3, 4, 5, 8}) {
    for (int32_t width : {1, 3, 7, 8, 9, 17, 33}) {
      Frame dark(width, height), bias(width, height), light(width, height);
      for (Frame* frame : {&dark, &bias, &light}) fill_randomly(*frame, random, 30);
      const std::string where = size_text(width, height, 30);

      const float* no_bias = nullptr;
      for (const float* subtrahend : {no_bias, static_cast<const float*>(bias.data())}) {
        Frame glow(width, height), hot(width, height), glow_fused(width, height, -7.0f),
            hot_fused(width, height, -7.0f);
        const float* source = dark.data();
        if (subtrahend) {
          copy_plane(dark.geometry(), dark.data(), hot.data());
          kReference.subtract_plane(hot.geometry(), hot.data(), subtrahend);
          source = hot.data();
        }
        kReference.separate_hot_pixels(dark.geometry(), source, glow.data());
        if (!subtrahend) copy_plane(dark.geometry(), dark.data(), hot.data());
        kReference.subtract_plane(hot.geometry(), hot.data(), glow.data());
        path.split_dark_frame(dark.geometry(), dark.data(), subtrahend, glow_fused.data(),
                              hot_fused.data());
        ASSERT_EQ(patterns(glow_fused), patterns(glow)) << where;
        ASSERT_EQ(patterns(hot_fused), patterns(hot)) << where;
      }

      for (int32_t times : {-1, 0, 1, 2}) {
        Frame less = light, less_fused(width, height, -7.0f);
        for (int32_t k = 0; k < times; ++k)
          kReference.subtract_plane(less.geometry(), less.data(), bias.data());
        path.subtract_plane_times(less_fused.geometry(), less_fused.data(), light.data(),
                                  bias.data(), times);
        ASSERT_EQ(patterns(less_fused), patterns(less)) << where << ", " << times << " times";

        for (const auto& ratio : ratios) {
          Frame glow = dark, hot = bias, matched(width, height);
          Frame glow_fused = dark, hot_fused = bias, matched_fused(width, height);
          for (size_t i = 0; i < glow.pixels.size(); ++i) {
            glow.pixels[i] = product_of(ratio[0], glow.pixels[i]);
            hot.pixels[i] = product_of(ratio[1], hot.pixels[i]);
          }
          copy_plane(glow.geometry(), glow.data(), matched.data());
          kReference.add_plane(matched.geometry(), matched.data(), hot.data());
          for (int32_t k = 0; k < times; ++k)
            kReference.add_plane(matched.geometry(), matched.data(), bias.data());
          // In place, as the plug-in scales; into other planes from
          // unchanged sources, or only the matched dark, as the tool may.
          path.scale_and_sum(glow_fused.geometry(), glow_fused.data(), ratio[0], hot_fused.data(),
                             ratio[1], bias.data(), times, matched_fused.data(), glow_fused.data(),
                             hot_fused.data());
          for (auto [fused, expected] : {std::pair(&glow_fused, &glow), std::pair(&hot_fused, &hot),
                                         std::pair(&matched_fused, &matched)})
            ASSERT_EQ(patterns(*fused), patterns(*expected)) << where << ", " << times << " times";
          for (bool keep : {true, false}) {
            Frame glow_out(width, height, -7.0f), hot_out = glow_out, matched_out = glow_out;
            path.scale_and_sum(dark.geometry(), dark.data(), ratio[0], bias.data(), ratio[1],
                               bias.data(), times, matched_out.data(),
                               keep ? glow_out.data() : nullptr, keep ? hot_out.data() : nullptr);
            ASSERT_EQ(patterns(matched_out), patterns(matched)) << where << ", " << times;
            ASSERT_EQ(patterns(glow_out), patterns(keep ? glow : Frame(width, height, -7.0f)));
            ASSERT_EQ(patterns(hot_out), patterns(keep ? hot : Frame(width, height, -7.0f)));
          }
        }
      }

      Frame difference(width, height), difference_fused(width, height, -7.0f);
      copy_plane(light.geometry(), light.data(), difference.data());
      kReference.subtract_plane(difference.geometry(), difference.data(), dark.data());
      path.difference_plane(difference_fused.geometry(), difference_fused.data(), light.data(),
                            dark.data());
      ASSERT_EQ(patterns(difference_fused), patterns(difference)) << where;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, VectorPath, testing::Values(&sse2_kernels, &avx2_kernels),
                         [](const testing::TestParamInfo<const KernelTable*>& info) {
                           return std::string(info.param->name);
                         });

}  // namespace
