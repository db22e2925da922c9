#include "fits/gzip_input.h"

#include <algorithm>
#include <new>

namespace {

constexpr size_t kChunk = 1 << 16;

// Takes more compressed bytes when zlib has used up what it was given.
bool refill(GzipInput& gz) {
  if (gz.zs.avail_in > 0) return true;
  gz.in.resize(kChunk);
  const size_t got = gz.read(gz.in.data(), gz.in.size());
  gz.zs.next_in = gz.in.data();
  gz.zs.avail_in = static_cast<uInt>(got);
  return got > 0;
}

}  // namespace

bool is_gzip(const unsigned char* start, size_t size) {
  return size >= 2 && start[0] == 0x1f && start[1] == 0x8b;
}

void gzip_begin(GzipInput& gz, ByteReader read) {
  gz.read = std::move(read);
  // 16 + MAX_WBITS: gzip framing, header and trailer checked.
  if (inflateInit2(&gz.zs, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
}

void gzip_end(GzipInput& gz) {
  inflateEnd(&gz.zs);
}

void gzip_fill(GzipInput& gz, size_t size) {
  while (!gz.ended && gz.out.size() < size) {
    if (!refill(gz)) {
      // The data stop inside a member.
      gz.ended = gz.damaged = true;
      return;
    }
    const size_t before = gz.out.size();
    const size_t room = std::min(kChunk, size - before);
    gz.out.resize(before + room);
    gz.zs.next_out = gz.out.data() + before;
    gz.zs.avail_out = static_cast<uInt>(room);
    const int status = inflate(&gz.zs, Z_NO_FLUSH);
    gz.out.resize(before + room - gz.zs.avail_out);
    if (status == Z_STREAM_END) {
      // Another member may follow; anything else after a member is ignored,
      // as gzip itself does with trailing zeros.
      if (!refill(gz) || !is_gzip(gz.zs.next_in, gz.zs.avail_in)) {
        gz.ended = true;
        return;
      }
      inflateReset(&gz.zs);
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      gz.ended = gz.damaged = true;
    }
  }
}
