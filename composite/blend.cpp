#include "composite/blend_modes.h"

#include <cstring>

#include "composite/blend_frame.h"
#include "composite/divide.h"
#include "xcf/layer.h"

namespace tessel {

namespace {

// Normal mode is the only one that writes target alpha. With o the
// opacity, s, sa the source colour and alpha, d, da the target's:
//
//   neither has alpha    d <- D(s o + d (255 - o)); at o = 255 a plain copy
//   the source has       a = D(sa o); d <- D(s a + d (255 - a))
//   the target has       h = D(da (255 - o)), what is left of the target;
//                        d <- (s o + d h) / (o + h), da <- da + D((255 - da) o);
//                        at o = 255 the source replaces the pixel, da = 255
//   both have            a = D(sa o), h = D((255 - a) da);
//                        d <- (s a + d h) / (a + h), da <- da + D((255 - da) a);
//                        a + h = 0 (nothing over nothing) leaves the pixel
//
// Over an alpha target the result is "source over target", its colour
// weighed by the two coverages; over a target without alpha it is a plain
// mix by the source's coverage.
template <uint32_t Bt, uint32_t Bs>
void NormalRun(uint8_t* t, const uint8_t* s, uint32_t n, uint32_t o) {
  constexpr uint32_t C = Bt >= 3 ? 3 : 1;
  constexpr bool targetAlpha = Bt == 2 || Bt == 4;
  constexpr bool sourceAlpha = Bs == 2 || Bs == 4;
  if (!targetAlpha && !sourceAlpha && o == 255) {
    std::memcpy(t, s, static_cast<size_t>(n) * Bs);
    return;
  }
#if TESSEL_SSE2
  if (Bt == 3 && Bs == 4) {
    simd::SourceColour source;
    uint32_t done = simd::MixIntoRgb<Bs>(t, s, n, o, source);
    t += static_cast<size_t>(done) * Bt;
    s += static_cast<size_t>(done) * Bs;
    n -= done;
  }
#endif
  for (uint32_t i = 0; i < n; ++i, t += Bt, s += Bs) {
    if (!targetAlpha && !sourceAlpha) {
      for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>(Div255(s[c] * o + t[c] * (255 - o)));
    } else if (!targetAlpha) {
      uint32_t a = Div255(s[C] * o);
      if (a == 255) {
        for (uint32_t c = 0; c < C; ++c) t[c] = s[c];
      } else if (a != 0) {
        for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>(Div255(s[c] * a + t[c] * (255 - a)));
      }
    } else if (!sourceAlpha) {
      uint32_t da = t[C];
      if (o == 255) {
        for (uint32_t c = 0; c < C; ++c) t[c] = s[c];
        t[C] = 255;
        continue;
      }
      uint32_t h = Div255(da * (255 - o));
      // DivideSmall's range: s o + t h <= 255 (o + h) <= 255 x 510 = 130050,
      // below 2^17 with 1022 to spare, and o + h <= 510.
      for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>(DivideSmall(s[c] * o + t[c] * h, o + h));
      t[C] = static_cast<uint8_t>(da + Div255((255 - da) * o));
    } else {
      uint32_t da = t[C];
      uint32_t a = Div255(s[C] * o);
      uint32_t h = Div255((255 - a) * da);
      if (a + h == 0) continue;
      // The same range as above, a in place of o.
      for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>(DivideSmall(s[c] * a + t[c] * h, a + h));
      t[C] = static_cast<uint8_t>(da + Div255((255 - da) * a));
    }
  }
}

// Each mode's channel value, and its form for eight 16-bit lanes (simd.h).
struct Multiply {
  static uint32_t Value(uint32_t s, uint32_t d) { return Div255(s * d); }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) { return simd::Div255(_mm_mullo_epi16(s, d)); }
#endif
};
struct Screen {
  static uint32_t Value(uint32_t s, uint32_t d) { return 255 - Div255((255 - s) * (255 - d)); }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) {
    const __m128i full = simd::Splat(255);
    return _mm_sub_epi16(full, simd::Div255(_mm_mullo_epi16(_mm_sub_epi16(full, s), _mm_sub_epi16(full, d))));
  }
#endif
};
struct Overlay {
  static uint32_t Value(uint32_t s, uint32_t d) { return Div255(d * (d + Div255(2 * s * (255 - d)))); }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  // The inner product 2 s (255 - d) and the outer d (d + ...) pass 16
  // bits; both divisions take them as 32-bit values in two halves.
  static __m128i Vector(__m128i s, __m128i d) {
    const __m128i half = _mm_mullo_epi16(s, _mm_sub_epi16(simd::Splat(255), d));  // at most 65025
    const __m128i inner = simd::Div255Wide(_mm_slli_epi16(half, 1), _mm_srli_epi16(half, 15));
    const __m128i sum = _mm_add_epi16(d, inner);
    return simd::Div255Wide(_mm_mullo_epi16(d, sum), _mm_mulhi_epu16(d, sum));
  }
#endif
};
struct Difference {
  static uint32_t Value(uint32_t s, uint32_t d) { return s > d ? s - d : d - s; }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) { return _mm_or_si128(_mm_subs_epu16(s, d), _mm_subs_epu16(d, s)); }
#endif
};
struct Addition {
  static uint32_t Value(uint32_t s, uint32_t d) { return s + d > 255 ? 255 : s + d; }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) { return _mm_min_epi16(_mm_add_epi16(s, d), simd::Splat(255)); }
#endif
};
struct Subtract {  // the layer is taken from the target
  static uint32_t Value(uint32_t s, uint32_t d) { return d > s ? d - s : 0; }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) { return _mm_subs_epu16(d, s); }
#endif
};
struct DarkenOnly {
  static uint32_t Value(uint32_t s, uint32_t d) { return s < d ? s : d; }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) { return _mm_min_epi16(s, d); }
