// GIMP 2.10's legacy modes (the modes of files before 2.10, kept as they
// were): each formula's new colour on the sRGB curve, mixed into the
// backdrop by min(layer alpha, backdrop alpha) and never changing its
// alpha.
#include <algorithm>
#include <array>
#include <utility>

#include "composite/color_space_float.h"
#include "composite/gimp_mode_parts.h"

namespace tessel {

namespace {

// The new colour of one pixel, whole (the colour modes) or channel by
// channel.
template <GimpFormula f>
inline void LegacyColour(const float* in, const float* layer, float* comp) {
  if constexpr (f == fHsvHue) {
    const Hsv l = RgbToHsv(layer);
    Hsv o = RgbToHsv(in);
    // No hue of its own (gray) leaves the colour alone.
    if (l.s != 0.0) o.h = l.h;
    HsvToRgb(o, comp);
  } else if constexpr (f == fHsvSaturation) {
    Hsv o = RgbToHsv(in);
    o.s = RgbToHsv(layer).s;
    HsvToRgb(o, comp);
  } else if constexpr (f == fHsvValue) {
    Hsv o = RgbToHsv(in);
    o.v = RgbToHsv(layer).v;
    HsvToRgb(o, comp);
  } else if constexpr (f == fHslColor) {
    const Hsl l = RgbToHsl(layer);
    Hsl o = RgbToHsl(in);
    o.h = l.h;
    o.s = l.s;
    HslToRgb(o, comp);
  } else {
    const float half = 128.0f / 255.0f;
    for (int c = 0; c < 3; ++c) {
      const float s = layer[c], d = in[c];
      float v;
      switch (f) {
        case fMultiply: v = s * d; break;
        case fScreen: v = 1.0f - (1.0f - d) * (1.0f - s); break;
        case fDifference: v = d > s ? d - s : s - d; break;
        case fAddition: v = Clamp01(d + s); break;
        case fSubtract: v = Clamp01(d - s); break;
        case fDarken: v = std::min(d, s); break;
        case fLighten: v = std::max(s, d); break;
        case fDivide: {
          const float q = d / s;
          v = q > 0.0f ? (q < 1.0f ? q : 1.0f) : 0.0f;  // 0 / 0 is 0
          break;
        }
        case fDodge: {
          const float q = d / (1.0f - s);
          v = q > 0.0f ? (q < 1.0f ? q : 1.0f) : 0.0f;
          break;
        }
        case fBurn: {
          const float q = 1.0f - (1.0f - d) / s;
          v = q < 0.0f ? 0.0f : q < 1.0f ? q : 1.0f;  // 0 / 0 is 1
          break;
        }
        case fHardLight:
          if (s > half) {
            const float t = static_cast<float>((1.0 - d) * (1.0 - (s - half) * 2.0f));
            v = std::min(1.0f - t, 1.0f);
          } else {
            v = std::min(d * (s * 2.0f), 1.0f);
          }
          break;
        case fSoftLight: {
          const float multiply = d * s, screen = 1.0f - (1.0f - d) * (1.0f - s);
          v = (1.0f - d) * multiply + d * screen;
          break;
        }
        case fGrainExtract: v = Clamp01(d - s + half); break;
        case fGrainMerge: v = Clamp01(d + s - half); break;
        default: v = d; break;
      }
      comp[c] = v;
    }
  }
}

template <GimpFormula f>
void LegacyRow(float* in, const float* layer, const float*, const float* mask, float opacity, uint32_t n, int64_t,
               int64_t) {
  for (uint32_t i = 0; i < n; ++i) {
    float* d = in + 4 * i;
    const float* s = layer + 4 * i;
    float ca = std::min(d[3], s[3]) * opacity;
    if (mask != nullptr) ca *= mask[i];
    const float na = d[3] + (1.0f - d[3]) * ca;
    if (ca != 0.0f && na != 0.0f) {
      const float ratio = ca / na;
      float comp[3];
      LegacyColour<f>(d, s, comp);
      for (int b = 0; b < 3; ++b) d[b] = comp[b] * ratio + d[b] * (1.0f - ratio);
    }
  }
}

template <size_t... F>
constexpr std::array<GimpCompositeRowFn, sizeof...(F)> LegacyRows(std::index_sequence<F...>) {
  return {LegacyRow<static_cast<GimpFormula>(F)>...};
}
constexpr auto kLegacyRows = LegacyRows(std::make_index_sequence<kGimpFormulas>());

}  // namespace

GimpCompositeRowFn GimpLegacyRowFor(GimpFormula formula) { return kLegacyRows[formula]; }

}  // namespace tessel
