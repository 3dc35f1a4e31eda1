// Hue, saturation, color and value: the colour-space conversions and the
// four modes that use them. Both live here so that the conversions are
// inlined into the row functions.
#include <algorithm>
#include <cmath>

#include "composite/blend_modes.h"
#include "composite/blend_frame.h"
#include "composite/color_space.h"
#include "composite/divide.h"
#include "composite/simd.h"

namespace tessel {

namespace {

// The extremes of a triple. Ties do not matter for the values, but the
// comparisons are those the hue formulas were made with.
inline void MaxMin(int32_t r, int32_t g, int32_t b, int32_t* max, int32_t* min) {
  const bool redFirst = r > g;
  const int32_t high = redFirst ? r : g;
  const int32_t low = redFirst ? g : r;
  *max = high > b ? high : b;
  *min = low < b ? low : b;
}

// Nearest integer of a non-negative value, halves going up.
constexpr int32_t Round(double x) { return static_cast<int32_t>(x + 0.5); }

// The divisions of the HSV formulas are done by multiplication (divide.h);
// the quotients v / 255.0 and h / 60.0 are tabled. A constant expression
// rounds exactly as the division at run time does.
struct HsvTables {
  double unit[256];    // v / 255.0
  double sixth[360];   // h / 60.0
  constexpr HsvTables() : unit(), sixth() {
    for (int v = 0; v < 256; ++v) unit[v] = v / 255.0;
    for (int h = 0; h < 360; ++h) sixth[h] = h / 60.0;
  }
};
constexpr HsvTables kHsv;

// x / d truncated toward zero; by multiplication for |x| < 2^16 and d from
// 1 to 255, which is all that channel values give.
inline int32_t Divide(int32_t x, int32_t d) {
  if (d < 1 || d > 255 || x <= -65536 || x >= 65536) return x / d;
  const int32_t sign = x >> 31;  // 0 or -1
  const auto magnitude = static_cast<uint32_t>((x ^ sign) - sign);
  const auto q = static_cast<int32_t>(DivideSmall(magnitude, static_cast<uint32_t>(d)));
  return (q ^ sign) - sign;
}

}  // namespace

void RgbToHsv(int32_t& r, int32_t& g, int32_t& b) {
  const int32_t red = r;
  const int32_t green = g;
  const int32_t blue = b;
  int32_t max;
  int32_t min;
  MaxMin(red, green, blue, &max, &min);
  int32_t hue = 0;
  int32_t saturation = 0;
  if (max != 0) saturation = Divide((max - min) * 255, max);
  if (saturation != 0) {
    // Red before green before blue where two share the maximum; the
    // division truncates toward zero before the wrap. (Plain selections, so
    // that the compiler need not branch on the colour.)
    int32_t difference = red - green;
    int32_t base = 240;
    if (green == max) difference = blue - red, base = 120;
    if (red == max) difference = green - blue, base = 0;
    hue = Divide(difference * 60, max - min) + base;
    if (hue < 0) hue += 360;
  }
  r = hue;
  g = saturation;
  b = max;
}

void HsvToRgb(int32_t& hue, int32_t& saturation, int32_t& value) {
  if (saturation == 0) {
    hue = value;
    saturation = value;
    return;
  }
  // Channel values and hues from the conversions stay in range; others are
  // divided as they come.
  const bool tabled = saturation > 0 && saturation < 256 && value >= 0 && value < 256 && hue >= 0 && hue <= 360;
  const double s = tabled ? kHsv.unit[saturation] : saturation / 255.0;
  const double v = tabled ? kHsv.unit[value] : value / 255.0;
  const double h = tabled ? kHsv.sixth[hue == 360 ? 0 : hue] : (hue == 360 ? 0 : hue) / 60.0;
  const int32_t i = static_cast<int32_t>(std::floor(h));
  const double f = h - i;
  const double p = v * (1.0 - s);
  const double q = v * (1.0 - s * f);
  const double t = v * (1.0 - s * (1.0 - f));
  // By sextant, which of v, p, q, t each channel takes: (v, t, p), (q, v, p),
  // (p, v, t), (p, q, v), (t, p, v), (v, p, q). A lookup, not a branch.
  static constexpr uint8_t kPick[6][3] = {{0, 3, 1}, {2, 0, 1}, {1, 0, 3}, {1, 2, 0}, {3, 1, 0}, {0, 1, 2}};
  const double candidates[4] = {v, p, q, t};
  const uint8_t* pick = kPick[i >= 0 && i < 6 ? i : 0];
  hue = Round(255.0 * candidates[pick[0]]);
  saturation = Round(255.0 * candidates[pick[1]]);
  value = Round(255.0 * candidates[pick[2]]);
}

int32_t RgbSaturation(int32_t r, int32_t g, int32_t b) {
  int32_t max;
  int32_t min;
  MaxMin(r, g, b, &max, &min);
  return max == 0 ? 0 : Divide((max - min) * 255, max);
}

void RgbToHsl(int32_t& r, int32_t& g, int32_t& b) {
  const int32_t red = r;
  const int32_t green = g;
  const int32_t blue = b;
  int32_t max;
  int32_t min;
  MaxMin(red, green, blue, &max, &min);
  const double l = (max + min) * 0.5;
  if (max == min) {
    r = 0;
    g = 0;
    b = Round(l);
    return;
  }
  const double delta = max - min;
  const double s = l < 128 ? 255 * delta / (max + min) : 255 * delta / (511 - max - min);
  double h;
  if (red == max) {
    h = (green - blue) / delta;
  } else if (green == max) {
    h = 2 + (blue - red) / delta;
  } else {
    h = 4 + (red - green) / delta;
  }
  h = h * 42.5;
  if (h < 0) h += 255;
  r = Round(h);
  g = Round(s);
  b = Round(l);
}

// The HSL hue runs round a circle of 255 steps, so a sixth of it is 42.5:
// red at 0, yellow at 42.5, green at 85, cyan at 127.5, blue at 170,
// magenta at 212.5. Each channel is read in a frame of its own (the hue
// plus 85 for red, the hue for green, minus 85 for blue, wrapped into the
// circle), in which its own colour lies at 85: it rises from m1 to m2 over
// the first sixth (0 to 42.5), stays at m2 for two sixths (to 127.5), falls
// back to m1 over the fourth (to 170) and stays at m1 for the rest.
int32_t HslComponent(double m1, double m2, double hue) {
  if (hue > 255) {
    hue -= 255;
  } else if (hue < 0) {
    hue += 255;
  }
  double x;
  if (hue < 42.5) {
    x = m1 + (m2 - m1) * hue / 42.5;
  } else if (hue < 127.5) {
    x = m2;
  } else if (hue < 170) {
    x = m1 + (m2 - m1) * (170 - hue) / 42.5;
  } else {
    x = m1;
  }
  return Round(255 * x);
}

void HslToRgb(int32_t& hue, int32_t& saturation, int32_t& lightness) {
  if (saturation == 0) {
    hue = lightness;
    saturation = lightness;
    return;
  }
  const double L = lightness;
  const double S = saturation;
  const double m2 = L < 128 ? L * (S + 255) / 65025 : (L + S - L * S / 255) / 255;
  const double m1 = L / 127.5 - m2;
  const double h = hue;
  hue = HslComponent(m1, m2, h + 85);
  saturation = HslComponent(m1, m2, h);
  lightness = HslComponent(m1, m2, h - 85);
}


#if TESSEL_SSE2
// The conversions for four pixels at a time, one 32-bit lane each, with the
// scalar functions' arithmetic operation for operation: the integer steps
// in integer lanes, the floating-point steps in double lanes in the same
// order (no operation is fused or reordered, so every lane rounds as the
// scalar code does).
namespace {

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

// The q or t of one lane, as the scalar conversion forms it.
int32_t SlopeCandidate(int32_t hue, int32_t saturation, int32_t value) {
  const double s = kHsv.unit[saturation], v = kHsv.unit[value], h = kHsv.sixth[hue];
  const int32_t i = static_cast<int32_t>(h);
  const double f = h - i;
  return Round(255.0 * (v * (1.0 - s * (i % 2 == 1 ? f : 1.0 - f))));
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
      if ((halves >> k) & 1 && sat[k] != 0) y[k] = SlopeCandidate(h[k], sat[k], v[k]);
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

}  // namespace
#endif

namespace {

// The new colour's channels as the frame takes them.
inline bool Deliver(int32_t r, int32_t g, int32_t b, uint32_t* out) {
  out[0] = static_cast<uint32_t>(r);
  out[1] = static_cast<uint32_t>(g);
  out[2] = static_cast<uint32_t>(b);
  return true;
}

struct Hue {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t sh = s[0], ss = s[1], sv = s[2];
    RgbToHsv(sh, ss, sv);
    if (ss == 0) return false;  // a gray layer pixel has no hue to give
    int32_t h = d[0], sat = d[1], v = d[2];
    RgbToHsv(h, sat, v);
    h = sh;
    HsvToRgb(h, sat, v);
    return Deliver(h, sat, v, b);
  }
#if TESSEL_SSE2
  // Lanes of a gray source pixel are left as they are (*keep).
  [[gnu::always_inline]] static Lanes Compute4(const Lanes& s, const Lanes& d, __m128i* keep) {
    __m128i sh, ss, sv;
    RgbToHsv4(s, &sh, &ss, &sv);
    *keep = _mm_cmpeq_epi32(ss, _mm_setzero_si128());
    // The target's saturation and value alone: its hue is not used.
    const __m128i max = Max(Max(d.r, d.g), d.b);
    return HsvToRgb4(sh, Saturation4(max, Min(Min(d.r, d.g), d.b)), max);
  }
#endif
};

struct Saturation {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t h = d[0], sat = d[1], v = d[2];
    RgbToHsv(h, sat, v);
    sat = RgbSaturation(s[0], s[1], s[2]);
    HsvToRgb(h, sat, v);
    return Deliver(h, sat, v, b);
  }
#if TESSEL_SSE2
  [[gnu::always_inline]] static Lanes Compute4(const Lanes& s, const Lanes& d, __m128i* keep) {
    __m128i h, sat, v;
    RgbToHsv4(d, &h, &sat, &v);
    *keep = _mm_setzero_si128();
    return HsvToRgb4(h, Saturation4(Max(Max(s.r, s.g), s.b), Min(Min(s.r, s.g), s.b)), v);
  }
#endif
};

struct Color {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t sh = s[0], ss = s[1], sl = s[2];
    RgbToHsl(sh, ss, sl);
    int32_t h = d[0], sat = d[1], l = d[2];
    RgbToHsl(h, sat, l);
    h = sh;
    sat = ss;
    HslToRgb(h, sat, l);
    return Deliver(h, sat, l, b);
  }
#if TESSEL_SSE2
  [[gnu::always_inline]] static Lanes Compute4(const Lanes& s, const Lanes& d, __m128i* keep) {
    __m128i sh, ss;
    RgbToHsl4(s, &sh, &ss);
    *keep = _mm_setzero_si128();
    return HslToRgb4(sh, ss, Lightness4(d));  // the target's lightness alone
  }
#endif
};