#endif
};
struct LightenOnly {
  static uint32_t Value(uint32_t s, uint32_t d) { return s > d ? s : d; }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) { return _mm_max_epi16(s, d); }
#endif
};

// The row function of each mode; null for the modes that draw nothing.
constexpr BlendFn kModeFunctions[kModeCount] = {
    BlendNormal,     nullptr,          nullptr,       BlendMultiply,      BlendScreen,     BlendOverlay,
    BlendDifference, BlendAddition,    BlendSubtract, BlendDarkenOnly,    BlendLightenOnly, BlendHue,
    BlendSaturation, BlendColor,       BlendValue,    BlendDivide,        BlendDodge,      BlendBurn,
    BlendHardLight,  BlendSoftLight,   BlendGrainExtract, BlendGrainMerge, nullptr,        nullptr,
    nullptr,         nullptr,
};

}  // namespace

void BlendNormal(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  switch (bt * 8 + bs) {
    case 1 * 8 + 1: NormalRun<1, 1>(t, s, n, o); break;
    case 1 * 8 + 2: NormalRun<1, 2>(t, s, n, o); break;
    case 2 * 8 + 1: NormalRun<2, 1>(t, s, n, o); break;
    case 2 * 8 + 2: NormalRun<2, 2>(t, s, n, o); break;
    case 3 * 8 + 3: NormalRun<3, 3>(t, s, n, o); break;
    case 3 * 8 + 4: NormalRun<3, 4>(t, s, n, o); break;
    case 4 * 8 + 3: NormalRun<4, 3>(t, s, n, o); break;
    case 4 * 8 + 4: NormalRun<4, 4>(t, s, n, o); break;
    default: break;
  }
}

void BlendMultiply(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Multiply>>(t, bt, s, bs, n, o);
}
void BlendScreen(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Screen>>(t, bt, s, bs, n, o);
}
void BlendOverlay(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Overlay>>(t, bt, s, bs, n, o);
}
void BlendDifference(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Difference>>(t, bt, s, bs, n, o);
}
void BlendAddition(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Addition>>(t, bt, s, bs, n, o);
}
void BlendSubtract(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Subtract>>(t, bt, s, bs, n, o);
}
void BlendDarkenOnly(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<DarkenOnly>>(t, bt, s, bs, n, o);
}
void BlendLightenOnly(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<LightenOnly>>(t, bt, s, bs, n, o);
}

namespace {

// Palette indices, shown where alpha times the opacity exceeds half of
// 255 * 255; into a colour target they never come (BlendRowRefusal).
void IndexedRun(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  if (o < 128) return;
  constexpr uint32_t kThreshold = 32512;
  switch (bt * 8 + bs) {
    case 1 * 8 + 1:
      std::memcpy(t, s, n);
      break;
    case 1 * 8 + 2:
      for (uint32_t i = 0; i < n; ++i)
        if (s[2 * i + 1] * o > kThreshold) t[i] = s[2 * i];
      break;
    case 2 * 8 + 1:
      for (uint32_t i = 0; i < n; ++i) {
        t[2 * i] = s[i];
        t[2 * i + 1] = 255;
      }
      break;
    case 2 * 8 + 2:
      for (uint32_t i = 0; i < n; ++i) {
        if (s[2 * i + 1] * o > kThreshold) {
          t[2 * i] = s[2 * i];
          t[2 * i + 1] = 255;
        }
      }
      break;
    default:
      break;
  }
}

}  // namespace

ResultCode BlendRowIndexed(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t o, uint32_t n) {
  if (t == nullptr || s == nullptr) return ResultCode::InvalidArgument;
  if (o < 128) return ResultCode::Ok;
  if (bt >= 3) return ResultCode::InvalidArgument;
  IndexedRun(t, bt, s, bs, n, o);
  return ResultCode::Ok;
}

const char* BlendRowRefusal(uint32_t layerType, uint32_t opacity, uint32_t targetBytes, uint32_t mode) {
  if (opacity > 255) return "its opacity is above 255";
  if (XcfBytesPerPixel(layerType) == 0) return "its type has no pixels";
  if (opacity == 0) return nullptr;
  if (layerType == kLayerIndexed || layerType == kLayerIndexedA) {
    // Palette indices cannot land in a colour target.
    return opacity >= 128 && targetBytes >= 3 ? "its palette indices would land in colour pixels" : nullptr;
  }
  return mode >= kModeCount ? "its layer mode is none of the 26 (0 to 25)" : nullptr;
}

RowBlend BlendRowChoose(uint32_t layerType, uint32_t opacity, uint32_t targetBytes, uint32_t mode) {
  const uint32_t sourceBytes = XcfBytesPerPixel(layerType);
  RowBlend blend{nullptr, targetBytes, sourceBytes, opacity};
  if (opacity == 0 || opacity > 255 || sourceBytes == 0) return blend;
  if (layerType == kLayerIndexed || layerType == kLayerIndexedA) {
    if (targetBytes < 3) blend.function = IndexedRun;
  } else if (mode < kModeCount) {
    blend.function = kModeFunctions[mode];
  }
  return blend;
}

ResultCode BlendRow(uint32_t layerType, uint32_t n, const uint8_t* source, uint32_t opacity, uint8_t* target,
                    uint32_t targetBytes, uint32_t mode) {
  if (target == nullptr || source == nullptr || n == 0) return ResultCode::InvalidArgument;
  if (BlendRowRefusal(layerType, opacity, targetBytes, mode) != nullptr) return ResultCode::InvalidArgument;
  BlendRowChoose(layerType, opacity, targetBytes, mode).Run(target, source, n);
  return ResultCode::Ok;
}

}  // namespace tessel
