#include "composite/draw.h"

#include <cstring>

#include "xcf/hierarchy.h"
#include "xcf/tile.h"

namespace tessel {

namespace {

const XcfLevel* LevelOf(const XcfHierarchy* hierarchy) { return hierarchy != nullptr ? hierarchy->level : nullptr; }

// Columns [x, x + columns) of rows [y, y + rows) of a level into `out`. The
// loading read every drawn entry's level before any band.
ResultCode DecodeRegion(ByteStream* stream, const XcfLevel* level, uint32_t x, uint32_t y, uint32_t columns,
                        uint32_t rows, uint8_t* out, int64_t stride) {
  const TileTarget target{out, stride, x, y, x + columns, y + rows};
  return XcfDecodeTileRows(stream, &level->tileOffsets, static_cast<uint32_t>(level->width),
                           static_cast<uint32_t>(level->height), static_cast<uint32_t>(level->bpp), level->compression,
                           target, y / kTileSize, (y + rows - 1) / kTileSize + 1);
}

class Drawer {
 public:
  Drawer(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch)
      : plan_(plan), stream_(stream), scratch_(scratch) {}

  // Node k onto a target covering targetRect, within clip (inside targetRect).
  ResultCode Draw(uint32_t k, const Rows& target, const Rect& targetRect, const Rect& clip) {
    const PlanNode& node = plan_.nodes[k];
    if (!node.draws) return ResultCode::Ok;
    const Rect part = Intersect(node.mark, clip);
    if (part.Empty()) return ResultCode::Ok;
    if (node.soleChild != kNoNode) return Draw(node.soleChild, target, targetRect, part);
    const Rows into = target.At(static_cast<uint32_t>(part.x0 - targetRect.x0),
                                static_cast<uint32_t>(part.y0 - targetRect.y0));
    // Where the layer itself lies: the whole part but where it clears what
    // lies outside itself.
    const Rect inner = Intersect(node.rect, part);
    if (node.direct)
      return DecodeRegion(stream_, LevelOf(node.layer->hierarchy), static_cast<uint32_t>(part.x0 - node.rect.x0),
                          static_cast<uint32_t>(part.y0 - node.rect.y0), part.Width(), part.Height(), into.first,
                          into.stride);
    Rows own{};
    ResultCode result = ResultCode::Ok;
    if (node.group) {
      result = DrawChildren(node, into, part, inner, &own);
    } else if (!inner.Empty()) {
      result = LayerRows(node, inner, &own);
    }
    Rows mask{};
    if (result == ResultCode::Ok && node.maskOpacity > 0 && !inner.Empty()) result = MaskRows(node, inner, &mask);
    if (result != ResultCode::Ok) return result;
    const uint32_t columns = part.Width();
    uint8_t* scratch = nullptr;
    if (node.scratchBytes > 0) {
      const size_t bytes = static_cast<size_t>(node.scratchBytes) * columns;
      scratch = scratch_->row.Reserve(bytes);
      if (scratch == nullptr) return Refuse("a layer's working row", bytes);
    }
    const uint32_t before = inner.Empty() ? 0 : static_cast<uint32_t>(inner.x0 - part.x0);
    const uint32_t inside = inner.Empty() ? 0 : inner.Width();
    for (uint32_t i = 0; i < part.Height(); ++i) {
      const int64_t y = part.y0 + i;
      const bool in = !inner.Empty() && y >= inner.y0 && y < inner.y1;
      const auto r = static_cast<uint32_t>(y - inner.y0);
      const NodeRow row{into.Row(i),
                        node.group ? own.Row(i) : in ? own.Row(r) : nullptr,
                        in && mask.first != nullptr ? mask.Row(r) : nullptr,
                        columns,
                        before,
                        inside,
                        part.x0,
                        y,
                        scratch};
      node.drawRow(plan_, node, row);
    }
    return ResultCode::Ok;
  }

