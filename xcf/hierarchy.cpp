#include "xcf/hierarchy.h"

#include <cstdlib>
#include <new>

#include "stream/xcf_rules.h"
#include "xcf/tile.h"

namespace tessel {

namespace {

// The steps of a load, each reading one record of the file.
ResultCode XcfHierarchyCreate(XcfHierarchy** out, uint32_t compression);
ResultCode XcfHierarchyReadHeader(ByteStream* stream, XcfHierarchy* hierarchy);
ResultCode XcfHierarchyLoadLevel(XcfHierarchy* hierarchy, ByteStream* stream);
ResultCode XcfLevelCreate(uint32_t bpp, XcfLevel** out, uint32_t compression);
ResultCode XcfLevelDestroy(XcfLevel** holder);
ResultCode XcfLevelReadHeader(ByteStream* stream, XcfLevel* level);
ResultCode XcfLevelDecode(ByteStream* stream, XcfLevel* level);

// The first level's header and tile offsets, into a new level.
ResultCode ReadLevelHeader(XcfHierarchy* hierarchy, ByteStream* stream) {
  ResultCode result = StreamSeek(stream, hierarchy->levelOffset);
  if (result != ResultCode::Ok)
    return StreamRefuse(stream, result, "its level's offset %u lies past the end of the data", hierarchy->levelOffset);
  result = XcfLevelCreate(hierarchy->bpp, &hierarchy->level, hierarchy->compression);
  if (result == ResultCode::OutOfMemory) return StreamRefuse(stream, result, "no memory for a level");
  if (result != ResultCode::Ok)
    return StreamRefuse(stream, result, "%u bytes per pixel, more than pixels can have", hierarchy->bpp);
  XcfLevel* level = hierarchy->level;
  result = XcfLevelReadHeader(stream, level);
  if (result == ResultCode::Ok && (static_cast<uint32_t>(level->width) != hierarchy->width ||
                                   static_cast<uint32_t>(level->height) != hierarchy->height))
    result = StreamRefuse(stream, ResultCode::CorruptData, "its level of %d x %d is not its hierarchy's %u x %u",
                          level->width, level->height, hierarchy->width, hierarchy->height);
  if (result != ResultCode::Ok) XcfLevelDestroy(&hierarchy->level);
  return result;
}

// The size of a level's pixel buffer. A mask's bytes per pixel is taken as
// stored: the product is formed in 64 bits and refused (as memory that
// cannot be had) when it cannot be one buffer of 32-bit size.
ResultCode LevelBytes(const XcfLevel* level, size_t* bytes) {
  if (level->width <= 0 || level->height <= 0 || level->bpp <= 0) return ResultCode::OutOfMemory;
  uint64_t size = static_cast<uint64_t>(level->height) * static_cast<uint64_t>(level->bpp) *
                  static_cast<uint64_t>(level->width);
  if (size > UINT32_MAX || size > SIZE_MAX) return ResultCode::OutOfMemory;
  *bytes = static_cast<size_t>(size);
  return ResultCode::Ok;
}

// Why a level's buffer cannot be had: its size passes 4 GiB, or memory
// for it ran out.
ResultCode RefuseLevel(const ByteStream* stream, const XcfLevel* level) {
  return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for pixels of %d x %d x %d bytes", level->width,
                      level->height, level->bpp);
}

ResultCode AllocateLevel(const ByteStream* stream, XcfLevel* level) {
  size_t bytes = 0;
  if (LevelBytes(level, &bytes) != ResultCode::Ok) return RefuseLevel(stream, level);
  level->pixels = static_cast<uint8_t*>(std::malloc(bytes));
  return level->pixels == nullptr ? RefuseLevel(stream, level) : ResultCode::Ok;
}

// Seeks to a hierarchy and reads its header into a new hierarchy, checked
// against the layer's size (wantBpp 0 takes the stored bytes per pixel);
// then, to prepare, its first level's header and tile offsets, refusing a
// level too large to be one buffer, or, to load, the level decoded whole
// (XcfHierarchyLoadLevel). On failure no hierarchy is left.
ResultCode OpenHierarchy(ByteStream* stream, uint32_t offset, uint32_t width, uint32_t height, uint32_t wantBpp,
                         uint32_t compression, bool load, XcfHierarchy** holder) {
  ResultCode result = StreamSeek(stream, offset);
  if (result != ResultCode::Ok)
    return StreamRefuse(stream, result, "its pixels' offset %u lies past the end of the data", offset);
  result = XcfHierarchyCreate(holder, compression);
  if (result != ResultCode::Ok) return StreamRefuse(stream, result, "no memory for a hierarchy");
  XcfHierarchy* hierarchy = *holder;
  result = XcfHierarchyReadHeader(stream, hierarchy);
  if (result == ResultCode::Ok &&
      (hierarchy->width != width || hierarchy->height != height || (wantBpp != 0 && hierarchy->bpp != wantBpp)))
    result = StreamRefuse(stream, ResultCode::CorruptData, "its pixels are %u x %u x %u bytes, not %u x %u x %u",
                          hierarchy->width, hierarchy->height, hierarchy->bpp, width, height,
                          wantBpp != 0 ? wantBpp : hierarchy->bpp);
  if (result == ResultCode::Ok && load) {
    result = XcfHierarchyLoadLevel(hierarchy, stream);
  } else if (result == ResultCode::Ok) {
    result = ReadLevelHeader(hierarchy, stream);
    size_t bytes = 0;
    if (result == ResultCode::Ok && LevelBytes(hierarchy->level, &bytes) != ResultCode::Ok)
      result = RefuseLevel(stream, hierarchy->level);
  }
  if (result != ResultCode::Ok) XcfHierarchyDestroy(holder);
  return result;
}

// Names the layer (or its mask) before a reason its pixels just gave.
ResultCode Named(const ByteStream* stream, bool told, const XcfLayer* layer, bool mask, ResultCode result) {
  if (result != ResultCode::Ok && !told)
    ReasonPrefix(stream->reason, mask ? "%s's mask: " : "%s: ", NameOf(layer).text);
  return result;
}

ResultCode RefuseNoPixels(const ByteStream* stream, const XcfLayer* layer) {
  return StreamRefuse(stream, ResultCode::NotReady, "%s has no pixels (their offset is 0)", NameOf(layer).text);
}

// The bytes of one channel of a pixel: its precision's component (a byte
// in the plug-in's versions); an indexed layer's stay 1.
uint32_t ComponentBytes(const ByteStream* stream, uint32_t layerType) {
  if (layerType == kLayerIndexed || layerType == kLayerIndexedA) return 1;
  return XcfComponentBytes(XcfFormatOf(stream).precision.component);
}

// A layer's or its mask's hierarchy, prepared or loaded (`load`).
ResultCode OpenLayerPixels(ByteStream* stream, XcfLayer* layer, uint32_t compression, bool load) {
  if (stream == nullptr || layer == nullptr) return ResultCode::InvalidArgument;
  if ((layer->flags & kRecordComplete) == 0) return ResultCode::NotReady;
  if (layer->hierarchyOffset == 0) return RefuseNoPixels(stream, layer);
  if (layer->hierarchy != nullptr) return ResultCode::Ok;
  const bool told = ReasonKept(stream->reason);
  return Named(stream, told, layer, false,
               OpenHierarchy(stream, layer->hierarchyOffset, layer->width, layer->height,
                             XcfBytesPerPixel(layer->type) * ComponentBytes(stream, layer->type), compression, load,
                             &layer->hierarchy));
}

ResultCode OpenChannelPixels(ByteStream* stream, XcfChannel* channel, uint32_t compression, bool load) {
  if (stream == nullptr || channel == nullptr || stream->seek == nullptr) return ResultCode::InvalidArgument;
  if ((channel->flags & kRecordComplete) == 0) return ResultCode::NotReady;
  if (channel->hierarchy != nullptr) return ResultCode::Ok;
  // A mask of more than a byte a pixel in the plug-in's versions (0 to 3)
  // is read byte by byte, as ever (0: as its hierarchy says); from version
  // 4 on its one channel has the picture's precision.
  const uint32_t bpp = XcfHasPrecision(XcfFormatOf(stream).version) ? ComponentBytes(stream, kLayerGray) : 0;
  return OpenHierarchy(stream, channel->hierarchyOffset, channel->width, channel->height, bpp, compression, load,
                       &channel->hierarchy);
}

ResultCode OpenMaskPixels(XcfLayer* layer, ByteStream* stream, uint32_t compression, bool load) {
  if (layer == nullptr || stream == nullptr) return ResultCode::InvalidArgument;
  if ((layer->flags & kRecordComplete) == 0 || layer->maskOffset == 0) return ResultCode::NotReady;
  if (layer->mask == nullptr) {
    ResultCode result = XcfLayerReadMask(stream, layer);
    if (result != ResultCode::Ok) return result;
  }
  const bool told = ReasonKept(stream->reason);
  return Named(stream, told, layer, true, OpenChannelPixels(stream, layer->mask, compression, load));
}

}  // namespace

