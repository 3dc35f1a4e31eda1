// The frame that every mode but normal shares: it weighs the new colour a
// mode computes against the target by opacity and the two alphas, and never
// writes target alpha. A mode supplies
//   template <uint32_t C> static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b)
// giving the C new channel values b (0..255) of a pixel, or false to leave
// the pixel untouched.
//
// The weight a of the new value B against the target d, with o the opacity,
// sa and da the source and target alphas, D(x) the rounding x / 255:
//
//   neither has alpha    a = o                 d <- D(B a + d (255 - a))
//   the source has       a = D(sa o)           the same mix
//   the target has       a = min(o, da)        the same mix: a thin target
//                                              takes little of the mode
//   both have            a = D(min(sa, da) o)  d <- (B Ws + d Wd) / (Ws + Wd),
//                                              Ws = a sa, Wd = (255 - a) da
//
// A weight of 0 leaves the pixel as it is. In the last row the target's own
// alpha weighs the old colour, so that over a nearly transparent target
// the new colour wins whatever a is; Ws + Wd is never 0, as a >= 1 implies
// sa >= 1.
#pragma once

#include <cstdint>
#include <type_traits>

#include "composite/blend_modes.h"
#include "composite/simd.h"

namespace tessel {

#if TESSEL_SSE2
// A mode whose channel value has a form for eight 16-bit lanes (it says
// so with kHasVector),
//   static __m128i Vector(__m128i s, __m128i d)
// is mixed into RGB targets four pixels at a time (simd::MixIntoRgb),
// exactly as the plain loop below does it.
template <typename Mode, typename = void>
struct HasVector : std::false_type {};
template <typename Mode>
struct HasVector<Mode, std::void_t<decltype(Mode::kHasVector)>> : std::bool_constant<Mode::kHasVector> {};

// The new colour of a mode with a vector form, lane by lane.
template <typename Mode>
struct VectorColour {
  void Quad(__m128i, __m128i) {}
  __m128i Half(int, __m128i sw, __m128i dw) const { return Mode::Vector(sw, dw); }
  __m128i Kept(int) const { return _mm_setzero_si128(); }
};
#endif

// Both with alpha: the new colour b weighs a sa, the target's own colour
// (255 - a) da; ws + wd > 0 as a >= 1 implies sa >= 1.
template <uint32_t C>
inline void MixWithAlphas(uint8_t* d, const uint32_t* b, uint32_t a, uint32_t sa, uint32_t da) {
  const uint32_t ws = a * sa, wd = (255 - a) * da;
  for (uint32_t c = 0; c < C; ++c) d[c] = static_cast<uint8_t>((b[c] * ws + d[c] * wd) / (ws + wd));
}

template <typename Mode, uint32_t Bt, uint32_t Bs>
void BlendFrameRun(uint8_t* t, const uint8_t* s, uint32_t n, uint32_t o) {
#if TESSEL_SSE2
  if constexpr (HasVector<Mode>::value && Bt == 3 && (Bs == 3 || Bs == 4)) {
    VectorColour<Mode> colour;
    const uint32_t done = simd::MixIntoRgb<Bs>(t, s, n, o, colour);
    t += static_cast<size_t>(done) * Bt;
    s += static_cast<size_t>(done) * Bs;
    n -= done;
  }
#endif
  constexpr uint32_t C = Bt >= 3 ? 3 : 1;
  constexpr bool targetAlpha = Bt == 2 || Bt == 4;
  constexpr bool sourceAlpha = Bs == 2 || Bs == 4;
  for (uint32_t i = 0; i < n; ++i, t += Bt, s += Bs) {
    uint32_t b[3];
    if (targetAlpha && sourceAlpha) {
      uint32_t sa = s[C];
      uint32_t da = t[C];
      uint32_t a = Div255((sa < da ? sa : da) * o);
      if (a == 0) continue;
      if (!Mode::template Compute<C>(s, t, b)) continue;
      MixWithAlphas<C>(t, b, a, sa, da);
      continue;
    }
    // A weight of 0 leaves the target as it is (D(255 d) = d), so it is skipped.
    uint32_t a;
    if (sourceAlpha) {
      a = Div255(s[C] * o);
    } else if (targetAlpha) {
      a = o < t[C] ? o : t[C];
    } else {
      a = o;
    }
    if (a == 0) continue;
    if (!Mode::template Compute<C>(s, t, b)) continue;
    for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>(Div255(b[c] * a + t[c] * (255 - a)));
  }
}

// The frame over the eight format pairs; any other pair writes nothing.
template <typename Mode>
void BlendFrame(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  switch (bt * 8 + bs) {
    case 1 * 8 + 1: BlendFrameRun<Mode, 1, 1>(t, s, n, o); break;
    case 1 * 8 + 2: BlendFrameRun<Mode, 1, 2>(t, s, n, o); break;
    case 2 * 8 + 1: BlendFrameRun<Mode, 2, 1>(t, s, n, o); break;
    case 2 * 8 + 2: BlendFrameRun<Mode, 2, 2>(t, s, n, o); break;
    case 3 * 8 + 3: BlendFrameRun<Mode, 3, 3>(t, s, n, o); break;
    case 3 * 8 + 4: BlendFrameRun<Mode, 3, 4>(t, s, n, o); break;
    case 4 * 8 + 3: BlendFrameRun<Mode, 4, 3>(t, s, n, o); break;
    case 4 * 8 + 4: BlendFrameRun<Mode, 4, 4>(t, s, n, o); break;
    default: break;
  }
}

// The colour-only pairs of the hue, saturation, color and value modes.
template <typename Mode>
void BlendFrameRgb(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  if (bt >= 3 && bs >= 3) BlendFrame<Mode>(t, bt, s, bs, n, o);
}

// A mode whose new value for each channel depends on that channel alone.
template <typename Channel>
struct PerChannel {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    for (uint32_t c = 0; c < C; ++c) b[c] = Channel::Value(s[c], d[c]);
    return true;
  }
#if TESSEL_SSE2
  static constexpr bool kHasVector = HasVector<Channel>::value;
  static __m128i Vector(__m128i s, __m128i d) { return Channel::Vector(s, d); }
#endif
};

}  // namespace tessel
