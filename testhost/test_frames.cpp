#include "testhost/test_frames.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace testhost {
namespace {

uint32_t mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352du;
  x ^= x >> 15;
  x *= 0x846ca68bu;
  x ^= x >> 16;
  return x;
}

uint32_t hash(uint32_t seed, uint32_t salt, uint32_t x, uint32_t y) {
  return mix(mix(mix(seed * 0x9e3779b9u ^ salt) + x) ^ mix(y + 0x632be5abu));
}

// In [0, 1), exactly representable.
double uniform(uint32_t h) {
  return double(h >> 8) * (1.0 / 16777216.0);
}

// Roughly normal with unit spread: the sum of four uniforms, centred.
double noise(uint32_t seed, uint32_t salt, uint32_t x, uint32_t y) {
  double sum = 0.0;
  for (uint32_t k = 0; k < 4; ++k) sum += uniform(hash(seed, salt + k, x, y));
  return (sum - 2.0) * 1.7320508075688772;
}

enum Salt : uint32_t { kHot = 1, kHotLevel, kStar, kStarX, kStarY, kStarFlux, kNoise = 16 };

struct Geometry {
  int32_t width, height;
};

// The sensor's own dark signal: glow from the lower left corner, falling off
// with the square of the distance, and a few hundredths of hot pixels.
double dark_signal(uint32_t sensor, Geometry g, int32_t x, int32_t y) {
  const double dx = x;
  const double dy = g.height - 1 - y;
  const double scale = double(g.width > g.height ? g.width : g.height) / 5.0 + 1.0;
  double signal = 300.0 / (1.0 + (dx * dx + dy * dy) / (scale * scale));
  if (hash(sensor, kHot, x, y) < 0x00c00000u)  // about 0.3 %
    signal += 200.0 + 6000.0 * uniform(hash(sensor, kHotLevel, x, y));
  return signal;
}

// A faint sky gradient and stars, one at most per 16 x 16 cell, each with a
// soft profile that ends at its cell's edges.
double sky(uint32_t seed, int32_t x, int32_t y) {
  double value = 800.0 + 0.05 * x + 0.03 * y;
  const uint32_t cx = uint32_t(x) / 16, cy = uint32_t(y) / 16;
  if (hash(seed, kStar, cx, cy) < 0x40000000u) {
    const double sx = cx * 16.0 + 2.0 + 12.0 * uniform(hash(seed, kStarX, cx, cy));
    const double sy = cy * 16.0 + 2.0 + 12.0 * uniform(hash(seed, kStarY, cx, cy));
    const double flux = 50.0 + 20000.0 * uniform(hash(seed, kStarFlux, cx, cy));
    const double r2 = ((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 2.25;
    value += flux / ((1.0 + r2) * (1.0 + r2));
  }
  return value;
}

const uint32_t special_bits[] = {
    0x7fc00000u,  // quiet NaN
    0xffc00001u,  // negative quiet NaN with a payload
    0x7f800000u,  // +inf
    0xff800000u,  // -inf
    0x80000000u,  // -0.0
    0x00000000u,  // +0.0
    0x00000001u,  // smallest subnormal
    0x007fffffu,  // largest subnormal
    0x80400000u,  // negative subnormal
    0x7f7fffffu,  // largest float
    0xff7fffffu,  // most negative float
    0x00800000u,  // smallest normal
};

float from_bits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool parse_numbers(const std::vector<std::string>& words, size_t count, uint32_t* out) {
  if (words.size() != count + 1) return false;
  for (size_t i = 0; i < count; ++i) {
    char* end = nullptr;
    out[i] = uint32_t(std::strtoul(words[i + 1].c_str(), &end, 0));
    if (words[i + 1].empty() || *end != '\0') return false;
  }
  return true;
}

}  // namespace

bool generate_frame(const std::vector<std::string>& words, int32_t width, int32_t height,
                    std::vector<float>& pixels, std::string& error) {
  const std::string kind = words.empty() ? "" : words[0];
  if (kind != "light" && kind != "dark" && kind != "bias" && kind != "special") {
    error = "unknown frame kind \"" + kind + "\"";
    return false;
  }
  const size_t arguments = kind == "light" || kind == "dark" ? 2 : 1;
  uint32_t n[2] = {0, 0};
  if (!parse_numbers(words, arguments, n)) {
    error = "frame kind: want light SENSOR SEED, dark SENSOR SEED, bias SEED or special SEED";
    return false;
  }
  const Geometry g{width, height};
  pixels.assign(size_t(width) * size_t(height), 0.0f);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double value = 0.0;
      if (kind == "light") {
        value = sky(n[1], x, y) + 1.7 * dark_signal(n[0], g, x, y) + 120.0 +
                12.0 * noise(n[1], kNoise, x, y);
      } else if (kind == "dark") {
        value = 100.0 + dark_signal(n[0], g, x, y) + 6.0 * noise(n[1], kNoise, x, y);
      } else if (kind == "bias") {
        value = 100.0 + double(x % 7) * 0.5 + 3.0 * noise(n[0], kNoise, x, y);
      } else {
        const uint32_t h = hash(n[0], kHot, x, y);
        const size_t count = sizeof special_bits / sizeof special_bits[0];
        if (h % 3 == 0) {
          pixels[size_t(x) + size_t(width) * size_t(y)] = from_bits(special_bits[(h >> 8) % count]);
          continue;
        }
        value = 100.0 + 20.0 * noise(n[0], kNoise, x, y);
      }
      pixels[size_t(x) + size_t(width) * size_t(y)] = float(value);
    }
  }
  return true;
}

}  // namespace testhost
