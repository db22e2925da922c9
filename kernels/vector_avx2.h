// Eight floats per vector with AVX2 (and FMA), for processors that have both.
// The same operations as Sse2; only translation units compiled for AVX2 and
// FMA include this.
#pragma once

#include <immintrin.h>

#include "kernels/force_inline.h"

struct Avx2 {
  using Floats = __m256;
  static constexpr int lanes = 8;

  static TENVORA_FORCE_INLINE Floats load(const float* p) { return _mm256_loadu_ps(p); }
  static TENVORA_FORCE_INLINE void store(float* p, Floats v) { _mm256_storeu_ps(p, v); }
  static TENVORA_FORCE_INLINE Floats broadcast(float x) { return _mm256_set1_ps(x); }
  // column[c] = p[c], p[5 + c], ..., p[35 + c] for c = 0 .. 4: the pixels of
  // one row of eight neighbouring blocks, column by column. Each 128-bit half
  // takes four blocks (20 floats) from five loads, rearranged with blends and
  // one permute per column (single loads or a gather cost more).
  static TENVORA_FORCE_INLINE void block_columns(const float* p, Floats column[5]) {
    Floats loaded[5];
    for (int k = 0; k < 5; ++k)
      loaded[k] = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p + 4 * k)),
                                       _mm_loadu_ps(p + 20 + 4 * k), 1);
    column[0] = block_column<0>(loaded);
    column[1] = block_column<1>(loaded);
    column[2] = block_column<2>(loaded);
    column[3] = block_column<3>(loaded);
    column[4] = block_column<4>(loaded);
  }

  // Leaves a <= b: swaps unless b >= a (false with NaN), by blending, so
  // equal values of either sign stay put and NaN moves as the scalar rule says.
  static TENVORA_FORCE_INLINE void compare_exchange(Floats& a, Floats& b) {
    const Floats swap = _mm256_cmp_ps(b, a, _CMP_NGE_UQ);
    const Floats low = _mm256_blendv_ps(a, b, swap);
    b = _mm256_blendv_ps(b, a, swap);
    a = low;
  }
  // The same exchange where neither holds NaN in any lane: VMINPS x, y gives
  // x < y ? x : y, else y, and VMAXPS x > y ? x : y, else y, so with these
  // operands equal values (zeros of either sign too) stay put as above.
  static TENVORA_FORCE_INLINE void min_max_exchange(Floats& a, Floats& b) {
    const Floats low = _mm256_min_ps(b, a);
    b = _mm256_max_ps(a, b);
    a = low;
  }
  // Lanes where a or b is NaN.
  static TENVORA_FORCE_INLINE Floats unordered(Floats a, Floats b) {
    return _mm256_cmp_ps(a, b, _CMP_UNORD_Q);
  }

  static TENVORA_FORCE_INLINE Floats greater(Floats a, Floats b) {
    return _mm256_cmp_ps(a, b, _CMP_GT_OQ);
  }
  static TENVORA_FORCE_INLINE Floats zero_or_nan(Floats v) {
    return _mm256_or_ps(_mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_EQ_OQ),
                        _mm256_cmp_ps(v, v, _CMP_UNORD_Q));
  }
  static TENVORA_FORCE_INLINE Floats select(Floats mask, Floats a, Floats b) {
    return _mm256_blendv_ps(b, a, mask);
  }
  static TENVORA_FORCE_INLINE Floats sign_of(Floats v) { return _mm256_and_ps(v, sign_bit()); }
  static TENVORA_FORCE_INLINE Floats bitwise_xor(Floats a, Floats b) { return _mm256_xor_ps(a, b); }
  static TENVORA_FORCE_INLINE Floats bitwise_or(Floats a, Floats b) { return _mm256_or_ps(a, b); }
  static TENVORA_FORCE_INLINE bool any(Floats mask) { return _mm256_movemask_ps(mask) != 0; }

  // a > 1.25 * b lane by lane for b > 0, b not NaN (the callers' median):
  // the sign of fma(b, 1.25, -a) is the sign of the exact 1.25 * b - a, as
  // one rounding keeps it. This is an exact sign test, not a rounding step
  // contracted away (contraction stays off everywhere). A difference too
  // small for a subnormal rounds to -0 and an exact zero gives +0, so the
  // sign bit decides, not a comparison with 0; a NaN (a and b both
  // infinite, or a NaN) fails, as the quotient test does.
  static TENVORA_FORCE_INLINE Floats above_five_quarters(Floats a, Floats b) {
    const Floats difference = _mm256_fmadd_ps(b, _mm256_set1_ps(1.25f), bitwise_xor(a, sign_bit()));
    const Floats negative = _mm256_andnot_ps(unordered(difference, difference), difference);
    return _mm256_castsi256_ps(_mm256_srai_epi32(_mm256_castps_si256(negative), 31));
  }

  // Sums and products settle the NaN of two NaN operands as settle_nan does.
  static TENVORA_FORCE_INLINE Floats add(Floats a, Floats b) {
    return settle_nan(a, b, _mm256_add_ps(a, b));
  }
  static TENVORA_FORCE_INLINE Floats subtract(Floats a, Floats b) { return _mm256_sub_ps(a, b); }
  static TENVORA_FORCE_INLINE Floats multiply(Floats a, Floats b) {
    return settle_nan(a, b, _mm256_mul_ps(a, b));
  }

 private:
  static TENVORA_FORCE_INLINE Floats sign_bit() { return _mm256_set1_ps(-0.0f); }
  // Lane b of each half wants element 5b + c of its 20 floats: loaded vector
  // (5b + c) / 4, lane (b + c) % 4. Blend the four into those lanes, then
  // move lane (b + c) % 4 to lane b.
  template <int c>
  static TENVORA_FORCE_INLINE Floats block_column(const Floats (&loaded)[5]) {
    Floats result = loaded[c / 4];
    result = _mm256_blend_ps(result, loaded[(5 + c) / 4], 0x11 << ((1 + c) % 4));
    result = _mm256_blend_ps(result, loaded[(10 + c) / 4], 0x11 << ((2 + c) % 4));
    result = _mm256_blend_ps(result, loaded[(15 + c) / 4], 0x11 << ((3 + c) % 4));
    return _mm256_permute_ps(result, _MM_SHUFFLE((3 + c) % 4, (2 + c) % 4, (1 + c) % 4, c % 4));
  }

  static TENVORA_FORCE_INLINE Floats settle_nan(Floats a, Floats b, Floats result) {
    if (!any(unordered(result, result))) return result;
    const Floats quiet = _mm256_castsi256_ps(_mm256_set1_epi32(0x00400000));
    result = select(unordered(b, b), _mm256_or_ps(b, quiet), result);
    return select(unordered(a, a), _mm256_or_ps(a, quiet), result);
  }
};
