// What the fuzz harnesses share: budgets that keep each run quick, a sink
// that refuses to grow past its budget, and the sanitizer settings under
// which allocations fail the way they do in a 32-bit process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/memory_sink.h"

namespace tesselfuzz {

constexpr uint64_t kPixelBudget = 4u << 20;      // canvas pixels decoded per input
constexpr uint32_t kDecompressBudget = 32u << 20;  // bytes a container may expand to

// A MemorySink that accepts at most kDecompressBudget bytes.
class CappedSink {
 public:
  CappedSink();
  ~CappedSink();
  tessel::ByteSink* Sink() { return &sink_; }

 private:
  static uint32_t Write(void* handle, const void* buffer, uint32_t count);
  tessel::MemorySink* memory_ = nullptr;
  tessel::ByteSink sink_;
};

// Whether a gzip or bzip2 input expands to at most kDecompressBudget bytes
// (plain and unknown inputs pass).
bool DecompressesWithinBudget(const uint8_t* data, size_t size);

// Local-memory handles alive in the process.
uint32_t LiveLocalHandles();

}  // namespace tesselfuzz
