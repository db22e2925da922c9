// Gzip-compressed input inflated into memory a bounded amount at a time, so
// that a small file cannot make the tool allocate what it declares.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Reads up to size compressed bytes into to; returns how many (0 at the end).
using ByteReader = std::function<size_t(unsigned char* to, size_t size)>;

struct GzipInput {
  ByteReader read;
  z_stream zs{};
  std::vector<unsigned char> in;   // compressed bytes not yet inflated
  std::vector<unsigned char> out;  // everything inflated so far
  bool ended = false;              // no more data: end of input or trailing garbage
  bool damaged = false;            // the stream is not valid gzip
  std::string problem;             // what is wrong with it, when damaged
};

// Starts inflating what read delivers (gzip members one after another).
void gzip_begin(GzipInput& gz, ByteReader read);
void gzip_end(GzipInput& gz);
// Inflates until out holds at least size bytes or the data end.
void gzip_fill(GzipInput& gz, size_t size);
// Inflates the rest of the data without keeping it, so that every member's
// CRC-32 and length are checked; damaged tells the outcome.
void gzip_check_rest(GzipInput& gz);

bool is_gzip(const unsigned char* start, size_t size);
