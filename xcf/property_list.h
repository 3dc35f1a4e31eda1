// Property lists, the generic record of the XCF format shared by the image,
// every layer and every channel.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"

namespace tessel {

// Property ids with an effect on the picture.
constexpr uint32_t kPropEnd = 0;
constexpr uint32_t kPropColormap = 1;
constexpr uint32_t kPropOpacity = 6;
constexpr uint32_t kPropMode = 7;
constexpr uint32_t kPropVisible = 8;
constexpr uint32_t kPropApplyMask = 11;
constexpr uint32_t kPropOffsets = 15;
constexpr uint32_t kPropCompression = 17;
constexpr uint32_t kPropResolution = 19;
constexpr uint32_t kPropGroupItem = 29;
constexpr uint32_t kPropItemPath = 30;
constexpr uint32_t kPropFloatOpacity = 33;
constexpr uint32_t kPropCompositeMode = 35;
constexpr uint32_t kPropCompositeSpace = 36;
constexpr uint32_t kPropBlendSpace = 37;

struct XcfProperty {
  uint32_t id;
  uint32_t length;  // payload bytes as stored (the colormap's repaired)
  uint8_t* data;    // owned; null when length is 0; big-endian as read
};

// At most one entry per id; a repeated id replaces the earlier payload.
struct XcfPropertyList {
  XcfProperty* items;
  int32_t capacity;
  int32_t count;
};

ResultCode XcfPropertyListCreate(XcfPropertyList** out);
void XcfPropertyListDestroy(XcfPropertyList** holder);

// Reads records up to and including the end record.
ResultCode XcfReadPropertyList(XcfPropertyList* list, ByteStream* stream);

// A view of the entry with this id; the list keeps ownership. 1 when present.
int XcfFindProperty(const XcfPropertyList* list, uint32_t id, XcfProperty* out);
int XcfHasProperty(const XcfPropertyList* list, uint32_t id);

// The big-endian u32 or IEEE single at byte 4 * i of the payload, or 0.
uint32_t XcfPropertyU32(const XcfProperty* property, uint32_t i);
float XcfPropertyFloat(const XcfProperty* property, uint32_t i);

}  // namespace tessel
