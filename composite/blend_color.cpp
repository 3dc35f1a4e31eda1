// Hue, saturation, color and value: the four modes that mix a colour made
// of the layer's and the target's HSV or HSL components into the target
// (color_space.h), four pixels at a time where the target is RGB or RGBA.
#include "composite/blend_frame.h"
#include "composite/blend_modes.h"
#include "composite/color_space.h"
#include "composite/color_space_lanes.h"
#include "composite/simd.h"

namespace tessel {

#if TESSEL_SSE2
using namespace lanes;
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
