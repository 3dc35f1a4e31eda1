#include "composite/gimp_store.h"

#include <cstring>

#include "composite/linear_pixels.h"
#include "composite/plan.h"
#include "composite/scratch.h"

namespace tessel {

namespace {

// The band's floats, the backdrop under every layer: an opaque black layer
// (the plug-in's canvas), an opaque layer of a colour, or nothing.
ResultCode OpenBand(const DrawPlan& plan, BandScratch* scratch, PixelBuffer* band, const Rect&, ByteStream* stream,
                    Rows* rows) {
  const size_t floats = 4 * static_cast<size_t>(band->width) * band->height;
  auto* pixels = reinterpret_cast<float*>(scratch->band.Reserve(floats * sizeof(float)));
  if (pixels == nullptr)
    return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a band of the picture (%llu bytes)",
                        static_cast<unsigned long long>(floats * sizeof(float)));
  const Backdrop backdrop = plan.request.backdrop;
  float under[4] = {0.0f, 0.0f, 0.0f, backdrop == Backdrop::Nothing ? 0.0f : 1.0f};
  if (backdrop == Backdrop::Colour)
    for (int c = 0; c < 3; ++c) under[c] = SrgbToLinear(static_cast<float>(plan.request.colour[c]) / 255.0f);
  for (size_t i = 0; i < floats; i += 4) std::memcpy(pixels + i, under, sizeof under);
  // The store writes every pixel; the bitmap's rows are padded to 4 bytes.
  const size_t used = static_cast<size_t>(band->width) * band->bytesPerPixel;
  const size_t stride = band->stride < 0 ? 0u - static_cast<size_t>(static_cast<int64_t>(band->stride))
                                         : static_cast<size_t>(band->stride);
  if (stride > used)
    for (uint32_t y = 0; y < band->height; ++y) std::memset(PixelBufferRow(band, y) + used, 0, stride - used);
  *rows = Rows{reinterpret_cast<uint8_t*>(pixels), static_cast<int64_t>(4 * sizeof(float) * band->width),
               4 * sizeof(float)};
  return ResultCode::Ok;
}

// The nearest colour of a palette to an RGB triple, the first of the
// nearest (GIMP turns its flattened indexed pictures back into indices so).
uint8_t NearestIndex(const DrawPlan& plan, const uint8_t* rgb) {
  uint32_t best = 0;
  uint32_t distance = UINT32_MAX;
  for (uint32_t i = 0; i < plan.colours; ++i) {
    const uint8_t* c = plan.colormap + 3 * i;
    const int dr = c[0] - rgb[0], dg = c[1] - rgb[1], db = c[2] - rgb[2];
    const auto d = static_cast<uint32_t>(dr * dr + dg * dg + db * db);
    if (d < distance) {
      distance = d;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

// A flattened value as GIMP stores it in the picture's precision and then
// turns it into 8-bit gamma: an 8-bit linear picture's is rounded to 8 bits
// on the linear scale first.
float AsStored(const XcfPrecision& precision, float v) {
  return precision.component == XcfComponent::U8 && precision.linear ? static_cast<float>(FloatToU8(v)) / 255.0f : v;
}
uint8_t FlattenedToU8(const XcfPrecision& precision, float v) { return FloatToU8(LinearToSrgb(AsStored(precision, v))); }

// A band pixel's alpha, between none and full.
float AlphaOf(const float* pixel) { return pixel[3] > 0.0f ? (pixel[3] < 1.0f ? pixel[3] : 1.0f) : 0.0f; }

// A pixel whose alpha rounds to none keeps no colour, as GIMP exports it.
inline void PutAlpha(uint8_t* to, float a) {
  to[3] = FloatToU8(a);
  if (to[3] == 0) to[0] = to[1] = to[2] = 0;
}

// The band of floats into the canvas's pixels, in linear light and then on
// the sRGB curve in 8 bits. An RGB picture row by row, in the band's own
// floats (not needed after): over black (weighed by its alpha) or with its
// alpha (the colour as it is, as GIMP keeps a layer's), rounded as stored,
// then on the curve by the row kernel, which gives what FlattenedToU8 gives
// pixel by pixel.
template <bool blueFirst, bool withAlpha>
void CloseRgb(const DrawPlan& plan, const Rows& rows, PixelBuffer* band) {
  constexpr int kRed = blueFirst ? 2 : 0;
  constexpr uint32_t kBytes = withAlpha ? 4 : 3;
  for (uint32_t y = 0; y < band->height; ++y) {
    auto* row = reinterpret_cast<float*>(rows.Row(y));
    for (uint32_t x = 0; x < 4 * band->width; x += 4) {
      const float a = withAlpha ? 1.0f : AlphaOf(row + x);
      for (int c = 0; c < 3; ++c) row[x + c] = AsStored(plan.format.precision, row[x + c] * a);
    }
    RowToCurve(row, row, band->width);
    uint8_t* to = PixelBufferRow(band, y);
    for (uint32_t x = 0; x < 4 * band->width; x += 4, to += kBytes) {
      to[kRed] = FloatToU8(row[x]);
      to[1] = FloatToU8(row[x + 1]);
      to[2 - kRed] = FloatToU8(row[x + 2]);
      if (withAlpha) PutAlpha(to, AlphaOf(row + x));
    }
  }
}

// A gray picture: the luminance.
void CloseGray(const DrawPlan& plan, const Rows& rows, PixelBuffer* band) {
  for (uint32_t y = 0; y < band->height; ++y) {
    const auto* from = reinterpret_cast<const float*>(rows.Row(y));
    uint8_t* to = PixelBufferRow(band, y);
    for (uint32_t x = 0; x < band->width; ++x, from += 4) {
      const float y0 = (from[0] * 0.22248840f + from[1] * 0.71690369f + from[2] * 0.06060791f) * AlphaOf(from);
      *to++ = FlattenedToU8(plan.format.precision, y0);
    }
  }
}

// An indexed picture: the nearest colour of the colormap.
void CloseIndexed(const DrawPlan& plan, const Rows& rows, PixelBuffer* band) {
  uint8_t last[3] = {0, 0, 0};
  uint8_t lastIndex = NearestIndex(plan, last);
  for (uint32_t y = 0; y < band->height; ++y) {
    const auto* from = reinterpret_cast<const float*>(rows.Row(y));
    uint8_t* to = PixelBufferRow(band, y);
    for (uint32_t x = 0; x < band->width; ++x, from += 4) {
      const float a = AlphaOf(from);
      uint8_t rgb[3];
      for (int c = 0; c < 3; ++c) rgb[c] = FlattenedToU8(plan.format.precision, from[c] * a);
      if (std::memcmp(rgb, last, 3) != 0) {
        std::memcpy(last, rgb, 3);
        lastIndex = NearestIndex(plan, rgb);
      }
      *to++ = lastIndex;
    }
  }
}

// ---- The picture with its transparency: four bytes a pixel, its colour
// (not weighed by its alpha: as GIMP keeps a layer) and its alpha. ----------

// A gray picture: its luminance in the three colour bytes.
void CloseGrayAlpha(const DrawPlan& plan, const Rows& rows, PixelBuffer* band) {
  for (uint32_t y = 0; y < band->height; ++y) {
    const auto* from = reinterpret_cast<const float*>(rows.Row(y));
    uint8_t* to = PixelBufferRow(band, y);
    for (uint32_t x = 0; x < band->width; ++x, from += 4, to += 4) {
      const float y0 = from[0] * 0.22248840f + from[1] * 0.71690369f + from[2] * 0.06060791f;
      to[0] = to[1] = to[2] = FlattenedToU8(plan.format.precision, y0);
      PutAlpha(to, AlphaOf(from));
    }
  }
}

// An indexed picture: the nearest colour of the colormap.
template <bool blueFirst>
void CloseIndexedAlpha(const DrawPlan& plan, const Rows& rows, PixelBuffer* band) {
  constexpr int kRed = blueFirst ? 2 : 0;
  uint8_t last[3] = {0, 0, 0};
  uint8_t lastIndex = NearestIndex(plan, last);
  for (uint32_t y = 0; y < band->height; ++y) {
    const auto* from = reinterpret_cast<const float*>(rows.Row(y));
    uint8_t* to = PixelBufferRow(band, y);
    for (uint32_t x = 0; x < band->width; ++x, from += 4, to += 4) {
      uint8_t rgb[3];
      for (int c = 0; c < 3; ++c) rgb[c] = FlattenedToU8(plan.format.precision, from[c]);
      if (std::memcmp(rgb, last, 3) != 0) {
        std::memcpy(last, rgb, 3);
        lastIndex = NearestIndex(plan, rgb);
      }
      const uint8_t* colour = plan.colormap + 3 * lastIndex;
      to[kRed] = colour[0];
      to[1] = colour[1];
      to[2 - kRed] = colour[2];
      PutAlpha(to, AlphaOf(from));
    }
  }
}

}  // namespace

BandStore GimpBandStore(uint32_t canvasBytes, int32_t baseType, bool blueFirst) {
  if (canvasBytes == 4) {
    if (baseType == kBaseIndexed) return BandStore{OpenBand, blueFirst ? CloseIndexedAlpha<true> : CloseIndexedAlpha<false>};
    if (baseType == kBaseGray) return BandStore{OpenBand, CloseGrayAlpha};
    return BandStore{OpenBand, blueFirst ? CloseRgb<true, true> : CloseRgb<false, true>};
  }
  if (canvasBytes == 3) return BandStore{OpenBand, blueFirst ? CloseRgb<true, false> : CloseRgb<false, false>};
  return BandStore{OpenBand, baseType == kBaseIndexed ? CloseIndexed : CloseGray};
}

}  // namespace tessel
