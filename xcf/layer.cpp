#include "xcf/layer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "stream/xcf_rules.h"
#include "xcf/hierarchy.h"

namespace tessel {

namespace {

// A u32 length and that many bytes (the file's own NUL among them), kept
// with one more NUL after them; null for length 0.
ResultCode ReadString(ByteStream* stream, char** out) {
  uint32_t length;
  if (!StreamReadU32(stream, &length)) return StreamRefuse(stream, ResultCode::ReadError, "the record ends before its name");
  if (length == 0) return ResultCode::Ok;
  // A length beyond what the input holds is the short read it would be.
  if (!StreamHolds(stream, length))
    return StreamRefuse(stream, ResultCode::ReadError, "a name of %u bytes runs past the end of the data", length);
  if (length == UINT32_MAX)  // length + 1 does not fit
    return StreamRefuse(stream, ResultCode::OutOfMemory, "a name of %u bytes", length);
  auto* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (text == nullptr) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a name of %u bytes", length);
  if (StreamRead(stream, length, text) != length) {
    std::free(text);
    return StreamRefuse(stream, ResultCode::ReadError, "a name of %u bytes ends early", length);
  }
  text[length] = '\0';
  *out = text;
  return ResultCode::Ok;
}

// Width and height of a layer or channel record (`what`), in this order:
// a zero side is damage, a side beyond the limit TooLarge.
ResultCode CheckSize(const ByteStream* stream, const char* what, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0)
    return StreamRefuse(stream, ResultCode::CorruptData, "%s of %u x %u has no pixels", what, width, height);
  const uint32_t limit = StreamLimits(stream).layerSize;
  if (width > limit || height > limit)
    return StreamRefuse(stream, ResultCode::TooLarge, "%s of %u x %u is larger than %u x %u", what, width, height, limit,
                        limit);
  return ResultCode::Ok;
}

ResultCode ReadProperties(ByteStream* stream, XcfPropertyList** list) {
  if (*list == nullptr) {
    ResultCode result = XcfPropertyListCreate(list);
    if (result != ResultCode::Ok) return StreamRefuse(stream, result, "no memory for a property list");
  }
  return XcfReadPropertyList(*list, stream);
}

// The payload of a property as one u32 when it has exactly four bytes.
bool PropertyU32(const XcfPropertyList* list, uint32_t id, uint32_t* value) {
  XcfProperty property;
  if (!XcfFindProperty(list, id, &property) || property.length != 4) return false;
  *value = XcfPropertyU32(&property, 0);
  return true;
}

}  // namespace

LayerName NameOf(const XcfLayer* layer) {
  LayerName name{};
  if (layer == nullptr) return name;
  if (layer->name == nullptr) {
    std::snprintf(name.text, sizeof name.text, "layer %u", layer->index + 1);
  } else {
    std::snprintf(name.text, sizeof name.text, "layer %u \"%s\"", layer->index + 1, Quote(layer->name).text);
  }
  return name;
}

uint32_t XcfBytesPerPixel(uint32_t type) {
  static constexpr uint32_t kBytes[] = {3, 4, 1, 2, 1, 2};
  return type < 6 ? kBytes[type] : 0;
}

ResultCode XcfLayerCreate(XcfLayer** out) {
  if (out == nullptr) return ResultCode::InvalidArgument;
  auto* layer = new (std::nothrow) XcfLayer{};
  if (layer == nullptr) return ResultCode::OutOfMemory;
  layer->type = UINT32_MAX;
  *out = layer;
  return ResultCode::Ok;
}

ResultCode XcfLayerDestroy(XcfLayer** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  XcfLayer* layer = *holder;
  if (layer == nullptr) return ResultCode::Ok;
  std::free(layer->name);
  XcfOffsetListFree(&layer->filterOffsets);
  XcfPropertyListDestroy(&layer->properties);
  XcfHierarchyDestroy(&layer->hierarchy);
  XcfChannelDestroy(&layer->mask);
  XcfLayerListDestroy(&layer->firstChild);
  delete layer;
  *holder = nullptr;
  return ResultCode::Ok;
}

ResultCode XcfLayerListDestroy(XcfLayer** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  XcfLayer* node = *holder;
  if (node == nullptr) return ResultCode::Ok;
  while (node->prev != nullptr) node = node->prev;
  while (node != nullptr) {
    XcfLayer* next = node->next;
    XcfLayerDestroy(&node);
    node = next;
  }
  *holder = nullptr;
  return ResultCode::Ok;
}

