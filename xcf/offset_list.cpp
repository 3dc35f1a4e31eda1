#include "xcf/offset_list.h"

#include <cstdlib>
#include <cstring>

#include "stream/xcf_rules.h"

namespace tessel {

namespace {
constexpr uint32_t kBatch = 32;

uint32_t XcfPointerBytesOf(const ByteStream* stream) { return XcfFormatOf(stream).pointerBytes; }
}  // namespace

ResultCode XcfReadPointer(ByteStream* stream, uint32_t* out) {
  uint32_t high = 0;
  uint32_t low;
  if (XcfPointerBytesOf(stream) == 8 && !StreamReadU32(stream, &high)) return ResultCode::ReadError;
  if (!StreamReadU32(stream, &low)) return ResultCode::ReadError;
  if (high != 0) return ResultCode::TooLarge;
  *out = low;
  return ResultCode::Ok;
}

void XcfOffsetListFree(XcfOffsetList* list) {
  if (list == nullptr) return;
  std::free(list->offsets);
  list->offsets = nullptr;
  list->count = 0;
}

ResultCode XcfReadOffsetList(XcfOffsetList* list, ByteStream* stream) {
  if (list == nullptr) return ResultCode::InvalidArgument;
  XcfOffsetList read{nullptr, 0};
  XcfOffsetListFree(list);
  // Offsets come in batches of 32; the array grows geometrically so that a
  // list of a million tiles is not copied a million / 32 times, never past
  // what the rest of the input could hold, and is cut to its exact length
  // at the end.
  uint32_t capacity = 0;
  uint32_t batch[kBatch];
  uint32_t pending = 0;
  for (;;) {
    uint32_t value = 0;
    const ResultCode pointer = stream != nullptr ? XcfReadPointer(stream, &value) : ResultCode::ReadError;
    if (pointer != ResultCode::Ok) {
      XcfOffsetListFree(&read);
      if (pointer == ResultCode::TooLarge)
        return StreamRefuse(stream, pointer, "offset %u of a list lies past 4 GiB", read.count + pending + 1);
      return StreamRefuse(stream, ResultCode::ReadError, "a list of offsets ends early, after %u", read.count + pending);
    }
    if (value != 0) batch[pending++] = value;
    if (pending == kBatch || (value == 0 && pending > 0)) {
      if (capacity - read.count < pending) {
        if (capacity > (UINT32_MAX / sizeof(uint32_t)) / 2) {
          XcfOffsetListFree(&read);
          return StreamRefuse(stream, ResultCode::OutOfMemory, "a list of more offsets than memory can hold");
        }
        uint32_t grown = capacity == 0 ? kBatch : capacity * 2;
        // No more offsets can follow than the input holds words.
        if (stream->remaining != nullptr) {
          const uint64_t most = read.count + pending + stream->remaining(stream->handle) / XcfPointerBytesOf(stream);
          if (most < grown) grown = static_cast<uint32_t>(most);
        }
        void* array = std::realloc(read.offsets, static_cast<size_t>(grown) * sizeof(uint32_t));
        if (array == nullptr) {
          XcfOffsetListFree(&read);
          return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a list of %u offsets", grown);
        }
        read.offsets = static_cast<uint32_t*>(array);
        capacity = grown;
      }
      std::memcpy(read.offsets + read.count, batch, pending * sizeof(uint32_t));
      read.count += pending;
      pending = 0;
    }
    if (value == 0) break;
  }
  if (read.count > 0 && read.count < capacity) {
    void* exact = std::realloc(read.offsets, static_cast<size_t>(read.count) * sizeof(uint32_t));
    if (exact != nullptr) read.offsets = static_cast<uint32_t*>(exact);
  }
  *list = read;
  return ResultCode::Ok;
}

}  // namespace tessel
