#include "composite/band.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "composite/blend.h"
#include "composite/composite.h"
#include "composite/layer_modes.h"
#include "composite/linear_pixels.h"
#include "composite/simd.h"
#include "xcf/hierarchy.h"
#include "xcf/tile.h"

namespace tessel {

ResultCode ApplyMaskRow(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t maskOpacity,
                        uint32_t n) {
  if (out == nullptr || source == nullptr || mask == nullptr || bs < 1 || n == 0) return ResultCode::InvalidArgument;
  if (maskOpacity == 0) return ResultCode::Ok;
  const uint32_t mo = maskOpacity > 255 ? 255 : maskOpacity;
  uint32_t i = 0;
#if TESSEL_SSE2
  if (bs == 2 || bs == 4) {
    const uint32_t done = simd::MaskAlphaVector(bs, source, out, mask, mo, n);
    i = done;
    source += static_cast<size_t>(done) * bs;
    out += static_cast<size_t>(done) * bs;
    mask += done;
  }
#endif
  for (; i < n; ++i, source += bs, out += bs, ++mask) {
    for (uint32_t c = 0; c + 1 < bs; ++c) out[c] = source[c];
    const uint32_t s = source[bs - 1];
    const uint32_t m = *mask;
    out[bs - 1] = static_cast<uint8_t>(mo == 255 ? Div255(m * s) : Div255(s * (255 - mo) + m * mo));
  }
  return ResultCode::Ok;
}

ScratchBytes::~ScratchBytes() { std::free(data_); }

uint8_t* ScratchBytes::Reserve(size_t n) {
  if (n <= size_ && data_ != nullptr) return data_;
  std::free(data_);
  size_ = 0;
  data_ = static_cast<uint8_t*>(std::malloc(n > 0 ? n : 1));
  if (data_ != nullptr) size_ = n;
  return data_;
}

BandScratch::~BandScratch() { delete[] groups; }

bool BandScratch::Fit(const DrawPlan& plan) {
  if (groups != nullptr && levels > plan.depth) return true;
  delete[] groups;
  levels = 0;
  groups = new (std::nothrow) ScratchBytes[static_cast<size_t>(plan.depth) + 1];
  if (groups == nullptr) return false;
  levels = plan.depth + 1;
  return true;
}

namespace {

// Rows of pixels: the first, and the (signed) distance between two.
struct Rows {
  uint8_t* first;
  int64_t stride;
  uint8_t* Row(uint32_t i) const { return first + static_cast<int64_t>(i) * stride; }
};

// Where a node lands in a target: its part of the target in image
// coordinates, the layer column and row it starts at, the target pixel.
struct Region {
  uint32_t columns, rows;
  uint32_t skipX, skipY;
  uint32_t dstX, dstY;
};

const XcfLevel* LevelOf(const XcfHierarchy* hierarchy) { return hierarchy != nullptr ? hierarchy->level : nullptr; }

// Columns [x, x + columns) of rows [y, y + rows) of a level into `out`.
ResultCode DecodeRegion(ByteStream* stream, const XcfLevel* level, uint32_t x, uint32_t y, uint32_t columns,
                        uint32_t rows, uint8_t* out, int64_t stride) {
  // The loading read every drawn entry's level before any band.
  if (level == nullptr) return StreamFault(stream, "a layer or mask is drawn whose tiles were not loaded");
  const TileTarget target{out, stride, x, y, x + columns, y + rows};
  return XcfDecodeTileRows(stream, &level->tileOffsets, static_cast<uint32_t>(level->width),
                           static_cast<uint32_t>(level->height), static_cast<uint32_t>(level->bpp), level->compression,
                           target, y / kTileSize, (y + rows - 1) / kTileSize + 1);
}

// Copies n pixels of bs bytes (1 or 3) into bs + 1 bytes with an opaque alpha.
void AddOpaqueAlpha(const uint8_t* source, uint32_t bs, uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, source += bs) {
    for (uint32_t c = 0; c < bs; ++c) *out++ = source[c];
    *out++ = 255;
  }
}

ResultCode RefuseMemory(const ByteStream* stream, const char* what, uint64_t bytes) {
  return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for %s (%llu bytes)", what,
                      static_cast<unsigned long long>(bytes));
}