ResultCode XcfLayerPreparePixels(ByteStream* stream, XcfLayer* layer, uint32_t compression) {
  return OpenLayerPixels(stream, layer, compression, false);
}

ResultCode XcfLayerPrepareMaskPixels(XcfLayer* layer, ByteStream* stream, uint32_t compression) {
  return OpenMaskPixels(layer, stream, compression, false);
}

ResultCode XcfLevelCheckRows(ByteStream* stream, const XcfLevel* level, uint32_t firstRow, uint32_t endRow) {
  return XcfCheckTileRows(stream, &level->tileOffsets, static_cast<uint32_t>(level->width),
                          static_cast<uint32_t>(level->height), static_cast<uint32_t>(level->bpp), level->compression,
                          firstRow, endRow);
}

ResultCode XcfLayerLoadPixels(ByteStream* stream, XcfLayer* layer, uint32_t compression) {
  return OpenLayerPixels(stream, layer, compression, true);
}

ResultCode XcfLayerLoadMaskPixels(XcfLayer* layer, ByteStream* stream, uint32_t compression) {
  return OpenMaskPixels(layer, stream, compression, true);
}

ResultCode XcfChannelLoadPixels(ByteStream* stream, XcfChannel* channel, uint32_t compression) {
  return OpenChannelPixels(stream, channel, compression, true);
}

