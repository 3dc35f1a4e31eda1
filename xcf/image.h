// The root of the in-memory XCF document: header, image properties and the
// offsets of the layer and channel records.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"
#include "stream/xcf_rules.h"
#include "xcf/offset_list.h"
#include "xcf/property_list.h"

namespace tessel {

struct XcfLayer;

constexpr uint32_t kImageHeaderAttempted = 0x1;
constexpr uint32_t kImageHeaderValid = 0x2;
constexpr uint32_t kImageBodyAttempted = 0x4;
constexpr uint32_t kImageBodyValid = 0x8;

enum XcfBaseType : int32_t { kBaseRgb = 0, kBaseGray = 1, kBaseIndexed = 2 };

struct XcfImage {
  uint32_t flags;
  ByteStream* stream;  // not owned
  int32_t version;     // 0 to the newest read, or the negative parse result of a refused header
  uint32_t width;
  uint32_t height;
  int32_t baseType;    // -1 until the header is read
  XcfPropertyList* properties;
  XcfOffsetList layerOffsets;    // first entry = top of the stack
  XcfOffsetList channelOffsets;  // read and kept, never followed
  XcfOffsetList pathOffsets;     // from version 18; read and kept, never followed
  XcfLayer* layers;    // first top-level layer; null until the tree is built
  XcfFormat format;    // how the data after the header is laid out (its stream points here)
};

struct XcfHeaderInfo {
  uint32_t version;
  uint32_t width;
  uint32_t height;
  uint32_t baseType;
};

ResultCode XcfImageCreate(ByteStream* stream, XcfImage** out);
ResultCode XcfImageDestroy(XcfImage** holder);

// Each runs once: called again it answers Ok after a success and NotReady
// after a failure, without touching the stream.
ResultCode XcfReadHeader(XcfImage* image);
ResultCode XcfLoad(XcfImage* image);

ResultCode XcfGetHeaderInfo(XcfImage* image, XcfHeaderInfo* out);
ResultCode XcfGetResolution(const XcfImage* image, float* x, float* y);
ResultCode XcfGetCompression(const XcfImage* image, uint32_t* value);
// count: colours the buffer can take on entry; colours copied on return when
// the whole map fitted.
ResultCode XcfGetColormap(const XcfImage* image, uint32_t* count, uint8_t* triples);

}  // namespace tessel