class NodeDrawer {
 public:
  NodeDrawer(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch)
      : plan_(plan), stream_(stream), scratch_(scratch) {}

  // Draws node k into a target covering targetRect, within `clip` (inside targetRect).
  ResultCode Draw(uint32_t k, PixelBuffer* target, const Rect& targetRect, const Rect& clip) {
    const PlanNode& node = plan_.nodes[k];
    if (!node.draws) return ResultCode::Ok;
    const Rect part = Intersect(node.mark, clip);
    if (part.Empty()) return ResultCode::Ok;
    if (node.soleChild != kNoNode) return Draw(node.soleChild, target, targetRect, part);
    const Region region{static_cast<uint32_t>(part.x1 - part.x0), static_cast<uint32_t>(part.y1 - part.y0),
                        static_cast<uint32_t>(part.x0 - node.rect.x0), static_cast<uint32_t>(part.y0 - node.rect.y0),
                        static_cast<uint32_t>(part.x0 - targetRect.x0), static_cast<uint32_t>(part.y0 - targetRect.y0)};
    const uint32_t bt = target->bytesPerPixel;
    if (node.source == PixelSource::Canvas) {
      uint8_t* at = PixelBufferRow(target, region.dstY) + static_cast<size_t>(bt) * region.dstX;
      return DecodeRegion(stream_, LevelOf(node.layer->hierarchy), region.skipX, region.skipY, region.columns,
                          region.rows, at, target->stride);
    }
    Rows source{};
    ResultCode result = node.group ? DrawChildren(node, part, region, &source) : LayerRows(node, region, &source);
    if (result == ResultCode::Ok && node.mask != MaskRole::None) result = FoldMask(node, region, &source);
    if (result != ResultCode::Ok) return result;
    // The plan chose the blend for this target once it accepted the layer.
    if (node.blend.targetBytes != bt) return StreamFault(stream_, "%s: blended for %u bytes per pixel, drawn into %u",
                                                         NameOf(node.layer).text, node.blend.targetBytes, bt);
    for (uint32_t i = 0; i < region.rows; ++i) {
      uint8_t* row = PixelBufferRow(target, region.dstY + i) + static_cast<size_t>(bt) * region.dstX;
      node.blend.Run(row, source.Row(i), region.columns);
    }
    return ResultCode::Ok;
  }

 private:
  // A group's children, bottom to top, into a cleared buffer of the part
  // that is drawn.
  ResultCode DrawChildren(const PlanNode& node, const Rect& part, const Region& region, Rows* out) {
    const size_t rowBytes = static_cast<size_t>(region.columns) * node.bs;
    uint8_t* pixels = scratch_->groups[node.depth].Reserve(rowBytes * region.rows);
    if (pixels == nullptr) return Refuse("a group's buffer", rowBytes * region.rows);
    std::memset(pixels, 0, rowBytes * region.rows);
    PixelBuffer buffer{0, region.columns, region.rows, node.bs, static_cast<int32_t>(rowBytes), pixels};
    for (uint32_t c = node.lastChild; c != kNoNode; c = plan_.nodes[c].prev) {
      ResultCode result = Draw(c, &buffer, part, part);
      if (result != ResultCode::Ok) return result;
    }
    *out = Rows{pixels, static_cast<int64_t>(rowBytes)};
    return ResultCode::Ok;
  }

  // The rows of a layer that the region shows.
  ResultCode LayerRows(const PlanNode& node, const Region& region, Rows* out) {
    if (node.source == PixelSource::Memory) {
      const XcfLevel* level = LevelOf(node.layer->hierarchy);
      const uint8_t* first = XcfHierarchyRow(node.layer->hierarchy, region.skipY);
      if (first == nullptr) return ResultCode::Unsupported;
      *out = Rows{const_cast<uint8_t*>(first) + static_cast<size_t>(node.bs) * region.skipX,
                  static_cast<int64_t>(level->width) * level->bpp};
      return ResultCode::Ok;
    }
    const size_t rowBytes = static_cast<size_t>(region.columns) * node.bs;
    uint8_t* pixels = scratch_->rows.Reserve(rowBytes * region.rows);
    if (pixels == nullptr) return Refuse("a layer's rows", rowBytes * region.rows);
    *out = Rows{pixels, static_cast<int64_t>(rowBytes)};
    return DecodeRegion(stream_, LevelOf(node.layer->hierarchy), region.skipX, region.skipY, region.columns,
                        region.rows, pixels, static_cast<int64_t>(rowBytes));
  }

