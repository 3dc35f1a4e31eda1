#include "composite/band.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "composite/blend.h"
#include "composite/composite.h"
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

  ResultCode Refuse(const char* what, uint64_t bytes) {
    return StreamRefuse(stream_, ResultCode::OutOfMemory, "no memory for %s (%llu bytes)", what,
                        static_cast<unsigned long long>(bytes));
  }

  const DrawPlan& plan_;
  ByteStream* stream_;
  BandScratch* scratch_;
};

}  // namespace

ResultCode DrawPlanInto(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch, PixelBuffer* target,
                        const Rect& targetRect) {
  if (target == nullptr || target->pixels == nullptr || scratch == nullptr) return ResultCode::InvalidArgument;
  if (!scratch->Fit(plan))
    return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for %u levels of group buffers", plan.depth + 1);
  NodeDrawer drawer(plan, stream, scratch);
  for (uint32_t k = plan.last; k != kNoNode; k = plan.nodes[k].prev) {
    ResultCode result = drawer.Draw(k, target, targetRect, targetRect);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

}  // namespace tessel
