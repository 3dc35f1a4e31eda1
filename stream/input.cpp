#include "stream/input.h"

#include "stream/decompress.h"
#include "stream/detect.h"
#include "stream/file_source.h"
#include "stream/memory_source.h"
#include "stream/spill_sink.h"

namespace tessel {

ResultCode OpenInput(const char* buffer, int32_t offsetOrSize, uint32_t inputKind, ByteStream** stream,
                     MemorySink** sink, int headerOnly) {
  if (stream == nullptr || sink == nullptr) return ResultCode::InvalidArgument;
  *stream = nullptr;
  *sink = nullptr;
  if (buffer == nullptr || offsetOrSize < 0) return ResultCode::InvalidArgument;

  ByteStream* raw = nullptr;
  ResultCode result;
  if (inputKind == static_cast<uint32_t>(InputKind::Memory)) {
    if (offsetOrSize <= 0) return ResultCode::InvalidArgument;
    result = MemoryStreamOpen(static_cast<uint32_t>(offsetOrSize), &raw, buffer);
  } else if (inputKind == static_cast<uint32_t>(InputKind::File)) {
    result = FileStreamOpen(buffer, static_cast<uint32_t>(offsetOrSize), &raw);
  } else {
    return ResultCode::InvalidArgument;
  }
  if (result != ResultCode::Ok) return result;

  ContainerKind kind;
  result = ReadContainerKind(raw, &kind);
  if (result != ResultCode::Ok) {
    StreamDestroy(&raw);
    return result;
  }
  if (kind == ContainerKind::Plain) {
    *stream = raw;
    return ResultCode::Ok;
  }

  // The decompressed data goes to memory, or to a temporary file when
  // memory for it cannot be had.
  SpillSink* decompressed = nullptr;
  result = SpillSinkCreate(&decompressed);
  if (result == ResultCode::Ok) {
    result = headerOnly ? DecompressHeaderPrefix(raw, decompressed->sink) : DecompressAll(raw, decompressed->sink);
    // A sink that refused the data says why: out of memory, or past 4 GiB.
    if (result == ResultCode::WriteError && decompressed->refusal != ResultCode::Ok) result = decompressed->refusal;
  }
  // The file is not touched again: everything now comes from the sink.
  StreamDestroy(&raw);
  const bool empty =
      decompressed != nullptr && decompressed->fileSize == 0 && decompressed->memory->size == 0;
  if (result == ResultCode::Ok && empty) result = ResultCode::NotReady;
  MemorySink* memory = nullptr;
  ByteStream* spilled = nullptr;
  if (result == ResultCode::Ok) result = SpillSinkTake(decompressed, &memory, &spilled);
  SpillSinkDestroy(&decompressed);
  ByteStream* over = spilled;
  if (result == ResultCode::Ok && memory != nullptr) result = MemoryStreamOpen(memory->size, &over, memory->data);
  if (result != ResultCode::Ok) {
    MemorySinkDestroy(&memory);
    return result;
  }
  *stream = over;
  *sink = memory;
  return ResultCode::Ok;
}

void CloseInput(ByteStream** stream, MemorySink** sink) {
  // The stream reads the sink's bytes, so it goes first.
  StreamDestroy(stream);
  MemorySinkDestroy(sink);
}

}  // namespace tessel
