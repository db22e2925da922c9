#include "diagnostics/diagnostics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tools/tenvora_match/demo_set.h"
#include "tools/tenvora_match/match_frames.h"

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// One match's planes and the input that points at them.
struct Case {
  std::vector<float> light, bias, dark, glow, matched, corrected;
  DiagnosticInput input;

  float& at(std::vector<float>& plane, int32_t x, int32_t y) {
    return plane[static_cast<size_t>(y) * input.width + x];
  }
  void point_at_planes() {
    input.light = light.data();
    input.bias = bias.data();
    input.dark = dark.data();
    input.glow = glow.data();
    input.matched = matched.empty() ? nullptr : matched.data();
    input.corrected = corrected.empty() ? nullptr : corrected.data();
  }
};

// A small set made to be clean: the dark is a camera offset (a bias of 100,
// or dark_offset without a bias) + glow falling off from the glow corner +
// nine hot pixels, the light the offset + sky + half the glow + twice the hot
// pixels, both with quantised noise of a few ADU; the levels are those scales.
void make_small(Case& c, bool use_bias = true, float dark_offset = 0, float glow_peak = 400) {
  const int32_t w = 60, h = 45;
  const float bias = use_bias ? 100.0f : 0.0f, offset = use_bias ? bias : dark_offset;
  DiagnosticInput& in = c.input;
  in.width = w, in.height = h, in.use_bias = use_bias, in.bias_factor = 1;
  const auto glow_at = [&](double x, double y) {
    return 2.0 + glow_peak * std::exp(-std::hypot(x, h - 1 - y) / 8);
  };
  for (int k = 0; k < 9; ++k) in.hot_x[k] = 10 + 20 * (k % 3), in.hot_y[k] = 7 + 15 * (k / 3);
  std::fill(in.hot_found, in.hot_found + 9, true);
  in.darkest_x = 40, in.darkest_y = 5;
  in.glow_dark = glow_at(5, h - 11) - glow_at(42, 7), in.glow_ratio = 0.5;
  in.glow_light = in.glow_ratio * in.glow_dark;
  in.hot_dark = 900, in.hot_ratio = 2, in.hot_light = 1800;
  in.light_maximum = 65535, in.dark_maximum = kNan;

  uint32_t state = 12345;
  const auto noise = [&state] {
    return float((state = state * 1664525u + 1013904223u) >> 29) - 3.5f;
  };
  for (std::vector<float>* p : {&c.light, &c.bias, &c.dark, &c.glow, &c.matched, &c.corrected})
    p->assign(size_t(w) * h, 0.0f);
  for (size_t i = 0; i < c.light.size(); ++i) {
    const float glow = float(glow_at(i % w, i / w));
    float hot = 0;
    for (int k = 0; k < 9; ++k)
      if (i == size_t(in.hot_y[k]) * w + in.hot_x[k]) hot = 500.0f + 100.0f * k;
    // The glow component keeps whatever the bias did not take off.
    c.glow[i] = std::round(glow + offset - bias + noise());
    c.dark[i] = c.glow[i] + hot + bias;
    c.light[i] = std::round(offset + 200.0f + float(in.glow_ratio) * glow + 2 * hot + noise());
    c.bias[i] = bias;
    c.matched[i] = float(in.glow_ratio * c.glow[i]) + float(in.hot_ratio * hot) + bias;
    c.corrected[i] = c.light[i] - c.matched[i];
  }
  c.point_at_planes();
}

