// GIMP's modes that composite the layer itself rather than a blended
// colour: normal, behind, erase, merge, split, replace and anti erase,
// each by its composite mode.
#include <algorithm>

#include "composite/gimp_mode_parts.h"

namespace tessel {

namespace {

template <GimpComposite mode>
void Normal(const float* in, const float* layer, float m, float opacity, float* out) {
  const float la = layer[3] * opacity * m, ia = in[3];
  switch (mode) {
    case GimpComposite::ClipToBackdrop:
      if (ia != 0.0f)
        for (int b = 0; b < 3; ++b) out[b] = in[b] + (layer[b] - in[b]) * la;
      else
        CopyColour(out, in);
      out[3] = ia;
      return;
    case GimpComposite::ClipToLayer:
      if (la != 0.0f) CopyColour(out, layer);
      else CopyColour(out, in);
      out[3] = la;
      return;
    case GimpComposite::Intersection:
      out[3] = ia * la;
      if (out[3] != 0.0f) CopyColour(out, layer);
      else CopyColour(out, in);
      return;
    default: {
      const float na = la + ia - la * ia;
      if (na != 0.0f) {
        const float lw = la / na, iw = 1.0f - lw;
        for (int b = 0; b < 3; ++b) out[b] = layer[b] * lw + in[b] * iw;
      } else {
        CopyColour(out, in);
      }
      out[3] = na;
      return;
    }
  }
}

template <GimpComposite mode>
void Behind(const float* in, const float* layer, float m, float opacity, float* out) {
  const float ia = in[3], la = layer[3] * opacity * m;
  switch (mode) {
    case GimpComposite::ClipToBackdrop:
      if (ia == 0.0f) CopyColour(out, layer);
      else CopyColour(out, in);
      out[3] = ia;
      return;
    case GimpComposite::ClipToLayer:
      if (la != 0.0f)
        for (int b = 0; b < 3; ++b) out[b] = layer[b] + (in[b] - layer[b]) * ia;
      else
        CopyColour(out, layer);
      out[3] = la;
      return;
    case GimpComposite::Intersection:
      if (ia * la != 0.0f) CopyColour(out, in);
      else CopyColour(out, layer);
      out[3] = ia * la;
      return;
    default: {
      const float na = la + (1.0f - la) * ia;
      if (na != 0.0f) {
        const float ratio = ia / na;
        for (int b = 0; b < 3; ++b) out[b] = in[b] * ratio + layer[b] * (1.0f - ratio);
      } else {
        CopyColour(out, layer);
      }
      out[3] = na;
      return;
    }
  }
}

template <GimpComposite mode>
void Erase(const float* in, const float* layer, float m, float opacity, float* out) {
  const float ia = in[3], la = layer[3] * opacity * m;
  switch (mode) {
    case GimpComposite::Union: {
      const float na = ia + la - 2.0f * ia * la;
      if (na != 0.0f) {
        const float ratio = (1.0f - ia) * la / na;
        for (int b = 0; b < 3; ++b) out[b] = ratio * layer[b] + (1.0f - ratio) * in[b];
      } else {
        CopyColour(out, in);
      }
      out[3] = na;
      return;
    }
    case GimpComposite::ClipToLayer: {
      const float na = (1.0f - ia) * la;
      CopyColour(out, na == 0.0f ? in : layer);
      out[3] = na;
      return;
    }
    case GimpComposite::Intersection:
      CopyColour(out, in);
      out[3] = 0.0f;
      return;
    default:
      CopyColour(out, in);
      out[3] = (1.0f - la) * ia;
      return;
  }
}

template <GimpComposite mode>
void Merge(const float* in, const float* layer, float m, float opacity, float* out) {
  float ia = in[3], la = layer[3] * opacity * m;
  switch (mode) {
    case GimpComposite::ClipToBackdrop:
      la -= 1.0f - ia;
      if (la > 0.0f) {
        const float ratio = la / ia;
        for (int b = 0; b < 3; ++b) out[b] = in[b] + (layer[b] - in[b]) * ratio;
      } else {
        CopyColour(out, in);
      }
      out[3] = ia;
      return;
    case GimpComposite::ClipToLayer:
      CopyColour(out, la != 0.0f ? layer : in);
      out[3] = la;
      return;
    case GimpComposite::Intersection:
      la = std::max(la - (1.0f - ia), 0.0f);
      CopyColour(out, la != 0.0f ? layer : in);
      out[3] = la;
      return;
    default: {
      ia = std::min(ia, 1.0f - la);
      const float na = ia + la;
      if (na != 0.0f) {
        const float ratio = la / na;
        for (int b = 0; b < 3; ++b) out[b] = in[b] + (layer[b] - in[b]) * ratio;
      } else {
        CopyColour(out, in);
      }
      out[3] = na;
      return;
    }
  }
}

template <GimpComposite mode>
void Split(const float* in, const float* layer, float m, float opacity, float* out) {
  const float ia = in[3], la = layer[3] * opacity * m;
  switch (mode) {
    case GimpComposite::Union:
      if (la <= ia) {
        CopyColour(out, in);
        out[3] = ia - la;
      } else {
        CopyColour(out, layer);
        out[3] = la - ia;
      }
      return;
    case GimpComposite::ClipToLayer: {
      const float na = std::max(la - ia, 0.0f);
      CopyColour(out, na != 0.0f ? layer : in);
      out[3] = na;
      return;
    }
    case GimpComposite::Intersection:
      CopyColour(out, in);
      out[3] = 0.0f;
      return;
    default:
      CopyColour(out, in);
      out[3] = std::max(ia - la, 0.0f);
      return;
  }
}

template <GimpComposite mode>
void Replace(const float* in, const float* layer, float m, float opacity, float* out) {
  const float value = opacity * m;
  switch (mode) {
    case GimpComposite::ClipToBackdrop:
      CopyColour(out, in);
      out[3] = in[3] * (1.0f - value);
      return;
    case GimpComposite::ClipToLayer:
      CopyColour(out, layer);
      out[3] = layer[3] * value;
      return;
    case GimpComposite::Intersection:
      CopyColour(out, layer);
      out[3] = in[3] * layer[3] * value;
      return;
    default: {
      const float na = (layer[3] - in[3]) * value + in[3];
      float ratio = value;
      if (na != 0.0f) ratio *= layer[3] / na;
      for (int b = 0; b < 3; ++b) out[b] = (layer[b] - in[b]) * ratio + in[b];
      out[3] = na;
      return;
    }
  }
}

template <GimpComposite mode>
void AntiErase(const float* in, const float* layer, float m, float opacity, float* out) {
  const float value = opacity * m;
  CopyColour(out, in);
  switch (mode) {
    case GimpComposite::ClipToBackdrop: out[3] = in[3]; return;
    case GimpComposite::ClipToLayer: out[3] = layer[3] * value; return;
    case GimpComposite::Intersection: out[3] = in[3] * layer[3] * value; return;
    default: out[3] = static_cast<float>(in[3] + (1.0 - in[3]) * layer[3] * value); return;
  }
}

template <void (*Pixel)(const float*, const float*, float, float, float*)>
void KindRow(float* in, const float* layer, const float*, const float* mask, float opacity, uint32_t n, int64_t,
             int64_t) {
  for (uint32_t i = 0; i < n; ++i) {
    const float m = mask != nullptr ? mask[i] : 1.0f;
    float* d = in + 4 * i;
    Pixel(d, layer + 4 * i, m, opacity, d);
  }
}

// By composite mode; "auto" composites by union.
#define TESSEL_KIND_ROWS(Pixel)                                                                                  \
  {KindRow<Pixel<GimpComposite::Union>>, KindRow<Pixel<GimpComposite::Union>>,                                   \
   KindRow<Pixel<GimpComposite::ClipToBackdrop>>, KindRow<Pixel<GimpComposite::ClipToLayer>>,                    \
   KindRow<Pixel<GimpComposite::Intersection>>}
constexpr GimpCompositeRowFn kKindRows[][5] = {
    TESSEL_KIND_ROWS(Normal), TESSEL_KIND_ROWS(Behind),  TESSEL_KIND_ROWS(Erase),    TESSEL_KIND_ROWS(Merge),
    TESSEL_KIND_ROWS(Split),  TESSEL_KIND_ROWS(Replace), TESSEL_KIND_ROWS(AntiErase),
};
#undef TESSEL_KIND_ROWS

}  // namespace

GimpCompositeRowFn GimpKindRowFor(GimpKind kind, GimpComposite mode) {
  const auto m = static_cast<uint32_t>(mode);
  switch (kind) {
    case GimpKind::Behind: return kKindRows[1][m];
    case GimpKind::Erase: return kKindRows[2][m];
    case GimpKind::Merge: return kKindRows[3][m];
    case GimpKind::Split: return kKindRows[4][m];
    case GimpKind::Replace: return kKindRows[5][m];
    case GimpKind::AntiErase: return kKindRows[6][m];
    default: return kKindRows[0][m];
  }
}

void GimpReplacePixel(const float* in, const float* layer, float maskValue, float opacity, float* out) {
  Replace<GimpComposite::Union>(in, layer, maskValue, opacity, out);
}

}  // namespace tessel