struct Value {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t h = d[0], sat = d[1], v = d[2];
    RgbToHsv(h, sat, v);
    uint32_t m = s[0] > s[1] ? s[0] : s[1];
    v = static_cast<int32_t>(m > s[2] ? m : s[2]);
    HsvToRgb(h, sat, v);
    return Deliver(h, sat, v, b);
  }
#if TESSEL_SSE2
  [[gnu::always_inline]] static Lanes Compute4(const Lanes& s, const Lanes& d, __m128i* keep) {
    __m128i h, sat, v;
    RgbToHsv4(d, &h, &sat, &v);
    *keep = _mm_setzero_si128();
    return HsvToRgb4(h, sat, Max(Max(s.r, s.g), s.b));
  }
#endif
};

#if TESSEL_SSE2
// Four pixels of a dword each as lanes of their channels, and back.
inline Lanes LanesOf(__m128i v) {
  const __m128i bytes = _mm_set1_epi32(0xFF);
  return Lanes{_mm_and_si128(v, bytes), _mm_and_si128(_mm_srli_epi32(v, 8), bytes),
               _mm_and_si128(_mm_srli_epi32(v, 16), bytes)};
}
inline __m128i PixelsOf(const Lanes& l) {
  return _mm_or_si128(_mm_or_si128(l.r, _mm_slli_epi32(l.g, 8)), _mm_slli_epi32(l.b, 16));
}