// The demo's frames at 2000 x 1500, unsigned 16-bit, matched by the tool in
// bias mode, factor 1.
void make_demo(Case& c) {
  DemoParams params;
  params.width = 2000, params.height = 1500;
  const DemoSet set = make_demo_set(params);
  const DarkSet dark_set = split_dark_set(set.dark, set.bias, 1, true);
  MatchedFrames run = match_light(set.light, dark_set, false, NAN, MatchMethod::plugin);
  const Measurement& m = run.levels;

  DiagnosticInput& in = c.input;
  in.width = params.width, in.height = params.height, in.use_bias = true;
  const auto copy = [](const Pixels& plane) {
    return std::vector<float>(plane.begin(), plane.end());
  };
  c.light = copy(set.light.pixels), c.dark = copy(set.dark.pixels), c.glow = copy(dark_set.glow);
  c.bias = copy(set.bias.pixels), in.bias_factor = 1;
  c.corrected = copy(run.images.back().frame.pixels);  // the corrected image comes last
  take_measurement(in, m);
  in.light_maximum = in.dark_maximum = largest_representable(16, 32768, 1);
  c.point_at_planes();
}

void add_corner_star(Case& c) {
  for (int32_t y = c.input.height - 16; y < c.input.height - 5; ++y)
    for (int32_t x = 0; x < 11; ++x) {
      const float star = std::round(
          300 * std::exp(-(std::pow(x - 5, 2) + std::pow(y - (c.input.height - 11), 2)) / 4.5));
      for (std::vector<float>* p : {&c.light, &c.corrected}) c.at(*p, x, y) += star;
    }
}

// A 12-bit camera in a floating-point file: the light's own maximum, 4095,
// held by a hot pixel and eleven other pixels.
void clip_light_at_4095(Case& c) {
  c.input.light_maximum = largest_representable(-32, 0, 1);
  c.at(c.light, c.input.hot_x[2], c.input.hot_y[2]) = 4095;
  for (int32_t x = 0; x < 11; ++x) c.at(c.light, x, 20) = 4095;
}

// The same in the dark, its maximum shared by the last pixels of the frame,
// with the level worked out once by the caller, as a run does.
void clip_dark_at_4095_given_once(Case& c) {
  c.at(c.dark, c.input.hot_x[8], c.input.hot_y[8]) = 4095;
  for (int32_t x = c.input.width - 11; x < c.input.width; ++x)
    c.at(c.dark, x, c.input.height - 1) = 4095;
  c.input.dark_saturation = saturation_level(c.dark.data(), c.dark.size(), c.input.dark_maximum);
}

// The small set's scales as a fit that went well: 0.5 and 2 with small
// errors, most of the sample used; then changed by the case.
void fitted(
    Case& c, void (*change)(ScaleFit&) = [](ScaleFit&) {}) {
  ScaleFit fit;
  fit.solved = true;
  fit.glow_scale = 0.5, fit.hot_scale = 2, fit.glow_error = 0.004, fit.hot_error = 0.01;
  fit.sample = 2700, fit.used = 2600, fit.clipped = 90, fit.left_out = 10;
  change(fit);
  take_fit(c.input, fit, fit.glow_scale, fit.hot_scale);
}

struct Row {
  const char* name;
  void (*make)(Case&);
  std::vector<std::string> codes;
};

void PrintTo(const Row& row, std::ostream* out) {
  *out << row.name;
}

class DiagnosticsTest : public testing::TestWithParam<Row> {};

