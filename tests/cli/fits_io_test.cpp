// Reading every BITPIX the tool takes, and where it finds the image.
#include "tools/tenvora_match/fits_io.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/cli/temp_dir.h"

namespace {

struct BitpixCase {
  const char* name;
  int image_type;
  int bitpix_on_disk;
  float first, step;  // the values written: first + step * i
};

class ReadBitpix : public ::testing::TestWithParam<BitpixCase> {};

TEST_P(ReadBitpix, GivesTheValuesWrittenAsFloats) {
  const BitpixCase& c = GetParam();
  TempDir dir;
  const Frame written = ramp_frame(7, 5, c.first, c.step);
  write_fits(dir / "f.fits", written, {}, c.image_type);

  fitsfile* file = nullptr;
  int status = 0, bitpix = 0;
  fits_open_diskfile(&file, (dir / "f.fits").c_str(), READONLY, &status);
  fits_get_img_type(file, &bitpix, &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(bitpix, c.bitpix_on_disk);

  const Frame read = read_fits(dir / "f.fits");
  EXPECT_EQ(read.width, 7);
  EXPECT_EQ(read.height, 5);
  EXPECT_EQ(read.pixels, written.pixels);
}

// Unsigned 16-bit is stored as BITPIX 16 with BZERO 32768: 65535 must come
// back as 65535, not as -1.
INSTANTIATE_TEST_SUITE_P(
    AllTypes, ReadBitpix,
    ::testing::Values(BitpixCase{"bitpix8", BYTE_IMG, 8, 0, 7},
                      BitpixCase{"bitpix16signed", SHORT_IMG, 16, -32768, 1800},
                      BitpixCase{"bitpix16unsigned", USHORT_IMG, 16, 65535, -1800},
                      BitpixCase{"bitpix32", LONG_IMG, 32, -16777216, 999999},
                      BitpixCase{"bitpix_32", FLOAT_IMG, -32, -1.5e30f, 3.25e28f},
                      BitpixCase{"bitpix_64", DOUBLE_IMG, -64, 0.1f, 0.3f}),
    [](const auto& info) { return std::string(info.param.name); });

// Writes an image with the given axes; with empty_primary, as the first
// extension after a primary HDU without data.
void write_raw(const std::string& path, std::vector<long> axes, bool empty_primary) {
  fitsfile* file = nullptr;
  int status = 0;
  fits_create_diskfile(&file, path.c_str(), &status);
  if (empty_primary) fits_create_img(file, FLOAT_IMG, 0, nullptr, &status);
  fits_create_img(file, FLOAT_IMG, static_cast<int>(axes.size()), axes.data(), &status);
  long n = 1;
  for (long a : axes) n *= a;
  std::vector<float> values(n);
  for (long i = 0; i < n; ++i) values[i] = static_cast<float>(i);
  fits_write_img(file, TFLOAT, 1, n, values.data(), &status);
  fits_close_file(file, &status);
  ASSERT_EQ(status, 0);
}

TEST(ReadFits, TakesTheFirstImageExtensionWhenThePrimaryHoldsNone) {
  TempDir dir;
  write_raw(dir / "ext.fits", {4, 3}, true);
  const Frame f = read_fits(dir / "ext.fits");
  EXPECT_EQ(f.width, 4);
  EXPECT_EQ(f.height, 3);
  EXPECT_EQ(f.pixels[5], 5.0f);
}

TEST(ReadFits, TakesASinglePlaneCubeAsTwoDimensional) {
  TempDir dir;
  write_raw(dir / "one.fits", {4, 3, 1}, false);
  EXPECT_EQ(read_fits(dir / "one.fits").pixels.size(), 12u);
}

TEST(ReadFits, BlankIntegerPixelsBecomeNaN) {
  TempDir dir;
  fitsfile* file = nullptr;
  int status = 0;
  long axes[2] = {2, 1};
  short values[2] = {-1, 7};
  fits_create_diskfile(&file, (dir / "blank.fits").c_str(), &status);
  fits_create_img(file, SHORT_IMG, 2, axes, &status);
  fits_write_key_lng(file, "BLANK", -1, "", &status);
  fits_write_img(file, TSHORT, 1, 2, values, &status);
  fits_close_file(file, &status);
  const Frame f = read_fits(dir / "blank.fits");
  EXPECT_TRUE(std::isnan(f.pixels[0]));
  EXPECT_EQ(f.pixels[1], 7.0f);
}

}  // namespace
