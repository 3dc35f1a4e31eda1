// The composite modes of GIMP's modes that blend: the blended colour laid
// onto the backdrop by union, clip to backdrop, clip to layer or
// intersection, by the layer's alpha, opacity and mask. The SSE2 kernels
// of union and clip to backdrop stand beside their plain forms.
#include "composite/gimp_mode_parts.h"
#include "platform/simd.h"

namespace tessel {

namespace {

// The blended colour onto the backdrop (out may be in), by the layer's
// alpha and its composite mode.
template <GimpComposite mode>
inline void CompositeOver(const float* in, const float* layer, const float* comp, float maskValue, float opacity,
                          float* out) {
  const float ia = in[3];
  switch (mode) {
    case GimpComposite::ClipToBackdrop: {
      const float la = comp[3] * opacity * maskValue;
      if (ia != 0.0f && la != 0.0f)
        for (int b = 0; b < 3; ++b) out[b] = comp[b] * la + in[b] * (1.0f - la);
      else
        CopyColour(out, in);
      out[3] = ia;
      return;
    }
    case GimpComposite::ClipToLayer: {
      const float la = layer[3] * opacity * maskValue;
      if (la == 0.0f) {
        CopyColour(out, in);
      } else if (ia == 0.0f) {
        CopyColour(out, layer);
      } else {
        for (int b = 0; b < 3; ++b) out[b] = comp[b] * ia + layer[b] * (1.0f - ia);
      }
      out[3] = la;
      return;
    }
    case GimpComposite::Intersection: {
      const float na = ia * comp[3] * opacity * maskValue;
      if (na != 0.0f) CopyColour(out, comp);
      else CopyColour(out, in);
      out[3] = na;
      return;
    }
    default: {
      const float la = layer[3] * opacity * maskValue;
      const float na = la + (1.0f - la) * ia;
      if (la == 0.0f || na == 0.0f) {
        CopyColour(out, in);
      } else if (ia == 0.0f) {
        CopyColour(out, layer);
      } else {
        const float ratio = la / na;
        for (int b = 0; b < 3; ++b) out[b] = ratio * (ia * (comp[b] - layer[b]) + layer[b] - in[b]) + in[b];
      }
      out[3] = na;
      return;
    }
  }
}

// The same for a mode whose blended colour removes alpha (its alpha is
// what the colour keeps).
template <GimpComposite mode>
inline void CompositeSubtractive(const float* in, const float* layer, const float* comp, float maskValue,
                                 float opacity, float* out) {
  const float ia = in[3];
  const float la = layer[3] * opacity * maskValue;
  float ca = comp[3];
  switch (mode) {
    case GimpComposite::ClipToBackdrop: {
      ca *= la;
      const float na = 1.0f - la + ca;
      if (ia == 0.0f || ca == 0.0f) {
        CopyColour(out, in);
      } else {
        const float ratio = ca / na;
        for (int b = 0; b < 3; ++b) out[b] = comp[b] * ratio + in[b] * (1.0f - ratio);
      }
      out[3] = na * ia;
      return;
    }
    case GimpComposite::ClipToLayer: {
      ca *= ia;
      const float na = 1.0f - ia + ca;
      if (la == 0.0f) {
        CopyColour(out, in);
      } else if (ia == 0.0f) {
        CopyColour(out, layer);
      } else {
        const float ratio = ca / na;
        for (int b = 0; b < 3; ++b) out[b] = comp[b] * ratio + layer[b] * (1.0f - ratio);
      }
      out[3] = na * la;
      return;
    }
    case GimpComposite::Intersection: {
      const float na = ia * layer[3] * ca * opacity * maskValue;
      if (na == 0.0f) CopyColour(out, in);
      else CopyColour(out, comp);
      out[3] = na;
      return;
    }
    default: {
      const float na = ia + la - (2.0f - ca) * ia * la;
      if (la == 0.0f || na == 0.0f) {
        CopyColour(out, in);
      } else if (ia == 0.0f) {
        CopyColour(out, layer);
      } else {
        const float ratio = ia / na, layerCoeff = 1.0f / ia - 1.0f;
        for (int b = 0; b < 3; ++b) out[b] = ratio * (la * (ca * comp[b] + layerCoeff * layer[b] - in[b]) + in[b]);
      }
      out[3] = na;
      return;
    }
  }
}

template <GimpComposite mode, bool subtractive>
inline void Composite(const float* in, const float* layer, const float* comp, float maskValue, float opacity,
                      float* out) {
  if constexpr (subtractive) {
    CompositeSubtractive<mode>(in, layer, comp, maskValue, opacity, out);
  } else {
    CompositeOver<mode>(in, layer, comp, maskValue, opacity, out);
  }
}

#if TESSEL_SSE2
// The SSE2 kernels of the commonest composites: a pixel's four channels in
// the four lanes, by the operations of the plain formulas in their order,
// lane by lane, so the same bits.
namespace vector {

// The colour lanes of v, the alpha lane of a.
inline __m128 WithAlphaOf(__m128 v, __m128 a) {
  const __m128 colour = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
  return _mm_or_ps(_mm_and_ps(colour, v), _mm_andnot_ps(colour, a));
}

template <GimpComposite mode>
constexpr bool kComposites = mode == GimpComposite::Union || mode == GimpComposite::ClipToBackdrop;

// Union and clip to backdrop of normal (not subtractive) modes, in place.
template <GimpComposite mode>
void CompositeRow(float* in, const float* layer, const float* comp, const float* mask, float opacity, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, in += 4, layer += 4, comp += 4) {
    const float maskValue = mask != nullptr ? mask[i] : 1.0f;
    const float ia = in[3];
    const __m128 d = _mm_loadu_ps(in);
    if (mode == GimpComposite::ClipToBackdrop) {
      const float la = comp[3] * opacity * maskValue;
      if (ia != 0.0f && la != 0.0f)
        _mm_storeu_ps(in, WithAlphaOf(_mm_add_ps(_mm_mul_ps(_mm_loadu_ps(comp), _mm_set1_ps(la)),
                                                 _mm_mul_ps(d, _mm_set1_ps(1.0f - la))),
                                      d));
      continue;
    }
    const float la = layer[3] * opacity * maskValue;
    const float na = la + (1.0f - la) * ia;
    __m128 colour;
    if (la == 0.0f || na == 0.0f) {
      colour = d;
    } else if (ia == 0.0f) {
      colour = _mm_loadu_ps(layer);
    } else {
      const __m128 l = _mm_loadu_ps(layer);
      colour = _mm_add_ps(
          _mm_mul_ps(_mm_set1_ps(la / na),
                     _mm_sub_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(ia), _mm_sub_ps(_mm_loadu_ps(comp), l)), l), d)),
          d);
    }
    _mm_storeu_ps(in, WithAlphaOf(colour, _mm_set1_ps(na)));
  }
}

}  // namespace vector
#endif

