#include "xcf/property_list.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "stream/xcf_rules.h"

namespace tessel {

namespace {

// Puts the record in the list, replacing an entry with the same id. On
// failure the payload stays the caller's.
ResultCode PropertyListPut(XcfPropertyList* list, const XcfProperty& property) {
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->items[i].id == property.id) {
      std::free(list->items[i].data);
      list->items[i] = property;
      return ResultCode::Ok;
    }
  }
  if (list->count == list->capacity) {
    if (list->capacity > INT32_MAX / 2) return ResultCode::OutOfMemory;
    int32_t capacity = list->capacity == 0 ? 8 : list->capacity * 2;
    void* grown = std::realloc(list->items, static_cast<size_t>(capacity) * sizeof(XcfProperty));
    if (grown == nullptr) return ResultCode::OutOfMemory;  // told by the reader
    list->items = static_cast<XcfProperty*>(grown);
    list->capacity = capacity;
  }
  list->items[list->count++] = property;
  return ResultCode::Ok;
}

// Reads a colormap payload: the colour count first, then the triples, with
// the stored length repaired by the format's rule.
ResultCode ReadColormap(ByteStream* stream, uint32_t storedLength, XcfProperty* out) {
  uint32_t n = 0;
  uint32_t length = 0;
  ResultCode result = XcfColormapLength(
      stream, storedLength,
      [stream](uint32_t* count) {
        return StreamReadU32(stream, count) ? ResultCode::Ok
                                            : StreamRefuse(stream, ResultCode::ReadError, "the colormap ends early");
      },
      &n, &length);
  if (result != ResultCode::Ok) return result;
  if (!StreamHolds(stream, length - kColormapCountBytes))
    return StreamRefuse(stream, ResultCode::ReadError, "colormap of %u bytes runs past the end of the data", length);
  auto* data = static_cast<uint8_t*>(std::malloc(length));
  if (data == nullptr) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a colormap");
  StoreU32BE(data, n);
  if (StreamRead(stream, length - kColormapCountBytes, data + kColormapCountBytes) != length - kColormapCountBytes) {
    std::free(data);
    return StreamRefuse(stream, ResultCode::ReadError, "the colormap ends early");
  }
  out->length = length;
  out->data = data;
  return ResultCode::Ok;
}

}  // namespace

ResultCode XcfPropertyListCreate(XcfPropertyList** out) {
  if (out == nullptr) return ResultCode::InvalidArgument;
  auto* list = new (std::nothrow) XcfPropertyList{};
  if (list == nullptr) return ResultCode::OutOfMemory;
  *out = list;
  return ResultCode::Ok;
}

void XcfPropertyListDestroy(XcfPropertyList** holder) {
  if (holder == nullptr || *holder == nullptr) return;
  XcfPropertyList* list = *holder;
  for (int32_t i = 0; i < list->count; ++i) std::free(list->items[i].data);
  std::free(list->items);
  delete list;
  *holder = nullptr;
}

ResultCode XcfReadPropertyList(XcfPropertyList* list, ByteStream* stream) {
  if (list == nullptr) return ResultCode::InvalidArgument;
  if (stream == nullptr || stream->read == nullptr) return ResultCode::ReadError;
  for (;;) {
    uint32_t id;
    uint32_t length;
    if (!StreamReadU32(stream, &id) || !StreamReadU32(stream, &length))
      return StreamRefuse(stream, ResultCode::ReadError, "the property list ends early");
    if (id == kPropEnd)
      return length == 0 ? ResultCode::Ok
                         : StreamRefuse(stream, ResultCode::CorruptData,
                                        "the property list's end record has a length, %u", length);

    XcfProperty property{id, length, nullptr};
    if (id == kPropColormap) {
      ResultCode result = ReadColormap(stream, length, &property);
      if (result != ResultCode::Ok) return result;
    } else if (length > 0) {
      // A length beyond what the input holds is the short read it would be,
      // refused before a damaged file can ask for gigabytes.
      if (!StreamHolds(stream, length))
        return StreamRefuse(stream, ResultCode::ReadError, "property %u of %u bytes runs past the end of the data", id,
                            length);
      property.data = static_cast<uint8_t*>(std::malloc(length));
      if (property.data == nullptr)
        return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for property %u of %u bytes", id, length);
      if (StreamRead(stream, length, property.data) != length) {
        std::free(property.data);
        return StreamRefuse(stream, ResultCode::ReadError, "property %u of %u bytes ends early", id, length);
      }
    }
    ResultCode result = PropertyListPut(list, property);
    if (result != ResultCode::Ok) {
      std::free(property.data);
      return StreamRefuse(stream, result, "no memory for a property list");
    }
  }
}

int XcfFindProperty(const XcfPropertyList* list, uint32_t id, XcfProperty* out) {
  if (list == nullptr) return 0;
  for (int32_t i = 0; i < list->count; ++i) {
    if (list->items[i].id == id) {
      if (out != nullptr) *out = list->items[i];
      return 1;
    }
  }
  return 0;
}

int XcfHasProperty(const XcfPropertyList* list, uint32_t id) { return XcfFindProperty(list, id, nullptr); }

uint32_t XcfPropertyU32(const XcfProperty* property, uint32_t i) {
  if (property == nullptr || property->data == nullptr || i >= property->length / 4) return 0;
  return LoadU32BE(property->data + 4 * static_cast<size_t>(i));
}

float XcfPropertyFloat(const XcfProperty* property, uint32_t i) {
  if (property == nullptr || property->data == nullptr || i >= property->length / 4) return 0.0f;
  uint32_t bits = LoadU32BE(property->data + 4 * static_cast<size_t>(i));
  float value;
  static_assert(sizeof value == sizeof bits, "IEEE single precision");
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace tessel
