// The plug-in's HSV and HSL conversions (color_space.h) for four pixels at
// a time, one 32-bit lane each, with the scalar functions' arithmetic
// operation for operation: the integer steps in integer lanes, the
// floating-point steps in double lanes in the same order (no operation is
// fused or reordered, so every lane rounds as the scalar code does).
#pragma once

#include <cstdint>

#include "composite/color_space.h"
#include "platform/simd.h"

#if TESSEL_SSE2
namespace tessel {

// The q or t of HsvToRgb, as it forms them, for a hue in [0, 360): what a
// lane whose exact fraction is a half takes.
int32_t HsvSlopeChannel(int32_t hue, int32_t saturation, int32_t value);

namespace lanes {

struct Lanes {
  __m128i r, g, b;
};

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}
inline __m128i Max(__m128i a, __m128i b) { return Select(_mm_cmpgt_epi32(a, b), a, b); }
inline __m128i Min(__m128i a, __m128i b) { return Select(_mm_cmplt_epi32(a, b), a, b); }
inline __m128i Splat(int32_t v) { return _mm_set1_epi32(v); }

// x / d truncated toward zero for |x| < 2^16 and 1 <= d <= 255, as single
// floats: both are exact, and the quotient's rounding error, below
// |x / d| 2^-24 < 1 / d, cannot carry it across the next integer, at least
// 1 / d away unless the quotient is one.
inline __m128i Divide4(__m128i x, __m128i d) {
  return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(x), _mm_cvtepi32_ps(d)));
}

// Two halves of truncated doubles back into four lanes.
inline __m128i Join(__m128d low, __m128d high) {
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
}

[[gnu::always_inline]] inline __m128i Saturation4(__m128i max, __m128i min) {
  const __m128i some = _mm_cmpgt_epi32(max, _mm_setzero_si128());
  const __m128i spread = _mm_sub_epi32(_mm_slli_epi32(_mm_sub_epi32(max, min), 8), _mm_sub_epi32(max, min));
  return _mm_and_si128(some, Divide4(spread, Select(some, max, Splat(1))));
}

[[gnu::always_inline]] inline void RgbToHsv4(const Lanes& c, __m128i* hue, __m128i* saturation, __m128i* value) {
  const __m128i max = Max(Max(c.r, c.g), c.b);
  const __m128i min = Min(Min(c.r, c.g), c.b);
  const __m128i sat = Saturation4(max, min);
  // Red before green before blue where two share the maximum.
  __m128i difference = _mm_sub_epi32(c.r, c.g);
  __m128i base = Splat(240);
  const __m128i greenMax = _mm_cmpeq_epi32(c.g, max);
  difference = Select(greenMax, _mm_sub_epi32(c.b, c.r), difference);
  base = Select(greenMax, Splat(120), base);
  const __m128i redMax = _mm_cmpeq_epi32(c.r, max);
  difference = Select(redMax, _mm_sub_epi32(c.g, c.b), difference);
  base = Select(redMax, _mm_setzero_si128(), base);
  const __m128i delta = _mm_sub_epi32(max, min);
  const __m128i times60 = _mm_sub_epi32(_mm_slli_epi32(difference, 6), _mm_slli_epi32(difference, 2));
  __m128i h = _mm_add_epi32(Divide4(times60, Select(_mm_cmpeq_epi32(delta, _mm_setzero_si128()), Splat(1), delta)), base);
  h = _mm_add_epi32(h, _mm_and_si128(_mm_cmplt_epi32(h, _mm_setzero_si128()), Splat(360)));
  *hue = _mm_andnot_si128(_mm_cmpeq_epi32(sat, _mm_setzero_si128()), h);
  *saturation = sat;
  *value = max;
}

// The candidates of the conversion back as exact fractions. With S, V the
// saturation and value (0 to 255) and j the hue's place in its sextant,
// 255 v = V, 255 p = V (255 - S) / 255, and the one of q and t that a
// sextant takes is V (1 - S j' / 15300) with j' = j (odd sextants) or
// 60 - j (even ones). The doubles of the scalar conversion round these as
// exactly as Round does, but for exact halves of q and t, where the
// doubles may fall either side: those lanes, found exactly, take the scalar
// conversion's own arithmetic. Every value here is an integer below 2^24,
// so single floats hold them and their products exactly, and a quotient
// truncated is the integer quotient (its error is below the distance to
// the next integer).
inline __m128i Quotient(__m128 dividend, float divisor) {
  return _mm_cvttps_epi32(_mm_div_ps(dividend, _mm_set1_ps(divisor)));
}

