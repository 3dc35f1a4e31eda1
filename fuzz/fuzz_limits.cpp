#include "fuzz/fuzz_limits.h"

#include "platform/kernel32.h"
#include "stream/decompress.h"
#include "stream/detect.h"
#include "stream/memory_source.h"

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

bool DecompressesWithinBudget(const uint8_t* data, size_t size) {
  if (size < tessel::kContainerSignatureSize) return true;
  tessel::ContainerKind kind = tessel::DetectContainer(data);
  if (kind != tessel::ContainerKind::Gzip && kind != tessel::ContainerKind::Bzip2) return true;
  tessel::ByteStream* stream = nullptr;
  if (tessel::MemoryStreamOpen(static_cast<uint32_t>(size), &stream, data) != tessel::ResultCode::Ok) return false;
  CappedSink sink;
  tessel::ResultCode result = tessel::DecompressAll(stream, sink.Sink());
  tessel::StreamDestroy(&stream);
  return result != tessel::ResultCode::WriteError;
}

uint32_t LiveLocalHandles() { return tessel::platform::LiveLocalHandles(); }

}  // namespace tesselfuzz
