// Divide, dodge, burn, hard light, soft light, grain extract and grain
// merge: channel formulas on the common frame.
#include "composite/blend_modes.h"
#include "composite/blend_frame.h"

namespace tessel {

namespace {

inline uint32_t Clamp255(int32_t x) { return x < 0 ? 0u : (x > 255 ? 255u : static_cast<uint32_t>(x)); }

struct Divide {
  static uint32_t Value(uint32_t s, uint32_t d) {
    uint32_t q = (d * 256) / (s + 1);
    return q > 255 ? 255 : q;
  }
};
struct Dodge {
  static uint32_t Value(uint32_t s, uint32_t d) {
    uint32_t q = (d * 256) / (256 - s);
    return q > 255 ? 255 : q;
  }
};
struct Burn {
  static uint32_t Value(uint32_t s, uint32_t d) {
    return Clamp255(255 - static_cast<int32_t>(((255 - d) * 256) / (s + 1)));
  }
};
// The channel values, and for all but the three with a division their form
// for eight 16-bit lanes (simd.h).
struct HardLight {
  static uint32_t Value(uint32_t s, uint32_t d) {
    if (s <= 128) return (2 * s * d) >> 8;
    return 255 - (((511 - 2 * s) * (255 - d)) >> 8);
  }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  // Both products stay within 16 bits: 2 s d <= 65280, (511 - 2 s)(255 - d) <= 64515.
  static __m128i Vector(__m128i s, __m128i d) {
    const __m128i full = simd::Splat(255);
    const __m128i low = _mm_srli_epi16(_mm_mullo_epi16(_mm_add_epi16(s, s), d), 8);
    const __m128i high = _mm_sub_epi16(
        full, _mm_srli_epi16(_mm_mullo_epi16(_mm_sub_epi16(simd::Splat(511), _mm_add_epi16(s, s)), _mm_sub_epi16(full, d)), 8));
    const __m128i above = _mm_cmpgt_epi16(s, simd::Splat(128));
    return _mm_or_si128(_mm_and_si128(above, high), _mm_andnot_si128(above, low));
  }
#endif
};
struct SoftLight {
  static uint32_t Value(uint32_t s, uint32_t d) {
    uint32_t m = Div255(s * d);                          // multiply
    uint32_t k = 255 - Div255((255 - s) * (255 - d));    // screen
    return Div255(d * k) + Div255(m * (255 - d));
  }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) {
    const __m128i full = simd::Splat(255);
    const __m128i m = simd::Div255(_mm_mullo_epi16(s, d));
    const __m128i k = _mm_sub_epi16(full, simd::Div255(_mm_mullo_epi16(_mm_sub_epi16(full, s), _mm_sub_epi16(full, d))));
    return _mm_add_epi16(simd::Div255(_mm_mullo_epi16(d, k)), simd::Div255(_mm_mullo_epi16(m, _mm_sub_epi16(full, d))));
  }
#endif
};
struct GrainExtract {
  static uint32_t Value(uint32_t s, uint32_t d) {
    return Clamp255(static_cast<int32_t>(d) - static_cast<int32_t>(s) + 128);
  }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) {
    const __m128i v = _mm_sub_epi16(_mm_add_epi16(d, simd::Splat(128)), s);
    return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), simd::Splat(255));
  }
#endif
};
struct GrainMerge {
  static uint32_t Value(uint32_t s, uint32_t d) {
    return Clamp255(static_cast<int32_t>(d) + static_cast<int32_t>(s) - 128);
  }
#if TESSEL_SSE2
  static constexpr bool kHasVector = true;
  static __m128i Vector(__m128i s, __m128i d) {
    const __m128i v = _mm_sub_epi16(_mm_add_epi16(d, s), simd::Splat(128));
    return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), simd::Splat(255));
  }
#endif
};

}  // namespace

void BlendDivide(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Divide>>(t, bt, s, bs, n, o);
}
void BlendDodge(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Dodge>>(t, bt, s, bs, n, o);
}
void BlendBurn(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Burn>>(t, bt, s, bs, n, o);
}
void BlendHardLight(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<HardLight>>(t, bt, s, bs, n, o);
}
void BlendSoftLight(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<SoftLight>>(t, bt, s, bs, n, o);
}
void BlendGrainExtract(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<GrainExtract>>(t, bt, s, bs, n, o);
}
void BlendGrainMerge(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<GrainMerge>>(t, bt, s, bs, n, o);
}

}  // namespace tessel