// A colour mode's new colours for simd::MixIntoRgb, four pixels at a time,
// and the pixels it leaves alone.
template <typename Mode>
struct ModeColour {
  __m128i colour, keep;
  void Quad(__m128i source, __m128i target) { colour = PixelsOf(Mode::Compute4(LanesOf(source), LanesOf(target), &keep)); }
  __m128i Half(int h, __m128i, __m128i) const {
    return h == 0 ? _mm_unpacklo_epi8(colour, _mm_setzero_si128()) : _mm_unpackhi_epi8(colour, _mm_setzero_si128());
  }
  __m128i Kept(int h) const { return h == 0 ? _mm_unpacklo_epi32(keep, keep) : _mm_unpackhi_epi32(keep, keep); }
};

// The modes' new colours four pixels at a time mixed into RGBA targets by
// the blend frame: under RGB layers in vector lanes, under RGBA layers pixel
// by pixel, as that mix divides. A pixel the mode keeps gets weight 0, which
// leaves it as it is. Returns the pixels done.
template <typename Mode, uint32_t Bs>
uint32_t ColorModeOverRgba4(uint8_t* t, const uint8_t* s, uint32_t n, uint32_t o) {
  constexpr uint32_t Bt = 4;
  const __m128i zero = _mm_setzero_si128();
  uint32_t i = 0;
  // Each 16-byte load of 3-byte pixels takes four and the four bytes after.
  for (; i + 6 <= n; i += 4, s += 4 * Bs, t += 4 * Bt) {
    const __m128i source = Bs == 4 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)) : simd::LoadRgb4(s);
    const __m128i target = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
    __m128i keep;
    const __m128i b = PixelsOf(Mode::Compute4(LanesOf(source), LanesOf(target), &keep));
    if (Bs == 3) {
      // RGBA targets under RGB layers: a = min(o, da), d <- D(B a + d (255 -
      // a)), two pixels a half; the alpha lanes keep the target's.
      const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
      const __m128i opacity = simd::Splat(static_cast<int>(o));
      __m128i half[2];
      for (int h = 0; h < 2; ++h) {
        const __m128i bw = h == 0 ? _mm_unpacklo_epi8(b, zero) : _mm_unpackhi_epi8(b, zero);
        const __m128i dw = h == 0 ? _mm_unpacklo_epi8(target, zero) : _mm_unpackhi_epi8(target, zero);
        const __m128i kept = h == 0 ? _mm_unpacklo_epi32(keep, keep) : _mm_unpackhi_epi32(keep, keep);
        const __m128i a = _mm_andnot_si128(kept, _mm_min_epi16(opacity, simd::BroadcastAlpha(dw)));
        half[h] = Select(alphaLanes, dw, simd::Mix(bw, dw, a));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t), _mm_packus_epi16(half[0], half[1]));
      continue;
    }
    // RGBA over RGBA divides by each pixel's own weights: pixel by pixel.
    alignas(16) uint32_t newColour[4];
    alignas(16) uint32_t kept[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(newColour), b);
    _mm_store_si128(reinterpret_cast<__m128i*>(kept), keep);
    for (int k = 0; k < 4; ++k) {
      if (kept[k] != 0) continue;
      uint8_t* d = t + 4 * k;
      const uint32_t da = d[3], sa = s[4 * k + 3];
      const uint32_t a = Div255((sa < da ? sa : da) * o);
      if (a == 0) continue;
      const uint32_t channels[3] = {newColour[k] & 0xFF, (newColour[k] >> 8) & 0xFF, (newColour[k] >> 16) & 0xFF};
      MixWithAlphas<3>(d, channels, a, sa, da);
    }
  }
  return i;
}
#endif

