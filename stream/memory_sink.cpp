#include "stream/memory_sink.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tessel {

namespace {
constexpr uint32_t kMiB = 0x100000u;
constexpr uint32_t kLinearGrowthEnd = 8 * kMiB;
}  // namespace

ResultCode MemorySinkCreate(MemorySink** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  *holder = nullptr;
  auto* sink = new (std::nothrow) MemorySink{};
  if (sink == nullptr) return ResultCode::OutOfMemory;
  sink->sink = new (std::nothrow) ByteSink{sink, MemorySinkAppend, nullptr};
  if (sink->sink == nullptr) {
    delete sink;
    return ResultCode::OutOfMemory;
  }
  *holder = sink;
  return ResultCode::Ok;
}

ResultCode MemorySinkDestroy(MemorySink** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  MemorySink* sink = *holder;
  if (sink == nullptr) return ResultCode::Ok;
  if (sink->sink != nullptr && sink->sink->close != nullptr) sink->sink->close(sink->sink->handle);
  delete sink->sink;
  std::free(sink->data);
  delete sink;
  *holder = nullptr;
  return ResultCode::Ok;
}

uint32_t MemorySinkAppend(void* handle, const void* buffer, uint32_t count) {
  auto* sink = static_cast<MemorySink*>(handle);
  // Growing without bytes to copy would hand out uninitialised memory.
  if (sink == nullptr || (buffer == nullptr && count > 0)) return 0;
  if (sink->capacity - sink->size < count) {
    // 1 MiB steps up to 8 MiB, then a quarter of the capacity in whole MiB.
    uint32_t step = sink->capacity < kLinearGrowthEnd ? kMiB : (sink->capacity / (4 * kMiB)) * kMiB;
    // A whole number of steps, at least size + count: wanted rounded down
    // to a step loses less than the step added to it. Whole steps keep
    // the allocator's large blocks reusable.
    uint64_t wanted = static_cast<uint64_t>(sink->size) + step + count;
    uint64_t capacity = static_cast<uint64_t>(step) * (wanted / step);
    // Sizes and positions are 32-bit: data that would pass 4 GiB is refused.
    if (capacity > UINT32_MAX) {
      sink->refusal = ResultCode::TooLarge;
      return 0;
    }
    void* grown = std::realloc(sink->data, static_cast<size_t>(capacity));
    if (grown == nullptr) {
      sink->refusal = ResultCode::OutOfMemory;
      return 0;
    }
    sink->data = static_cast<uint8_t*>(grown);
    sink->capacity = static_cast<uint32_t>(capacity);
  }
  if (count > 0) std::memcpy(sink->data + sink->size, buffer, count);
  sink->size += count;
  return count;
}

uint32_t SinkWrite(ByteSink* sink, const void* buffer, uint32_t count) {
  if (sink == nullptr || sink->write == nullptr || buffer == nullptr || count == 0) return 0;
  return sink->write(sink->handle, buffer, count);
}

}  // namespace tessel
