// SSE2 building blocks of the row functions: eight 16-bit lanes at a time,
// with exactly the arithmetic of the scalar loops. SSE2 is there in both
// builds (x86-64, and the DLL built with -msse2).
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

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

}  // namespace simd
}  // namespace tessel

#endif
