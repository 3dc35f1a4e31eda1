// The pixels of files of XCF version 4 on as GIMP 2.10 composites them:
// every precision, gray and indexed among them, turned into RGBA floats on
// a linear scale (not premultiplied, alpha last), masks into coverage, and
// at the end the floats back into the bitmap's 8 bits. GIMP converts with
// its pixel-format library, babl; these are the same formulas.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/xcf_rules.h"

namespace tessel {

// The sRGB curve: a value on it (gamma) to linear light, and back. Values
// beyond [0, 1] follow the curve's formulas, as babl's float conversions do.
float SrgbToLinear(float v);
float LinearToSrgb(float v);
// The colours of n RGBA pixels through the curve (ToCurve) or back
// (ToLinear), alpha kept; out may be in.
void RowToCurve(const float* in, float* out, uint32_t n);
void RowToLinear(const float* in, float* out, uint32_t n);

// A float in [0, 1] as 8 bits, rounded; beyond, clamped (babl's rule).
inline uint8_t FloatToU8(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

// How a layer's stored pixels read: its precision, its channels (1 to 4,
// alpha last when 2 or 4), and for an indexed layer its palette, already
// in linear light (3 floats an entry, 256 entries).
struct PixelReader {
  XcfPrecision precision;
  uint32_t channels;
  bool bigEndian;  // components of more than a byte, from version 12 on
  const float* palette;  // indexed layers only
  // Values of an 8-bit component: /255, and through the curve when gamma.
  const float* table8;
  uint32_t BytesPerPixel() const { return channels * (palette != nullptr ? 1 : XcfComponentBytes(precision.component)); }
};

PixelReader PixelReaderFor(const XcfFormat& format, uint32_t layerType, const float* palette);

// n stored pixels as RGBA floats on the linear scale (alpha 1 for a layer
// without alpha).
void ReadLinearRgba(const PixelReader& reader, const uint8_t* src, float* out, uint32_t n);
// Whether the layer's pixels are stored on the sRGB curve in 8 bits, so
// that ReadCurveRgba gives them as they are.
bool StoredOnCurve8(const PixelReader& reader);
// n such pixels as RGBA floats on the curve (v / 255), alpha as ever.
void ReadCurveRgba(const PixelReader& reader, const uint8_t* src, float* out, uint32_t n);

// n stored mask values as coverage, 0 to 1: GIMP stores masks on a linear
// scale whatever the picture's curve (a mask painted 50 % gray holds 55).
void ReadCoverage(const XcfFormat& format, const uint8_t* src, float* out, uint32_t n);

// A palette of n RGB triples, in linear light, for an indexed picture.
void LinearPalette(const uint8_t* triples, uint32_t n, float* out);

// A group's pixels as GIMP keeps them between groups: stored in the
// picture's precision, so that an 8-bit picture's are rounded to 8 bits
// (on the curve when gamma) and integer ones clamped to [0, 1].
void StoreInPrecision(const XcfPrecision& precision, float* rgba, uint32_t n);

}  // namespace tessel
