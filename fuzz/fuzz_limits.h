// What the fuzz harnesses share: limits that keep each run quick, a sink
// that refuses to grow past its budget, and the sanitizer settings under
// which allocations fail the way they do in a 32-bit process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/limits.h"
#include "stream/memory_sink.h"

namespace tesselfuzz {

constexpr uint32_t kDecompressBudget = 32u << 20;  // bytes a container may expand to

// The plug-in's limits, tighter: canvases of at most 2048 x 2048 and
// containers that expand to at most kDecompressBudget (the plug-in itself
// needs no such limit; the runs need to be quick), and every XCF version
// read, as the tool reads them.
tessel::Limits Limits();

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


// Local-memory handles alive in the process.
uint32_t LiveLocalHandles();

}  // namespace tesselfuzz
