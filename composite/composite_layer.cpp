// One layer loaded whole, drawn into a target in the plug-in's 8-bit
// arithmetic, as a layer was drawn before pictures were drawn band by band
// from their tiles: a group composited into a buffer of its full size, every
// clipped row through the mask step and BlendRow.
#include <algorithm>
#include <memory>
#include <new>

#include "composite/blend.h"
#include "composite/composite.h"
#include "composite/mask_step.h"
#include "xcf/hierarchy.h"
#include "xcf/layer_tree.h"

namespace tessel {

namespace {

struct BufferRelease {
  PixelBuffer* buffer = nullptr;
  ~BufferRelease() { PixelBufferRelease(&buffer); }
};

bool MaskInMemory(const XcfChannel* mask) {
  return mask != nullptr && mask->hierarchy != nullptr && mask->hierarchy->level != nullptr &&
         mask->hierarchy->level->pixels != nullptr;
}

}  // namespace

ResultCode CompositeLayer(XcfLayer* layer, PixelBuffer* target, const LayerOrigin* origin, int32_t baseType) {
  if (layer == nullptr || target == nullptr) return ResultCode::InvalidArgument;
  const bool group = XcfLayerIsGroup(layer) != 0;
  if (group && layer->firstChild == nullptr) return ResultCode::Ok;
  if (!group && layer->hierarchy == nullptr) return ResultCode::NotReady;
  XcfLayerInfo info;
  ResultCode result = XcfLayerGetInfo(layer, &info);
  if (result != ResultCode::Ok) return result;
  int64_t x = info.offsetX, y = info.offsetY;
  if (origin != nullptr) {
    x -= origin->x;
    y -= origin->y;
  }
  uint32_t width, height, bt;
  result = PixelBufferGetSize(target, &width, &height, &bt);
  if (result != ResultCode::Ok) return result;
  const int64_t w = info.width, h = info.height;
  if (!XcfLayerDrawn(info) || x >= width || y >= height || x + w <= 0 || y + h <= 0) return ResultCode::Ok;
  const int64_t skipX = x < 0 ? -x : 0, dstX = x < 0 ? 0 : x;
  const int64_t skipY = y < 0 ? -y : 0, dstY = y < 0 ? 0 : y;
  const auto columns = static_cast<uint32_t>(std::min<int64_t>(x + w, width) - dstX);
  const auto rows = static_cast<uint32_t>(std::min<int64_t>(y + h, height) - dstY);

  // A group is composited with alpha (indexed with alpha in an indexed
  // image), so that what its children leave untouched stays transparent.
  const uint32_t type = group ? (baseType == kBaseIndexed ? kLayerIndexedA : (info.type | 1u)) : info.type;
  const uint32_t bs = XcfBytesPerPixel(type);
  if (bs == 0) return ResultCode::InvalidArgument;
  BufferRelease buffer;
  if (group) {
    result = PixelBufferNew(&buffer.buffer);
    if (result == ResultCode::Ok) result = PixelBufferCreate(buffer.buffer, bs, info.width, info.height);
    if (result == ResultCode::Ok) result = PixelBufferClear(buffer.buffer);
    if (result != ResultCode::Ok) return result;
    const LayerOrigin own{info.offsetX, info.offsetY};
    for (XcfLayer* child = XcfLayerLastSibling(layer->firstChild); child != nullptr; child = child->prev) {
      if (!XcfLayerIsGroup(child) && !XcfLayerHasPixels(child)) continue;
      result = CompositeLayer(child, buffer.buffer, &own, baseType);
      if (result != ResultCode::Ok) return result;
    }
  }
  const XcfChannel* mask = layer->mask;
  XcfChannelInfo maskInfo{};
  const bool masked = mask != nullptr && (info.flags & kLayerApplyMask) != 0 && MaskInMemory(mask) &&
                      XcfChannelGetInfo(mask, &maskInfo) == ResultCode::Ok && maskInfo.opacity > 0;
  // A mask on a layer without alpha acts on the type with alpha.
  const bool widen = masked && bs != 2 && bs != 4;
  const uint32_t maskedBytes = widen ? bs + 1 : bs;
  std::unique_ptr<uint8_t[]> scratch;
  if (masked) {
    scratch.reset(new (std::nothrow) uint8_t[static_cast<size_t>(maskedBytes) * columns]);
    if (!scratch) return ResultCode::OutOfMemory;
  }
  for (uint32_t i = 0; i < rows; ++i) {
    const auto r = static_cast<uint32_t>(skipY + i);
    const uint8_t* source = group ? PixelBufferRow(buffer.buffer, r) : XcfHierarchyRow(layer->hierarchy, r);
    uint8_t* row = PixelBufferRow(target, static_cast<uint32_t>(dstY + i));
    if (source == nullptr || row == nullptr) return ResultCode::Unsupported;
    source += static_cast<size_t>(bs) * static_cast<size_t>(skipX);
    if (masked) {
      const uint8_t* maskRow = XcfChannelRow(mask, r);
      if (maskRow == nullptr) return ResultCode::Unsupported;
      if (widen) {
        AddOpaqueAlpha(source, bs, scratch.get(), columns);
        source = scratch.get();
      }
      FoldMaskRow(maskedBytes, source, scratch.get(), maskRow + skipX, maskInfo.opacity, columns);
      source = scratch.get();
    }
    result = BlendRow(widen ? type + 1 : type, columns, source, info.opacity, row + static_cast<size_t>(bt) * dstX, bt,
                      info.mode);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

}  // namespace tessel
