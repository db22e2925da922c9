// The operations the combining kernel is written in, four pixels per vector
// with SSE2; doubles two per vector, a vector of floats widened half by half.
#pragma once

#include <emmintrin.h>

#include "kernels/force_inline.h"

struct Sse2Lanes {
  using Floats = __m128;
  using Ints = __m128i;
  using Doubles = __m128d;
  static constexpr int lanes = 4;

  static TENVORA_FORCE_INLINE Floats load(const float* p) { return _mm_loadu_ps(p); }
  static TENVORA_FORCE_INLINE void store(float* p, Floats v) { _mm_storeu_ps(p, v); }
  static TENVORA_FORCE_INLINE Floats broadcast(float x) { return _mm_set1_ps(x); }
  // The same exchange as the scalar one of earlier releases: MINPS a, b and
  // MAXPS a, b, either giving b where the two are equal.
  static TENVORA_FORCE_INLINE void exchange(Floats& a, Floats& b) {
    const Floats low = _mm_min_ps(a, b);
    b = _mm_max_ps(a, b);
    a = low;
  }
  // Lanes where |v| < infinity (false for NaN).
  static TENVORA_FORCE_INLINE Floats finite(Floats v) {
    return _mm_cmplt_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), v), broadcast(__builtin_inff()));
  }
  static TENVORA_FORCE_INLINE Floats select(Floats mask, Floats a, Floats b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
  }
  static TENVORA_FORCE_INLINE Floats mask_of(Ints mask) { return _mm_castsi128_ps(mask); }
  static TENVORA_FORCE_INLINE Floats bitwise_and(Floats a, Floats b) { return _mm_and_ps(a, b); }
  // Lanes where v < low or v > high, as bits (false for NaN).
  static TENVORA_FORCE_INLINE int outside(Floats v, Floats low, Floats high) {
    return _mm_movemask_ps(_mm_or_ps(_mm_cmplt_ps(v, low), _mm_cmpgt_ps(v, high)));
  }

  static TENVORA_FORCE_INLINE Ints ints(int x) { return _mm_set1_epi32(x); }
  static TENVORA_FORCE_INLINE Ints load_ints(const int* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
  static TENVORA_FORCE_INLINE void store_ints(int* p, Ints v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  }
  // A mask lane (all ones) counts -1.
  static TENVORA_FORCE_INLINE Ints subtract_mask(Ints count, Floats mask) {
    return _mm_sub_epi32(count, _mm_castps_si128(mask));
  }
  static TENVORA_FORCE_INLINE Ints subtract(Ints a, Ints b) { return _mm_sub_epi32(a, b); }
  static TENVORA_FORCE_INLINE Ints greater(Ints a, Ints b) { return _mm_cmpgt_epi32(a, b); }
  static TENVORA_FORCE_INLINE Ints and_not(Ints a, Ints b) { return _mm_andnot_si128(a, b); }
  static TENVORA_FORCE_INLINE Ints same(Ints a, Ints b) { return _mm_cmpeq_epi32(a, b); }
  // A mask's lanes as bits.
  static TENVORA_FORCE_INLINE int bits(Ints mask) {
    return _mm_movemask_ps(_mm_castsi128_ps(mask));
  }

  // Half 0 or 1 of the lanes, in double.
  template <int half>
  static TENVORA_FORCE_INLINE Doubles widen(Floats v) {
    return _mm_cvtps_pd(half == 0 ? v : _mm_movehl_ps(v, v));
  }
  template <int half>
  static TENVORA_FORCE_INLINE Doubles widen(Ints v) {
    return _mm_cvtepi32_pd(half == 0 ? v : _mm_unpackhi_epi64(v, v));
  }
  static TENVORA_FORCE_INLINE Floats narrow(Doubles low, Doubles high) {
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
  }
  static TENVORA_FORCE_INLINE Doubles doubles(double x) { return _mm_set1_pd(x); }
  static TENVORA_FORCE_INLINE void store(double* p, Doubles v) { _mm_storeu_pd(p, v); }
  static TENVORA_FORCE_INLINE Doubles zero() { return _mm_setzero_pd(); }
  static TENVORA_FORCE_INLINE Doubles add(Doubles a, Doubles b) { return _mm_add_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles subtract(Doubles a, Doubles b) { return _mm_sub_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles multiply(Doubles a, Doubles b) { return _mm_mul_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles divide(Doubles a, Doubles b) { return _mm_div_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles min(Doubles a, Doubles b) { return _mm_min_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles max(Doubles a, Doubles b) { return _mm_max_pd(a, b); }
  // Lanes where limit == 0 or farthest <= limit, as bits.
  static TENVORA_FORCE_INLINE int within(Doubles farthest, Doubles limit) {
    return _mm_movemask_pd(
        _mm_or_pd(_mm_cmpeq_pd(limit, _mm_setzero_pd()), _mm_cmple_pd(farthest, limit)));
  }
};
