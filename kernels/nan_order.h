// Sums and products with a fixed NaN. When both operands are NaN the
// processor returns the NaN of the operand in its destination register, and
// since + and * commute, compilers put either operand there: the 32-bit DLL
// and the native build would then disagree on the bits of such a pixel. These
// settle it: a NaN result carries the first operand's NaN if it has one, else
// the second's, quieted, which is what the processor gives with the first
// operand as destination. Results that are numbers take no extra work.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernels/force_inline.h"

TENVORA_FORCE_INLINE float quieted(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits |= 0x00400000u;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

TENVORA_FORCE_INLINE double quieted(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits |= 0x0008000000000000u;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// A NaN result of an operation on a and b, with the first operand's NaN first.
template <typename T>
TENVORA_FORCE_INLINE T settle_nan(T a, T b, T result) {
  if (result == result) return result;
  if (a != a) return quieted(a);
  if (b != b) return quieted(b);
  return result;  // the invalid operation's own NaN, the same everywhere
}

template <typename T>
TENVORA_FORCE_INLINE T sum_of(T a, T b) {
  return settle_nan(a, b, a + b);
}

template <typename T>
TENVORA_FORCE_INLINE T product_of(T a, T b) {
  return settle_nan(a, b, a * b);
}
