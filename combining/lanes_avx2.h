// The operations of Sse2Lanes, eight pixels per vector with AVX2; only the
// unit compiled for AVX2 includes this.
#pragma once

#include <immintrin.h>

#include "kernels/force_inline.h"

struct Avx2Lanes {
  using Floats = __m256;
  using Ints = __m256i;
  using Doubles = __m256d;
  static constexpr int lanes = 8;

  static TENVORA_FORCE_INLINE Floats load(const float* p) { return _mm256_loadu_ps(p); }
  static TENVORA_FORCE_INLINE void store(float* p, Floats v) { _mm256_storeu_ps(p, v); }
  static TENVORA_FORCE_INLINE Floats broadcast(float x) { return _mm256_set1_ps(x); }
  // VMINPS a, b and VMAXPS a, b give b where the two are equal, as MINPS and
  // MAXPS do.
  static TENVORA_FORCE_INLINE void exchange(Floats& a, Floats& b) {
    const Floats low = _mm256_min_ps(a, b);
    b = _mm256_max_ps(a, b);
    a = low;
  }
  static TENVORA_FORCE_INLINE Floats finite(Floats v) {
    return _mm256_cmp_ps(_mm256_andnot_ps(_mm256_set1_ps(-0.0f), v), broadcast(__builtin_inff()),
                         _CMP_LT_OQ);
  }
  static TENVORA_FORCE_INLINE Floats select(Floats mask, Floats a, Floats b) {
    return _mm256_blendv_ps(b, a, mask);
  }
  static TENVORA_FORCE_INLINE Floats mask_of(Ints mask) { return _mm256_castsi256_ps(mask); }
  static TENVORA_FORCE_INLINE Floats bitwise_and(Floats a, Floats b) { return _mm256_and_ps(a, b); }
  static TENVORA_FORCE_INLINE int outside(Floats v, Floats low, Floats high) {
    return _mm256_movemask_ps(
        _mm256_or_ps(_mm256_cmp_ps(v, low, _CMP_LT_OQ), _mm256_cmp_ps(v, high, _CMP_GT_OQ)));
  }

  static TENVORA_FORCE_INLINE Ints ints(int x) { return _mm256_set1_epi32(x); }
  static TENVORA_FORCE_INLINE Ints load_ints(const int* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  static TENVORA_FORCE_INLINE void store_ints(int* p, Ints v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  static TENVORA_FORCE_INLINE Ints subtract_mask(Ints count, Floats mask) {
    return _mm256_sub_epi32(count, _mm256_castps_si256(mask));
  }
  static TENVORA_FORCE_INLINE Ints subtract(Ints a, Ints b) { return _mm256_sub_epi32(a, b); }
  static TENVORA_FORCE_INLINE Ints greater(Ints a, Ints b) { return _mm256_cmpgt_epi32(a, b); }
  static TENVORA_FORCE_INLINE Ints and_not(Ints a, Ints b) { return _mm256_andnot_si256(a, b); }
  static TENVORA_FORCE_INLINE Ints same(Ints a, Ints b) { return _mm256_cmpeq_epi32(a, b); }
  static TENVORA_FORCE_INLINE int bits(Ints mask) {
    return _mm256_movemask_ps(_mm256_castsi256_ps(mask));
  }

  template <int half>
  static TENVORA_FORCE_INLINE Doubles widen(Floats v) {
    return _mm256_cvtps_pd(_mm256_extractf128_ps(v, half));
  }
  template <int half>
  static TENVORA_FORCE_INLINE Doubles widen(Ints v) {
    return _mm256_cvtepi32_pd(_mm256_extracti128_si256(v, half));
  }
  static TENVORA_FORCE_INLINE Floats narrow(Doubles low, Doubles high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(low)), _mm256_cvtpd_ps(high),
                                1);
  }
  static TENVORA_FORCE_INLINE Doubles doubles(double x) { return _mm256_set1_pd(x); }
  static TENVORA_FORCE_INLINE void store(double* p, Doubles v) { _mm256_storeu_pd(p, v); }
  static TENVORA_FORCE_INLINE Doubles zero() { return _mm256_setzero_pd(); }
  static TENVORA_FORCE_INLINE Doubles add(Doubles a, Doubles b) { return _mm256_add_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles subtract(Doubles a, Doubles b) { return _mm256_sub_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles multiply(Doubles a, Doubles b) { return _mm256_mul_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles divide(Doubles a, Doubles b) { return _mm256_div_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles min(Doubles a, Doubles b) { return _mm256_min_pd(a, b); }
  static TENVORA_FORCE_INLINE Doubles max(Doubles a, Doubles b) { return _mm256_max_pd(a, b); }
  static TENVORA_FORCE_INLINE int within(Doubles farthest, Doubles limit) {
    return _mm256_movemask_pd(_mm256_or_pd(_mm256_cmp_pd(limit, _mm256_setzero_pd(), _CMP_EQ_OQ),
                                           _mm256_cmp_pd(farthest, limit, _CMP_LE_OQ)));
  }
};
