// The write side: a ByteSink and the growable buffer behind it that receives
// decompressed data.
#pragma once

#include <cstdint>

#include "plugin/result.h"

namespace tessel {

using SinkWriteFn = uint32_t (*)(void* handle, const void* buffer, uint32_t count);
using SinkCloseFn = int (*)(void* handle);

struct ByteSink {
  void* handle;
  SinkWriteFn write;
  SinkCloseFn close;
};

struct MemorySink {
  ByteSink* sink;      // owned; its handle is this record
  uint8_t* data;       // owned; null until the first write
  uint32_t capacity;
  uint32_t size;       // size <= capacity
  // Why the last append was refused: OutOfMemory when the buffer could not
  // grow, TooLarge when it would pass 4 GiB. Ok while nothing was refused.
  ResultCode refusal;
};

ResultCode MemorySinkCreate(MemorySink** holder);
ResultCode MemorySinkDestroy(MemorySink** holder);
// Returns count, or 0 when the buffer could not grow (nothing changed then).
uint32_t MemorySinkAppend(void* sink, const void* buffer, uint32_t count);

// The sink's write with its handle; 0 for a missing sink or buffer or count 0.
uint32_t SinkWrite(ByteSink* sink, const void* buffer, uint32_t count);

}  // namespace tessel
