#include "fits/fits_io.h"

#include <fcntl.h>
#include <fitsio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <type_traits>

#include "fits/gzip_input.h"
#include "fits/tool_error.h"

namespace {

// Headers are read this far at most: 838860 cards.
constexpr size_t kMaxHeaderBytes = size_t{64} << 20;

std::string cfitsio_text(int status) {
  char text[FLEN_STATUS] = {};
  fits_get_errstatus(status, text);
  fits_clear_errmsg();
  return text;
}

// Owns an open file so that every way out closes it.
struct FitsFile {
  fitsfile* file = nullptr;
  ~FitsFile() {
    int status = 0;
    if (file) fits_close_file(file, &status);
  }
};

// A descriptor that every way out closes.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// Only regular files: a FIFO or a device would block or never end.
void refuse_irregular(const std::string& path, const struct stat& st) {
  if (S_ISREG(st.st_mode)) return;
  if (S_ISDIR(st.st_mode)) throw ToolError(path, "is a directory, not a FITS file");
  const char* kind = S_ISFIFO(st.st_mode)   ? "a FIFO"
                     : S_ISCHR(st.st_mode)  ? "a character device"
                     : S_ISBLK(st.st_mode)  ? "a block device"
                     : S_ISSOCK(st.st_mode) ? "a socket"
                                            : "a special file";
  throw ToolError(path, std::string("is ") + kind + ", not a regular file");
}

// Opens a regular file for reading without blocking on special files, and
// without following a swap of the name for something else after the checks.
void open_regular(const std::string& path, Descriptor& d, struct stat& st) {
  if (stat(path.c_str(), &st) != 0) throw ToolError(path, std::strerror(errno));
  refuse_irregular(path, st);
  d.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (d.fd < 0) throw ToolError(path, std::string("cannot be read: ") + std::strerror(errno));
  if (fstat(d.fd, &st) != 0) throw ToolError(path, std::strerror(errno));
  refuse_irregular(path, st);
}

// Moves to the primary HDU if it holds an image, else to the first image
// extension; returns its number of axes.
int move_to_image(const std::string& path, fitsfile* file) {
  int status = 0, hdus = 0;
  fits_get_num_hdus(file, &hdus, &status);
  for (int hdu = 1; hdu <= hdus && status == 0; ++hdu) {
    int type = 0, naxis = 0;
    fits_movabs_hdu(file, hdu, nullptr, &status);
    fits_get_hdu_type(file, &type, &status);
    if (status == 0 && type == IMAGE_HDU) fits_get_img_dim(file, &naxis, &status);
    if (status == 0 && naxis > 0) return naxis;
  }
  if (status != 0) throw ToolError(path, "damaged FITS file (" + cfitsio_text(status) + ")");
  throw ToolError(path, "holds no image, neither in the primary HDU nor in an extension");
}

struct ImageInfo {
  int bitpix = 0;
  int32_t width = 0, height = 0;
  long long data_start = 0, data_bytes = 0;
  bool compressed = false;  // tile-compressed: its data are a table's
  bool quantised = false;   // a tile-compressed float image stored as scaled integers
};

// A tile-compressed image lives in a binary table: its data are the table's
// rows and heap (NAXIS1 x NAXIS2 + PCOUNT bytes), which CFITSIO inflates
// tile by tile as the image is read.
void locate_compressed(const std::string& path, fitsfile* file, ImageInfo& info) {
  long long row_bytes = 0, rows = 0, heap = 0;
  int status = 0;
  fits_read_key(file, TLONGLONG, "NAXIS1", &row_bytes, nullptr, &status);
  fits_read_key(file, TLONGLONG, "NAXIS2", &rows, nullptr, &status);
  fits_read_key(file, TLONGLONG, "PCOUNT", &heap, nullptr, &status);
  const long long limit = std::numeric_limits<long long>::max() / 2;
  if (status != 0 || row_bytes < 0 || rows < 0 || heap < 0 || row_bytes > limit ||
      (rows > 0 && row_bytes > limit / rows) || heap > limit)
    throw ToolError(path, "damaged tile-compressed image (its table's size is unreadable)");
  info.data_bytes = row_bytes * rows + heap;
  info.compressed = true;
  // Floats are stored exactly only without quantisation (ZQUANTIZ = 'NONE').
  char quantize[FLEN_VALUE] = {};
  status = 0;
  fits_read_key(file, TSTRING, "ZQUANTIZ", quantize, nullptr, &status);
  fits_clear_errmsg();
  info.quantised = info.bitpix < 0 && !(status == 0 && std::strcmp(quantize, "NONE") == 0);
}

// The image's shape and where its data lie, checked before anything is
// allocated for it.
ImageInfo locate_image(const std::string& path, fitsfile* file, long long max_pixels) {
  const int naxis = move_to_image(path, file);
  if (naxis == 1) throw ToolError(path, "holds a 1-D image, not a 2-D one");
  std::vector<LONGLONG> axes(static_cast<size_t>(naxis));
  int status = 0;
  if (fits_get_img_sizell(file, naxis, axes.data(), &status) != 0)
    throw ToolError(path, "unreadable image size (" + cfitsio_text(status) + ")");
  for (int k = 2; k < naxis; ++k)
    if (axes[k] != 1)
      throw ToolError(path, "is a " + std::to_string(naxis) + "-D image with " +
                                std::to_string(axes[k]) + " planes along axis " +
                                std::to_string(k + 1) + "; only 2-D images are read");
  if (axes[0] < 1 || axes[1] < 1) throw ToolError(path, "holds an empty image");
  const std::string size = std::to_string(axes[0]) + " x " + std::to_string(axes[1]);
  const long long limit = std::numeric_limits<int32_t>::max();
  if (axes[0] > limit || axes[1] > limit || axes[0] > limit / axes[1])
    throw ToolError(path, "image too large (" + size + ")");
  if (axes[0] * axes[1] > max_pixels)
    throw ToolError(path, "image of " + size + " pixels is larger than --max-pixels " +
                              std::to_string(max_pixels));
  ImageInfo info;
  LONGLONG head = 0, data = 0, end = 0;
  if (fits_get_img_type(file, &info.bitpix, &status) != 0 ||
      fits_get_hduaddrll(file, &head, &data, &end, &status) != 0)
    throw ToolError(path, "damaged FITS file (" + cfitsio_text(status) + ")");
  info.width = static_cast<int32_t>(axes[0]);
  info.height = static_cast<int32_t>(axes[1]);
  info.data_start = data;
  info.data_bytes = axes[0] * axes[1] * (std::abs(info.bitpix) / 8);
  if (fits_is_compressed_image(file, &status)) locate_compressed(path, file, info);
  return info;
}

// BSCALE 0 would make every pixel BZERO; a scale or offset that is not a
// finite number makes none.
PixelStorage check_scaling(const std::string& path, fitsfile* file, int bitpix) {
  PixelStorage storage{bitpix, 0.0, 1.0};
  for (const char* key : {"BSCALE", "BZERO"}) {
    double value = 0.0;
    int status = 0;
    fits_read_key(file, TDOUBLE, key, &value, nullptr, &status);
    if (status == KEY_NO_EXIST) {
      fits_clear_errmsg();
      continue;
    }
    if (status != 0 || !std::isfinite(value))
      throw ToolError(path, std::string(key) + " is not a finite number");
    if (value == 0.0 && key[1] == 'S') throw ToolError(path, "BSCALE is 0");
    (key[1] == 'S' ? storage.bscale : storage.bzero) = value;
  }
  return storage;
}

void refuse_truncated(const std::string& path, const ImageInfo& info, long long available) {
  if (info.data_start + info.data_bytes > available)
    throw ToolError(path, "is truncated: its " + std::to_string(info.width) + " x " +
                              std::to_string(info.height) + " image needs " +
                              std::to_string(info.data_bytes) + " bytes of data, the file holds " +
                              std::to_string(std::max(0LL, available - info.data_start)));
}

// Float images are read exactly as stored (no blank checking, which would
// turn infinities into NaN and -0.0 and subnormals into +0.0); doubles are
// rounded to the nearest float; integers, and quantised floats, get BLANK
// (ZBLANK) pixels as NaN.
void read_range(const std::string& path, fitsfile* file, const ImageInfo& info, LONGLONG first,
                LONGLONG count, float* to) {
  int status = 0, any_blank = 0;
  const bool exact = info.bitpix < 0 && !info.quantised;
  if (info.bitpix == DOUBLE_IMG) {
    double blank = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> chunk(static_cast<size_t>(std::min<LONGLONG>(count, 1 << 20)));
    for (LONGLONG done = 0; done < count && status == 0; done += chunk.size()) {
      const LONGLONG n = std::min<LONGLONG>(count - done, chunk.size());
      fits_read_img(file, TDOUBLE, first + done + 1, n, exact ? nullptr : &blank, chunk.data(),
                    &any_blank, &status);
      std::transform(chunk.begin(), chunk.begin() + n, to + done,
                     [](double v) { return static_cast<float>(v); });
    }
  } else {
    float blank = std::numeric_limits<float>::quiet_NaN();
    fits_read_img(file, TFLOAT, first + 1, count, exact ? nullptr : &blank, to, &any_blank,
                  &status);
  }
  if (status != 0) throw ToolError(path, "cannot read the image (" + cfitsio_text(status) + ")");
}

Frame read_pixels(const std::string& path, fitsfile* file, const ImageInfo& info,
                  long long available) {
  refuse_truncated(path, info, available);
  Frame frame;
  frame.storage = check_scaling(path, file, info.bitpix);
  frame.width = info.width;
  frame.height = info.height;
  const LONGLONG count = static_cast<LONGLONG>(info.width) * info.height;
  frame.pixels.resize(static_cast<size_t>(count));
  read_range(path, file, info, 0, count, frame.pixels.data());
  return frame;
}

// The current HDU's header cards but those of its structure and data, which
// a file holding the same image in another form writes anew. A tile-compressed
// image's header is read as it is stored, less its table's keywords and the
// compression's (CFITSIO's conversion of the header fails on some writers'
// card orders).
std::vector<std::string> hdu_cards(const std::string& path, fitsfile* file) {
  std::vector<const char*> excluded = {"SIMPLE", "XTENSION", "BITPIX",  "NAXIS",   "NAXIS#",
                                       "EXTEND", "PCOUNT",   "GCOUNT",  "BZERO",   "BSCALE",
                                       "BLANK",  "CHECKSUM", "DATASUM", "DATAMIN", "DATAMAX", "INHERIT"};
  int status = 0;
  const bool compressed = fits_is_compressed_image(file, &status);
  if (compressed)
    excluded.insert(
        excluded.end(),
        {"TFIELDS",  "TTYPE#",  "TFORM#",   "TUNIT#",  "TNULL#",   "TSCAL#",   "TZERO#",
         "TDIM#",    "THEAP",   "ZIMAGE",   "ZSIMPLE", "ZTENSION", "ZBITPIX",  "ZNAXIS",
         "ZNAXIS#",  "ZTILE#",  "ZCMPTYPE", "ZNAME#",  "ZVAL#",    "ZMASKCMP", "ZQUANTIZ",
         "ZDITHER0", "ZEXTEND", "ZBLOCKED", "ZPCOUNT", "ZGCOUNT",  "ZHECKSUM", "ZDATASUM",
         "ZBLANK",   "ZSCALE",  "ZZERO"});
  char* text = nullptr;
  int count = 0;
  if (fits_hdr2str(file, 0, const_cast<char**>(excluded.data()), static_cast<int>(excluded.size()),
                   &text, &count, &status) != 0)
    throw ToolError(path, "unreadable header (" + cfitsio_text(status) + ")");
  std::vector<std::string> cards;
  for (int k = 0; k < count; ++k) {
    std::string card(text + 80 * k, 80);
    if (card_keyword(card) == "END") continue;
    if (compressed && card.compare(0, 29, "EXTNAME = 'COMPRESSED_IMAGE'") == 0) continue;
    cards.push_back(std::move(card));
  }
  fits_free_memory(text, &status);
  return cards;
}

// The image's cards; an extension with INHERIT = T also has the primary
// header's, first (the extension's own cards are written after them, and
// a keyword written twice keeps its first value: so the primary's cards of
// a keyword the extension sets are left out).
std::vector<std::string> read_cards(const std::string& path, fitsfile* file) {
  std::vector<std::string> cards = hdu_cards(path, file);
  int hdu = 1, inherit = 0, status = 0;
  fits_get_hdu_num(file, &hdu);
  if (hdu == 1 || fits_read_key(file, TLOGICAL, "INHERIT", &inherit, nullptr, &status) != 0 ||
      !inherit) {
    fits_clear_errmsg();
    return cards;
  }
  std::set<std::string> own;
  for (const std::string& card : cards) own.insert(card_keyword(card));
  if (fits_movabs_hdu(file, 1, nullptr, &status) != 0)
    throw ToolError(path, "damaged FITS file (" + cfitsio_text(status) + ")");
  std::vector<std::string> inherited;
  bool skipping = false;
  for (std::string& card : hdu_cards(path, file)) {
    const std::string name = card_keyword(card);
    if (name != "CONTINUE")
      skipping = own.count(name) && name != "HISTORY" && name != "COMMENT" && !name.empty();
    if (!skipping) inherited.push_back(std::move(card));
  }
  fits_movabs_hdu(file, hdu, nullptr, &status);
  inherited.insert(inherited.end(), cards.begin(), cards.end());
  return inherited;
}

// A FITS file in memory, opened by CFITSIO in place; it keeps pointers to
// the buffer's address and size, so those live here. CFITSIO reads memory
// files in whole 2880-byte records without checking the end of the buffer,
// so the last record is padded with zeros (which no header card holds) while
// the file is open; the image's data are checked against the real size.
struct MemoryFits {
  std::vector<unsigned char>& bytes;
  const size_t real_size;
  void* data = nullptr;
  size_t size = 0;
  FitsFile fits;