int XcfLayerHasPixels(const XcfLayer* layer) {
  return layer != nullptr && layer->hierarchy != nullptr && layer->hierarchy->level != nullptr &&
                 layer->hierarchy->level->pixels != nullptr
             ? 1
             : 0;
}

const uint8_t* XcfHierarchyRow(const XcfHierarchy* hierarchy, uint32_t y) {
  if (hierarchy == nullptr || hierarchy->level == nullptr || hierarchy->level->pixels == nullptr) return nullptr;
  const XcfLevel* level = hierarchy->level;
  if (y >= static_cast<uint32_t>(level->height)) return nullptr;
  return level->pixels + static_cast<size_t>(level->bpp) * static_cast<size_t>(level->width) * y;
}

const uint8_t* XcfChannelRow(const XcfChannel* channel, uint32_t y) {
  if (channel == nullptr || y >= channel->height) return nullptr;
  return XcfHierarchyRow(channel->hierarchy, y);
}

ResultCode XcfHierarchyDestroy(XcfHierarchy** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  if (*holder == nullptr) return ResultCode::Ok;
  XcfLevelDestroy(&(*holder)->level);
  delete *holder;
  *holder = nullptr;
  return ResultCode::Ok;
}

namespace {

ResultCode XcfHierarchyCreate(XcfHierarchy** out, uint32_t compression) {
  if (out == nullptr) return ResultCode::InvalidArgument;
  auto* hierarchy = new (std::nothrow) XcfHierarchy{};
  if (hierarchy == nullptr) return ResultCode::OutOfMemory;
  hierarchy->compression = compression;
  *out = hierarchy;
  return ResultCode::Ok;
}

ResultCode XcfHierarchyReadHeader(ByteStream* stream, XcfHierarchy* hierarchy) {
  if (stream == nullptr || hierarchy == nullptr) return ResultCode::InvalidArgument;
  if ((hierarchy->flags & kHierarchyHeaderRead) != 0) return ResultCode::NotReady;
  uint32_t width;
  uint32_t height;
  uint32_t bpp;
  uint32_t levelOffset;
  if (!StreamReadU32(stream, &width) || !StreamReadU32(stream, &height) || !StreamReadU32(stream, &bpp))
    return StreamRefuse(stream, ResultCode::ReadError, "its hierarchy ends early");
  const ResultCode pointer = XcfReadPointer(stream, &levelOffset);
  if (pointer == ResultCode::TooLarge) return StreamRefuse(stream, pointer, "its level lies past 4 GiB");
  if (pointer != ResultCode::Ok) return StreamRefuse(stream, ResultCode::ReadError, "its hierarchy ends early");
  if (width == 0 || height == 0 || bpp == 0)
    return StreamRefuse(stream, ResultCode::CorruptData, "its hierarchy of %u x %u x %u bytes has no pixels", width,
                        height, bpp);
  hierarchy->width = width;
  hierarchy->height = height;
  hierarchy->bpp = bpp;
  hierarchy->levelOffset = levelOffset;
  hierarchy->flags |= kHierarchyHeaderRead;
  return ResultCode::Ok;
}

ResultCode XcfHierarchyLoadLevel(XcfHierarchy* hierarchy, ByteStream* stream) {
  if (hierarchy == nullptr || stream == nullptr || stream->seek == nullptr) return ResultCode::InvalidArgument;
  if ((hierarchy->flags & kHierarchyHeaderRead) == 0) return ResultCode::NotReady;
  if (hierarchy->level != nullptr) return ResultCode::Ok;
  ResultCode result = ReadLevelHeader(hierarchy, stream);
  if (result != ResultCode::Ok) return result;
  result = XcfLevelDecode(stream, hierarchy->level);
  if (result != ResultCode::Ok) XcfLevelDestroy(&hierarchy->level);
  return result;
}

ResultCode XcfLevelCreate(uint32_t bpp, XcfLevel** out, uint32_t compression) {
  if (out == nullptr) return ResultCode::InvalidArgument;
  *out = nullptr;
  // The level's numbers are signed; a larger bytes-per-pixel cannot be a real one.
  if (bpp == 0 || bpp > INT32_MAX) return ResultCode::InvalidArgument;
  auto* level = new (std::nothrow) XcfLevel{};
  if (level == nullptr) return ResultCode::OutOfMemory;
  level->bpp = static_cast<int32_t>(bpp);
  level->compression = compression;
  *out = level;
  return ResultCode::Ok;
}

ResultCode XcfLevelDestroy(XcfLevel** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  if (*holder == nullptr) return ResultCode::Ok;
  XcfOffsetListFree(&(*holder)->tileOffsets);
  std::free((*holder)->pixels);
  delete *holder;
  *holder = nullptr;
  return ResultCode::Ok;
}

ResultCode XcfLevelReadHeader(ByteStream* stream, XcfLevel* level) {
  if (stream == nullptr || level == nullptr) return ResultCode::InvalidArgument;
  if ((level->flags & kLevelHeaderRead) != 0) return ResultCode::NotReady;
  uint32_t width;
  uint32_t height;
  if (!StreamReadU32(stream, &width) || !StreamReadU32(stream, &height))
    return StreamRefuse(stream, ResultCode::ReadError, "its level ends before its size");
  // Only sizes equal to the hierarchy's (at most 32767) are ever accepted.
  level->width = width > INT32_MAX ? INT32_MAX : static_cast<int32_t>(width);
  level->height = height > INT32_MAX ? INT32_MAX : static_cast<int32_t>(height);
  ResultCode result = XcfReadOffsetList(&level->tileOffsets, stream);
  if (result != ResultCode::Ok) return result;
  if (level->tileOffsets.count == 0) return StreamRefuse(stream, ResultCode::CorruptData, "its level has no tiles");
  level->flags |= kLevelHeaderRead;
  return ResultCode::Ok;
}

ResultCode XcfLevelDecode(ByteStream* stream, XcfLevel* level) {
  if (stream == nullptr || level == nullptr) return ResultCode::InvalidArgument;
  if ((level->flags & kLevelHeaderRead) == 0) return ResultCode::NotReady;
  if (level->pixels != nullptr) return ResultCode::Ok;
  ResultCode result = AllocateLevel(stream, level);
  if (result == ResultCode::Ok)
    result = XcfDecodeTiles(stream, &level->tileOffsets, static_cast<uint32_t>(level->width),
                            static_cast<uint32_t>(level->height), static_cast<uint32_t>(level->bpp),
                            level->compression, level->pixels);
  if (result != ResultCode::Ok) {
    std::free(level->pixels);
    level->pixels = nullptr;
  }
  return result;
}

}  // namespace

}  // namespace tessel
