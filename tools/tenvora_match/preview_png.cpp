#include "tools/tenvora_match/preview_png.h"

#include <png.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fits/tool_error.h"

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

// The preview's rows, top row first: block means of the non-NaN pixels of
// factor x factor blocks, mapped to grey.
struct PreviewRows {
  const Frame& frame;
  Stretch stretch;
  int32_t factor, width, height;
  int32_t next_block;
  std::vector<png_byte> row;
  std::vector<double> sums;
  std::vector<int32_t> counts;

  PreviewRows(const Frame& f, int32_t shrink)
      : frame(f),
        stretch(find_stretch(f)),
        factor(shrink),
        width((f.width + shrink - 1) / shrink),
        height((f.height + shrink - 1) / shrink),
        next_block(height - 1),
        row(width),
        sums(width),
        counts(width) {}

  const png_byte* next() {
    const int32_t block = next_block--;
    std::fill(sums.begin(), sums.end(), 0.0);
    std::fill(counts.begin(), counts.end(), 0);
    for (int32_t y = block * factor; y < std::min(frame.height, (block + 1) * factor); ++y) {
      const float* source = frame.pixels.data() + static_cast<size_t>(y) * frame.width;
      for (int32_t x = 0; x < frame.width; ++x)
        if (!std::isnan(source[x])) {
          sums[x / factor] += source[x];
          ++counts[x / factor];
        }
    }
    for (int32_t x = 0; x < width; ++x)
      row[x] = grey(stretch, counts[x] ? static_cast<float>(sums[x] / counts[x]) : NAN);
    return row.data();
  }
};

void keep_message(png_structp png, png_const_charp text) {
  *static_cast<std::string*>(png_get_error_ptr(png)) = text;
  png_longjmp(png, 1);
}

void ignore_warning(png_structp, png_const_charp) {}

// Holds libpng's jump point, so it makes no objects of its own; libpng's
// messages go into problem, not to the terminal.
bool encode(FILE* file, PreviewRows& rows, std::string* problem) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, problem, keep_message, ignore_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, rows.width, rows.height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < rows.height; ++y) png_write_row(png, rows.next());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void write_preview_png(const std::string& path, const Frame& frame) {
  PreviewRows rows(frame, (std::max(frame.width, frame.height) + kPreviewSide - 1) / kPreviewSide);
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) throw ToolError(path, std::string("cannot be created: ") + std::strerror(errno));
  std::string problem;
  errno = 0;
  const bool encoded = encode(file, rows, &problem);
  if (fclose(file) != 0 || !encoded) {
    const int error = errno;
    remove(path.c_str());
    throw ToolError(path, "cannot be written" +
                              (error ? std::string(": ") + std::strerror(error) : std::string()) +
                              (problem.empty() ? "" : " (" + problem + ")"));
  }
}
