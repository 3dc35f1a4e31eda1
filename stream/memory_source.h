// A block of memory as a ByteStream. The block is never owned: it belongs to
// the host or to the MemorySink that produced it.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"

namespace tessel {

struct MemorySource {
  const uint8_t* base;
  uint32_t size;
  uint32_t position;  // position <= size
};

uint32_t MemoryRead(void* source, void* buffer, uint32_t count);
ResultCode MemorySeek(void* source, uint32_t position);
int MemoryClose(void* source);

ResultCode MemoryStreamOpen(uint32_t size, ByteStream** out, const void* base);

}  // namespace tessel