  // The rows of the node's mask: mask byte x of row r for layer pixel x, as
  // a mask of more than one byte per pixel has been read since its first day.
  ResultCode MaskRows(const PlanNode& node, const Region& region, Rows* out) {
    const XcfChannel* mask = node.layer->mask;
    const XcfLevel* level = mask != nullptr ? LevelOf(mask->hierarchy) : nullptr;
    if (level == nullptr)
      return StreamFault(stream_, "%s: its mask takes part but was not loaded", NameOf(node.layer).text);
    const int64_t stride = static_cast<int64_t>(level->width) * level->bpp;
    if (node.maskSource == PixelSource::Memory) {
      const uint8_t* first = XcfChannelRow(mask, region.skipY);
      if (first == nullptr) return ResultCode::Unsupported;
      *out = Rows{const_cast<uint8_t*>(first) + region.skipX, stride};
      return ResultCode::Ok;
    }
    const auto bpp = static_cast<uint32_t>(level->bpp);
    const uint32_t x0 = region.skipX / bpp;
    const uint64_t end = (static_cast<uint64_t>(region.skipX) + region.columns + bpp - 1) / bpp;
    const uint32_t x1 = end < static_cast<uint32_t>(level->width) ? static_cast<uint32_t>(end)
                                                                   : static_cast<uint32_t>(level->width);
    const uint64_t rowBytes = static_cast<uint64_t>(x1 - x0) * bpp;
    uint8_t* bytes =
        rowBytes * region.rows > SIZE_MAX ? nullptr : scratch_->mask.Reserve(static_cast<size_t>(rowBytes * region.rows));
    if (bytes == nullptr) return Refuse("a mask's rows", rowBytes * region.rows);
    *out = Rows{bytes + (region.skipX - static_cast<uint64_t>(x0) * bpp), static_cast<int64_t>(rowBytes)};
    return DecodeRegion(stream_, level, x0, region.skipY, x1 - x0, region.rows, bytes, static_cast<int64_t>(rowBytes));
  }

  // The mask into the alpha of the source rows, which become rows of the
  // node's draw type in memory of this thread's.
  ResultCode FoldMask(const PlanNode& node, const Region& region, Rows* source) {
    Rows mask{};
    ResultCode result = MaskRows(node, region, &mask);
    if (result != ResultCode::Ok) return result;
    const bool widen = node.drawType != node.type;
    const uint32_t bytes = widen ? node.bs + 1 : node.bs;
    Rows out = *source;
    // A group's buffer and decoded rows are this thread's; rows in memory
    // are the document's and stay as they are.
    if (widen || node.source == PixelSource::Memory) {
      const size_t rowBytes = static_cast<size_t>(region.columns) * bytes;
      uint8_t* pixels = (widen ? scratch_->widened : scratch_->rows).Reserve(rowBytes * region.rows);
      if (pixels == nullptr) return Refuse("a masked layer's rows", rowBytes * region.rows);
      out = Rows{pixels, static_cast<int64_t>(rowBytes)};
    }
    for (uint32_t i = 0; i < region.rows; ++i) {
      const uint8_t* from = source->Row(i);
      if (widen) {
        AddOpaqueAlpha(from, node.bs, out.Row(i), region.columns);
        from = out.Row(i);
      }
      result = ApplyMaskRow(bytes, from, out.Row(i), mask.Row(i), node.maskOpacity, region.columns);
      if (result != ResultCode::Ok) return result;
    }
    *source = out;
    return ResultCode::Ok;
  }

  ResultCode Refuse(const char* what, uint64_t bytes) { return RefuseMemory(stream_, what, bytes); }

  const DrawPlan& plan_;
  ByteStream* stream_;
  BandScratch* scratch_;
};

// ---- GIMP's arithmetic: rows of RGBA floats in linear light. --------------

