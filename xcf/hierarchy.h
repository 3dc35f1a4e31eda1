// The pixels of a layer or mask: a hierarchy of levels of which only the
// first (full size) is read, decoded whole into rows top to bottom.
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

// Offered to the composition driver.
ResultCode XcfLayerLoadPixels(ByteStream* stream, XcfLayer* layer, uint32_t compression);
ResultCode XcfLayerLoadMaskPixels(XcfLayer* layer, ByteStream* stream, uint32_t compression);
ResultCode XcfChannelLoadPixels(ByteStream* stream, XcfChannel* channel, uint32_t compression);
int XcfLayerHasPixels(const XcfLayer* layer);
// Row y of the decoded pixels, or null; valid until the image is destroyed.
const uint8_t* XcfHierarchyRow(const XcfHierarchy* hierarchy, uint32_t y);
const uint8_t* XcfChannelRow(const XcfChannel* channel, uint32_t y);

// Loading in steps, for a picture drawn band by band on several threads:
// the Prepare functions read the hierarchy, its first level's header and
// tile offsets (and refuse a level too large to be one buffer) without
// allocating its pixels; XcfLevelCheckRows then answers what decoding tile
// rows would, without writing them, and XcfLevelDecodeRows decodes them
// into the level's buffer. Any thread may do either, each with a stream of
// its own. Loading in one step is the same as the steps in a row.
ResultCode XcfLayerPreparePixels(ByteStream* stream, XcfLayer* layer, uint32_t compression);
ResultCode XcfLayerPrepareMaskPixels(XcfLayer* layer, ByteStream* stream, uint32_t compression);
ResultCode XcfLevelCheckRows(ByteStream* stream, const XcfLevel* level, uint32_t firstRow, uint32_t endRow);
ResultCode XcfLevelDecodeRows(ByteStream* stream, XcfLevel* level, uint32_t firstRow, uint32_t endRow);

ResultCode XcfHierarchyCreate(XcfHierarchy** out, uint32_t compression);
ResultCode XcfHierarchyDestroy(XcfHierarchy** holder);
ResultCode XcfHierarchyReadHeader(ByteStream* stream, XcfHierarchy* hierarchy);
ResultCode XcfHierarchyLoadLevel(XcfHierarchy* hierarchy, ByteStream* stream);

ResultCode XcfLevelCreate(uint32_t bpp, XcfLevel** out, uint32_t compression);
ResultCode XcfLevelDestroy(XcfLevel** holder);
ResultCode XcfLevelReadHeader(ByteStream* stream, XcfLevel* level);
ResultCode XcfLevelDecode(ByteStream* stream, XcfLevel* level);

}  // namespace tessel
