#include "tools/tenvora_match/preview_png.h"

#include <png.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/tenvora_match/tool_error.h"

namespace {

struct Stretch {
  float black, white;
  double midtone;  // the midtone curve's balance
};

// From a sample of at most about a million finite pixels, for speed on large frames.
Stretch find_stretch(const Frame& frame) {
  std::vector<float> sample;
  const size_t step = std::max<size_t>(1, frame.pixels.size() / 1000000);
  for (size_t i = 0; i < frame.pixels.size(); i += step)
    if (std::isfinite(frame.pixels[i])) sample.push_back(frame.pixels[i]);
  if (sample.empty()) return {0.0f, 1.0f, 0.5};
  auto quantile = [&sample](double q) {
    auto at = sample.begin() + static_cast<ptrdiff_t>(q * (sample.size() - 1));
    std::nth_element(sample.begin(), at, sample.end());
    return *at;
  };
  const float lowest = *std::min_element(sample.begin(), sample.end());
  const float median = quantile(0.5);
  const float white = quantile(0.999);
  for (float& v : sample) v = std::fabs(v - median);
  const float black = std::max(lowest, median - 2.8f * 1.4826f * quantile(0.5));
  Stretch s{black, std::max(white, black + 1e-6f), 0.5};
  // The balance m for which the midtone curve sends x to 0.25.
  const double x = std::clamp((median - s.black) / double(s.white - s.black), 1e-6, 1 - 1e-6);
  const double t = 0.25;
  s.midtone = std::clamp(x * (t - 1) / (2 * t * x - t - x), 1e-6, 1 - 1e-6);
  return s;
}

png_byte grey(const Stretch& s, float value) {
  if (std::isnan(value)) return 0;
  const double x = std::clamp((value - s.black) / double(s.white - s.black), 0.0, 1.0);
  const double m = s.midtone;
  const double y = (m - 1) * x / ((2 * m - 1) * x - m);
  return static_cast<png_byte>(std::lround(255.0 * std::clamp(y, 0.0, 1.0)));
}

}  // namespace

void write_preview_png(const std::string& path, const Frame& frame) {
  const Stretch stretch = find_stretch(frame);
  std::vector<png_byte> row(static_cast<size_t>(frame.width));
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) throw ToolError(path, "cannot be created");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  auto fail = [&]() {
    png_destroy_write_struct(&png, &info);
    fclose(file);
    remove(path.c_str());
    throw ToolError(path, "cannot be written");
  };
  if (!png || !info) fail();
  // libpng reports its errors by jumping back here.
  if (setjmp(png_jmpbuf(png))) fail();
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, frame.width, frame.height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = frame.height - 1; y >= 0; --y) {
    const float* source = frame.pixels.data() + static_cast<size_t>(y) * frame.width;
    for (int32_t x = 0; x < frame.width; ++x) row[x] = grey(stretch, source[x]);
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (fclose(file) != 0) {
    remove(path.c_str());
    throw ToolError(path, "cannot be written");
  }
}
