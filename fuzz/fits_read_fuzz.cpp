// The tool's FITS reading layer on arbitrary file contents (plain or
// gzip-compressed), through CFITSIO's memory files. Every input must end in
// a frame of the declared size or in a ToolError; the pixel limit keeps the
// frames small, and no input may make the reader allocate beyond it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fits/fits_io.h"
#include "fits/tool_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr long long kMaxPixels = 1 << 16;
  try {
    const Frame frame = read_fits_bytes("input", data, size, kMaxPixels);
    if (frame.width < 1 || frame.height < 1 ||
        static_cast<long long>(frame.width) * frame.height > kMaxPixels ||
        frame.pixels.size() != static_cast<size_t>(frame.width) * frame.height)
      std::abort();
  } catch (const ToolError&) {
  }
  return 0;
}