// Rows of floats, four a pixel.
struct FloatRows {
  float* first;
  size_t stride;  // floats from one row to the next
  float* Row(uint32_t i) const { return first + static_cast<size_t>(i) * stride; }
};

// A row of a layer in linear light, and on the sRGB curve where it is had so.
struct LayerRow {
  const float* linear;
  const float* curve;
};

class GimpDrawer {
 public:
  GimpDrawer(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch)
      : plan_(plan), stream_(stream), scratch_(scratch) {}

  // Node k onto a target of floats covering targetRect, within clip.
  ResultCode Draw(uint32_t k, const FloatRows& target, const Rect& targetRect, const Rect& clip) {
    const PlanNode& node = plan_.nodes[k];
    if (!node.draws) return ResultCode::Ok;
    const Rect part = Intersect(node.mark, clip);
    if (part.Empty()) return ResultCode::Ok;
    const auto columns = static_cast<uint32_t>(part.x1 - part.x0);
    const auto rows = static_cast<uint32_t>(part.y1 - part.y0);
    FloatRows into{target.first + static_cast<size_t>(part.y0 - targetRect.y0) * target.stride +
                       4 * static_cast<size_t>(part.x0 - targetRect.x0),
                   target.stride};
    // Where the layer itself lies; outside it (a layer that clears what
    // lies outside it) it is transparent.
    const Rect inner = Intersect(node.rect, part);
    if (node.group) return DrawGroup(node, into, part, inner, columns, rows);
    return DrawLayer(node, into, part, inner, columns, rows);
  }

 private:
  ResultCode DrawGroup(const PlanNode& node, const FloatRows& into, const Rect& part, const Rect& inner,
                       uint32_t columns, uint32_t rows) {
    const size_t stride = 4 * static_cast<size_t>(columns);
    const size_t bytes = stride * rows * sizeof(float);
    auto* pixels = reinterpret_cast<float*>(scratch_->groups[node.depth].Reserve(bytes));
    if (pixels == nullptr) return Refuse("a group's buffer", bytes);
    const FloatRows buffer{pixels, stride};
    // A pass-through group's children draw onto what lies below; another's
    // onto nothing, inside the group, and the group keeps its pixels in
    // the picture's precision.
    if (node.passThrough) {
      for (uint32_t i = 0; i < rows; ++i) std::memcpy(buffer.Row(i), into.Row(i), stride * sizeof(float));
    } else {
      std::memset(pixels, 0, bytes);
    }
    const Rect childClip = node.passThrough ? part : inner;
    for (uint32_t c = node.lastChild; c != kNoNode; c = plan_.nodes[c].prev) {
      ResultCode result = Draw(c, buffer, part, childClip);
      if (result != ResultCode::Ok) return result;
    }
    if (!node.passThrough) StoreInPrecision(plan_.format.precision, pixels, columns * rows);
    return Blend(node, into, part, inner, columns, rows, [&](uint32_t i) { return LayerRow{buffer.Row(i), nullptr}; });
  }

