#include "composite/linear_pixels.h"

#include <cmath>
#include <cstring>

#include "platform/simd.h"
#include "xcf/layer.h"

namespace tessel {

namespace {

double CurveToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double LinearToCurve(double v) { return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055; }

// Both curves on [0, 1] in 16384 steps, read between steps in a straight
// line: within a millionth of the formulas (the curves bend little over a
// step), at a fraction of the cost of pow, which dominated the drawing.
constexpr int kCurveSteps = 1 << 14;
// Each step's value beside the rise to the next step's (the same float
// subtraction the straight line would make, made once): one 8-byte read
// a value. One more entry than the steps, equal to the last with no rise:
// the vector kernel reads the entry of a value of exactly 1 too, and (with
// the step's remainder 0) gets what the plain loop returns for it.
struct CurveStep {
  float value;
  float rise;
};
struct CurveTables {
  CurveStep toLinear[kCurveSteps + 2];
  CurveStep toCurve[kCurveSteps + 2];
};
const CurveTables& Curves() {
  static const CurveTables* tables = [] {
    auto* t = new CurveTables;
    for (int i = 0; i <= kCurveSteps + 1; ++i) {
      const int at = i <= kCurveSteps ? i : kCurveSteps;
      t->toLinear[i].value = static_cast<float>(CurveToLinear(static_cast<double>(at) / kCurveSteps));
      t->toCurve[i].value = static_cast<float>(LinearToCurve(static_cast<double>(at) / kCurveSteps));
    }
    for (int i = 0; i <= kCurveSteps; ++i) {
      t->toLinear[i].rise = t->toLinear[i + 1].value - t->toLinear[i].value;
      t->toCurve[i].rise = t->toCurve[i + 1].value - t->toCurve[i].value;
    }
    t->toLinear[kCurveSteps + 1].rise = t->toCurve[kCurveSteps + 1].rise = 0.0f;
    return t;
  }();
  return *tables;
}

float Between(const CurveStep* table, float v) {
  const float x = v * kCurveSteps;
  const int i = static_cast<int>(x);
  if (i >= kCurveSteps) return table[kCurveSteps].value;
  return table[i].value + table[i].rise * (x - static_cast<float>(i));
}

inline float ThroughToLinear(const CurveTables& t, float v) {
  if (v >= 0.0f && v <= 1.0f) return Between(t.toLinear, v);
  return static_cast<float>(CurveToLinear(v));
}

inline float ThroughToCurve(const CurveTables& t, float v) {
  if (v >= 0.0f && v <= 1.0f) return Between(t.toCurve, v);
  return static_cast<float>(LinearToCurve(v));
}

#if TESSEL_SSE2
// Between() of a pixel's three colour channels at once, its alpha kept:
// the same multiply, truncation, subtraction and multiply-add, lane by
// lane, so the same bits. False, with nothing written, when a channel lies
// outside [0, 1] (or is not a number), which the plain loop works out by
// the formula.
inline __m128 StepAt(const CurveStep* table, int32_t i) {
  return _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(table + i)));
}
inline bool BetweenPixel(const CurveStep* table, const float* in, float* out) {
  const __m128 v = _mm_loadu_ps(in);
  const __m128 inside = _mm_and_ps(_mm_cmpge_ps(v, _mm_setzero_ps()), _mm_cmple_ps(v, _mm_set1_ps(1.0f)));
  if ((_mm_movemask_ps(inside) & 7) != 7) return false;
  const __m128 x = _mm_mul_ps(v, _mm_set1_ps(static_cast<float>(kCurveSteps)));
  const __m128i i = _mm_cvttps_epi32(x);
  alignas(16) int32_t at[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(at), i);
  // (value, rise) of each channel: (v0, v1, r0, r1) and (v2, 0, r2, 0).
  const __m128 first = _mm_unpacklo_ps(StepAt(table, at[0]), StepAt(table, at[1]));
  const __m128 third = _mm_unpacklo_ps(StepAt(table, at[2]), _mm_setzero_ps());
  const __m128 value = _mm_movelh_ps(first, third);
  const __m128 rise = _mm_movehl_ps(third, first);
  const __m128 r = _mm_add_ps(value, _mm_mul_ps(rise, _mm_sub_ps(x, _mm_cvtepi32_ps(i))));
  const __m128 colour = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
  _mm_storeu_ps(out, _mm_or_ps(_mm_and_ps(colour, r), _mm_andnot_ps(colour, v)));
  return true;
}
#endif

}  // namespace