  MemoryFits(const std::string& path, std::vector<unsigned char>& buffer)
      : bytes(buffer), real_size(buffer.size()) {
    bytes.resize((real_size + 2879) / 2880 * 2880);
    data = bytes.data();
    size = bytes.size();
    int status = 0;
    if (fits_open_memfile(&fits.file, "memory", READONLY, &data, &size, 0, nullptr, &status) != 0) {
      fits.file = nullptr;
      bytes.resize(real_size);
      throw ToolError(path, "not a FITS file (" + cfitsio_text(status) + ")");
    }
  }
  ~MemoryFits() {
    int status = 0;
    fits_close_file(fits.file, &status);
    fits.file = nullptr;
    bytes.resize(real_size);
  }
  MemoryFits(const MemoryFits&) = delete;
  MemoryFits& operator=(const MemoryFits&) = delete;
};

constexpr char kSimple[] = "SIMPLE  =";

bool starts_as_fits(const unsigned char* bytes, size_t size) {
  return size >= sizeof kSimple - 1 && std::memcmp(bytes, kSimple, sizeof kSimple - 1) == 0;
}

[[noreturn]] void refuse_not_fits(const std::string& path, size_t size) {
  throw ToolError(path, size == 0 ? "not a FITS file (it is empty)"
                                  : "not a FITS file (it does not start with SIMPLE =)");
}

Frame read_memory(const std::string& path, std::vector<unsigned char>& bytes, long long max_pixels,
                  std::vector<std::string>* cards) {
  if (!starts_as_fits(bytes.data(), bytes.size())) refuse_not_fits(path, bytes.size());
  MemoryFits memory(path, bytes);
  const ImageInfo info = locate_image(path, memory.fits.file, max_pixels);
  Frame frame = read_pixels(path, memory.fits.file, info, static_cast<long long>(memory.real_size));
  if (cards) *cards = read_cards(path, memory.fits.file);
  return frame;
}

// A compressed file is kept in memory only as far as its image's data
// reach: a growing prefix until the image's header is found, then exactly up
// to the end of its data, after the size is checked. The rest is inflated
// and dropped, so that the checksums at the members' ends are checked:
// damaged data are refused, never calibrated.

void refuse_damaged(const std::string& path, const GzipInput& gz) {
  if (gz.damaged) throw ToolError(path, "damaged gzip data (" + gz.problem + ")");
}

// Inflates a gzip stream until it holds the image's header; returns where
// the image lies, its size checked.
ImageInfo inflate_header(const std::string& path, GzipInput& gz, long long max_pixels) {
  for (size_t want = size_t{1} << 16;; want *= 4) {
    gzip_fill(gz, want);
    if (!starts_as_fits(gz.out.data(), gz.out.size())) {
      refuse_damaged(path, gz);
      refuse_not_fits(path, gz.out.size());
    }
    try {
      MemoryFits memory(path, gz.out);
      move_to_image(path, memory.fits.file);
      break;
    } catch (const ToolError&) {
      // Perhaps only the prefix is too short.
      if (gz.ended || want >= kMaxHeaderBytes) {
        refuse_damaged(path, gz);
        throw;
      }
    }
  }
  MemoryFits memory(path, gz.out);
  return locate_image(path, memory.fits.file, max_pixels);
}

// Ends a stream however the reading ends.
struct GzipEnder {
  GzipInput& gz;
  ~GzipEnder() { gzip_end(gz); }
};

Frame read_gzip(const std::string& path, ByteReader read, long long max_pixels,
                std::vector<std::string>* cards, const SizeCheck& check) {
  GzipInput gz;
  gzip_begin(gz, std::move(read));
  GzipEnder ender{gz};
  const ImageInfo info = inflate_header(path, gz, max_pixels);
  if (check) check(info.width, info.height);
  const size_t end = static_cast<size_t>(info.data_start + info.data_bytes);
  gzip_fill(gz, end);
  if (gz.out.size() < end) refuse_damaged(path, gz);
  gzip_check_rest(gz);
  refuse_damaged(path, gz);
  return read_memory(path, gz.out, max_pixels, cards);
}

// Reads a file through its descriptor, from where it stands.
ByteReader descriptor_reader(const std::string& path, int fd) {
  return [path, fd](unsigned char* to, size_t size) {
    const ssize_t n = read(fd, to, size);
    if (n < 0) throw ToolError(path, std::string("cannot be read: ") + std::strerror(errno));
    return static_cast<size_t>(n);
  };
}

// Opens a FITS file: true when it holds gzip data, read from d; else
// CFITSIO has it open in fits, through d when it can: the very file checked,
// its name taken literally (no filters or extended syntax).
bool open_fits(const std::string& path, Descriptor& d, struct stat& st, FitsFile& fits) {
  open_regular(path, d, st);
  unsigned char start[sizeof kSimple - 1] = {};
  const ssize_t got = pread(d.fd, start, sizeof start, 0);
  if (got < 0) throw ToolError(path, std::string("cannot be read: ") + std::strerror(errno));
  if (is_gzip(start, static_cast<size_t>(got))) return true;
  if (!starts_as_fits(start, static_cast<size_t>(got)))
    refuse_not_fits(path, static_cast<size_t>(st.st_size));
  const std::string self = "/proc/self/fd/" + std::to_string(d.fd);
  struct stat same;
  const bool by_descriptor =
      stat(self.c_str(), &same) == 0 && same.st_dev == st.st_dev && same.st_ino == st.st_ino;
  int status = 0;
  if (fits_open_diskfile(&fits.file, by_descriptor ? self.c_str() : path.c_str(), READONLY,
                         &status) != 0) {
    fits.file = nullptr;
    throw ToolError(path, "not a FITS file (" + cfitsio_text(status) + ")");
  }
  return false;
}

}  // namespace