  ResultCode DrawLayer(const PlanNode& node, const FloatRows& into, const Rect& part, const Rect& inner,
                       uint32_t columns, uint32_t rows) {
    const XcfLevel* level = LevelOf(node.layer->hierarchy);
    const PixelReader reader = PixelReaderFor(plan_.format, node.info.type, plan_.palette);
    const uint32_t bpp = reader.BytesPerPixel();
    const uint32_t innerColumns = inner.Empty() ? 0 : static_cast<uint32_t>(inner.x1 - inner.x0);
    const uint32_t innerRows = inner.Empty() ? 0 : static_cast<uint32_t>(inner.y1 - inner.y0);
    const size_t rowBytes = static_cast<size_t>(innerColumns) * bpp;
    uint8_t* raw = scratch_->rows.Reserve(rowBytes * innerRows);
    // An 8-bit gamma layer is had on the curve too where its mode wants it
    // so, as it is stored.
    const bool curve = StoredOnCurve8(reader) && GimpModeOpUsesCurve(node.gimp);
    auto* row = reinterpret_cast<float*>(scratch_->floatRow.Reserve(4 * sizeof(float) * columns * (curve ? 2 : 1)));
    if (raw == nullptr || row == nullptr) return Refuse("a layer's rows", rowBytes * innerRows);
    float* curveRow = curve ? row + 4 * static_cast<size_t>(columns) : nullptr;
    if (innerRows > 0) {
      ResultCode result = DecodeRegion(stream_, level, static_cast<uint32_t>(inner.x0 - node.rect.x0),
                                       static_cast<uint32_t>(inner.y0 - node.rect.y0), innerColumns, innerRows, raw,
                                       static_cast<int64_t>(rowBytes));
      if (result != ResultCode::Ok) return result;
    }
    return Blend(node, into, part, inner, columns, rows, [&](uint32_t i) {
      const int64_t y = part.y0 + i;
      if (inner.Empty() || y < inner.y0 || y >= inner.y1) {
        std::memset(row, 0, 4 * sizeof(float) * columns * (curve ? 2 : 1));
        return LayerRow{row, curveRow};
      }
      const auto before = static_cast<size_t>(inner.x0 - part.x0);
      const size_t after = columns - before - innerColumns;
      const uint8_t* stored = raw + static_cast<size_t>(y - inner.y0) * rowBytes;
      for (float* r : {row, curveRow}) {
        if (r == nullptr) continue;
        std::memset(r, 0, 4 * sizeof(float) * before);
        (r == row ? ReadLinearRgba : ReadCurveRgba)(reader, stored, r + 4 * before, innerColumns);
        std::memset(r + 4 * (before + innerColumns), 0, 4 * sizeof(float) * after);
      }
      return LayerRow{row, curveRow};
    });
  }

  // The node's rows (given row by row) onto the target, by its mode,
  // opacity and mask.
  template <typename SourceRow>
  ResultCode Blend(const PlanNode& node, const FloatRows& into, const Rect& part, const Rect& inner, uint32_t columns,
                   uint32_t rows, SourceRow sourceRow) {
    float* coverage = nullptr;
    uint8_t* maskRaw = nullptr;
    size_t maskRowBytes = 0;
    if (node.mask != MaskRole::None) {
      const XcfChannel* mask = node.layer->mask;
      const XcfLevel* level = mask != nullptr ? LevelOf(mask->hierarchy) : nullptr;
      if (level == nullptr)
        return StreamFault(stream_, "%s: its mask takes part but was not loaded", NameOf(node.layer).text);
      coverage = reinterpret_cast<float*>(scratch_->coverage.Reserve(sizeof(float) * columns));
      maskRowBytes = inner.Empty() ? 0 : static_cast<size_t>(inner.x1 - inner.x0) * static_cast<uint32_t>(level->bpp);
      const size_t innerRows = inner.Empty() ? 0 : static_cast<size_t>(inner.y1 - inner.y0);
      maskRaw = scratch_->mask.Reserve(maskRowBytes * innerRows);
      if (coverage == nullptr || maskRaw == nullptr) return Refuse("a mask's rows", maskRowBytes * innerRows);
      if (innerRows > 0) {
        ResultCode result = DecodeRegion(stream_, level, static_cast<uint32_t>(inner.x0 - node.rect.x0),
                                         static_cast<uint32_t>(inner.y0 - node.rect.y0),
                                         static_cast<uint32_t>(inner.x1 - inner.x0), static_cast<uint32_t>(innerRows),
                                         maskRaw, static_cast<int64_t>(maskRowBytes));
        if (result != ResultCode::Ok) return result;
      }
    }
    auto* modes = reinterpret_cast<float*>(scratch_->modes.Reserve(sizeof(float) * kGimpModeScratchPerPixel * columns));
    if (modes == nullptr) return Refuse("the layer modes' rows", sizeof(float) * kGimpModeScratchPerPixel * columns);
    for (uint32_t i = 0; i < rows; ++i) {
      const LayerRow source = sourceRow(i);
      const int64_t y = part.y0 + i;
      if (coverage != nullptr) {
        std::memset(coverage, 0, sizeof(float) * columns);
        if (!inner.Empty() && y >= inner.y0 && y < inner.y1)
          ReadCoverage(plan_.format, maskRaw + static_cast<size_t>(y - inner.y0) * maskRowBytes,
                       coverage + (inner.x0 - part.x0), static_cast<uint32_t>(inner.x1 - inner.x0));
      }
      if (node.passThrough) {
        GimpPassThroughRun(node.gimp.opacity, into.Row(i), source.linear, coverage, columns);
      } else {
        GimpModeOpRun(node.gimp, into.Row(i), source.linear, source.curve, coverage, columns, part.x0, y, modes);
      }
    }
    return ResultCode::Ok;
  }