ResultCode XcfLayerReadRecord(XcfLayer* layer, ByteStream* stream) {
  if (layer == nullptr || stream == nullptr) return ResultCode::InvalidArgument;
  if ((layer->flags & kRecordSized) != 0) return ResultCode::NotReady;
  uint32_t width;
  uint32_t height;
  uint32_t type;
  if (!StreamReadU32(stream, &width) || !StreamReadU32(stream, &height) || !StreamReadU32(stream, &type))
    return StreamRefuse(stream, ResultCode::ReadError, "the record ends before its size and type");
  ResultCode result = CheckSize(stream, "a layer", width, height);
  if (result != ResultCode::Ok) return result;
  if (type > kLayerIndexedA)
    return StreamRefuse(stream, ResultCode::UnsupportedVersion, "layer type %u is none of the six (0 to 5)", type);
  layer->flags |= kRecordSized;
  layer->width = width;
  layer->height = height;
  layer->type = type;

  result = ReadString(stream, &layer->name);
  if (result == ResultCode::Ok) result = ReadProperties(stream, &layer->properties);
  if (result != ResultCode::Ok) return result;
  result = XcfReadPointer(stream, &layer->hierarchyOffset);
  if (result == ResultCode::Ok) result = XcfReadPointer(stream, &layer->maskOffset);
  if (result == ResultCode::TooLarge)
    return StreamRefuse(stream, result, "its pixels or mask lie past 4 GiB");
  if (result != ResultCode::Ok)
    return StreamRefuse(stream, ResultCode::ReadError, "the record ends before its pixels' and mask's offsets");
  if (XcfLayerHasFilters(XcfFormatOf(stream).version)) {
    result = XcfReadOffsetList(&layer->filterOffsets, stream);
    if (result != ResultCode::Ok) return result;
  }
  layer->flags |= kRecordComplete;
  return ResultCode::Ok;
}