float SrgbToLinear(float v) { return ThroughToLinear(Curves(), v); }
float LinearToSrgb(float v) { return ThroughToCurve(Curves(), v); }

void RowToCurve(const float* in, float* out, uint32_t n) {
  const CurveTables& t = Curves();
  for (uint32_t i = 0; i < 4 * n; i += 4) {
#if TESSEL_SSE2
    if (BetweenPixel(t.toCurve, in + i, out + i)) continue;
#endif
    out[i] = ThroughToCurve(t, in[i]);
    out[i + 1] = ThroughToCurve(t, in[i + 1]);
    out[i + 2] = ThroughToCurve(t, in[i + 2]);
    out[i + 3] = in[i + 3];
  }
}

void RowToLinear(const float* in, float* out, uint32_t n) {
  const CurveTables& t = Curves();
  for (uint32_t i = 0; i < 4 * n; i += 4) {
#if TESSEL_SSE2
    if (BetweenPixel(t.toLinear, in + i, out + i)) continue;
#endif
    out[i] = ThroughToLinear(t, in[i]);
    out[i + 1] = ThroughToLinear(t, in[i + 1]);
    out[i + 2] = ThroughToLinear(t, in[i + 2]);
    out[i + 3] = in[i + 3];
  }
}

namespace {

// The 256 values an 8-bit component stands for, on the linear scale:
// linear (v / 255) or through the sRGB curve.
struct ComponentTables {
  float linear[256];
  float gamma[256];
};

const ComponentTables& Tables8() {
  static const ComponentTables tables = [] {
    ComponentTables t{};
    for (int i = 0; i < 256; ++i) {
      t.linear[i] = static_cast<float>(i) / 255.0f;
      t.gamma[i] = SrgbToLinear(static_cast<float>(i) / 255.0f);
    }
    return t;
  }();
  return tables;
}

}  // namespace

PixelReader PixelReaderFor(const XcfFormat& format, uint32_t layerType, const float* palette) {
  const bool indexed = layerType == kLayerIndexed || layerType == kLayerIndexedA;
  const uint32_t bytes = XcfBytesPerPixel(layerType);
  const bool precise = !indexed;
  const XcfPrecision precision = precise ? format.precision : kGamma8;
  const ComponentTables& tables = Tables8();
  return PixelReader{precision, bytes, format.version >= 12, indexed ? palette : nullptr,
                     precision.linear ? tables.linear : tables.gamma};
}