  ResultCode Refuse(const char* what, uint64_t bytes) { return RefuseMemory(stream_, what, bytes); }

  const DrawPlan& plan_;
  ByteStream* stream_;
  BandScratch* scratch_;
};

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

// The band of floats into the bitmap's pixels: over black in linear light,
// then on the sRGB curve in 8 bits (gray: the luminance; indexed: the
// nearest colour of the colormap).
void StoreBand(const DrawPlan& plan, const FloatRows& band, PixelBuffer* target) {
  // An RGB picture row by row, in the band's own floats (not needed after):
  // over black, rounded as stored, then on the curve by the row kernel,
  // which gives what FlattenedToU8 gives pixel by pixel.
  if (target->bytesPerPixel == 3) {
    for (uint32_t y = 0; y < target->height; ++y) {
      float* row = band.Row(y);
      for (uint32_t x = 0; x < 4 * target->width; x += 4) {
        const float a = AlphaOf(row + x);
        for (int c = 0; c < 3; ++c) row[x + c] = AsStored(plan.format.precision, row[x + c] * a);
      }
      RowToCurve(row, row, target->width);
      uint8_t* to = PixelBufferRow(target, y);
      for (uint32_t x = 0; x < 4 * target->width; x += 4, to += 3)
        for (int c = 0; c < 3; ++c) to[c] = FloatToU8(row[x + c]);
    }
    return;
  }
  // Gray and indexed pictures, a byte a pixel.
  uint8_t last[3] = {0, 0, 0};
  uint8_t lastIndex = NearestIndex(plan, last);
  for (uint32_t y = 0; y < target->height; ++y) {
    const float* from = band.Row(y);
    uint8_t* to = PixelBufferRow(target, y);
    for (uint32_t x = 0; x < target->width; ++x, from += 4) {
      const float a = AlphaOf(from);
      if (plan.baseType != kBaseIndexed) {
        const float y0 = (from[0] * 0.22248840f + from[1] * 0.71690369f + from[2] * 0.06060791f) * a;
        *to++ = FlattenedToU8(plan.format.precision, y0);
        continue;
      }
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

ResultCode DrawGimpPlanInto(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch, PixelBuffer* target,
                            const Rect& targetRect) {
  const size_t stride = 4 * static_cast<size_t>(target->width);
  const size_t bytes = stride * target->height * sizeof(float);
  auto* pixels = reinterpret_cast<float*>(scratch->band.Reserve(bytes));
  if (pixels == nullptr)
    return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a band of the picture (%llu bytes)",
                        static_cast<unsigned long long>(bytes));
  // Under everything an opaque black layer.
  for (size_t i = 0; i < stride * target->height; i += 4) {
    pixels[i] = pixels[i + 1] = pixels[i + 2] = 0.0f;
    pixels[i + 3] = 1.0f;
  }
  const FloatRows band{pixels, stride};
  GimpDrawer drawer(plan, stream, scratch);
  for (uint32_t k = plan.last; k != kNoNode; k = plan.nodes[k].prev) {
    ResultCode result = drawer.Draw(k, band, targetRect, targetRect);
    if (result != ResultCode::Ok) return result;
  }
  StoreBand(plan, band, target);
  return ResultCode::Ok;
}

}  // namespace

ResultCode DrawPlanInto(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch, PixelBuffer* target,
                        const Rect& targetRect) {
  if (target == nullptr || target->pixels == nullptr || scratch == nullptr) return ResultCode::InvalidArgument;
  if (!scratch->Fit(plan))
    return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for %u levels of group buffers", plan.depth + 1);
  if (plan.gimp) return DrawGimpPlanInto(plan, stream, scratch, target, targetRect);
  NodeDrawer drawer(plan, stream, scratch);
  for (uint32_t k = plan.last; k != kNoNode; k = plan.nodes[k].prev) {
    ResultCode result = drawer.Draw(k, target, targetRect, targetRect);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

}  // namespace tessel