[[gnu::always_inline]] inline Lanes HsvToRgb4(__m128i hue, __m128i saturation, __m128i value) {
  hue = _mm_andnot_si128(_mm_cmpeq_epi32(hue, Splat(360)), hue);  // 360 is 0
  // hue / 60 for hue below 360: (hue 1093) >> 16, in 16-bit lanes.
  const __m128i i = _mm_mulhi_epu16(hue, Splat(1093));
  const __m128i j = _mm_sub_epi32(hue, _mm_sub_epi32(_mm_slli_epi32(i, 6), _mm_slli_epi32(i, 2)));  // hue - 60 i
  const __m128i odd = _mm_cmpeq_epi32(_mm_and_si128(i, Splat(1)), Splat(1));
  const __m128 S = _mm_cvtepi32_ps(saturation), V = _mm_cvtepi32_ps(value);
  const __m128 jp = _mm_cvtepi32_ps(Select(odd, j, _mm_sub_epi32(Splat(60), j)));
  // Round(V (15300 - S j') / 15300) = (2 V (15300 - S j') + 15300) / 30600.
  const __m128 slopeDividend = _mm_add_ps(
      _mm_mul_ps(_mm_add_ps(V, V), _mm_sub_ps(_mm_set1_ps(15300.0f), _mm_mul_ps(S, jp))), _mm_set1_ps(15300.0f));
  __m128i Y = Quotient(slopeDividend, 30600.0f);
  const __m128 back = _mm_mul_ps(_mm_cvtepi32_ps(Y), _mm_set1_ps(30600.0f));
  const int halves = _mm_movemask_ps(_mm_cmpeq_ps(back, slopeDividend));
  if (halves != 0) {
    alignas(16) int32_t y[4], h[4], sat[4], v[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(y), Y);
    _mm_store_si128(reinterpret_cast<__m128i*>(h), hue);
    _mm_store_si128(reinterpret_cast<__m128i*>(sat), saturation);
    _mm_store_si128(reinterpret_cast<__m128i*>(v), value);
    for (int k = 0; k < 4; ++k)
      if ((halves >> k) & 1 && sat[k] != 0) y[k] = HsvSlopeChannel(h[k], sat[k], v[k]);
    Y = _mm_load_si128(reinterpret_cast<const __m128i*>(y));
  }
  // Round(V (255 - S) / 255) = (2 V (255 - S) + 255) / 510, never a half.
  const __m128i P = Quotient(
      _mm_add_ps(_mm_mul_ps(_mm_add_ps(V, V), _mm_sub_ps(_mm_set1_ps(255.0f), S)), _mm_set1_ps(255.0f)), 510.0f);
  auto is = [&](int k) { return _mm_cmpeq_epi32(i, Splat(k)); };
  // By sextant: (v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q).
  Lanes out;
  out.r = Select(_mm_or_si128(is(0), is(5)), value, Select(_mm_or_si128(is(1), is(4)), Y, P));
  out.g = Select(_mm_or_si128(is(1), is(2)), value, Select(_mm_or_si128(is(0), is(3)), Y, P));
  out.b = Select(_mm_or_si128(is(3), is(4)), value, Select(_mm_or_si128(is(2), is(5)), Y, P));
  const __m128i gray = _mm_cmpeq_epi32(saturation, _mm_setzero_si128());
  out.r = Select(gray, value, out.r);
  out.g = Select(gray, value, out.g);
  out.b = Select(gray, value, out.b);
  return out;
}

// The HSL lightness alone: Round((max + min) * 0.5) is (max + min + 1) / 2.
[[gnu::always_inline]] inline __m128i Lightness4(const Lanes& c) {
  const __m128i sum = _mm_add_epi32(Max(Max(c.r, c.g), c.b), Min(Min(c.r, c.g), c.b));
  return _mm_srli_epi32(_mm_add_epi32(sum, Splat(1)), 1);
}