ResultCode XcfLayerGetInfo(const XcfLayer* layer, XcfLayerInfo* out) {
  if (layer == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  if ((layer->flags & kRecordComplete) == 0) return ResultCode::NotReady;
  const XcfPropertyList* props = layer->properties;
  XcfLayerInfo info{};
  info.width = static_cast<int32_t>(layer->width);
  info.height = static_cast<int32_t>(layer->height);
  info.type = layer->type;
  if (!PropertyU32(props, kPropMode, &info.mode)) info.mode = 0;
  if (!PropertyU32(props, kPropOpacity, &info.opacity)) info.opacity = 255;
  XcfProperty offsets;
  if (XcfFindProperty(props, kPropOffsets, &offsets) && offsets.length == 8) {
    info.offsetX = static_cast<int32_t>(XcfPropertyU32(&offsets, 0));
    info.offsetY = static_cast<int32_t>(XcfPropertyU32(&offsets, 1));
  }
  // Only a four-byte zero hides a layer.
  uint32_t visible;
  if (!PropertyU32(props, kPropVisible, &visible) || visible != 0) info.flags |= kLayerVisible;
  if (layer->maskOffset != 0) info.flags |= kLayerHasMask | kLayerApplyMask;
  uint32_t apply;
  if (PropertyU32(props, kPropApplyMask, &apply) && apply != 0) info.flags |= kLayerApplyMask;
  if (XcfHasProperty(props, kPropGroupItem)) info.flags |= kLayerGroup;
  *out = info;
  return ResultCode::Ok;
}

ResultCode XcfLayerGetBlending(const XcfLayer* layer, XcfLayerBlending* out) {
  if (layer == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  if ((layer->flags & kRecordComplete) == 0) return ResultCode::NotReady;
  const XcfPropertyList* props = layer->properties;
  XcfLayerBlending blending{1.0f, 28, 0, 0, 0, true};
  uint32_t value;
  if (PropertyU32(props, kPropOpacity, &value)) blending.opacity = static_cast<float>(value > 255 ? 255 : value) / 255.0f;
  XcfProperty opacity;
  if (XcfFindProperty(props, kPropFloatOpacity, &opacity) && opacity.length == 4) {
    const float f = XcfPropertyFloat(&opacity, 0);
    // GIMP keeps an opacity between none and full.
    blending.opacity = !(f > 0.0f) ? 0.0f : f < 1.0f ? f : 1.0f;
  }
  if (PropertyU32(props, kPropMode, &value)) blending.mode = value == 5 ? 19 : value;
  const auto space = [&](uint32_t id, uint32_t* into) {
    if (!PropertyU32(props, id, &value)) return;
    const auto stored = static_cast<int32_t>(value);
    *into = static_cast<uint32_t>(stored < 0 ? -static_cast<int64_t>(stored) : stored);
  };
  // GIMP 3 names 2 "RGB (non-linear)" and adds 4, "RGB (perceptual)": both
  // the sRGB curve for the sRGB pictures XCF holds.
  const auto perceptual = [](uint32_t* space) {
    if (*space == 4) *space = 2;
  };
  space(kPropBlendSpace, &blending.blendSpace);
  space(kPropCompositeSpace, &blending.compositeSpace);
  perceptual(&blending.blendSpace);
  perceptual(&blending.compositeSpace);
  space(kPropCompositeMode, &blending.compositeMode);
  if (PropertyU32(props, kPropApplyMask, &value)) blending.applyMask = value != 0;
  *out = blending;
  return ResultCode::Ok;
}

int XcfLayerIsGroup(const XcfLayer* layer) {
  return layer != nullptr && XcfHasProperty(layer->properties, kPropGroupItem) ? 1 : 0;
}

int XcfLayerHasItemPath(const XcfLayer* layer) {
  return layer != nullptr && XcfHasProperty(layer->properties, kPropItemPath) ? 1 : 0;
}

ResultCode XcfLayerGetItemPath(const XcfLayer* layer, int32_t** path, uint32_t* length) {
  if (layer == nullptr || path == nullptr || length == nullptr) return ResultCode::InvalidArgument;
  XcfProperty property;
  if (!XcfFindProperty(layer->properties, kPropItemPath, &property)) return ResultCode::NotReady;
  if (property.length < 4) return ResultCode::CorruptData;  // told by the tree
  uint32_t n = property.length / 4;
  auto* items = static_cast<int32_t*>(std::malloc(static_cast<size_t>(n) * sizeof(int32_t)));
  if (items == nullptr) return ResultCode::OutOfMemory;
  for (uint32_t i = 0; i < n; ++i) items[i] = static_cast<int32_t>(XcfPropertyU32(&property, i));
  *path = items;
  *length = n;
  return ResultCode::Ok;
}

ResultCode XcfLayerReadMask(ByteStream* stream, XcfLayer* layer) {
  if (stream == nullptr || layer == nullptr) return ResultCode::InvalidArgument;
  if ((layer->flags & kRecordComplete) == 0 || layer->maskOffset == 0) return ResultCode::NotReady;
  if (layer->mask != nullptr) return ResultCode::Ok;
  ResultCode result = StreamSeek(stream, layer->maskOffset);
  if (result != ResultCode::Ok)
    return StreamRefuse(stream, result, "%s: its mask's offset %u lies past the end of the data", NameOf(layer).text,
                        layer->maskOffset);
  XcfChannel* mask = nullptr;
  result = XcfChannelCreate(&mask);
  if (result != ResultCode::Ok) return StreamRefuse(stream, result, "no memory for a mask");
  // An unreadable mask, or one of another size than its layer, is
  // discarded; why its record could not be read is no refusal, yet.
  Reason* reason = stream->reason;
  stream->reason = nullptr;
  XcfChannelInfo info;
  if (XcfChannelReadRecord(stream, mask) == ResultCode::Ok && XcfChannelGetInfo(mask, &info) == ResultCode::Ok &&
      info.width == layer->width && info.height == layer->height) {
    layer->mask = mask;
  } else {
    XcfChannelDestroy(&mask);
  }
  stream->reason = reason;
  return ResultCode::Ok;
}

namespace {

// The operation of the filter record at `at`: its third string, after the
// name and the icon, which are passed over by their lengths (a seek, so
// that however long they say they are, each record costs a few reads),
// cut to the text's size; false when the record ends first.
bool ReadFilterOperation(ByteStream* stream, uint32_t at, char* text, uint32_t size) {
  uint64_t position = at;
  uint32_t length = 0;
  text[0] = '\0';
  for (int skipped = 0; skipped < 2; ++skipped) {
    if (position > UINT32_MAX || StreamSeek(stream, static_cast<uint32_t>(position)) != ResultCode::Ok ||
        !StreamReadU32(stream, &length))
      return false;
    position += 4 + static_cast<uint64_t>(length);
  }
  if (position > UINT32_MAX || StreamSeek(stream, static_cast<uint32_t>(position)) != ResultCode::Ok ||
      !StreamReadU32(stream, &length) || !StreamHolds(stream, length))
    return false;
  const uint32_t kept = length < size - 1 ? length : size - 1;
  if (StreamRead(stream, kept, text) != kept) return false;
  text[kept] = '\0';
  return true;
}

void AppendOperation(XcfFilterList* list, const char* operation) {
  const size_t size = sizeof list->operations;
  const size_t used = std::strlen(list->operations);
  const char* separator = list->count > 1 ? ", " : "";
  const size_t needed = std::strlen(separator) + std::strlen(operation);
  // Room is kept for the "..." that says the list was cut.
  if (used + needed + 4 >= size) {
    if (used + 4 < size && std::strstr(list->operations, "...") == nullptr) std::strcat(list->operations, ", ...");
    return;
  }
  std::strcat(list->operations, separator);
  std::strcat(list->operations, operation);
}

}  // namespace

ResultCode XcfReadFilters(ByteStream* stream, const XcfOffsetList* offsets, XcfFilterList* out) {
  XcfFilterList list{};
  // Why a filter's record cannot be read is no refusal: the pixels are
  // drawn without it either way.
  Reason* reason = stream->reason;
  stream->reason = nullptr;
  for (uint32_t i = 0; i < offsets->count; ++i) {
    char operation[64];
    const bool read = ReadFilterOperation(stream, offsets->offsets[i], operation, sizeof operation) &&
                      operation[0] != '\0';
    ++list.count;
    AppendOperation(&list, read ? Quote(operation).text : "?");
  }
  stream->reason = reason;
  *out = list;
  return ResultCode::Ok;
}

ResultCode XcfChannelCreate(XcfChannel** out) {
  if (out == nullptr) return ResultCode::InvalidArgument;
  auto* channel = new (std::nothrow) XcfChannel{};
  if (channel == nullptr) return ResultCode::OutOfMemory;
  *out = channel;
  return ResultCode::Ok;
}

ResultCode XcfChannelDestroy(XcfChannel** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  XcfChannel* channel = *holder;
  if (channel == nullptr) return ResultCode::Ok;
  std::free(channel->name);
  XcfOffsetListFree(&channel->filterOffsets);
  XcfPropertyListDestroy(&channel->properties);
  XcfHierarchyDestroy(&channel->hierarchy);
  delete channel;
  *holder = nullptr;
  return ResultCode::Ok;
}

ResultCode XcfChannelReadRecord(ByteStream* stream, XcfChannel* channel) {
  if (stream == nullptr || channel == nullptr) return ResultCode::InvalidArgument;
  if ((channel->flags & kRecordSized) != 0) return ResultCode::NotReady;
  uint32_t width;
  uint32_t height;
  if (!StreamReadU32(stream, &width) || !StreamReadU32(stream, &height))
    return StreamRefuse(stream, ResultCode::ReadError, "the channel record ends before its size");
  ResultCode result = CheckSize(stream, "a channel", width, height);
  if (result != ResultCode::Ok) return result;
  channel->flags |= kRecordSized;
  channel->width = width;
  channel->height = height;
  result = ReadString(stream, &channel->name);
  if (result == ResultCode::Ok) result = ReadProperties(stream, &channel->properties);
  if (result != ResultCode::Ok) return result;
  result = XcfReadPointer(stream, &channel->hierarchyOffset);
  if (result == ResultCode::TooLarge) return StreamRefuse(stream, result, "the channel's pixels lie past 4 GiB");
  if (result != ResultCode::Ok)
    return StreamRefuse(stream, ResultCode::ReadError, "the channel record ends before its pixels' offset");
  if (channel->hierarchyOffset == 0)
    return StreamRefuse(stream, ResultCode::CorruptData, "a channel without pixels (its offset is 0)");
  if (XcfChannelHasFilters(XcfFormatOf(stream).version)) {
    result = XcfReadOffsetList(&channel->filterOffsets, stream);
    if (result != ResultCode::Ok) return result;
  }
  channel->flags |= kRecordComplete;
  return ResultCode::Ok;
}

ResultCode XcfChannelGetInfo(const XcfChannel* channel, XcfChannelInfo* out) {
  if (channel == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  if ((channel->flags & kRecordComplete) == 0) return ResultCode::NotReady;
  uint32_t opacity;
  if (!PropertyU32(channel->properties, kPropOpacity, &opacity)) opacity = 255;
  *out = XcfChannelInfo{channel->width, channel->height, opacity};
  return ResultCode::Ok;
}

}  // namespace tessel
