// The blend functions of GIMP's modern modes (and of legacy color erase):
// each mode's colour of the backdrop and the layer, in its blend space.
// The SSE2 kernels of the commonest four stand beside their plain forms.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "composite/gimp_mode_parts.h"
#include "platform/simd.h"

namespace tessel {

namespace {

constexpr float kEpsilon = 1e-6f;

float SafeDiv(float a, float b) {
  if (!(std::fabs(a) > kEpsilon)) return 0.0f;
  const float r = a / b;
  const float most = 1.0f / kEpsilon;
  return r < -most ? -most : r > most ? most : r;
}

// a where take holds, else b, chosen by their bits: the compiler keeps a
// branch for `take ? a : b`, and on a photograph's noise that branch is a
// coin toss. Either way the value is one of the two, to the bit.
inline float Pick(bool take, float a, float b) {
  uint32_t ua, ub;
  std::memcpy(&ua, &a, sizeof ua);
  std::memcpy(&ub, &b, sizeof ub);
  const uint32_t mask = 0u - static_cast<uint32_t>(take);
  const uint32_t picked = (ua & mask) | (ub & ~mask);
  float out;
  std::memcpy(&out, &picked, sizeof out);
  return out;
}

constexpr float kLumaR = 0.22248840f, kLumaG = 0.71690369f, kLumaB = 0.06060791f;
float Luma(const float* p) { return p[0] * kLumaR + p[1] * kLumaG + p[2] * kLumaB; }

// The colour modes of HSV and HSL, on whole pixels of the sRGB curve.
inline void HslColor(const float* in, const float* layer, float* comp) {
  const float dmin = std::min(in[0], std::min(in[1], in[2])), dmax = std::max(in[0], std::max(in[1], in[2]));
  const float smin = std::min(layer[0], std::min(layer[1], layer[2]));
  const float smax = std::max(layer[0], std::max(layer[1], layer[2]));
  float dl = (dmin + dmax) / 2.0f, sl = (smin + smax) / 2.0f;
  if (std::fabs(sl) > kEpsilon && std::fabs(1.0 - sl) > kEpsilon) {
    const bool dhigh = dl > 0.5f, shigh = sl > 0.5f;
    dl = std::min(dl, 1.0f - dl);
    sl = std::min(sl, 1.0f - sl);
    const float ratio = dl / sl;
    float offset = 0.0f;
    if (dhigh) offset += 1.0f - 2.0f * dl;
    if (shigh) offset += 2.0f * dl - ratio;
    for (int c = 0; c < 3; ++c) comp[c] = layer[c] * ratio + offset;
  } else {
    comp[0] = comp[1] = comp[2] = dl;
  }
}

inline void HsvHue(const float* in, const float* layer, float* comp) {
  const float smin = std::min(layer[0], std::min(layer[1], layer[2]));
  const float smax = std::max(layer[0], std::max(layer[1], layer[2]));
  const float sdelta = smax - smin;
  if (sdelta > kEpsilon) {
    const float dmin = std::min(in[0], std::min(in[1], in[2])), dmax = std::max(in[0], std::max(in[1], in[2]));
    const float ddelta = dmax - dmin, ds = dmax != 0.0f ? ddelta / dmax : 0.0f;
    const float ratio = ds * dmax / sdelta, offset = dmax - smax * ratio;
    for (int c = 0; c < 3; ++c) comp[c] = layer[c] * ratio + offset;
  } else {
    for (int c = 0; c < 3; ++c) comp[c] = in[c];
  }
}

inline void HsvSaturation(const float* in, const float* layer, float* comp) {
  const float dmin = std::min(in[0], std::min(in[1], in[2])), dmax = std::max(in[0], std::max(in[1], in[2]));
  const float ddelta = dmax - dmin;
  if (ddelta > kEpsilon) {
    const float smin = std::min(layer[0], std::min(layer[1], layer[2]));
    const float smax = std::max(layer[0], std::max(layer[1], layer[2]));
    const float ss = smax != 0.0f ? (smax - smin) / smax : 0.0f;
    const float ratio = ss * dmax / ddelta, offset = (1.0f - ratio) * dmax;
    for (int c = 0; c < 3; ++c) comp[c] = in[c] * ratio + offset;
  } else {
    comp[0] = comp[1] = comp[2] = dmax;
  }
}

inline void HsvValue(const float* in, const float* layer, float* comp) {
  const float dv = std::max(in[0], std::max(in[1], in[2]));
  const float sv = std::max(layer[0], std::max(layer[1], layer[2]));
  if (std::fabs(dv) > kEpsilon) {
    const float ratio = sv / dv;
    for (int c = 0; c < 3; ++c) comp[c] = in[c] * ratio;
  } else {
    comp[0] = comp[1] = comp[2] = sv;
  }
}

// The LCH modes, on LAB pixels: lightness, chroma and hue.
inline void LchChroma(const float* in, const float* layer, float* comp) {
  const float c1 = std::hypot(in[1], in[2]);
  comp[0] = in[0];
  if (c1 > kEpsilon) {
    const float c2 = std::hypot(layer[1], layer[2]);
    comp[1] = c2 * in[1] / c1;
    comp[2] = c2 * in[2] / c1;
  } else {
    comp[1] = in[1];
    comp[2] = in[2];
  }
}

inline void LchColor(const float* in, const float* layer, float* comp) {
  comp[0] = in[0];
  comp[1] = layer[1];
  comp[2] = layer[2];
}

inline void LchHue(const float* in, const float* layer, float* comp) {
  const float c2 = std::hypot(layer[1], layer[2]);
  comp[0] = in[0];
  if (c2 > kEpsilon) {
    const float c1 = std::hypot(in[1], in[2]);
    comp[1] = c1 * layer[1] / c2;
    comp[2] = c1 * layer[2] / c2;
  } else {
    comp[1] = in[1];
    comp[2] = in[2];
  }
}

inline void LchLightness(const float* in, const float* layer, float* comp) {
  comp[0] = layer[0];
  comp[1] = in[1];
  comp[2] = in[2];
}

// The pixel of less (or more) luma, whole.
template <bool darken>
inline void LumaPick(const float* in, const float* layer, float* comp) {
  const float dl = Luma(in), sl = Luma(layer);
  const bool keep = darken ? dl <= sl : dl >= sl;
  for (int c = 0; c < 3; ++c) comp[c] = keep ? in[c] : layer[c];
}

inline void Luminance(const float* in, const float* layer, float* comp) {
  const float ratio = SafeDiv(Luma(layer), Luma(in));
  for (int c = 0; c < 3; ++c) comp[c] = in[c] * ratio;
}

// The layer's colour taken out of the backdrop, into alpha.
inline void ColorErase(const float* in, const float* layer, float* comp) {
  float alpha = 0.0f;
  for (int c = 0; c < 3; ++c) {
    const float col = Clamp01(in[c]), bg = Clamp01(layer[c]);
    if (std::fabs(col - bg) > kEpsilon) alpha = std::max(alpha, col > bg ? (col - bg) / (1.0f - bg) : (bg - col) / bg);
  }
  if (alpha > kEpsilon) {
    const float inverse = 1.0f / alpha;
    for (int c = 0; c < 3; ++c) comp[c] = (in[c] - layer[c]) * inverse + layer[c];
  } else {
    comp[0] = comp[1] = comp[2] = 0.0f;
  }
  comp[3] = alpha;
}

// The modes that blend each channel by itself.
template <GimpFormula f>
inline float Channel(float d, float s) {
  float v;
  switch (f) {
    case fMultiply: v = d * s; break;
    case fScreen: v = 1.0f - (1.0f - d) * (1.0f - s); break;
    case fOverlay: v = Pick(d < 0.5f, 2.0f * d * s, 1.0f - 2.0f * (1.0f - s) * (1.0f - d)); break;
    case fDifference: v = std::fabs(d - s); break;
    case fAddition: v = d + s; break;
    case fSubtract: v = d - s; break;
    case fDarken: v = std::min(d, s); break;
    case fLighten: v = std::max(d, s); break;
    case fDivide: v = SafeDiv(d, s); break;
    case fDodge: v = SafeDiv(d, 1.0f - s); break;
    case fBurn: v = 1.0f - SafeDiv(1.0f - d, s); break;
    case fHardLight:
      v = std::min(Pick(s > 0.5f, 1.0f - (1.0f - d) * (1.0f - (s - 0.5f) * 2.0f), d * (s * 2.0f)), 1.0f);
      break;
    case fSoftLight: {
      const float multiply = d * s, screen = 1.0f - (1.0f - d) * (1.0f - s);
      v = (1.0f - d) * multiply + d * screen;
      break;
    }
    case fGrainExtract: v = d - s + 0.5f; break;
    case fGrainMerge: v = d + s - 0.5f; break;
    case fVividLight:
      v = Pick(s <= 0.5f, std::max(1.0f - SafeDiv(1.0f - d, 2.0f * s), 0.0f),
               std::min(SafeDiv(d, 2.0f * (1.0f - s)), 1.0f));
      break;
    case fPinLight: v = Pick(s > 0.5f, std::max(d, 2.0f * (s - 0.5f)), std::min(d, 2.0f * s)); break;
    case fLinearLight: v = Pick(s <= 0.5f, d + 2.0f * s - 1.0f, d + 2.0f * (s - 0.5f)); break;
    case fHardMix: v = Pick(d + s < 1.0f, 0.0f, 1.0f); break;
    case fExclusion: v = 0.5f - 2.0f * (d - 0.5f) * (s - 0.5f); break;
    case fLinearBurn: v = d + s - 1.0f; break;
    default: v = d; break;
  }
  return v;
}

// The blended colour of one pixel: comp's alpha is the layer's, but for
// color erase, whose colour goes into alpha.
template <GimpFormula f>
inline void BlendColour(const float* in, const float* layer, float* comp) {
  comp[3] = layer[3];
  if constexpr (f == fHslColor) HslColor(in, layer, comp);
  else if constexpr (f == fHsvHue) HsvHue(in, layer, comp);
  else if constexpr (f == fHsvSaturation) HsvSaturation(in, layer, comp);
  else if constexpr (f == fHsvValue) HsvValue(in, layer, comp);
  else if constexpr (f == fLchChroma) LchChroma(in, layer, comp);
  else if constexpr (f == fLchColor) LchColor(in, layer, comp);
  else if constexpr (f == fLchHue) LchHue(in, layer, comp);
  else if constexpr (f == fLchLightness) LchLightness(in, layer, comp);
  else if constexpr (f == fLumaDarken || f == fLumaLighten) LumaPick<f == fLumaDarken>(in, layer, comp);
  else if constexpr (f == fLuminance) Luminance(in, layer, comp);
  else if constexpr (f == fColorErase) ColorErase(in, layer, comp);
  else
    for (int c = 0; c < 3; ++c) comp[c] = Channel<f>(in[c], layer[c]);
}

#if TESSEL_SSE2
// The SSE2 kernels of the commonest blends: a pixel's four
// channels in the four lanes, by the operations of the plain formulas
// above in their order, lane by lane, so the same bits.
namespace vector {

template <GimpFormula f>
constexpr bool kBlends = f == fMultiply || f == fScreen || f == fOverlay || f == fHardLight;

inline __m128 Pick(__m128 take, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(take, a), _mm_andnot_ps(take, b)); }

// The colour lanes of v, the alpha lane of a.
inline __m128 WithAlphaOf(__m128 v, __m128 a) {
  const __m128 colour = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
  return _mm_or_ps(_mm_and_ps(colour, v), _mm_andnot_ps(colour, a));
}

template <GimpFormula f>
inline __m128 Blend(__m128 d, __m128 s) {
  const __m128 one = _mm_set1_ps(1.0f), two = _mm_set1_ps(2.0f), half = _mm_set1_ps(0.5f);
  switch (f) {
    case fMultiply: return _mm_mul_ps(d, s);
    case fScreen: return _mm_sub_ps(one, _mm_mul_ps(_mm_sub_ps(one, d), _mm_sub_ps(one, s)));
    case fOverlay:
      return Pick(_mm_cmplt_ps(d, half), _mm_mul_ps(_mm_mul_ps(two, d), s),
                  _mm_sub_ps(one, _mm_mul_ps(_mm_mul_ps(two, _mm_sub_ps(one, s)), _mm_sub_ps(one, d))));
    default: {  // hard light; std::min(v, 1) is v unless 1 < v, NaN kept
      const __m128 high =
          _mm_sub_ps(one, _mm_mul_ps(_mm_sub_ps(one, d), _mm_sub_ps(one, _mm_mul_ps(_mm_sub_ps(s, half), two))));
      return _mm_min_ps(one, Pick(_mm_cmpgt_ps(s, half), high, _mm_mul_ps(d, _mm_mul_ps(s, two))));
    }
  }
}

template <GimpFormula f>
void BlendRow(const float* in, const float* layer, float* comp, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, in += 4, layer += 4, comp += 4) {
    if (in[3] == 0.0f || layer[3] == 0.0f) continue;
    const __m128 s = _mm_loadu_ps(layer);
    _mm_storeu_ps(comp, WithAlphaOf(Blend<f>(_mm_loadu_ps(in), s), s));
  }
}

}  // namespace vector
#endif

// Each blend function over a row, compiled for its formula: comp for every
// pixel where both have alpha (the others' colour is never looked at).
template <GimpFormula f>
void BlendRowOf(const float* in, const float* layer, float* comp, uint32_t n) {
#if TESSEL_SSE2
  if constexpr (vector::kBlends<f>) return vector::BlendRow<f>(in, layer, comp, n);
#endif
  for (uint32_t i = 0; i < n; ++i, in += 4, layer += 4, comp += 4)
    if (in[3] != 0.0f && layer[3] != 0.0f) BlendColour<f>(in, layer, comp);
}
template <size_t... F>
constexpr std::array<GimpBlendRowFn, sizeof...(F)> BlendRows(std::index_sequence<F...>) {
  return {BlendRowOf<static_cast<GimpFormula>(F)>...};
}
constexpr auto kBlendRows = BlendRows(std::make_index_sequence<kGimpFormulas>());

}  // namespace

GimpBlendRowFn GimpBlendRowFor(GimpFormula formula) { return kBlendRows[formula]; }

}  // namespace tessel