FitsKey text_key(const std::string& name, const std::string& value, const std::string& comment) {
  return {name, FitsKey::TEXT, value, 0.0, comment};
}
FitsKey integer_key(const std::string& name, long long value, const std::string& comment) {
  return {name, FitsKey::INTEGER, "", static_cast<double>(value), comment};
}
FitsKey float_key(const std::string& name, float value, const std::string& comment) {
  return {name, FitsKey::FLOAT, "", value, comment};
}
FitsKey double_key(const std::string& name, double value, const std::string& comment) {
  return {name, FitsKey::DOUBLE, "", value, comment};
}
std::vector<std::string> word_lines(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (text.size() - start > width) {
    const size_t blank = text.rfind(' ', start + width);
    const bool cut = blank == std::string::npos || blank <= start;
    const size_t end = cut ? start + width : blank;
    lines.push_back(text.substr(start, end - start));
    start = cut ? end : text.find_first_not_of(' ', end);
    if (start == std::string::npos) return lines;
  }
  lines.push_back(text.substr(start));
  return lines;
}

FitsKey text_key(const OutputKeyword& keyword, const std::string& value) {
  return text_key(keyword.name, value, keyword.comment);
}
FitsKey integer_key(const OutputKeyword& keyword, long long value) {
  return integer_key(keyword.name, value, keyword.comment);
}
FitsKey float_key(const OutputKeyword& keyword, float value) {
  return float_key(keyword.name, value, keyword.comment);
}
FitsKey double_key(const OutputKeyword& keyword, double value) {
  return double_key(keyword.name, value, keyword.comment);
}
FitsKey history_key(const std::string& text) {
  return {"HISTORY", FitsKey::HISTORY, text, 0.0, ""};
}