namespace {

float HalfToFloat(uint16_t h) {
  const uint32_t sign = (h & 0x8000u) << 16;
  const uint32_t exponent = (h >> 10) & 0x1Fu;
  const uint32_t mantissa = h & 0x3FFu;
  uint32_t bits;
  if (exponent == 0) {
    if (mantissa == 0) {
      bits = sign;
    } else {
      // A subnormal half is a normal float.
      int shift = 0;
      uint32_t m = mantissa;
      while ((m & 0x400u) == 0) {
        m <<= 1;
        ++shift;
      }
      bits = sign | (static_cast<uint32_t>(113 - shift) << 23) | ((m & 0x3FFu) << 13);
    }
  } else if (exponent == 31) {
    bits = sign | 0x7F800000u | (mantissa << 13);
  } else {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  }
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// One component at p of `bytes` bytes, big- or little-endian, as a float.
float Component(const uint8_t* p, XcfComponent component, bool bigEndian) {
  uint64_t raw = 0;
  const uint32_t bytes = XcfComponentBytes(component);
  for (uint32_t i = 0; i < bytes; ++i) raw |= static_cast<uint64_t>(p[bigEndian ? i : bytes - 1 - i]) << (8 * (bytes - 1 - i));
  switch (component) {
    case XcfComponent::U8: return static_cast<float>(raw) / 255.0f;
    case XcfComponent::U16: return static_cast<float>(raw) / 65535.0f;
    case XcfComponent::U32: return static_cast<float>(static_cast<double>(raw) / 4294967295.0);
    case XcfComponent::Half: return HalfToFloat(static_cast<uint16_t>(raw));
    case XcfComponent::Float: {
      const auto bits = static_cast<uint32_t>(raw);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case XcfComponent::Double: {
      double d;
      std::memcpy(&d, &raw, sizeof d);
      return static_cast<float>(d);
    }
  }
  return 0.0f;
}

}  // namespace

void ReadLinearRgba(const PixelReader& reader, const uint8_t* src, float* out, uint32_t n) {
  const uint32_t channels = reader.channels;
  const bool alpha = channels == 2 || channels == 4;
  if (reader.palette != nullptr) {
    for (uint32_t i = 0; i < n; ++i, src += channels, out += 4) {
      const float* entry = reader.palette + 3 * static_cast<size_t>(src[0]);
      out[0] = entry[0];
      out[1] = entry[1];
      out[2] = entry[2];
      out[3] = alpha ? static_cast<float>(src[1]) / 255.0f : 1.0f;
    }
    return;
  }
  const uint32_t colours = channels >= 3 ? 3 : 1;
  if (reader.precision.component == XcfComponent::U8) {
    const float* table = reader.table8;
    // Alpha by the table of byte / 255 (the same quotients, worked out
    // once); RGB and RGBA, the pictures people have, in loops of their own.
    const float* fraction = Tables8().linear;
    if (channels == 4) {
      for (uint32_t i = 0; i < n; ++i, src += 4, out += 4) {
        out[0] = table[src[0]];
        out[1] = table[src[1]];
        out[2] = table[src[2]];
        out[3] = fraction[src[3]];
      }
      return;
    }
    if (channels == 3) {
      for (uint32_t i = 0; i < n; ++i, src += 3, out += 4) {
        out[0] = table[src[0]];
        out[1] = table[src[1]];
        out[2] = table[src[2]];
        out[3] = 1.0f;
      }
      return;
    }
    for (uint32_t i = 0; i < n; ++i, src += channels, out += 4) {
      for (uint32_t c = 0; c < 3; ++c) out[c] = table[src[colours == 3 ? c : 0]];
      out[3] = alpha ? fraction[src[channels - 1]] : 1.0f;
    }
    return;
  }
  const XcfComponent component = reader.precision.component;
  const uint32_t bytes = XcfComponentBytes(component);
  const bool gamma = !reader.precision.linear;
  for (uint32_t i = 0; i < n; ++i, src += channels * bytes, out += 4) {
    float colour[3];
    for (uint32_t c = 0; c < colours; ++c) {
      const float v = Component(src + c * bytes, component, reader.bigEndian);
      colour[c] = gamma ? SrgbToLinear(v) : v;
    }
    for (uint32_t c = 0; c < 3; ++c) out[c] = colour[colours == 3 ? c : 0];
    out[3] = alpha ? Component(src + (channels - 1) * bytes, component, reader.bigEndian) : 1.0f;
  }
}

bool StoredOnCurve8(const PixelReader& reader) {
  return reader.palette == nullptr && reader.precision.component == XcfComponent::U8 && !reader.precision.linear;
}

void ReadCurveRgba(const PixelReader& reader, const uint8_t* src, float* out, uint32_t n) {
  PixelReader asStored = reader;
  asStored.table8 = Tables8().linear;
  ReadLinearRgba(asStored, src, out, n);
}

void ReadCoverage(const XcfFormat& format, const uint8_t* src, float* out, uint32_t n) {
  const XcfComponent component = format.precision.component;
  if (component == XcfComponent::U8) {
    const float* table = Tables8().linear;
    for (uint32_t i = 0; i < n; ++i) out[i] = table[src[i]];
    return;
  }
  const uint32_t bytes = XcfComponentBytes(component);
  for (uint32_t i = 0; i < n; ++i) out[i] = Component(src + static_cast<size_t>(i) * bytes, component, format.version >= 12);
}

void LinearPalette(const uint8_t* triples, uint32_t n, float* out) {
  const float* table = Tables8().gamma;
  for (uint32_t i = 0; i < 256; ++i)
    for (uint32_t c = 0; c < 3; ++c) out[3 * i + c] = i < n ? table[triples[3 * i + c]] : 0.0f;
}

void StoreInPrecision(const XcfPrecision& precision, float* rgba, uint32_t n) {
  const XcfComponent component = precision.component;
  if (component == XcfComponent::Half || component == XcfComponent::Float || component == XcfComponent::Double) return;
  const auto clamp = [](float v) { return !(v > 0.0f) ? 0.0f : v < 1.0f ? v : 1.0f; };
  if (component != XcfComponent::U8) {
    for (uint32_t i = 0; i < 4 * n; ++i) rgba[i] = clamp(rgba[i]);
    return;
  }
  const ComponentTables& tables = Tables8();
  for (uint32_t i = 0; i < n; ++i, rgba += 4) {
    for (uint32_t c = 0; c < 3; ++c) {
      rgba[c] = precision.linear ? tables.linear[FloatToU8(rgba[c])] : tables.gamma[FloatToU8(LinearToSrgb(rgba[c]))];
    }
    rgba[3] = tables.linear[FloatToU8(rgba[3])];
  }
}

}  // namespace tessel