// RGB to HSL of four pixels as exact fractions. With d = max - min, D the
// divisor of the lightness's case (max + min below 128, 511 - max - min
// above), the saturation is Round(255 d / D) = (510 d + D) / (2 D), which
// the scalar doubles round alike for every colour; the hue, with n and k
// the difference and sextant of its case, is 85 (n + k d) / (2 d) (255
// more when negative), rounded alike but for exact halves, which the lanes
// that meet one take from the scalar conversion. Every value is an integer
// below 2^24 held exactly in single floats.
[[gnu::always_inline]] inline void RgbToHsl4(const Lanes& c, __m128i* hue, __m128i* saturation) {
  const __m128i max = Max(Max(c.r, c.g), c.b);
  const __m128i min = Min(Min(c.r, c.g), c.b);
  const __m128i equal = _mm_cmpeq_epi32(max, min);
  const __m128i sum = _mm_add_epi32(max, min);
  const __m128i span = Select(equal, Splat(1), _mm_sub_epi32(max, min));  // no lane divides by zero
  const __m128i divisor = Select(_mm_cmplt_epi32(sum, Splat(256)), sum, _mm_sub_epi32(Splat(511), sum));
  const __m128 d = _mm_cvtepi32_ps(span), D = _mm_cvtepi32_ps(Select(equal, Splat(1), divisor));
  const __m128i sat = _mm_cvttps_epi32(_mm_div_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(510.0f), d), D), _mm_add_ps(D, D)));
  const __m128i redMax = _mm_cmpeq_epi32(c.r, max), greenMax = _mm_cmpeq_epi32(c.g, max);
  const __m128i difference = Select(redMax, _mm_sub_epi32(c.g, c.b),
                                    Select(greenMax, _mm_sub_epi32(c.b, c.r), _mm_sub_epi32(c.r, c.g)));
  const __m128i sextant = Select(redMax, _mm_setzero_si128(), Select(greenMax, Splat(2), Splat(4)));
  const __m128 twoD = _mm_add_ps(d, d);
  __m128 a = _mm_mul_ps(_mm_set1_ps(85.0f),
                        _mm_add_ps(_mm_cvtepi32_ps(difference), _mm_mul_ps(_mm_cvtepi32_ps(sextant), d)));
  a = _mm_add_ps(a, _mm_and_ps(_mm_cmplt_ps(a, _mm_setzero_ps()), _mm_mul_ps(_mm_set1_ps(255.0f), twoD)));
  const __m128 dividend = _mm_add_ps(_mm_add_ps(a, a), twoD);
  const __m128 hueDivisor = _mm_add_ps(twoD, twoD);
  __m128i h = _mm_cvttps_epi32(_mm_div_ps(dividend, hueDivisor));
  const int halves = _mm_movemask_ps(_mm_cmpeq_ps(_mm_mul_ps(_mm_cvtepi32_ps(h), hueDivisor), dividend)) &
                     ~_mm_movemask_ps(_mm_castsi128_ps(equal));
  if (halves != 0) {
    alignas(16) int32_t lanes[4], r[4], g[4], b[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), h);
    _mm_store_si128(reinterpret_cast<__m128i*>(r), c.r);
    _mm_store_si128(reinterpret_cast<__m128i*>(g), c.g);
    _mm_store_si128(reinterpret_cast<__m128i*>(b), c.b);
    for (int k = 0; k < 4; ++k) {
      if (((halves >> k) & 1) == 0) continue;
      int32_t x = r[k], y = g[k], z = b[k];
      RgbToHsl(x, y, z);
      lanes[k] = x;
    }
    h = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes));
  }
  *hue = _mm_andnot_si128(equal, h);
  *saturation = _mm_andnot_si128(equal, sat);
}