std::string card_keyword(const std::string& card) {
  std::string name = card.substr(0, 8);
  return name.erase(name.find_last_not_of(' ') + 1);
}

Frame read_fits(const std::string& path, long long max_pixels, std::vector<std::string>* cards,
                const SizeCheck& check) {
  Descriptor d;
  struct stat st;
  FitsFile fits;
  if (open_fits(path, d, st, fits))
    return read_gzip(path, descriptor_reader(path, d.fd), max_pixels, cards, check);
  const ImageInfo info = locate_image(path, fits.file, max_pixels);
  if (check) check(info.width, info.height);
  Frame frame = read_pixels(path, fits.file, info, static_cast<long long>(st.st_size));
  if (cards) *cards = read_cards(path, fits.file);
  return frame;
}

std::string fits_creator(const std::string& path) {
  Descriptor d;
  struct stat st;
  open_regular(path, d, st);
  // zlib reads plain files as they are.
  gzFile gz = gzdopen(dup(d.fd), "rb");
  if (!gz) return "";
  struct Closer {
    gzFile gz;
    ~Closer() { gzclose(gz); }
  } closer{gz};
  // To the END card: outputs write CREATOR after all of the light's cards.
  char card[80];
  for (size_t k = 0;
       k < kMaxHeaderBytes / sizeof card && gzread(gz, card, sizeof card) == sizeof card; ++k) {
    const std::string text(card, sizeof card);
    if (k == 0 && text.compare(0, sizeof kSimple - 1, kSimple) != 0) return "";
    const std::string name = card_keyword(text);
    if (name == "END") return "";
    if (name != "CREATOR" || text[8] != '=') continue;
    const size_t open = text.find('\'', 9), close = text.find('\'', open + 1);
    return open == std::string::npos || close == std::string::npos
               ? ""
               : text.substr(open + 1, close - open - 1);
  }
  return "";
}

