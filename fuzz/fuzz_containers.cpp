// The container readers: the signature probe, the whole decompression and
// the header prefix, over any input.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_limits.h"
#include "plugin/limits.h"
#include "stream/decompress.h"
#include "stream/detect.h"
#include "stream/memory_source.h"

namespace {

// The tool's limits, so that every version's header and xz are read.
const tessel::Limits kLimits = tesselfuzz::Limits();

void Run(const uint8_t* data, size_t size, bool headerOnly) {
  tessel::ByteStream* stream = nullptr;
  if (tessel::MemoryStreamOpen(static_cast<uint32_t>(size), &stream, data) != tessel::ResultCode::Ok) return;
  stream->limits = &kLimits;
  tesselfuzz::CappedSink sink;
  if (headerOnly) {
    tessel::DecompressHeaderPrefix(stream, sink.Sink());
  } else {
    tessel::DecompressAll(stream, sink.Sink());
  }
  tessel::StreamDestroy(&stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (16u << 20)) return 0;
  tessel::ByteStream* stream = nullptr;
  if (tessel::MemoryStreamOpen(static_cast<uint32_t>(size), &stream, data) == tessel::ResultCode::Ok) {
    stream->limits = &kLimits;
    int32_t version;
    tessel::ProbeXcf(stream, &version);
    tessel::StreamDestroy(&stream);
  }
  Run(data, size, true);
  Run(data, size, false);
  return 0;
}
