// The SSE2 kernels of the row functions, beside the plain loops they stand
// for (blend.cpp, blend_frame.h, blend_color.cpp, the mask step in
// band.cpp): eight 16-bit lanes at a time, with exactly the arithmetic of
// those loops.
#pragma once

#include "platform/simd.h"

#if TESSEL_SSE2
#include <cstdint>
#include <cstring>

namespace tessel {
namespace simd {

inline __m128i Splat(int v) { return _mm_set1_epi16(static_cast<short>(v)); }

// D(x) of eight lanes, each at most 65025: the high half of the 32-bit
// product (x + 1) * 257.
inline __m128i Div255(__m128i x) { return _mm_mulhi_epu16(_mm_add_epi16(x, Splat(1)), Splat(257)); }

// D(x) of eight 32-bit values x = hi * 65536 + lo, each at most 2^24,
// given as their 16-bit halves. With q = x + 1 = 256 a + b, D(x) =
// floor(257 q / 65536) = a + ((a + b) >> 8), which fits 16 bits.
inline __m128i Div255Wide(__m128i lo, __m128i hi) {
  const __m128i q = _mm_add_epi16(lo, Splat(1));
  // lo = 0xFFFF carries into hi.
  const __m128i carry = _mm_cmpeq_epi16(q, _mm_setzero_si128());
  const __m128i qhi = _mm_sub_epi16(hi, carry);
  const __m128i a = _mm_or_si128(_mm_slli_epi16(qhi, 8), _mm_srli_epi16(q, 8));
  const __m128i b = _mm_and_si128(q, Splat(255));
  return _mm_add_epi16(a, _mm_srli_epi16(_mm_add_epi16(a, b), 8));
}

// Four 3-byte pixels, read with one 16-byte load (so four more bytes must
// follow them), spread to the low three bytes of four dwords.
inline __m128i LoadRgb4(const uint8_t* p) {
  const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return _mm_unpacklo_epi64(_mm_unpacklo_epi32(packed, _mm_srli_si128(packed, 3)),
                            _mm_unpacklo_epi32(_mm_srli_si128(packed, 6), _mm_srli_si128(packed, 9)));
}

// The low three bytes of four dwords back into 12 bytes at p.
inline void StoreRgb4(uint8_t* p, __m128i spread) {
  const __m128i firstDword = _mm_set_epi32(0, 0, 0, 0x00FFFFFF);
  const __m128i joined = _mm_or_si128(
      _mm_or_si128(_mm_and_si128(spread, firstDword),
                   _mm_srli_si128(_mm_and_si128(spread, _mm_slli_si128(firstDword, 4)), 1)),
      _mm_or_si128(_mm_srli_si128(_mm_and_si128(spread, _mm_slli_si128(firstDword, 8)), 2),
                   _mm_srli_si128(_mm_and_si128(spread, _mm_slli_si128(firstDword, 12)), 3)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), joined);
  const uint32_t last = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(joined, 8)));
  std::memcpy(p + 8, &last, 4);
}

// The last lane of each pixel of four 16-bit lanes, in all four of them.
inline __m128i BroadcastAlpha(__m128i pixels) {
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels, 0xFF), 0xFF);
}

// D(sa o) in every lane of each of two 4-byte pixels: the weight of a
// source pixel with alpha sa at opacity o.
inline __m128i AlphaWeight(__m128i pixels, __m128i opacity) {
  return Div255(_mm_mullo_epi16(BroadcastAlpha(pixels), opacity));
}

// D(b a + d (255 - a)) of eight lanes: b mixed into d by the weight a.
inline __m128i Mix(__m128i b, __m128i d, __m128i a) {
  return Div255(_mm_add_epi16(_mm_mullo_epi16(b, a), _mm_mullo_epi16(d, _mm_sub_epi16(Splat(255), a))));
}