Frame read_fits_bytes(const std::string& name, const unsigned char* data, size_t size,
                      long long max_pixels) {
  if (is_gzip(data, size)) {
    size_t at = 0;
    return read_gzip(name,
                     [&](unsigned char* to, size_t room) {
                       const size_t n = std::min(room, size - at);
                       std::memcpy(to, data + at, n);
                       at += n;
                       return n;
                     },
                     max_pixels, nullptr, {});
  }
  std::vector<unsigned char> bytes(data, data + size);
  return read_memory(name, bytes, max_pixels, nullptr);
}

namespace {

// Header cards hold printable ASCII only; CFITSIO would blank the rest.
std::string ascii_text(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      const char digits[] = "0123456789ABCDEF";
      out += {'\\', 'x', digits[c >> 4], digits[c & 15]};
    }
  }
  return out;
}

std::string system_reason(int error) {
  return error ? std::string(": ") + std::strerror(error) : std::string();
}

// A HISTORY card holds 72 characters after its keyword.
constexpr size_t kHistoryWidth = 72;

void write_key(fitsfile* file, const FitsKey& key, int* status) {
  char* name = const_cast<char*>(key.name.c_str());
  const std::string ascii_comment = ascii_text(key.comment);
  const char* comment = ascii_comment.c_str();
  if (key.kind == FitsKey::HISTORY) {
    for (const std::string& line : word_lines(ascii_text(key.text), kHistoryWidth))
      fits_write_history(file, line.c_str(), status);
  } else if (key.kind == FitsKey::TEXT) {
    // Long names go on as CONTINUE cards.
    fits_write_key_longstr(file, name, ascii_text(key.text).c_str(), comment, status);
  } else if (key.kind == FitsKey::INTEGER) {
    fits_write_key_lng(file, name, static_cast<LONGLONG>(key.number), comment, status);
  } else if (!std::isfinite(key.number)) {
    std::string why = std::string(std::isnan(key.number) ? "NaN: " : "infinite: ") + comment;
    fits_write_key_null(file, name, why.c_str(), status);
  } else if (key.kind == FitsKey::FLOAT) {
    // Nine significant digits give the float back exactly.
    fits_write_key_flt(file, name, static_cast<float>(key.number), -9, comment, status);
  } else {
    fits_write_key_dbl(file, name, key.number, -17, comment, status);
  }
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// The keyword a card sets as readers take it: in upper case (CFITSIO writes
// it so), "HIERARCH NAME" as NAME when that is a short keyword; none for a
// keyword that is not valid FITS.
std::optional<std::string> effective_keyword(const std::string& card) {
  std::string name = upper(card_keyword(card));
  if (name == "HIERARCH") {
    const size_t equals = card.find('=', 9);
    if (equals == std::string::npos) return std::nullopt;
    std::string inner = upper(card.substr(9, equals - 9));
    inner.erase(0, inner.find_first_not_of(' '));
    inner.erase(inner.find_last_not_of(' ') + 1);
    if (inner.size() > 8 || inner.find(' ') != std::string::npos) return "HIERARCH " + inner;
    name = inner;
  }
  const bool valid = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
  if (!valid) return std::nullopt;
  return name;
}

bool is_commentary(const std::string& keyword) {
  return keyword == "HISTORY" || keyword == "COMMENT" || keyword.empty();
}

// Whether a card's string value goes on in a CONTINUE card (ends in &).
bool continues(const std::string& card) {
  const size_t open = card.find('\'', 8);
  if (open == std::string::npos) return false;
  for (size_t at = open + 1; at < card.size(); ++at) {
    if (card[at] != '\'') continue;
    if (at + 1 < card.size() && card[at + 1] == '\'') {
      ++at;  // a quote within the text
      continue;
    }
    return at > open + 1 && card[at - 1] == '&';
  }
  return false;
}

// The copied cards go in unless the header holds the card already (the
// ones CFITSIO writes into every new file), a value of its keyword (a
// compressed image's table), the keys set its keyword or it is one of our
// table's, an earlier copied card set it, or its keyword is not valid FITS;
// keywords compared as readers take them (see effective_keyword). A CONTINUE
// card goes with the card it continues, and only then.
void write_cards(fitsfile* file, const std::vector<std::string>& cards,
                 const std::vector<FitsKey>& keys, int* status) {
  // Our keywords never come from the light, written this time or not: an
  // earlier output matched again claims no step of its own making.
  std::set<std::string> present, taken;
  for (const OutputKeyword* keyword : kOutputKeywords) taken.insert(keyword->name);
  for (const FitsKey& key : keys)
    if (key.kind != FitsKey::HISTORY) taken.insert(key.name);
  int count = 0;
  fits_get_hdrspace(file, &count, nullptr, status);
  for (int k = 1; k <= count && *status == 0; ++k) {
    char card[FLEN_CARD] = {};
    fits_read_record(file, k, card, status);
    const std::string text = (card + std::string(80, ' ')).substr(0, 80);
    present.insert(text);
    if (text.compare(8, 1, "=") == 0) taken.insert(card_keyword(text));
  }
  bool going_on = false;  // the last card was written and continues
  for (const std::string& card : cards) {
    if (*status != 0) return;
    std::string text = (card + std::string(80, ' ')).substr(0, 80);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c < 0x20 || c > 0x7e; }, '?');
    const std::optional<std::string> name = effective_keyword(text);
    const bool continuation = name == "CONTINUE";
    const bool wanted = continuation ? going_on
                                     : name && !present.count(text) &&
                                           (is_commentary(*name) || !taken.count(*name));
    int card_status = 0;
    going_on = wanted && fits_write_record(file, text.c_str(), &card_status) == 0;
    if (card_status != 0) fits_clear_errmsg();
    if (!going_on) continue;
    if (!continuation && !is_commentary(*name)) taken.insert(*name);
    going_on = continues(text);
  }
}