template <typename Mode>
void BlendColorMode(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  if (bt == 1 || bt == 2) {
    BlendComponentGray(t, bt, s, bs, n, o);
    return;
  }
#if TESSEL_SSE2
  uint32_t done = 0;
  ModeColour<Mode> colour;
  switch (bt * 8 + bs) {
    case 3 * 8 + 3: done = simd::MixIntoRgb<3>(t, s, n, o, colour); break;
    case 3 * 8 + 4: done = simd::MixIntoRgb<4>(t, s, n, o, colour); break;
    case 4 * 8 + 3: done = ColorModeOverRgba4<Mode, 3>(t, s, n, o); break;
    case 4 * 8 + 4: done = ColorModeOverRgba4<Mode, 4>(t, s, n, o); break;
    default: break;
  }
  t += static_cast<size_t>(done) * bt;
  s += static_cast<size_t>(done) * bs;
  n -= done;
  if (n == 0) return;
#endif
  BlendFrameRgb<Mode>(t, bt, s, bs, n, o);
}

}  // namespace

void BlendHue(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Hue>(t, bt, s, bs, n, o);
}
void BlendSaturation(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Saturation>(t, bt, s, bs, n, o);
}
void BlendColor(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Color>(t, bt, s, bs, n, o);
}
void BlendValue(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Value>(t, bt, s, bs, n, o);
}

// These modes have no gray form: on a gray target they mix the layer's gray
// value in like normal mode, without touching target alpha.
void BlendComponentGray(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  if (bt == 1) {
    BlendNormal(t, bt, s, bs, n, o);
    return;
  }
  if (bt != 2) return;
  if (bs == 1) {
    for (uint32_t i = 0; i < n; ++i, t += 2, ++s) t[0] = static_cast<uint8_t>(Div255(s[0] * o + t[0] * (255 - o)));
    return;
  }
  if (bs != 2) return;
  for (uint32_t i = 0; i < n; ++i, t += 2, s += 2) {
    uint32_t a = Div255(s[1] * o);
    if (a == 0) continue;
    uint32_t da = t[1];
    uint32_t total = da + Div255((255 - da) * a);
    if (a == total) {
      t[0] = s[0];
      continue;
    }
    uint32_t r = a * 255 / total;
    t[0] = static_cast<uint8_t>(Div255(s[0] * r + t[0] * (255 - r)));
  }
}

}  // namespace tessel