// The one vector mix into RGB targets, which normal mode, the blend frame
// and the colour modes share: four pixels at a time, each channel
// d <- D(B a + d (255 - a)) with the weight a the opacity o, or D(sa o)
// for a source with alpha (Bs = 4), or 0 for a pixel the mode leaves
// alone (D(255 d) = d). `colour` gives the new colour B:
//   void Quad(__m128i source, __m128i target)   once per four pixels, each
//                                               in the low bytes of a dword
//   __m128i Half(int h, __m128i sw, __m128i dw) B of pixels 2h and 2h + 1,
//                                               from their 16-bit lanes
//   __m128i Kept(int h)                         all ones in the lanes of
//                                               those it leaves alone
// Each 16-byte load takes four 3-byte pixels and the four bytes after
// them, so the loop stops while two more pixels follow. Returns the pixels
// done; the plain loop does the rest.
template <uint32_t Bs, typename Colour>
uint32_t MixIntoRgb(uint8_t* t, const uint8_t* s, uint32_t n, uint32_t o, Colour& colour) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i opacity = Splat(static_cast<int>(o));
  uint32_t i = 0;
  for (; i + 6 <= n; i += 4, s += 4 * Bs, t += 12) {
    const __m128i target = LoadRgb4(t);
    const __m128i source = Bs == 4 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)) : LoadRgb4(s);
    colour.Quad(source, target);
    __m128i half[2];
    for (int h = 0; h < 2; ++h) {
      const __m128i sw = h == 0 ? _mm_unpacklo_epi8(source, zero) : _mm_unpackhi_epi8(source, zero);
      const __m128i dw = h == 0 ? _mm_unpacklo_epi8(target, zero) : _mm_unpackhi_epi8(target, zero);
      // At full opacity the weight is the alpha itself: D(255 x) = x.
      const __m128i weight = Bs != 4 ? opacity : o == 255 ? BroadcastAlpha(sw) : AlphaWeight(sw, opacity);
      half[h] = Mix(colour.Half(h, sw, dw), dw, _mm_andnot_si128(colour.Kept(h), weight));
    }
    StoreRgb4(t, _mm_packus_epi16(half[0], half[1]));
  }
  return i;
}

// The mask step for pixels with alpha, eight at a time: the alpha of each
// becomes the mix of its own and the mask's that the scalar loop forms.
// Returns the pixels done.
inline uint32_t MaskAlphaVector(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t mo,
                         uint32_t n) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i weight = Splat(static_cast<int>(mo));
  auto mix = [&](__m128i s, __m128i m) {
    return mo == 255 ? Div255(_mm_mullo_epi16(m, s)) : Mix(m, s, weight);
  };
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8, source += 8 * bs, out += 8 * bs, mask += 8) {
    const __m128i m = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask)), zero);
    if (bs == 2) {
      // value | alpha << 8 in each 16-bit lane
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
      const __m128i alpha = mix(_mm_srli_epi16(pixels, 8), m);
      const __m128i value = _mm_and_si128(pixels, Splat(255));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(value, _mm_slli_epi16(alpha, 8)));
    } else {
      // R, G, B | alpha << 24 in each 32-bit lane
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16));
      const __m128i alpha = mix(_mm_packs_epi32(_mm_srli_epi32(low, 24), _mm_srli_epi32(high, 24)), m);
      const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       _mm_or_si128(_mm_and_si128(low, colour), _mm_slli_epi32(_mm_unpacklo_epi16(alpha, zero), 24)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                       _mm_or_si128(_mm_and_si128(high, colour), _mm_slli_epi32(_mm_unpackhi_epi16(alpha, zero), 24)));
    }
  }
  return i;
}

// The colour of normal mode: the source's own.
struct SourceColour {
  void Quad(__m128i, __m128i) {}
  __m128i Half(int, __m128i sw, __m128i) const { return sw; }
  __m128i Kept(int) const { return _mm_setzero_si128(); }
};

}  // namespace simd
}  // namespace tessel

#endif