// A compressed image is the first extension after an empty primary HDU,
// which gets the CREATOR key too: a folder scan reads the primary header.
// GZIP_2 without quantisation keeps every float as it is.
void create_primary_for_compressed(fitsfile* file, const std::vector<FitsKey>& keys, int* status) {
  long axes[1] = {0};
  fits_create_img(file, BYTE_IMG, 0, axes, status);
  for (const FitsKey& key : keys)
    if (key.name == output_keyword::creator.name) write_key(file, key, status);
  fits_set_compression_type(file, GZIP_2, status);
  fits_set_quantize_level(file, 0.0f, status);
}

}  // namespace

void write_fits(const std::string& path, const Frame& frame, const std::vector<FitsKey>& keys,
                int image_type, const std::vector<std::string>& cards, bool compress) {
  FitsFile fits;
  int status = 0;
  // CFITSIO reports a failed write as such; the system's reason (a full disk,
  // a quota) is left in errno.
  errno = 0;
  long axes[2] = {frame.width, frame.height};
  if (fits_create_diskfile(&fits.file, path.c_str(), &status) != 0) {
    fits.file = nullptr;
    throw ToolError(path,
                    "cannot be created" + system_reason(errno) + " (" + cfitsio_text(status) + ")");
  }
  if (compress) create_primary_for_compressed(fits.file, keys, &status);
  fits_create_img(fits.file, image_type, 2, axes, &status);
  write_cards(fits.file, cards, keys, &status);
  for (const FitsKey& key : keys) write_key(fits.file, key, &status);
  fits_write_img(fits.file, TFLOAT, 1, static_cast<LONGLONG>(frame.pixels.size()),
                 const_cast<float*>(frame.pixels.data()), &status);
  // A compressed image's table takes its final size when flushed.
  if (compress) fits_flush_file(fits.file, &status);
  LONGLONG head = 0, data = 0, end = 0;
  fits_get_hduaddrll(fits.file, &head, &data, &end, &status);
  int close_status = 0;
  fits_close_file(fits.file, &close_status);
  fits.file = nullptr;
  if (status == 0) status = close_status;
  // CFITSIO does not see a failure of the last, buffered, write: the file
  // would be short. Its size tells.
  struct stat st;
  const bool whole = status == 0 && stat(path.c_str(), &st) == 0 && st.st_size == end;
  if (!whole) {
    const int error = errno;
    unlink(path.c_str());
    throw ToolError(path, "cannot be written" + system_reason(error) +
                              (status ? " (" + cfitsio_text(status) + ")" : std::string()));
  }
}