 private:
  // A group's children, bottom to top, into a buffer of the part that is
  // drawn: cleared, or for a pass-through group a copy of what lies below.
  ResultCode DrawChildren(const PlanNode& node, const Rows& into, const Rect& part, const Rect& inner, Rows* out) {
    const size_t rowBytes = static_cast<size_t>(part.Width()) * node.bufferBytes;
    const size_t bytes = rowBytes * part.Height();
    uint8_t* pixels = scratch_->groups[node.depth].Reserve(bytes);
    if (pixels == nullptr) return Refuse("a group's buffer", bytes);
    const Rows buffer{pixels, static_cast<int64_t>(rowBytes), node.bufferBytes};
    if (node.passThrough) {
      for (uint32_t i = 0; i < part.Height(); ++i) std::memcpy(buffer.Row(i), into.Row(i), rowBytes);
    } else {
      std::memset(pixels, 0, bytes);
    }
    // A pass-through group's children draw wherever the group's target
    // shows; another's only inside the group.
    const Rect childClip = node.passThrough ? part : inner;
    for (uint32_t c = node.lastChild; c != kNoNode; c = plan_.nodes[c].prev) {
      ResultCode result = Draw(c, buffer, part, childClip);
      if (result != ResultCode::Ok) return result;
    }
    *out = buffer;
    return ResultCode::Ok;
  }

  // The layer's stored pixels of `inner`, decoded.
  ResultCode LayerRows(const PlanNode& node, const Rect& inner, Rows* out) {
    const XcfLevel* level = LevelOf(node.layer->hierarchy);
    const auto bpp = static_cast<uint32_t>(level->bpp);
    const size_t rowBytes = static_cast<size_t>(inner.Width()) * bpp;
    uint8_t* pixels = scratch_->rows.Reserve(rowBytes * inner.Height());
    if (pixels == nullptr) return Refuse("a layer's rows", rowBytes * inner.Height());
    *out = Rows{pixels, static_cast<int64_t>(rowBytes), bpp};
    return DecodeRegion(stream_, level, static_cast<uint32_t>(inner.x0 - node.rect.x0),
                        static_cast<uint32_t>(inner.y0 - node.rect.y0), inner.Width(), inner.Height(), pixels,
                        static_cast<int64_t>(rowBytes));
  }

  // The mask's values of `inner`: value x of a row, maskValueBytes apart,
  // for layer pixel x. The plug-in reads a mask of more than a byte a pixel
  // byte by byte, as it has since its first day (a value a byte); GIMP's
  // arithmetic a component a pixel.
  ResultCode MaskRows(const PlanNode& node, const Rect& inner, Rows* out) {
    const XcfLevel* level = LevelOf(node.layer->mask->hierarchy);
    const auto bpp = static_cast<uint64_t>(level->bpp);
    const uint64_t first = static_cast<uint64_t>(inner.x0 - node.rect.x0) * node.maskValueBytes;
    const uint64_t end = first + static_cast<uint64_t>(inner.Width()) * node.maskValueBytes;
    const auto x0 = static_cast<uint32_t>(first / bpp);
    const uint64_t through = (end + bpp - 1) / bpp;
    const uint32_t x1 = through < static_cast<uint32_t>(level->width) ? static_cast<uint32_t>(through)
                                                                       : static_cast<uint32_t>(level->width);
    const uint64_t rowBytes = (x1 - x0) * bpp;
    const uint64_t bytes = rowBytes * inner.Height();
    uint8_t* pixels = bytes > SIZE_MAX ? nullptr : scratch_->mask.Reserve(static_cast<size_t>(bytes));
    if (pixels == nullptr) return Refuse("a mask's rows", bytes);
    *out = Rows{pixels + (first - x0 * bpp), static_cast<int64_t>(rowBytes), node.maskValueBytes};
    return DecodeRegion(stream_, level, x0, static_cast<uint32_t>(inner.y0 - node.rect.y0), x1 - x0, inner.Height(),
                        pixels, static_cast<int64_t>(rowBytes));
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

ResultCode DrawBand(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch, PixelBuffer* band,
                    const Rect& bandRect, const Rect& covered) {
  if (!scratch->Fit(plan))
    return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for %u levels of group buffers", plan.depth + 1);
  Rows rows{};
  ResultCode result = plan.store.open(plan, scratch, band, covered, stream, &rows);
  if (result != ResultCode::Ok) return result;
  Drawer drawer(plan, stream, scratch);
  for (uint32_t k = plan.last; k != kNoNode; k = plan.nodes[k].prev) {
    result = drawer.Draw(k, rows, bandRect, bandRect);
    if (result != ResultCode::Ok) return result;
  }
  plan.store.close(plan, rows, band);
  return ResultCode::Ok;
}

}  // namespace tessel