// The conversion back from HSL as exact fractions, which the doubles of
// the scalar conversion round as Round does for every input (none is an
// exact half): with L, S the lightness and saturation, m2 = M / 65025 with
// M = L (S + 255) below 128 and 255 (L + S) - L S above, and m1 =
// (510 L - M) / 65025. A channel is m2 or m1 on its flat parts, and on its
// slope, where z is its hue or 170 less it, m1 + (m2 - m1) 2 z / 85, whose
// 255 times is N / 21675 with N = 85 (510 L - M) + 2 z (2 M - 510 L). Of
// the three channels at most one is on a slope, so each lane divides once
// for it (in doubles: N passes 2^24).
[[gnu::always_inline]] inline Lanes HslToRgb4(__m128i hue, __m128i saturation, __m128i lightness) {
  const __m128 L = _mm_cvtepi32_ps(lightness), S = _mm_cvtepi32_ps(saturation);
  const __m128 dark = _mm_cmplt_ps(L, _mm_set1_ps(128.0f));
  const __m128 darkM = _mm_mul_ps(L, _mm_add_ps(S, _mm_set1_ps(255.0f)));
  const __m128 lightM = _mm_sub_ps(_mm_mul_ps(_mm_set1_ps(255.0f), _mm_add_ps(L, S)), _mm_mul_ps(L, S));
  const __m128 M = _mm_or_ps(_mm_and_ps(dark, darkM), _mm_andnot_ps(dark, lightM));
  const __m128 twiceL = _mm_mul_ps(_mm_set1_ps(510.0f), L);
  const __m128 low = _mm_sub_ps(twiceL, M);  // 65025 m1
  // Round(M / 255) and Round((510 L - M) / 255): (2 x + 255) / 510.
  const __m128i high = Quotient(_mm_add_ps(_mm_add_ps(M, M), _mm_set1_ps(255.0f)), 510.0f);
  const __m128i flat = Quotient(_mm_add_ps(_mm_add_ps(low, low), _mm_set1_ps(255.0f)), 510.0f);
  // The channels' hues, wrapped into the circle as the scalar wraps them.
  __m128i h[3] = {_mm_add_epi32(hue, Splat(85)), hue, _mm_sub_epi32(hue, Splat(85))};
  h[0] = _mm_sub_epi32(h[0], _mm_and_si128(_mm_cmpgt_epi32(h[0], Splat(255)), Splat(255)));
  h[2] = _mm_add_epi32(h[2], _mm_and_si128(_mm_cmplt_epi32(h[2], _mm_setzero_si128()), Splat(255)));
  __m128i rising[3], falling[3], plateau[3];
  __m128i z = _mm_setzero_si128();
  for (int c = 0; c < 3; ++c) {
    rising[c] = _mm_cmplt_epi32(h[c], Splat(43));                                      // below 42.5
    plateau[c] = _mm_andnot_si128(rising[c], _mm_cmplt_epi32(h[c], Splat(128)));       // below 127.5
    falling[c] = _mm_andnot_si128(_mm_or_si128(rising[c], plateau[c]), _mm_cmplt_epi32(h[c], Splat(170)));
    z = Select(rising[c], h[c], Select(falling[c], _mm_sub_epi32(Splat(170), h[c]), z));
  }
  __m128i slope;
  {
    const __m128 zf = _mm_cvtepi32_ps(z);
    auto halfOf = [](__m128 v, int half) { return _mm_cvtps_pd(half == 0 ? v : _mm_movehl_ps(v, v)); };
    __m128d q[2];
    for (int half = 0; half < 2; ++half) {
      const __m128d m = halfOf(M, half), l2 = halfOf(twiceL, half), zd = halfOf(zf, half);
      const __m128d n = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(85.0), _mm_sub_pd(l2, m)),
                                   _mm_mul_pd(_mm_add_pd(zd, zd), _mm_sub_pd(_mm_add_pd(m, m), l2)));
      q[half] = _mm_div_pd(_mm_add_pd(_mm_add_pd(n, n), _mm_set1_pd(21675.0)), _mm_set1_pd(43350.0));
    }
    slope = Join(q[0], q[1]);
  }
  __m128i channel[3];
  for (int c = 0; c < 3; ++c)
    channel[c] = Select(_mm_or_si128(rising[c], falling[c]), slope, Select(plateau[c], high, flat));
  Lanes out{channel[0], channel[1], channel[2]};
  const __m128i gray = _mm_cmpeq_epi32(saturation, _mm_setzero_si128());
  out.r = Select(gray, lightness, out.r);
  out.g = Select(gray, lightness, out.g);
  out.b = Select(gray, lightness, out.b);
  return out;
}

}  // namespace lanes
}  // namespace tessel
#endif
