// Reading and writing 2-D FITS images.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/tenvora_match/frame.h"

// One header keyword to write. Numbers that are not finite cannot be written
// as FITS values; they are written without a value and the comment says why.
// Texts and comments are written in ASCII: other bytes as \xHH, a backslash
// as \\.
struct FitsKey {
  enum Kind { TEXT, INTEGER, FLOAT, DOUBLE };
  std::string name;
  Kind kind;
  std::string text;
  double number;
  std::string comment;
};

FitsKey text_key(const std::string& name, const std::string& value, const std::string& comment);
FitsKey integer_key(const std::string& name, long long value, const std::string& comment);
FitsKey float_key(const std::string& name, float value, const std::string& comment);
FitsKey double_key(const std::string& name, double value, const std::string& comment);

// The default of --max-pixels: room for 150-megapixel sensors.
constexpr long long kDefaultMaxPixels = 200000000;

// Reads the primary image, or the first image extension when the primary HDU
// holds none, as 32-bit floats: BITPIX -32 exactly as stored, -64 rounded to
// the nearest float, integers with BSCALE and BZERO applied and BLANK pixels
// NaN. Images whose axes beyond the second all have length 1 count as 2-D.
// Takes plain and gzip-compressed FITS; refuses images of more than
// max_pixels pixels and images whose data the file does not hold before
// allocating anything for them. Throws ToolError naming the path.
Frame read_fits(const std::string& path, long long max_pixels = kDefaultMaxPixels);

// The same on the bytes of a file held in memory; name stands in messages.
Frame read_fits_bytes(const std::string& name, const unsigned char* data, size_t size,
                      long long max_pixels = kDefaultMaxPixels);

// Writes a new file (it must not exist) holding the frame as a primary image
// of the given CFITSIO image type (FLOAT_IMG, BITPIX -32, unless told
// otherwise; USHORT_IMG is BITPIX 16 with BZERO 32768) and the keywords.
// Throws ToolError naming the path.
void write_fits(const std::string& path, const Frame& frame, const std::vector<FitsKey>& keys,
                int image_type = -32);
