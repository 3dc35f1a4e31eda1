// Layer and channel records: what a layer is drawn with (size, type, mode,
// opacity, offsets, visibility, mask, group), and the channels that serve as
// layer masks. Pixels are loaded separately (hierarchy.h).
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"
#include "xcf/offset_list.h"
#include "xcf/property_list.h"

namespace tessel {

struct XcfHierarchy;

// Record flags of layers and channels.
constexpr uint32_t kRecordSized = 0x1;
constexpr uint32_t kRecordComplete = 0x2;

enum XcfLayerType : uint32_t {
  kLayerRgb = 0,
  kLayerRgba = 1,
  kLayerGray = 2,
  kLayerGrayA = 3,
  kLayerIndexed = 4,
  kLayerIndexedA = 5,
};

struct XcfChannel {
  uint32_t flags;
  uint32_t width;
  uint32_t height;
  char* name;
  XcfPropertyList* properties;
  uint32_t hierarchyOffset;
  XcfOffsetList filterOffsets;  // from version 26: its filters, never applied
  XcfHierarchy* hierarchy;  // owned; null until loaded
};

struct XcfLayer {
  uint32_t flags;
  uint32_t width;
  uint32_t height;
  uint32_t type;            // all bits set in a new record
  char* name;               // owned; null when the stored length is 0
  XcfPropertyList* properties;
  uint32_t hierarchyOffset; // 0 = no pixels
  uint32_t maskOffset;      // 0 = no mask
  XcfOffsetList filterOffsets;  // from version 20: its non-destructive filters, never applied
  XcfHierarchy* hierarchy;  // owned; null until loaded
  XcfChannel* mask;         // owned; null until read
  XcfLayer* prev;           // sibling list in file order: next is lower in the stack
  XcfLayer* next;
  XcfLayer* firstChild;     // owned list of a group's children
  uint32_t index;           // its place in the layer offset list, from 0
};

enum : uint32_t {
  kLayerVisible = 0x01,
  kLayerHasMask = 0x08,
  kLayerApplyMask = 0x10,
  kLayerGroup = 0x80,
};

struct XcfLayerInfo {
  int32_t width;
  int32_t height;
  uint32_t type;
  uint32_t mode;
  uint32_t opacity;
  int32_t offsetX;
  int32_t offsetY;
  uint32_t flags;
};

// What GIMP 2.10 draws a layer of a version 4 or later file with, beside
// XcfLayerInfo: its opacity as a fraction (PROP_FLOAT_OPACITY where it is
// stored, else PROP_OPACITY / 255), its mode as GIMP numbers it (0 to 63;
// the old overlay, 5, read as soft light, as GIMP reads it), the spaces it
// is blended and composited in and how it is composited (0 for the mode's
// own; a negative stored value is GIMP's "auto" and its magnitude the space
// it stood for), and whether its mask is applied (PROP_APPLY_MASK, applied
// when absent).
struct XcfLayerBlending {
  float opacity;
  uint32_t mode;
  uint32_t blendSpace;      // 0 the mode's, 1 RGB linear, 2 RGB perceptual, 3 LAB
  uint32_t compositeSpace;  // as blendSpace
  uint32_t compositeMode;   // 0 the mode's, 1 union, 2 clip to backdrop, 3 clip to layer, 4 intersection
  bool applyMask;
};

struct XcfChannelInfo {
  uint32_t width;
  uint32_t height;
  uint32_t opacity;
};

// How a reason names a layer: `layer 3 "Shadow"`, counting from 1 in file
// order (the top of the stack first), its name quoted.
struct LayerName {
  char text[200];
};
LayerName NameOf(const XcfLayer* layer);

// Bytes per pixel of a layer type: 3, 4, 1, 2, 1, 2; 0 for any other type.
uint32_t XcfBytesPerPixel(uint32_t type);

ResultCode XcfLayerCreate(XcfLayer** out);
// Frees the layer with everything it owns, its children included.
ResultCode XcfLayerDestroy(XcfLayer** holder);
// Destroys every node of the sibling list that the holder points into.
ResultCode XcfLayerListDestroy(XcfLayer** holder);

ResultCode XcfLayerReadRecord(XcfLayer* layer, ByteStream* stream);
ResultCode XcfLayerGetInfo(const XcfLayer* layer, XcfLayerInfo* out);
ResultCode XcfLayerGetBlending(const XcfLayer* layer, XcfLayerBlending* out);
int XcfLayerIsGroup(const XcfLayer* layer);
int XcfLayerHasItemPath(const XcfLayer* layer);
// The item path as signed integers; the caller frees the array with free().
ResultCode XcfLayerGetItemPath(const XcfLayer* layer, int32_t** path, uint32_t* length);
// Reads the mask record once; a mask of another size than the layer is discarded.
ResultCode XcfLayerReadMask(ByteStream* stream, XcfLayer* layer);

// The non-destructive filters of a layer or channel (GIMP 3): each stored
// as its name, icon and GEGL operation, then its arguments and mask. The
// stored pixels are those without them, and this reader draws those; the
// operations are read to say so. A filter whose record cannot be read
// counts, named "?".
struct XcfFilterList {
  uint32_t count;
  char operations[256];  // "gegl:gaussian-blur, gegl:levels", cut short with "..."
};
ResultCode XcfReadFilters(ByteStream* stream, const XcfOffsetList* offsets, XcfFilterList* out);

ResultCode XcfChannelCreate(XcfChannel** out);
ResultCode XcfChannelDestroy(XcfChannel** holder);
ResultCode XcfChannelReadRecord(ByteStream* stream, XcfChannel* channel);
ResultCode XcfChannelGetInfo(const XcfChannel* channel, XcfChannelInfo* out);

}  // namespace tessel
