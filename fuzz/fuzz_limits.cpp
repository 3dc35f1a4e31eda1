#include "fuzz/fuzz_limits.h"

#include "platform/kernel32.h"
#include "tests/support/product_hooks.h"

// Allocations the sanitizer cannot or will not make fail as they would in a
// 32-bit process (the plug-in must answer OutOfMemory), and a soft limit on
// the whole heap makes later ones fail too instead of exhausting the machine.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=512:soft_rss_limit_mb=1536";
}

namespace tesselfuzz {

CappedSink::CappedSink() : sink_{this, Write, nullptr} { tessel::MemorySinkCreate(&memory_); }

CappedSink::~CappedSink() { tessel::MemorySinkDestroy(&memory_); }

uint32_t CappedSink::Write(void* handle, const void* buffer, uint32_t count) {
  auto* self = static_cast<CappedSink*>(handle);
  if (self->memory_ == nullptr || self->memory_->size + static_cast<uint64_t>(count) > kDecompressBudget) return 0;
  return tessel::SinkWrite(self->memory_->sink, buffer, count);
}

tessel::Limits Limits() {
  tessel::Limits limits = tessel::kDefaultLimits;
  limits.canvasWidth = limits.canvasHeight = 2048;
  limits.decompressedBytes = kDecompressBudget;
  // Every version the reader knows, so that the structures of GIMP 2.10's
  // and GIMP 3's files and their arithmetic are reached,
  limits.newestVersion = tessel::kNewestXcfVersion;
  // and .xcf.xz, as the tool reads it.
  limits.readsXz = true;
  return limits;
}

uint32_t LiveLocalHandles() { return tessel::platform::LiveLocalHandles(); }

}  // namespace tesselfuzz
