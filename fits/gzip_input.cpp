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

// Inflates at most room bytes into to; returns how many. zlib checks each
// member's CRC-32 and length (ISIZE) as it reaches the member's end.
size_t inflate_some(GzipInput& gz, unsigned char* to, size_t room) {
  if (!refill(gz)) {
    gz.ended = gz.damaged = true;
    gz.problem = "the data end inside a member";
    return 0;
  }
  gz.zs.next_out = to;
  gz.zs.avail_out = static_cast<uInt>(room);
  const int status = inflate(&gz.zs, Z_NO_FLUSH);
  const size_t made = room - gz.zs.avail_out;
  if (status == Z_STREAM_END) {
    // Another member may follow; anything else after a member is ignored,
    // as gzip itself does with trailing zeros.
    if (!refill(gz) || !is_gzip(gz.zs.next_in, gz.zs.avail_in))
      gz.ended = true;
    else
      inflateReset(&gz.zs);
  } else if (status != Z_OK && status != Z_BUF_ERROR) {
    gz.ended = gz.damaged = true;
    gz.problem = gz.zs.msg ? gz.zs.msg : "not valid deflate data";
  }
  return made;
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
    const size_t before = gz.out.size();
    const size_t room = std::min(kChunk, size - before);
    gz.out.resize(before + room);
    gz.out.resize(before + inflate_some(gz, gz.out.data() + before, room));
  }
}

void gzip_check_rest(GzipInput& gz) {
  std::vector<unsigned char> scratch(kChunk);
  while (!gz.ended) inflate_some(gz, scratch.data(), scratch.size());
}