std::vector<std::string> read_fits_cards(const std::string& path, int32_t* width, int32_t* height) {
  FitsFile fits;
  int status = 0;
  if (fits_open_diskfile(&fits.file, path.c_str(), READONLY, &status) != 0) {
    fits.file = nullptr;
    throw ToolError(path, "not a FITS file (" + cfitsio_text(status) + ")");
  }
  move_to_image(path, fits.file);
  long axes[2] = {0, 0};
  fits_get_img_size(fits.file, 2, axes, &status);
  *width = static_cast<int32_t>(axes[0]), *height = static_cast<int32_t>(axes[1]);
  return read_cards(path, fits.file);
}

namespace {

template <class T>
T big_endian(const unsigned char* bytes) {
  unsigned char swapped[sizeof(T)];
  std::reverse_copy(bytes, bytes + sizeof(T), swapped);
  T value;
  std::memcpy(&value, swapped, sizeof(T));
  return value;
}

// Stored values as CFITSIO turns them into floats: BLANK integers NaN,
// value = BZERO + BSCALE x stored computed in double when either is set.
template <class T>
void decode_values(const unsigned char* bytes, size_t count, const PixelStorage& storage,
                   const long long* blank, float* to) {
  const bool scaled = storage.bscale != 1.0 || storage.bzero != 0.0;
  for (size_t k = 0; k < count; ++k) {
    const T stored = big_endian<T>(bytes + k * sizeof(T));
    if constexpr (std::is_integral_v<T>) {
      if (blank && static_cast<long long>(stored) == *blank) {
        to[k] = std::numeric_limits<float>::quiet_NaN();
        continue;
      }
    }
    to[k] = scaled ? static_cast<float>(stored * storage.bscale + storage.bzero)
                   : static_cast<float>(stored);
  }
}

void decode_pixels(const unsigned char* bytes, size_t count, const PixelStorage& storage,
                   const long long* blank, float* to) {
  switch (storage.bitpix) {
    case BYTE_IMG:
      return decode_values<uint8_t>(bytes, count, storage, blank, to);
    case SHORT_IMG:
      return decode_values<int16_t>(bytes, count, storage, blank, to);
    case LONG_IMG:
      return decode_values<int32_t>(bytes, count, storage, blank, to);
    case LONGLONG_IMG:
      return decode_values<int64_t>(bytes, count, storage, blank, to);
    case FLOAT_IMG:
      return decode_values<float>(bytes, count, storage, blank, to);
    default:
      return decode_values<double>(bytes, count, storage, blank, to);
  }
}

}  // namespace

