// Reading and writing 2-D FITS images.
#pragma once

#include <string>
#include <vector>

#include "tools/tenvora_match/frame.h"

// One header keyword to write. Numbers that are not finite cannot be written
// as FITS values; they are written without a value and the comment says why.
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

// Reads the primary image, or the first image extension when the primary HDU
// holds none, as 32-bit floats (BSCALE and BZERO applied, blank pixels NaN).
// Images whose axes beyond the second all have length 1 count as 2-D.
// Throws ToolError naming the path.
Frame read_fits(const std::string& path);

// Writes a new file (it must not exist) holding the frame as a primary image
// of the given CFITSIO image type (FLOAT_IMG, BITPIX -32, unless told
// otherwise; USHORT_IMG is BITPIX 16 with BZERO 32768) and the keywords.
// Throws ToolError naming the path.
void write_fits(const std::string& path, const Frame& frame, const std::vector<FitsKey>& keys,
                int image_type = -32);