// Each composite mode over a row, compiled for its mode.
template <GimpComposite mode, bool subtractive>
void CompositeRowOf(float* in, const float* layer, const float* comp, const float* mask, float opacity, uint32_t n,
                    int64_t, int64_t) {
#if TESSEL_SSE2
  if constexpr (!subtractive && vector::kComposites<mode>)
    return vector::CompositeRow<mode>(in, layer, comp, mask, opacity, n);
#endif
  for (uint32_t i = 0; i < n; ++i)
    Composite<mode, subtractive>(in + 4 * i, layer + 4 * i, comp + 4 * i, mask != nullptr ? mask[i] : 1.0f, opacity,
                                 in + 4 * i);
}

// By composite mode; "auto" composites by union.
template <bool subtractive>
constexpr GimpCompositeRowFn kCompositeRows[5] = {
    CompositeRowOf<GimpComposite::Union, subtractive>, CompositeRowOf<GimpComposite::Union, subtractive>,
    CompositeRowOf<GimpComposite::ClipToBackdrop, subtractive>, CompositeRowOf<GimpComposite::ClipToLayer, subtractive>,
    CompositeRowOf<GimpComposite::Intersection, subtractive>};

}  // namespace

GimpCompositeRowFn GimpCompositeRowFor(GimpComposite mode, bool subtractive) {
  const auto m = static_cast<uint32_t>(mode);
  return subtractive ? kCompositeRows<true>[m] : kCompositeRows<false>[m];
}

}  // namespace tessel