// A plain file is read by CFITSIO, as read_fits reads it; a gzip stream is
// inflated a strip at a time and its stored values decoded here.
struct FitsStrips::Source {
  std::string path;
  ImageInfo info;
  PixelStorage storage;
  Descriptor d;
  FitsFile fits;
  std::unique_ptr<GzipInput> gz;  // zlib's stream must stay where it was begun
  long long inflated_before = 0;  // stream bytes dropped from the front of gz->out
  bool has_blank = false;
  long long blank = 0;
  ~Source() {
    if (gz) gzip_end(*gz);
  }
};

FitsStrips::FitsStrips(const std::string& path, long long max_pixels,
                       std::vector<std::string>* cards)
    : source_(std::make_unique<Source>()) {
  Source& s = *source_;
  s.path = path;
  struct stat st;
  if (!open_fits(path, s.d, st, s.fits)) {
    s.info = locate_image(path, s.fits.file, max_pixels);
    refuse_truncated(path, s.info, static_cast<long long>(st.st_size));
    s.storage = check_scaling(path, s.fits.file, s.info.bitpix);
    if (cards) *cards = read_cards(path, s.fits.file);
    return;
  }
  s.gz = std::make_unique<GzipInput>();
  gzip_begin(*s.gz, descriptor_reader(path, s.d.fd));
  s.info = inflate_header(path, *s.gz, max_pixels);
  // Strips of a gzip file are decoded from its bytes, which a table of
  // compressed tiles does not give.
  if (s.info.compressed)
    throw ToolError(path,
                    "is a tile-compressed image inside gzip, which is not read in strips: "
                    "gunzip it");
  MemoryFits memory(path, s.gz->out);
  s.storage = check_scaling(path, memory.fits.file, s.info.bitpix);
  if (s.info.bitpix > 0) {
    int status = 0;
    LONGLONG blank = 0;
    fits_read_key(memory.fits.file, TLONGLONG, "BLANK", &blank, nullptr, &status);
    s.has_blank = status == 0;
    s.blank = blank;
    fits_clear_errmsg();
  }
  if (cards) *cards = read_cards(path, memory.fits.file);
}

FitsStrips::~FitsStrips() = default;
FitsStrips::FitsStrips(FitsStrips&&) noexcept = default;
FitsStrips& FitsStrips::operator=(FitsStrips&&) noexcept = default;

int32_t FitsStrips::width() const {
  return source_->info.width;
}
int32_t FitsStrips::height() const {
  return source_->info.height;
}
PixelStorage FitsStrips::storage() const {
  return source_->storage;
}

void FitsStrips::read_rows(int32_t first, int32_t rows, float* to) {
  Source& s = *source_;
  if (first < 0 || rows < 0 || first + rows > s.info.height)
    throw InternalError(s.path + ": rows " + std::to_string(first) + " to " +
                        std::to_string(first + rows - 1) + " are outside the image");
  const LONGLONG count = static_cast<LONGLONG>(s.info.width) * rows;
  const LONGLONG first_pixel = static_cast<LONGLONG>(s.info.width) * first;
  if (!s.gz) return read_range(s.path, s.fits.file, s.info, first_pixel, count, to);

  const long long value_bytes = std::abs(s.info.bitpix) / 8;
  const long long start = s.info.data_start + first_pixel * value_bytes;
  const long long end = start + count * value_bytes;
  if (start < s.inflated_before) throw InternalError(s.path + ": gzip rows asked for out of order");
  GzipInput& gz = *s.gz;
  gzip_fill(gz, static_cast<size_t>(end - s.inflated_before));
  if (static_cast<long long>(gz.out.size()) < end - s.inflated_before) {
    refuse_damaged(s.path, gz);
    refuse_truncated(s.path, s.info, s.inflated_before + static_cast<long long>(gz.out.size()));
  }
  decode_pixels(gz.out.data() + (start - s.inflated_before), static_cast<size_t>(count), s.storage,
                s.has_blank ? &s.blank : nullptr, to);
  gz.out.erase(gz.out.begin(), gz.out.begin() + (end - s.inflated_before));
  s.inflated_before = end;
  // With the last rows, the checksums at the end of the data.
  if (first + rows == s.info.height) {
    gzip_check_rest(gz);
    refuse_damaged(s.path, gz);
  }
}
