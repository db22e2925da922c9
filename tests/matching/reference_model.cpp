#include "reference_model.h"

#include <algorithm>
#include <cmath>

namespace reference {
namespace {

struct Frame {
  int32_t w, h;
  float at(const Plane& p, int32_t x, int32_t y) const {
    x = std::min(std::max(x, 0), w - 1);
    y = std::min(std::max(y, 0), h - 1);
    return p[size_t(x) + size_t(w) * size_t(y)];
  }
};

float median(std::vector<float> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Every interior pixel more than 1.25 times its 3x3 median becomes the median
// (a zero median counting as 1); borders are copied.
Plane glow_of(const Frame& f, const Plane& dark) {
  Plane glow = dark;
  for (int32_t y = 1; y + 1 < f.h; ++y) {
    for (int32_t x = 1; x + 1 < f.w; ++x) {
      std::vector<float> around;
      for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) around.push_back(f.at(dark, x + dx, y + dy));
      float m = median(around);
      if (m == 0.0f || std::isnan(m)) m = 1.0f;
      float c = f.at(dark, x, y);
      if (double(c) / double(m) > 1.25) glow[size_t(x) + size_t(f.w) * size_t(y)] = m;
    }
  }
  return glow;
}

float block_median(const Frame& f, const Plane& p, int32_t x0, int32_t y0) {
  std::vector<float> block;
  for (int32_t y = y0; y < y0 + 5; ++y)
    for (int32_t x = x0; x < x0 + 5; ++x) block.push_back(f.at(p, x, y));
  return median(block);
}

// The darkest 5x5 block on a pitch-5 grid from (3, 3), keeping 8 columns and
// rows clear of the far edges; recorded one column and one row inside.
void find_darkest(const Frame& f, const Plane& p, Position& anchor) {
  float best = float(1e30);
  for (int32_t y0 = 3; y0 + 4 < f.h - 8; y0 += 5) {
    for (int32_t x0 = 3; x0 + 4 < f.w - 8; x0 += 5) {
      float m = block_median(f, p, x0, y0);
      if (m < best) {
        best = m;
        anchor = {x0 + 1, y0 + 1};
      }
    }
  }
}

double glow_level(const Frame& f, const Plane& p, Position anchor) {
  return double(block_median(f, p, 3, f.h - 13)) - double(block_median(f, p, anchor.x, anchor.y));
}

// The brightest pixel above zero in each ninth of the frame.
void find_hot(const Frame& f, const Plane& p, Position* hot) {
  int32_t cw = f.w / 3, ch = f.h / 3;
  for (int32_t k = 0; k < 9; ++k) {
    float best = 0.0f;
    for (int32_t y = (k / 3) * ch; y < (k / 3 + 1) * ch; ++y) {
      for (int32_t x = (k % 3) * cw; x < (k % 3 + 1) * cw; ++x) {
        if (f.at(p, x, y) > best) {
          best = f.at(p, x, y);
          hot[k] = {x, y};
        }
      }
    }
  }
}

// Median of the eight neighbours and the mean of the four edge neighbours.
float background(const Frame& f, const Plane& p, int32_t x, int32_t y) {
  double edges =
      double(f.at(p, x, y - 1)) + f.at(p, x + 1, y) + f.at(p, x - 1, y) + f.at(p, x, y + 1);
  std::vector<float> around = {float(edges * 0.25)};
  for (int32_t dy = -1; dy <= 1; ++dy)
    for (int32_t dx = -1; dx <= 1; ++dx)
      if (dx != 0 || dy != 0) around.push_back(f.at(p, x + dx, y + dy));
  return median(around);
}

template <typename Value>
double mean_of_nine(const Position* hot, Value value) {
  float sum = 0.0f;
  for (int32_t k = 0; k < 9; ++k) sum = float(double(sum) + value(hot[k]));
  return double(sum) * double(0.111111112f);
}

double mean_at(const Frame& f, const Plane& p, const Position* hot) {
  return mean_of_nine(hot, [&](Position q) { return f.at(p, q.x, q.y); });
}

double mean_background(const Frame& f, const Plane& p, const Position* hot) {
  return mean_of_nine(hot, [&](Position q) { return background(f, p, q.x, q.y); });
}

double guarded(float level) {
  return level == 0.0f || std::isnan(level) ? 1.0 : double(level);
}

void subtract(Plane& a, const Plane& b) {
  for (size_t i = 0; i < a.size(); ++i) a[i] = a[i] - b[i];
}

void add(Plane& a, const Plane& b) {
  for (size_t i = 0; i < a.size(); ++i) a[i] = a[i] + b[i];
}

}  // namespace

Outputs matched_dark(const Inputs& in) {
  const Frame f{in.width, in.height};
  Outputs out;
  Plane source = in.dark;
  if (in.use_bias) subtract(source, in.bias);
  out.glow_unscaled = glow_of(f, source);
  Plane glow = out.glow_unscaled;
  Plane hot = source;
  subtract(hot, glow);

  // The light as measured: less the bias, factor times.
  Plane light = in.light;
  for (int32_t i = 0; in.use_bias && i < in.bias_factor; ++i) subtract(light, in.bias);

  Position anchor = in.darkest_block;
  find_darkest(f, light, anchor);
  out.glow_light = float(glow_level(f, light, anchor));
  out.glow_dark = float(glow_level(f, glow, anchor));

  Position spots[9];
  std::copy(in.hot_pixels, in.hot_pixels + 9, spots);
  find_hot(f, hot, spots);
  out.hot_dark = float(double(float(mean_at(f, hot, spots))) - mean_background(f, hot, spots));
  out.hot_light = double(float(mean_at(f, light, spots))) - mean_background(f, light, spots);

  out.glow_ratio = float(double(out.glow_light) / guarded(out.glow_dark));
  out.hot_ratio = float(out.hot_light / guarded(out.hot_dark));
  for (float& v : glow) v = out.glow_ratio * v;
  for (float& v : hot) v = out.hot_ratio * v;

  Plane matched = glow;
  add(matched, hot);
  for (int32_t i = 0; in.use_bias && i < in.bias_factor; ++i) add(matched, in.bias);
  out.corrected = in.light;
  subtract(out.corrected, matched);
  out.glow = glow;
  out.hot = hot;
  out.matched = matched;
  return out;
}

}  // namespace reference
