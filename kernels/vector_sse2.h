// Four floats per vector with SSE2, the baseline of both builds. The
// operations the vector kernels are written in; each reproduces the scalar
// operation lane by lane, bit for bit.
#pragma once

#include <emmintrin.h>

#include "kernels/force_inline.h"

struct Sse2 {
  using Floats = __m128;
  static constexpr int lanes = 4;

  static TENVORA_FORCE_INLINE Floats load(const float* p) { return _mm_loadu_ps(p); }
  static TENVORA_FORCE_INLINE void store(float* p, Floats v) { _mm_storeu_ps(p, v); }
  static TENVORA_FORCE_INLINE Floats broadcast(float x) { return _mm_set1_ps(x); }
  // column[c] = p[c], p[5 + c], p[10 + c], p[15 + c] for c = 0 .. 4: the
  // pixels of one row of four neighbouring blocks, column by column, from
  // five loads rearranged with three shuffles per column.
  static TENVORA_FORCE_INLINE void block_columns(const float* p, Floats column[5]) {
    Floats loaded[5];
    for (int k = 0; k < 5; ++k) loaded[k] = _mm_loadu_ps(p + 4 * k);
    column[0] = block_column<0>(loaded);
    column[1] = block_column<1>(loaded);
    column[2] = block_column<2>(loaded);
    column[3] = block_column<3>(loaded);
    column[4] = block_column<4>(loaded);
  }

  // Leaves a <= b: swaps unless b >= a (false with NaN), with bit masks, so
  // equal values of either sign stay put and NaN moves as the scalar rule says.
  static TENVORA_FORCE_INLINE void compare_exchange(Floats& a, Floats& b) {
    const Floats difference = _mm_and_ps(_mm_cmpnge_ps(b, a), _mm_xor_ps(a, b));
    a = _mm_xor_ps(a, difference);
    b = _mm_xor_ps(b, difference);
  }
  // The same exchange where neither holds NaN in any lane: MINPS x, y gives
  // x < y ? x : y, else y, and MAXPS x > y ? x : y, else y, so with these
  // operands equal values (zeros of either sign too) stay put as above.
  static TENVORA_FORCE_INLINE void min_max_exchange(Floats& a, Floats& b) {
    const Floats low = _mm_min_ps(b, a);
    b = _mm_max_ps(a, b);
    a = low;
  }
  // Lanes where a or b is NaN.
  static TENVORA_FORCE_INLINE Floats unordered(Floats a, Floats b) { return _mm_cmpunord_ps(a, b); }

  static TENVORA_FORCE_INLINE Floats greater(Floats a, Floats b) { return _mm_cmpgt_ps(a, b); }
  static TENVORA_FORCE_INLINE Floats zero_or_nan(Floats v) {
    return _mm_or_ps(_mm_cmpeq_ps(v, _mm_setzero_ps()), _mm_cmpunord_ps(v, v));
  }
  static TENVORA_FORCE_INLINE Floats select(Floats mask, Floats a, Floats b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
  }
  static TENVORA_FORCE_INLINE Floats sign_of(Floats v) { return _mm_and_ps(v, _mm_set1_ps(-0.0f)); }
  static TENVORA_FORCE_INLINE Floats bitwise_xor(Floats a, Floats b) { return _mm_xor_ps(a, b); }
  static TENVORA_FORCE_INLINE Floats bitwise_or(Floats a, Floats b) { return _mm_or_ps(a, b); }
  static TENVORA_FORCE_INLINE bool any(Floats mask) { return _mm_movemask_ps(mask) != 0; }

  // a > 1.25 * b lane by lane, both widened to double, where the product is
  // exact.
  static TENVORA_FORCE_INLINE Floats above_five_quarters(Floats a, Floats b) {
    const __m128d five_quarters = _mm_set1_pd(1.25);
    const __m128d low = _mm_cmpgt_pd(_mm_cvtps_pd(a), _mm_mul_pd(_mm_cvtps_pd(b), five_quarters));
    const __m128d high = _mm_cmpgt_pd(_mm_cvtps_pd(_mm_movehl_ps(a, a)),
                                      _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(b, b)), five_quarters));
    return _mm_shuffle_ps(_mm_castpd_ps(low), _mm_castpd_ps(high), _MM_SHUFFLE(2, 0, 2, 0));
  }

  // Sums and products settle the NaN of two NaN operands as settle_nan does.
  static TENVORA_FORCE_INLINE Floats add(Floats a, Floats b) {
    return settle_nan(a, b, _mm_add_ps(a, b));
  }
  static TENVORA_FORCE_INLINE Floats subtract(Floats a, Floats b) { return _mm_sub_ps(a, b); }
  static TENVORA_FORCE_INLINE Floats multiply(Floats a, Floats b) {
    return settle_nan(a, b, _mm_mul_ps(a, b));
  }

 private:
  static TENVORA_FORCE_INLINE Floats settle_nan(Floats a, Floats b, Floats result) {
    if (!any(unordered(result, result))) return result;
    const Floats quiet = _mm_castsi128_ps(_mm_set1_epi32(0x00400000));
    result = select(unordered(b, b), _mm_or_ps(b, quiet), result);
    return select(unordered(a, a), _mm_or_ps(a, quiet), result);
  }

  // Lane b wants element 5b + c of the 20 floats: loaded vector
  // (5b + c) / 4, lane (b + c) % 4. Two shuffles pair lanes 0, 1 and 2, 3,
  // a third picks one of each pair.
  template <int c>
  static TENVORA_FORCE_INLINE Floats block_column(const Floats (&loaded)[5]) {
    constexpr int lane0 = c % 4, lane1 = (1 + c) % 4, lane2 = (2 + c) % 4, lane3 = (3 + c) % 4;
    const Floats low =
        _mm_shuffle_ps(loaded[c / 4], loaded[(5 + c) / 4], _MM_SHUFFLE(lane1, lane1, lane0, lane0));
    const Floats high = _mm_shuffle_ps(loaded[(10 + c) / 4], loaded[(15 + c) / 4],
                                       _MM_SHUFFLE(lane3, lane3, lane2, lane2));
    return _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
  }
};
