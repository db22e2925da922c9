// Reading and writing 2-D FITS images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fits/frame.h"
#include "fits/output_keywords.h"

// One header keyword to write. Numbers that are not finite cannot be written
// as FITS values; they are written without a value and the comment says why.
// Texts and comments are written in ASCII: other bytes as \xHH, a backslash
// as \\.
struct FitsKey {
  enum Kind { TEXT, INTEGER, FLOAT, DOUBLE, HISTORY };
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
// The same for a keyword of our table, with its comment.
FitsKey text_key(const OutputKeyword& keyword, const std::string& value);
FitsKey integer_key(const OutputKeyword& keyword, long long value);
FitsKey float_key(const OutputKeyword& keyword, float value);
FitsKey double_key(const OutputKeyword& keyword, double value);
// A HISTORY card, or several for a long text, broken between words where a
// word fits on the card (file names stay whole).
FitsKey history_key(const std::string& text);

// The text in lines of at most width characters, broken at the last blank
// that keeps a line within them; a longer word is cut.
std::vector<std::string> word_lines(const std::string& text, size_t width);

// The keyword of an 80-character header card: its first eight characters
// without trailing blanks ("HIERARCH" for a long-named card).
std::string card_keyword(const std::string& card);

// The default of --max-pixels: room for 150-megapixel sensors.
constexpr long long kDefaultMaxPixels = 200000000;

// Reads the primary image, or the first image extension when the primary HDU
// holds none, as 32-bit floats: BITPIX -32 exactly as stored, -64 rounded to
// the nearest float, integers with BSCALE and BZERO applied and BLANK pixels
// NaN; the frame's storage says which. Images whose axes beyond the second
// all have length 1 count as 2-D.
// Takes plain and gzip-compressed FITS; refuses images of more than
// max_pixels pixels and images whose data the file does not hold before
// allocating anything for them. Throws ToolError naming the path.
// With cards, also hands back the image's header cards (80 characters each,
// in order) except the ones that describe its structure and data (SIMPLE,
// XTENSION, BITPIX, NAXISn, EXTEND, PCOUNT, GCOUNT, BZERO, BSCALE, BLANK,
// CHECKSUM, DATASUM, DATAMIN, DATAMAX); a tile-compressed image's header as
// the image's own.
// check, when given, is called with the image's size before anything is
// allocated for its pixels (a gzip file is inflated no further than its
// header); it throws to refuse the image.
using SizeCheck = std::function<void(int32_t width, int32_t height)>;
Frame read_fits(const std::string& path, long long max_pixels = kDefaultMaxPixels,
                std::vector<std::string>* cards = nullptr, const SizeCheck& check = {});

// The header cards of the image read_fits would read, as it hands them back,
// and its size, without reading its pixels. Throws ToolError naming the path.
std::vector<std::string> read_fits_cards(const std::string& path, int32_t* width, int32_t* height);

// The CREATOR value of a file's primary header, "" when there is none or the
// file is not a FITS file (plain or gzip-compressed). Reads the header only.
std::string fits_creator(const std::string& path);

// The same on the bytes of a file held in memory; name stands in messages.
Frame read_fits_bytes(const std::string& name, const unsigned char* data, size_t size,
                      long long max_pixels = kDefaultMaxPixels);

// Writes a new file (it must not exist) holding the frame as a primary image
// of the given CFITSIO image type (FLOAT_IMG, BITPIX -32, unless told
// otherwise; USHORT_IMG is BITPIX 16 with BZERO 32768), the header cards
// copied from another file, then the keywords. A copied card is left out
// when the new header holds it already or a value of its keyword (a
// compressed image's table), when one of keys, an earlier copied card or
// kOutputKeywords sets its keyword (in any case; HIERARCH NAME as NAME), or
// when its keyword is not valid FITS; a CONTINUE card goes with the card it
// continues, and only then. Bytes outside printable ASCII become '?', and a
// card CFITSIO refuses as malformed is left out. With compress, the image is
// tile-compressed (GZIP_2, lossless for every pixel) in the first extension,
// after an empty primary HDU holding only the CREATOR key of keys. A file
// shorter than written (a write CFITSIO did not see fail) is refused too.
// Throws ToolError naming the path, with the system's reason.
void write_fits(const std::string& path, const Frame& frame, const std::vector<FitsKey>& keys,
                int image_type = -32, const std::vector<std::string>& cards = {},
                bool compress = false);

// A frame's image read a band of rows at a time, so that a program can go
// through many frames without holding any of them whole: the image read_fits
// reads, with its checks and refusals, and the same pixel values. The rows of
// a gzip-compressed file are inflated as they are asked for, so they are read
// in increasing order, each at most once.
class FitsStrips {
 public:
  // Opens the file and checks its image and header (cards as read_fits
  // hands them back). Throws ToolError naming the path.
  explicit FitsStrips(const std::string& path, long long max_pixels = kDefaultMaxPixels,
                      std::vector<std::string>* cards = nullptr);
  ~FitsStrips();
  FitsStrips(FitsStrips&&) noexcept;
  FitsStrips& operator=(FitsStrips&&) noexcept;

  int32_t width() const;
  int32_t height() const;
  PixelStorage storage() const;
  // Reads rows first to first + rows - 1 into to (width x rows floats).
  // Throws ToolError naming the path when the file cannot give them.
  void read_rows(int32_t first, int32_t rows, float* to);

 private:
  struct Source;
  std::unique_ptr<Source> source_;
};
