#include "stream/memory_source.h"

#include <cstring>
#include <new>

namespace tessel {

uint32_t MemoryRead(void* source, void* buffer, uint32_t count) {
  auto* memory = static_cast<MemorySource*>(source);
  if (memory == nullptr || memory->position >= memory->size) return 0;
  uint32_t left = memory->size - memory->position;
  uint32_t n = count < left ? count : left;
  std::memcpy(buffer, memory->base + memory->position, n);
  memory->position += n;
  return n;
}

ResultCode MemorySeek(void* source, uint32_t position) {
  auto* memory = static_cast<MemorySource*>(source);
  if (memory == nullptr || position > memory->size) return ResultCode::SeekError;
  memory->position = position;
  return ResultCode::Ok;
}

namespace {
uint64_t MemoryRemaining(void* source) {
  auto* memory = static_cast<MemorySource*>(source);
  return memory->size - memory->position;
}

uint32_t MemoryView(void* source, uint32_t count, const uint8_t** bytes) {
  auto* memory = static_cast<MemorySource*>(source);
  if (memory->position >= memory->size) return 0;
  const uint32_t left = memory->size - memory->position;
  const uint32_t n = count < left ? count : left;
  *bytes = memory->base + memory->position;
  memory->position += n;
  return n;
}

ResultCode MemoryFork(void* source, ByteStream** out) {
  auto* memory = static_cast<MemorySource*>(source);
  return MemoryStreamOpen(memory->size, out, memory->base);
}
}  // namespace

int MemoryClose(void* source) {
  delete static_cast<MemorySource*>(source);
  return 0;
}

ResultCode MemoryStreamOpen(uint32_t size, ByteStream** out, const void* base) {
  if (out == nullptr || base == nullptr || size == 0) return ResultCode::InvalidArgument;
  auto* memory = new (std::nothrow) MemorySource{static_cast<const uint8_t*>(base), size, 0};
  if (memory == nullptr) return ResultCode::OutOfMemory;
  ResultCode result = StreamCreate(MemoryRead, MemorySeek, memory, MemoryClose, out);
  if (result != ResultCode::Ok) {
    delete memory;
    return result;
  }
  (*out)->remaining = MemoryRemaining;
  (*out)->fork = MemoryFork;
  (*out)->view = MemoryView;
  return ResultCode::Ok;
}

}  // namespace tessel
