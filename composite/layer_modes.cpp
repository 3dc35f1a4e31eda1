#include "composite/layer_modes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "composite/linear_pixels.h"
#include "platform/simd.h"

namespace tessel {

namespace {

enum Kind : uint8_t {
  kNormal,     // gimp:normal, by the composite mode
  kBehind,     // gimp:behind
  kLegacy,     // the legacy modes' own formula, clipped to the backdrop
  kBlend,      // a blend function, then the composite mode
  kErase,      // alpha only
  kMerge,
  kSplit,      // alpha only
  kReplace,    // also a pass-through layer that is no group
  kAntiErase,  // alpha only
  kDissolve,
  kNone,       // not a mode
};

// The blend functions of the modern modes, and the legacy formulas.
enum Formula : uint8_t {
  fNone, fMultiply, fScreen, fOverlay, fDifference, fAddition, fSubtract, fDarken, fLighten, fHsvHue, fHsvSaturation,
  fHslColor, fHsvValue, fDivide, fDodge, fBurn, fHardLight, fSoftLight, fGrainExtract, fGrainMerge, fVividLight,
  fPinLight, fLinearLight, fHardMix, fExclusion, fLinearBurn, fLumaDarken, fLumaLighten, fLuminance, fColorErase,
  fLchHue, fLchChroma, fLchColor, fLchLightness,
};

struct ModeInfo {
  Kind kind;
  Formula formula;
  bool subtractive;
  GimpComposite composite;
  GimpSpace compositeSpace;
  GimpSpace blendSpace;
};

constexpr GimpComposite U = GimpComposite::Union, C = GimpComposite::ClipToBackdrop;
constexpr GimpSpace A = GimpSpace::Auto, L = GimpSpace::Linear, P = GimpSpace::Perceptual, B = GimpSpace::Lab;

// GIMP 2.10's modes by number, with the defaults its files rely on when a
// layer stores none of its own.
constexpr ModeInfo kModes[kGimpModeCount] = {
    {kNormal, fNone, false, U, P, A},            // 0 normal (legacy)
    {kDissolve, fNone, false, U, A, A},          // 1 dissolve
    {kBehind, fNone, false, U, P, A},            // 2 behind (legacy)
    {kLegacy, fMultiply, false, C, P, P},        // 3 multiply (legacy)
    {kLegacy, fScreen, false, C, P, P},          // 4 screen (legacy)
    {kLegacy, fSoftLight, false, C, P, P},       // 5 old overlay, which GIMP draws as soft light
    {kLegacy, fDifference, false, C, P, P},      // 6 difference (legacy)
    {kLegacy, fAddition, false, C, P, P},        // 7 addition (legacy)
    {kLegacy, fSubtract, false, C, P, P},        // 8 subtract (legacy)
    {kLegacy, fDarken, false, C, P, P},          // 9 darken only (legacy)
    {kLegacy, fLighten, false, C, P, P},         // 10 lighten only (legacy)
    {kLegacy, fHsvHue, false, C, P, P},          // 11 HSV hue (legacy)
    {kLegacy, fHsvSaturation, false, C, P, P},   // 12 HSV saturation (legacy)
    {kLegacy, fHslColor, false, C, P, P},        // 13 HSL color (legacy)
    {kLegacy, fHsvValue, false, C, P, P},        // 14 HSV value (legacy)
    {kLegacy, fDivide, false, C, P, P},          // 15 divide (legacy)
    {kLegacy, fDodge, false, C, P, P},           // 16 dodge (legacy)
    {kLegacy, fBurn, false, C, P, P},            // 17 burn (legacy)
    {kLegacy, fHardLight, false, C, P, P},       // 18 hard light (legacy)
    {kLegacy, fSoftLight, false, C, P, P},       // 19 soft light (legacy)
    {kLegacy, fGrainExtract, false, C, P, P},    // 20 grain extract (legacy)
    {kLegacy, fGrainMerge, false, C, P, P},      // 21 grain merge (legacy)
    {kBlend, fColorErase, true, C, P, P},        // 22 color erase (legacy)
    {kBlend, fOverlay, false, C, L, P},          // 23 overlay
    {kBlend, fLchHue, false, C, L, B},           // 24 LCh hue
    {kBlend, fLchChroma, false, C, L, B},        // 25 LCh chroma
    {kBlend, fLchColor, false, C, L, B},         // 26 LCh color
    {kBlend, fLchLightness, false, C, L, B},     // 27 LCh lightness
    {kNormal, fNone, false, U, L, A},            // 28 normal
    {kBehind, fNone, false, U, L, A},            // 29 behind
    {kBlend, fMultiply, false, C, L, L},         // 30 multiply
    {kBlend, fScreen, false, C, L, P},           // 31 screen
    {kBlend, fDifference, false, C, L, P},       // 32 difference
    {kBlend, fAddition, false, C, L, L},         // 33 addition
    {kBlend, fSubtract, false, C, L, L},         // 34 subtract
    {kBlend, fDarken, false, C, L, A},           // 35 darken only
    {kBlend, fLighten, false, C, L, A},          // 36 lighten only
    {kBlend, fHsvHue, false, C, L, P},           // 37 HSV hue
    {kBlend, fHsvSaturation, false, C, L, P},    // 38 HSV saturation
    {kBlend, fHslColor, false, C, L, P},         // 39 HSL color
    {kBlend, fHsvValue, false, C, L, P},         // 40 HSV value
    {kBlend, fDivide, false, C, L, L},           // 41 divide
    {kBlend, fDodge, false, C, L, P},            // 42 dodge
    {kBlend, fBurn, false, C, L, P},             // 43 burn
    {kBlend, fHardLight, false, C, L, P},        // 44 hard light
    {kBlend, fSoftLight, false, C, L, P},        // 45 soft light
    {kBlend, fGrainExtract, false, C, L, P},     // 46 grain extract
    {kBlend, fGrainMerge, false, C, L, P},       // 47 grain merge
    {kBlend, fVividLight, false, C, L, P},       // 48 vivid light
    {kBlend, fPinLight, false, C, L, P},         // 49 pin light
    {kBlend, fLinearLight, false, C, L, P},      // 50 linear light
    {kBlend, fHardMix, false, C, L, P},          // 51 hard mix
    {kBlend, fExclusion, false, C, L, P},        // 52 exclusion
    {kBlend, fLinearBurn, false, C, L, P},       // 53 linear burn
    {kBlend, fLumaDarken, false, C, L, P},       // 54 luma darken only
    {kBlend, fLumaLighten, false, C, L, P},      // 55 luma lighten only
    {kBlend, fLuminance, false, C, L, L},        // 56 luminance
    {kBlend, fColorErase, true, C, L, L},        // 57 color erase
    {kErase, fNone, true, C, L, A},              // 58 erase
    {kMerge, fNone, false, U, L, A},             // 59 merge
    {kSplit, fNone, true, C, A, A},              // 60 split
    {kReplace, fNone, false, U, L, A},           // 61 pass through (on a layer that is no group)
    {kReplace, fNone, false, U, L, A},           // 62 replace
    {kAntiErase, fNone, false, U, A, A},         // 63 anti erase
};

constexpr float kEpsilon = 1e-6f;

float SafeDiv(float a, float b) {
  if (!(std::fabs(a) > kEpsilon)) return 0.0f;
  const float r = a / b;
  const float most = 1.0f / kEpsilon;
  return r < -most ? -most : r > most ? most : r;
}

float Clamp01(float v) { return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v; }

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

// ---- Colour spaces: linear light, the sRGB curve, CIE LAB (D50). --------

constexpr double kToXyz[3][3] = {{0.43606567, 0.38514710, 0.14306641},
                                 {0.22248840, 0.71690369, 0.06060791},
                                 {0.01391602, 0.09707642, 0.71409607}};
constexpr double kWhite[3] = {0.96420288, 1.0, 0.82490540};
constexpr double kLabEpsilon = 216.0 / 24389.0;
constexpr double kLabKappa = 24389.0 / 27.0;

struct FromXyz {
  double m[3][3];
};
FromXyz Inverse() {
  const auto& a = kToXyz;
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  FromXyz r{};
  r.m[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
  r.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  r.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  r.m[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
  r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  r.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  r.m[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
  r.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  return r;
}

void LinearToLab(const float* in, float* out) {
  double t[3];
  for (int i = 0; i < 3; ++i) {
    const double v = (kToXyz[i][0] * in[0] + kToXyz[i][1] * in[1] + kToXyz[i][2] * in[2]) / kWhite[i];
    t[i] = v > kLabEpsilon ? std::cbrt(v) : (kLabKappa * v + 16.0) / 116.0;
  }
  out[0] = static_cast<float>(116.0 * t[1] - 16.0);
  out[1] = static_cast<float>(500.0 * (t[0] - t[1]));
  out[2] = static_cast<float>(200.0 * (t[1] - t[2]));
}

void LabToLinear(const float* in, float* out) {
  static const FromXyz from = Inverse();
  const double fy = (in[0] + 16.0) / 116.0;
  const double fx = fy + in[1] / 500.0;
  const double fz = fy - in[2] / 200.0;
  const auto back = [](double f) { return f * f * f > kLabEpsilon ? f * f * f : (116.0 * f - 16.0) / kLabKappa; };
  const double xyz[3] = {back(fx) * kWhite[0],
                         (in[0] > kLabKappa * kLabEpsilon ? fy * fy * fy : in[0] / kLabKappa) * kWhite[1],
                         back(fz) * kWhite[2]};
  for (int i = 0; i < 3; ++i)
    out[i] = static_cast<float>(from.m[i][0] * xyz[0] + from.m[i][1] * xyz[1] + from.m[i][2] * xyz[2]);
}

// One pixel's colour from one space into another; alpha is copied.
void Convert(const float* in, GimpSpace from, GimpSpace to, float* out) {
  out[3] = in[3];
  if (from == to) {
    std::memcpy(out, in, 3 * sizeof(float));
    return;
  }
  float linear[3];
  switch (from) {
    case GimpSpace::Perceptual:
      for (int c = 0; c < 3; ++c) linear[c] = SrgbToLinear(in[c]);
      break;
    case GimpSpace::Lab: LabToLinear(in, linear); break;
    default: std::memcpy(linear, in, sizeof linear); break;
  }
  switch (to) {
    case GimpSpace::Perceptual:
      for (int c = 0; c < 3; ++c) out[c] = LinearToSrgb(linear[c]);
      break;
    case GimpSpace::Lab: LinearToLab(linear, out); break;
    default: std::memcpy(out, linear, sizeof linear); break;
  }
}

void ConvertRow(const float* in, GimpSpace from, GimpSpace to, float* out, uint32_t n) {
  if (from == GimpSpace::Linear && to == GimpSpace::Perceptual) return RowToCurve(in, out, n);
  if (from == GimpSpace::Perceptual && to == GimpSpace::Linear) return RowToLinear(in, out, n);
  if (from == to) {
    if (in != out) std::memcpy(out, in, 4 * sizeof(float) * n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) Convert(in + 4 * i, from, to, out + 4 * i);
}

// ---- HSV and HSL, as GIMP's colour library has them (legacy modes). -----

struct Hsv {
  double h, s, v;
};
Hsv ToHsv(const float* c) {
  const double r = c[0], g = c[1], b = c[2];
  const double max = std::max(r, std::max(g, b)), min = std::min(r, std::min(g, b));
  Hsv o{0.0, 0.0, max};
  const double delta = max - min;
  if (delta > 0.0001) {
    o.s = delta / max;
    if (r == max) {
      o.h = (g - b) / delta;
      if (o.h < 0.0) o.h += 6.0;
    } else if (g == max) {
      o.h = 2.0 + (b - r) / delta;
    } else {
      o.h = 4.0 + (r - g) / delta;
    }
    o.h /= 6.0;
  }
  return o;
}
void FromHsv(const Hsv& hsv, float* out) {
  double r, g, b;
  if (hsv.s == 0.0) {
    r = g = b = hsv.v;
  } else {
    double hue = hsv.h == 1.0 ? 0.0 : hsv.h;
    hue *= 6.0;
    const int i = static_cast<int>(hue);
    const double f = hue - i, w = hsv.v * (1.0 - hsv.s), q = hsv.v * (1.0 - hsv.s * f),
                 t = hsv.v * (1.0 - hsv.s * (1.0 - f));
    switch (i) {
      case 0: r = hsv.v, g = t, b = w; break;
      case 1: r = q, g = hsv.v, b = w; break;
      case 2: r = w, g = hsv.v, b = t; break;
      case 3: r = w, g = q, b = hsv.v; break;
      case 4: r = t, g = w, b = hsv.v; break;
      default: r = hsv.v, g = w, b = q; break;
    }
  }
  out[0] = static_cast<float>(r);
  out[1] = static_cast<float>(g);
  out[2] = static_cast<float>(b);
}
struct Hsl {
  double h, s, l;
};
Hsl ToHsl(const float* c) {
  const double r = c[0], g = c[1], b = c[2];
  const double max = std::max(r, std::max(g, b)), min = std::min(r, std::min(g, b));
  Hsl o{-1.0, 0.0, (max + min) / 2.0};
  if (max != min) {
    o.s = o.l <= 0.5 ? (max - min) / (max + min) : (max - min) / (2.0 - max - min);
    double delta = max - min;
    if (delta == 0.0) delta = 1.0;
    if (r == max) {
      o.h = (g - b) / delta;
    } else if (g == max) {
      o.h = 2.0 + (b - r) / delta;
    } else {
      o.h = 4.0 + (r - g) / delta;
    }
    o.h /= 6.0;
    if (o.h < 0.0) o.h += 1.0;
  }
  return o;
}
double HslValue(double n1, double n2, double hue) {
  if (hue > 6.0) {
    hue -= 6.0;
  } else if (hue < 0.0) {
    hue += 6.0;
  }
  if (hue < 1.0) return n1 + (n2 - n1) * hue;
  if (hue < 3.0) return n2;
  if (hue < 4.0) return n1 + (n2 - n1) * (4.0 - hue);
  return n1;
}
void FromHsl(const Hsl& hsl, float* out) {
  if (hsl.s == 0.0) {
    out[0] = out[1] = out[2] = static_cast<float>(hsl.l);
    return;
  }
  const double m2 = hsl.l <= 0.5 ? hsl.l * (1.0 + hsl.s) : hsl.l + hsl.s - hsl.l * hsl.s;
  const double m1 = 2.0 * hsl.l - m2;
  out[0] = static_cast<float>(HslValue(m1, m2, hsl.h * 6.0 + 2.0));
  out[1] = static_cast<float>(HslValue(m1, m2, hsl.h * 6.0));
  out[2] = static_cast<float>(HslValue(m1, m2, hsl.h * 6.0 - 2.0));
}

// ---- The legacy modes' colour, channel by channel or whole. --------------

void LegacyColour(Formula f, const float* in, const float* layer, float* comp) {
  switch (f) {
    case fHsvHue: {
      const Hsv l = ToHsv(layer);
      Hsv o = ToHsv(in);
      // No hue of its own (gray) leaves the colour alone.
      if (l.s != 0.0) o.h = l.h;
      FromHsv(o, comp);
      return;
    }
    case fHsvSaturation: {
      Hsv o = ToHsv(in);
      o.s = ToHsv(layer).s;
      FromHsv(o, comp);
      return;
    }
    case fHsvValue: {
      Hsv o = ToHsv(in);
      o.v = ToHsv(layer).v;
      FromHsv(o, comp);
      return;
    }
    case fHslColor: {
      const Hsl l = ToHsl(layer);
      Hsl o = ToHsl(in);
      o.h = l.h;
      o.s = l.s;
      FromHsl(o, comp);
      return;
    }
    default: break;
  }
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

// ---- The modern modes' blend functions. ----------------------------------

template <Formula f>
inline void BlendColour(const float* in, const float* layer, float* comp) {
  comp[3] = layer[3];
  switch (f) {
    case fHslColor: {
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
      return;
    }
    case fHsvHue: {
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
      return;
    }
    case fHsvSaturation: {
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
      return;
    }
    case fHsvValue: {
      const float dv = std::max(in[0], std::max(in[1], in[2]));
      const float sv = std::max(layer[0], std::max(layer[1], layer[2]));
      if (std::fabs(dv) > kEpsilon) {
        const float ratio = sv / dv;
        for (int c = 0; c < 3; ++c) comp[c] = in[c] * ratio;
      } else {
        comp[0] = comp[1] = comp[2] = sv;
      }
      return;
    }
    case fLchChroma: {
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
      return;
    }
    case fLchColor:
      comp[0] = in[0];
      comp[1] = layer[1];
      comp[2] = layer[2];
      return;
    case fLchHue: {
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
      return;
    }
    case fLchLightness:
      comp[0] = layer[0];
      comp[1] = in[1];
      comp[2] = in[2];
      return;
    case fLumaDarken:
    case fLumaLighten: {
      const float dl = Luma(in), sl = Luma(layer);
      const bool keep = f == fLumaDarken ? dl <= sl : dl >= sl;
      for (int c = 0; c < 3; ++c) comp[c] = keep ? in[c] : layer[c];
      return;
    }
    case fLuminance: {
      const float ratio = SafeDiv(Luma(layer), Luma(in));
      for (int c = 0; c < 3; ++c) comp[c] = in[c] * ratio;
      return;
    }
    case fColorErase: {
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
      return;
    }
    default: break;
  }
  for (int c = 0; c < 3; ++c) {
    const float d = in[c], s = layer[c];
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
    comp[c] = v;
  }
}

// ---- Compositing, by mode. -------------------------------------------------

void CopyColour(float* out, const float* from) {
  out[0] = from[0];
  out[1] = from[1];
  out[2] = from[2];
}

// out may be in.
template <GimpComposite mode, bool subtractive>
inline void Composite(const float* in, const float* layer, const float* comp, float maskValue, float opacity,
                      float* out) {
  const float ia = in[3];
  if (!subtractive) {
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

#if TESSEL_SSE2
// The SSE2 kernels of the commonest blends and composites: a pixel's four
// channels in the four lanes, by the operations of the plain formulas
// above in their order, lane by lane, so the same bits.
namespace vector {

template <Formula f>
constexpr bool kBlends = f == fMultiply || f == fScreen || f == fOverlay || f == fHardLight;

inline __m128 Pick(__m128 take, __m128 a, __m128 b) { return _mm_or_ps(_mm_and_ps(take, a), _mm_andnot_ps(take, b)); }

// The colour lanes of v, the alpha lane of a.
inline __m128 WithAlphaOf(__m128 v, __m128 a) {
  const __m128 colour = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
  return _mm_or_ps(_mm_and_ps(colour, v), _mm_andnot_ps(colour, a));
}

template <Formula f>
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

template <Formula f>
void BlendRow(const float* in, const float* layer, float* comp, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, in += 4, layer += 4, comp += 4) {
    if (in[3] == 0.0f || layer[3] == 0.0f) continue;
    const __m128 s = _mm_loadu_ps(layer);
    _mm_storeu_ps(comp, WithAlphaOf(Blend<f>(_mm_loadu_ps(in), s), s));
  }
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

// Each blend function over a row, compiled for its formula: comp for every
// pixel where both have alpha (the others' colour is never looked at).
using BlendRowFn = void (*)(const float* in, const float* layer, float* comp, uint32_t n);
template <Formula f>
void BlendRowOf(const float* in, const float* layer, float* comp, uint32_t n) {
#if TESSEL_SSE2
  if constexpr (vector::kBlends<f>) return vector::BlendRow<f>(in, layer, comp, n);
#endif
  for (uint32_t i = 0; i < n; ++i, in += 4, layer += 4, comp += 4)
    if (in[3] != 0.0f && layer[3] != 0.0f) BlendColour<f>(in, layer, comp);
}
template <size_t... F>
constexpr std::array<BlendRowFn, sizeof...(F)> BlendRows(std::index_sequence<F...>) {
  return {BlendRowOf<static_cast<Formula>(F)>...};
}
constexpr auto kBlendRows = BlendRows(std::make_index_sequence<fLchLightness + 1>());

// Each composite mode over a row, compiled for its mode.
using CompositeRowFn = void (*)(float* in, const float* layer, const float* comp, const float* mask, float opacity,
                                uint32_t n);
template <GimpComposite mode, bool subtractive>
void CompositeRowOf(float* in, const float* layer, const float* comp, const float* mask, float opacity, uint32_t n) {
#if TESSEL_SSE2
  if constexpr (!subtractive && vector::kComposites<mode>) return vector::CompositeRow<mode>(in, layer, comp, mask, opacity, n);
#endif
  for (uint32_t i = 0; i < n; ++i)
    Composite<mode, subtractive>(in + 4 * i, layer + 4 * i, comp + 4 * i, mask != nullptr ? mask[i] : 1.0f, opacity,
                                 in + 4 * i);
}
constexpr CompositeRowFn kCompositeRows[2][5] = {
    {CompositeRowOf<GimpComposite::Union, false>, CompositeRowOf<GimpComposite::Union, false>,
     CompositeRowOf<GimpComposite::ClipToBackdrop, false>, CompositeRowOf<GimpComposite::ClipToLayer, false>,
     CompositeRowOf<GimpComposite::Intersection, false>},
    {CompositeRowOf<GimpComposite::Union, true>, CompositeRowOf<GimpComposite::Union, true>,
     CompositeRowOf<GimpComposite::ClipToBackdrop, true>, CompositeRowOf<GimpComposite::ClipToLayer, true>,
     CompositeRowOf<GimpComposite::Intersection, true>}};

void Normal(GimpComposite mode, const float* in, const float* layer, float m, float opacity, float* out) {
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

void Behind(GimpComposite mode, const float* in, const float* layer, float m, float opacity, float* out) {
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

void Erase(GimpComposite mode, const float* in, const float* layer, float m, float opacity, float* out) {
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

void Merge(GimpComposite mode, const float* in, const float* layer, float m, float opacity, float* out) {
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

void Split(GimpComposite mode, const float* in, const float* layer, float m, float opacity, float* out) {
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

void Replace(GimpComposite mode, const float* in, const float* layer, float m, float opacity, float* out) {
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

void AntiErase(GimpComposite mode, const float* in, const float* layer, float m, float opacity, float* out) {
  const float value = opacity * m;
  CopyColour(out, in);
  switch (mode) {
    case GimpComposite::ClipToBackdrop: out[3] = in[3]; return;
    case GimpComposite::ClipToLayer: out[3] = layer[3] * value; return;
    case GimpComposite::Intersection: out[3] = in[3] * layer[3] * value; return;
    default: out[3] = static_cast<float>(in[3] + (1.0 - in[3]) * layer[3] * value); return;
  }
}

// GLib's random numbers (the Mersenne twister), which dissolve's noise
// is made of: the same seeds give GIMP's pattern.
class Twister {
 public:
  explicit Twister(uint32_t seed) {
    state_[0] = seed;
    for (index_ = 1; index_ < 624; ++index_)
      state_[index_] = 1812433253u * (state_[index_ - 1] ^ (state_[index_ - 1] >> 30)) + index_;
  }
  uint32_t Next() {
    if (index_ >= 624) {
      for (int k = 0; k < 624; ++k) {
        const uint32_t y = (state_[k] & 0x80000000u) | (state_[(k + 1) % 624] & 0x7FFFFFFFu);
        state_[k] = state_[(k + 397) % 624] ^ (y >> 1) ^ ((y & 1u) != 0 ? 0x9908B0DFu : 0u);
      }
      index_ = 0;
    }
    uint32_t y = state_[index_++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
  }
  // A number in [0, range), as GLib draws one: without bias, by rejection.
  uint32_t Below(uint32_t range) {
    uint32_t leftover = (0x80000000u % range) * 2;
    if (leftover >= range) leftover -= range;
    const uint32_t most = 0xFFFFFFFFu - leftover;
    uint32_t value;
    do value = Next();
    while (value > most);
    return value % range;
  }

 private:
  uint32_t state_[624];
  uint32_t index_;
};

// Dissolve: a pixel of the layer shows where a number drawn for its place
// falls below its coverage. Each row draws from its own seed, one number a
// column from column 0 on.
void Dissolve(GimpComposite mode, const float* in, const float* layer, const float* mask, float opacity, uint32_t n,
              int64_t x, int64_t y, float* out) {
  static const auto* seeds = [] {
    static uint32_t table[4096];
    Twister twister(314159265u);
    for (uint32_t& s : table) s = twister.Next();
    return table;
  }();
  Twister row(seeds[((y % 4096) + 4096) % 4096]);
  for (int64_t skip = 0; skip < x; ++skip) row.Next();
  for (uint32_t i = 0; i < n; ++i, in += 4, layer += 4, out += 4) {
    float value = layer[3] * opacity * 255.0f;
    if (mask != nullptr) value *= mask[i];
    if (static_cast<float>(row.Below(255)) >= value) {
      CopyColour(out, in);
      out[3] = mode == GimpComposite::Union || mode == GimpComposite::ClipToBackdrop ? in[3] : 0.0f;
    } else {
      CopyColour(out, layer);
      out[3] = mode == GimpComposite::Union || mode == GimpComposite::ClipToLayer ? 1.0f : in[3];
    }
  }
}

}  // namespace

bool GimpModeOpChoose(const XcfLayerBlending& blending, bool lastNode, GimpModeOp* op, const char** why) {
  if (blending.mode >= kGimpModeCount) {
    *why = "its layer mode is none of GIMP's (0 to 63)";
    return false;
  }
  if (blending.blendSpace > 3 || blending.compositeSpace > 3 || blending.compositeMode > 4) {
    *why = "its blend space, composite space or composite mode is none GIMP 2.10 knows";
    return false;
  }
  const ModeInfo& info = kModes[blending.mode];
  GimpModeOp o{};
  o.kind = info.kind;
  o.formula = info.formula;
  o.subtractive = info.subtractive;
  o.opacity = blending.opacity;
  o.composite = blending.compositeMode != 0 ? static_cast<GimpComposite>(blending.compositeMode) : info.composite;
  o.compositeSpace = blending.compositeSpace != 0 ? static_cast<GimpSpace>(blending.compositeSpace) : info.compositeSpace;
  o.blendSpace = blending.blendSpace != 0 ? static_cast<GimpSpace>(blending.blendSpace) : info.blendSpace;
  // A space of "auto" is the one its pixels come in: linear light.
  if (o.compositeSpace == GimpSpace::Auto) o.compositeSpace = GimpSpace::Linear;
  if (o.blendSpace == GimpSpace::Auto) o.blendSpace = o.compositeSpace;
  o.lastNode = lastNode;
  // Over nothing, modes that leave their layer's pixels alone draw them
  // as they are; the others composite them by union.
  const bool changesItself = info.kind == kReplace || info.kind == kAntiErase || info.kind == kDissolve;
  o.copiesLayer = lastNode && !changesItself;
  if (lastNode && changesItself) o.composite = GimpComposite::Union;
  *op = o;
  return true;
}

bool GimpModeOpMarksOutside(const GimpModeOp& op) {
  if (op.copiesLayer) return false;
  return op.composite == GimpComposite::ClipToLayer || op.composite == GimpComposite::Intersection;
}

bool GimpModeOpUsesCurve(const GimpModeOp& op) {
  return !op.copiesLayer && (op.compositeSpace == GimpSpace::Perceptual || op.blendSpace == GimpSpace::Perceptual);
}

void GimpModeOpRun(const GimpModeOp& op, float* target, const float* layer, const float* layerCurve, const float* mask,
                   uint32_t n, int64_t x, int64_t y, float* scratch) {
  if (op.copiesLayer) {
    for (uint32_t i = 0; i < n; ++i, target += 4, layer += 4) {
      CopyColour(target, layer);
      target[3] = layer[3] * op.opacity * (mask != nullptr ? mask[i] : 1.0f);
    }
    return;
  }
  // The rows in the composite space: in place over linear light.
  const GimpSpace space = op.compositeSpace;
  float* in = target;
  const float* lay = layer;
  if (space != GimpSpace::Linear) {
    in = scratch;
    float* converted = scratch + 4 * static_cast<size_t>(n);
    ConvertRow(target, GimpSpace::Linear, space, in, n);
    if (layerCurve != nullptr && space == GimpSpace::Perceptual) {
      lay = layerCurve;
    } else {
      ConvertRow(layer, GimpSpace::Linear, space, converted, n);
      lay = converted;
    }
  }
  const auto kind = static_cast<Kind>(op.kind);
  const auto composite = op.composite;
  const float opacity = op.opacity;
  switch (kind) {
    case kDissolve: Dissolve(composite, in, lay, mask, opacity, n, x, y, in); break;
    case kLegacy:
      for (uint32_t i = 0; i < n; ++i) {
        float* d = in + 4 * i;
        const float* s = lay + 4 * i;
        float ca = std::min(d[3], s[3]) * opacity;
        if (mask != nullptr) ca *= mask[i];
        const float na = d[3] + (1.0f - d[3]) * ca;
        if (ca != 0.0f && na != 0.0f) {
          const float ratio = ca / na;
          float comp[3];
          LegacyColour(static_cast<Formula>(op.formula), d, s, comp);
          for (int b = 0; b < 3; ++b) d[b] = comp[b] * ratio + d[b] * (1.0f - ratio);
        }
      }
      break;
    case kBlend: {
      float* comp = scratch + 8 * static_cast<size_t>(n);
      const auto formula = static_cast<Formula>(op.formula);
      // Both rows in the blend space, blended, and back.
      const float* bd = in;
      const float* bs = lay;
      if (op.blendSpace != space) {
        float* rows = scratch + 12 * static_cast<size_t>(n);
        ConvertRow(in, space, op.blendSpace, rows, n);
        bd = rows;
        if (layerCurve != nullptr && space == GimpSpace::Linear && op.blendSpace == GimpSpace::Perceptual) {
          bs = layerCurve;
        } else {
          ConvertRow(lay, space, op.blendSpace, rows + 4 * static_cast<size_t>(n), n);
          bs = rows + 4 * static_cast<size_t>(n);
        }
      }
      // Where either has no alpha the blend is not looked at: comp is the
      // layer there (no content for a subtractive mode).
      std::memcpy(comp, lay, 4 * sizeof(float) * static_cast<size_t>(n));
      if (op.subtractive)
        for (uint32_t i = 0; i < 4 * n; i += 4) comp[i + 3] = 0.0f;
      kBlendRows[formula](bd, bs, comp, n);
      if (op.blendSpace != space) ConvertRow(comp, op.blendSpace, space, comp, n);
      kCompositeRows[op.subtractive ? 1 : 0][static_cast<int>(composite)](in, lay, comp, mask, opacity, n);
      break;
    }
    default:
      for (uint32_t i = 0; i < n; ++i) {
        const float m = mask != nullptr ? mask[i] : 1.0f;
        float* d = in + 4 * i;
        const float* s = lay + 4 * i;
        switch (kind) {
          case kNormal: Normal(composite, d, s, m, opacity, d); break;
          case kBehind: Behind(composite, d, s, m, opacity, d); break;
          case kErase: Erase(composite, d, s, m, opacity, d); break;
          case kMerge: Merge(composite, d, s, m, opacity, d); break;
          case kSplit: Split(composite, d, s, m, opacity, d); break;
          case kReplace: Replace(composite, d, s, m, opacity, d); break;
          case kAntiErase: AntiErase(composite, d, s, m, opacity, d); break;
          default: break;
        }
      }
      break;
  }
  if (space != GimpSpace::Linear) ConvertRow(in, space, GimpSpace::Linear, target, n);
}

void GimpPassThroughRun(float opacity, float* target, const float* group, const float* mask, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    Replace(GimpComposite::Union, target + 4 * i, group + 4 * i, mask != nullptr ? mask[i] : 1.0f, opacity,
            target + 4 * i);
}

}  // namespace tessel