TEST_P(DiagnosticsTest, GivesTheWarningsOfItsSet) {
  Case c;
  GetParam().make(c);
  std::vector<std::string> codes;
  for (const Diagnostic& warning : diagnose_match(c.input)) {
    codes.push_back(warning.code);
    EXPECT_FALSE(warning.numbers.empty()) << warning.code;
    EXPECT_EQ(warning.message.back(), '.') << warning.message;
  }
  EXPECT_EQ(codes, GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, DiagnosticsTest,
    testing::Values(
        Row{"clean_small", [](Case& c) { make_small(c); }, {}},
        Row{"clean_demo_2000x1500", make_demo, {}},
        Row{"star_on_corner",
            [](Case& c) { make_small(c), add_corner_star(c); },
            {"corner-source"}},
        Row{"hot_pixel_at_16_bit_limit",
            [](Case& c) {
              make_small(c);
              c.input.dark_maximum = largest_representable(16, 32768, 1);
              c.at(c.dark, c.input.hot_x[4], c.input.hot_y[4]) = 65535;
            },
            {"saturated-hot-pixel"}},
        Row{"hot_pixel_at_shared_maximum",
            [](Case& c) { make_small(c), clip_light_at_4095(c); },
            {"saturated-hot-pixel"}},
        Row{"hot_pixel_at_shared_maximum_of_the_dark",
            [](Case& c) { make_small(c), clip_dark_at_4095_given_once(c); },
            {"saturated-hot-pixel"}},
        Row{"cell_without_hot_pixel",
            [](Case& c) {
              make_small(c);
              c.input.hot_found[4] = false, c.input.hot_x[4] = c.input.hot_y[4] = 0;
            },
            {"empty-hot-cell"}},
        Row{"dark_without_glow",
            [](Case& c) { make_small(c, true, 0, 0), c.input.glow_dark = 0.4; },
            {"weak-dark-glow"}},
        Row{"no_bias_dark_with_offset",
            [](Case& c) { make_small(c, false, 1000); },
            {"dark-holds-bias"}},
        Row{"no_bias_dark_without_offset", [](Case& c) { make_small(c, false, 0); }, {}},
        Row{"hot_ratio_25",
            [](Case& c) { make_small(c), c.input.hot_ratio = 25; },
            {"ratio-out-of-range"}},
        Row{"hot_ratio_negative",
            [](Case& c) { make_small(c), c.input.hot_ratio = -1; },
            {"ratio-out-of-range"}},
        Row{"glow_ratio_nan",
            [](Case& c) { make_small(c), c.input.glow_ratio = kNan; },
            {"ratio-out-of-range"}},
        // The small set's scales are 0.5 (glow) and 2 (hot pixels).
        Row{"exposure_ratio_unknown_or_0",
            [](Case& c) { make_small(c), c.input.exposure_ratio = 0; },
            {}},
        Row{"hot_scale_at_the_exposure_ratio_glow_below",
            [](Case& c) { make_small(c), c.input.exposure_ratio = 1.5; },
            {"scale-off-exposure"}},
        Row{"both_scales_within_the_factor",
            [](Case& c) { make_small(c), c.input.hot_ratio = 0.7, c.input.exposure_ratio = 0.5; },
            {}},
        Row{"both_scales_far_above",
            [](Case& c) { make_small(c), c.input.exposure_ratio = 0.2; },
            {"scale-off-exposure", "scale-off-exposure"}},
        Row{"nan_scale_left_to_the_range_check",
            [](Case& c) { make_small(c), c.input.hot_ratio = kNan, c.input.exposure_ratio = 0.5; },
            {"ratio-out-of-range"}},
        Row{"corrected_negative_in_a_third",
            [](Case& c) {
              make_small(c);
              for (size_t i = 0; i < c.corrected.size() / 3; ++i) c.corrected[i] -= 300;
            },
            {"many-negative-pixels"}},
        Row{"matched_too_strong_in_a_third_no_corrected_plane",
            [](Case& c) {
              make_small(c);
              for (size_t i = 0; i < c.matched.size() / 3; ++i) c.matched[i] += 300;
              c.input.corrected = nullptr;
            },
            {"many-negative-pixels"}},
        // Under the fit the checks of the plug-in's levels give way to the fit's.
        Row{"fitted_clean", [](Case& c) { make_small(c), fitted(c); }, {}},
        Row{"fitted_with_star_on_corner_and_empty_cell",
            [](Case& c) {
              make_small(c), add_corner_star(c), fitted(c);
              c.input.hot_found[4] = false, c.input.glow_dark = 0.4;
            },
            {}},
        Row{"fitted_hot_pixel_at_16_bit_limit",
            [](Case& c) {
              make_small(c), fitted(c);
              c.input.dark_maximum = largest_representable(16, 32768, 1);
              c.at(c.dark, c.input.hot_x[4], c.input.hot_y[4]) = 65535;
            },
            {"saturated-hot-pixel"}},
        Row{"fitted_no_bias_dark_with_offset",
            [](Case& c) { make_small(c, false, 1000), fitted(c); },
            {"dark-holds-bias"}},
        Row{"fitted_on_few_pixels",
            [](Case& c) { make_small(c), fitted(c, [](ScaleFit& f) { f.used = 900; }); },
            {"fit-few-pixels"}},
        Row{"fit_not_solved",
            [](Case& c) { make_small(c), fitted(c, [](ScaleFit& f) { f.solved = false; }); },
            {"fit-few-pixels"}},
        Row{"fitted_glow_uncertain",
            [](Case& c) { make_small(c), fitted(c, [](ScaleFit& f) { f.glow_error = 0.2; }); },
            {"fit-uncertain-scale"}},
        Row{"fitted_hot_not_determined",
            [](Case& c) { make_small(c), fitted(c, [](ScaleFit& f) { f.hot_error = kNan; }); },
            {"fit-uncertain-scale"}},
        Row{"fitted_glow_negative",
            [](Case& c) { make_small(c), fitted(c, [](ScaleFit& f) { f.glow_scale = -0.2; }); },
            {"fit-scale-out-of-range"}},
        Row{"fitted_hot_25",
            [](Case& c) { make_small(c), fitted(c, [](ScaleFit& f) { f.hot_scale = 25; }); },
            {"fit-scale-out-of-range"}},
        Row{"fit_clipped_half",
            [](Case& c) {
              make_small(c), fitted(c, [](ScaleFit& f) { f.used = 1300, f.clipped = 1390; });
            },
            {"fit-heavy-clipping"}}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(ExposureRatio, IsTheLightsTimeOverTheDarksWhenBothAreKnown) {
  const struct {
    double light, dark, ratio;
  } rows[] = {{240, 1200, 0.2}, {0, 60, 0},           {60, 0, kNan},
              {kNan, 60, kNan}, {60, kNan, kNan},     {-1, 60, kNan},
              {60, -60, kNan},  {INFINITY, 60, kNan}, {60, INFINITY, kNan}};
  for (const auto& r : rows) {
    const double ratio = exposure_ratio(r.light, r.dark);
    if (std::isnan(r.ratio))
      EXPECT_TRUE(std::isnan(ratio)) << r.light << " / " << r.dark;
    else
      EXPECT_EQ(ratio, r.ratio) << r.light << " / " << r.dark;
  }
}

// Saturated hot pixels are decided without working the levels out where
// that can be seen to change nothing; the cells must be those the levels give.
TEST(SaturatedHotPixels, AreTheCellsAtOrAboveTheLevels) {
  std::mt19937 random(5);
  const double maxima[] = {kNan, 65535, 3000, 1e9};
  for (int round = 0; round < 300; ++round) {
    Case c;
    make_small(c);
    // A few bright values, often shared, on hot pixels and elsewhere.
    const float top = float(random() % 4 + 1) * 1000;
    for (std::vector<float>* p : {&c.light, &c.dark}) {
      for (float& v : *p)
        if (random() % 64 == 0) v = top - float(random() % 3) * 500;
      for (int k = 0; k < 9; ++k)
        if (random() % 2)
          c.at(*p, c.input.hot_x[k], c.input.hot_y[k]) = top - float(random() % 2) * 500;
    }
    c.input.light_maximum = maxima[random() % 4], c.input.dark_maximum = maxima[random() % 4];
    c.point_at_planes();
    const size_t n = c.light.size();
    const double light_level = saturation_level(c.light.data(), n, c.input.light_maximum);
    const double dark_level = saturation_level(c.dark.data(), n, c.input.dark_maximum);
    std::vector<double> want, got;
    for (int k = 0; k < 9; ++k)
      if (c.at(c.light, c.input.hot_x[k], c.input.hot_y[k]) >= light_level ||
          c.at(c.dark, c.input.hot_x[k], c.input.hot_y[k]) >= dark_level)
        want.push_back(k);
    for (const Diagnostic& warning : diagnose_match(c.input))
      if (warning.code == "saturated-hot-pixel") got.push_back(warning.numbers.front().second);
    EXPECT_EQ(got, want) << "round " << round;
  }
}

}  // namespace
