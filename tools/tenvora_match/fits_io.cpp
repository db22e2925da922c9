#include "tools/tenvora_match/fits_io.h"

#include <fcntl.h>
#include <fitsio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "tools/tenvora_match/tool_error.h"

namespace {

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

// The open() check tells a missing or unreadable file apart from one that is
// there but not FITS, which CFITSIO reports alike.
void check_readable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw ToolError(path, std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw ToolError(path, "is a directory, not a FITS file");
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) throw ToolError(path, std::string("cannot be read: ") + std::strerror(errno));
  close(fd);
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

Frame read_fits(const std::string& path) {
  check_readable(path);
  FitsFile fits;
  int status = 0;
  // The disk-file calls take the name literally: no CFITSIO filters or
  // extended syntax in user file names.
  if (fits_open_diskfile(&fits.file, path.c_str(), READONLY, &status) != 0) {
    fits.file = nullptr;
    throw ToolError(path, "not a FITS file (" + cfitsio_text(status) + ")");
  }
  const int naxis = move_to_image(path, fits.file);
  if (naxis == 1) throw ToolError(path, "holds a 1-D image, not a 2-D one");
  long long axes[9] = {};
  if (naxis > 9 || fits_get_img_sizell(fits.file, naxis, axes, &status) != 0)
    throw ToolError(path, "unreadable image size");
  for (int k = 2; k < naxis; ++k)
    if (axes[k] != 1)
      throw ToolError(path, "is a " + std::to_string(naxis) + "-D image with " +
                                std::to_string(axes[k]) + " planes along axis " +
                                std::to_string(k + 1) + "; only 2-D images are read");
  if (axes[0] < 1 || axes[1] < 1) throw ToolError(path, "holds an empty image");
  const long long limit = std::numeric_limits<int32_t>::max();
  if (axes[0] > limit || axes[1] > limit || axes[0] * axes[1] > limit)
    throw ToolError(path, "image too large (" + std::to_string(axes[0]) + " x " +
                              std::to_string(axes[1]) + ")");

  Frame frame;
  frame.width = static_cast<int32_t>(axes[0]);
  frame.height = static_cast<int32_t>(axes[1]);
  frame.pixels.resize(static_cast<size_t>(axes[0] * axes[1]));
  float blank = std::numeric_limits<float>::quiet_NaN();
  int any_blank = 0;
  if (fits_read_img(fits.file, TFLOAT, 1, static_cast<LONGLONG>(frame.pixels.size()), &blank,
                    frame.pixels.data(), &any_blank, &status) != 0)
    throw ToolError(path, "cannot read the image (" + cfitsio_text(status) + ")");
  return frame;
}

namespace {

void write_key(fitsfile* file, const FitsKey& key, int* status) {
  char* name = const_cast<char*>(key.name.c_str());
  const char* comment = key.comment.c_str();
  if (key.kind == FitsKey::TEXT) {
    // Long names go on as CONTINUE cards.
    fits_write_key_longstr(file, name, key.text.c_str(), comment, status);
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

}  // namespace

void write_fits(const std::string& path, const Frame& frame, const std::vector<FitsKey>& keys,
                int image_type) {
  FitsFile fits;
  int status = 0;
  long axes[2] = {frame.width, frame.height};
  if (fits_create_diskfile(&fits.file, path.c_str(), &status) != 0) {
    fits.file = nullptr;
    throw ToolError(path, "cannot be created (" + cfitsio_text(status) + ")");
  }
  fits_create_img(fits.file, image_type, 2, axes, &status);
  for (const FitsKey& key : keys) write_key(fits.file, key, &status);
  fits_write_img(fits.file, TFLOAT, 1, static_cast<LONGLONG>(frame.pixels.size()),
                 const_cast<float*>(frame.pixels.data()), &status);
  int close_status = 0;
  fits_close_file(fits.file, &close_status);
  fits.file = nullptr;
  if (status == 0) status = close_status;
  if (status != 0) {
    unlink(path.c_str());
    throw ToolError(path, "cannot be written (" + cfitsio_text(status) + ")");
  }
}
