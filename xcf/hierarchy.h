// The pixels of a layer or mask: a hierarchy of levels of which only the
// first (full size) is read, prepared for the bands to decode from, or
// loaded whole.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"
#include "xcf/layer.h"
#include "xcf/offset_list.h"

namespace tessel {

constexpr uint32_t kHierarchyHeaderRead = 0x1;
constexpr uint32_t kLevelHeaderRead = 0x1;

struct XcfLevel {
  uint32_t flags;
  int32_t width;
  int32_t height;
  int32_t bpp;
  uint32_t compression;
  XcfOffsetList tileOffsets;
  uint8_t* pixels;  // owned; width * height * bpp bytes, null until decoded
};

struct XcfHierarchy {
  uint32_t flags;
  uint32_t compression;  // 0 none, 1 RLE, as handed in
  uint32_t width;
  uint32_t height;
  uint32_t bpp;
  uint32_t levelOffset;  // the first level
  XcfLevel* level;       // owned; null until loaded
};

// What the drawing calls. Loading in steps, for a picture drawn band by
// band on several threads: the Prepare functions read the hierarchy, its
// first level's header and tile offsets (and refuse a level too large to be
// one buffer) without allocating its pixels; XcfLevelCheckRows then answers
// what decoding tile rows would, without writing them, and the bands decode
// the rows they show straight from the tiles (XcfDecodeTileRows). Any
// thread may check or decode, each with a stream of its own.
ResultCode XcfLayerPreparePixels(ByteStream* stream, XcfLayer* layer, uint32_t compression);
ResultCode XcfLayerPrepareMaskPixels(XcfLayer* layer, ByteStream* stream, uint32_t compression);
ResultCode XcfLevelCheckRows(ByteStream* stream, const XcfLevel* level, uint32_t firstRow, uint32_t endRow);

// Loading in one step: the same preparation, then the pixels allocated
// and decoded whole (XcfHierarchyLoadLevel, XcfLevelDecode and
// XcfDecodeTiles, in hierarchy.cpp and tile.cpp), for a layer drawn from
// memory (CompositeLayer) and for tests. On failure no hierarchy is left.
ResultCode XcfLayerLoadPixels(ByteStream* stream, XcfLayer* layer, uint32_t compression);
ResultCode XcfLayerLoadMaskPixels(XcfLayer* layer, ByteStream* stream, uint32_t compression);
ResultCode XcfChannelLoadPixels(ByteStream* stream, XcfChannel* channel, uint32_t compression);
int XcfLayerHasPixels(const XcfLayer* layer);
// Row y of the pixels loaded whole, or null; valid until the image is destroyed.
const uint8_t* XcfHierarchyRow(const XcfHierarchy* hierarchy, uint32_t y);
const uint8_t* XcfChannelRow(const XcfChannel* channel, uint32_t y);

// Frees a hierarchy with its level and pixels; the holder is set to null.
ResultCode XcfHierarchyDestroy(XcfHierarchy** holder);

}  // namespace tessel
