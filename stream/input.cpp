#include "stream/input.h"

#include "stream/decompress.h"
#include "stream/detect.h"
#include "stream/file_source.h"
#include "stream/memory_source.h"
#include "stream/spill_sink.h"

namespace tessel {

ResultCode OpenInput(const char* buffer, int32_t offsetOrSize, uint32_t inputKind, ByteStream** stream,
                     MemorySink** sink, int headerOnly) {
  return OpenInputWith(buffer, offsetOrSize, inputKind, stream, sink, headerOnly, kDefaultLimits, nullptr);
}

ResultCode OpenInputWith(const char* buffer, int32_t offsetOrSize, uint32_t inputKind, ByteStream** stream,
                         MemorySink** sink, int headerOnly, const Limits& limits, Reason* reason) {
  if (stream == nullptr || sink == nullptr) return ResultCode::InvalidArgument;
  *stream = nullptr;
  *sink = nullptr;
  if (buffer == nullptr || offsetOrSize < 0) return ResultCode::InvalidArgument;

  ByteStream* raw = nullptr;
  ResultCode result;
  if (inputKind == static_cast<uint32_t>(InputKind::Memory)) {
    if (offsetOrSize <= 0) {
      ReasonNote(reason, "the memory block is empty");
      return ResultCode::InvalidArgument;
    }
    result = MemoryStreamOpen(static_cast<uint32_t>(offsetOrSize), &raw, buffer);
  } else if (inputKind == static_cast<uint32_t>(InputKind::File)) {
    result = FileStreamOpen(buffer, static_cast<uint32_t>(offsetOrSize), &raw, reason);
  } else {
    return ResultCode::InvalidArgument;
  }
  if (result == ResultCode::OutOfMemory) ReasonNote(reason, "no memory for the input's stream");
  if (result != ResultCode::Ok) return result;
  raw->reason = reason;
  raw->limits = &limits;

  ContainerKind kind = ContainerKind::Unknown;
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
  result = SpillSinkCreate(&decompressed, limits.decompressedBytes);
  if (result != ResultCode::Ok) ReasonNote(reason, "no memory for the decompressed data");
  if (result == ResultCode::Ok) {
    result = headerOnly ? DecompressHeaderPrefix(raw, decompressed->sink) : DecompressAll(raw, decompressed->sink);
    // A sink that refused the data says why: out of memory, or past the limit.
    if (result == ResultCode::WriteError && decompressed->refusal != ResultCode::Ok) {
      result = decompressed->refusal;
      if (result == ResultCode::TooLarge) {
        ReasonNote(reason, "the data decompresses to more than %llu bytes",
                   static_cast<unsigned long long>(limits.decompressedBytes));
      } else {
        ReasonNote(reason, "neither memory nor a temporary file can hold the decompressed data (%llu MB and more)",
                   static_cast<unsigned long long>((decompressed->fileSize + decompressed->memory->size) >> 20));
      }
    }
  }
  // The file is not touched again: everything now comes from the sink.
  StreamDestroy(&raw);
  const bool empty =
      decompressed != nullptr && decompressed->fileSize == 0 && decompressed->memory->size == 0;
  if (result == ResultCode::Ok && empty) {
    ReasonNote(reason, "the compressed data holds no XCF data");
    result = ResultCode::NotReady;
  }
  MemorySink* memory = nullptr;
  ByteStream* spilled = nullptr;
  if (result == ResultCode::Ok) result = SpillSinkTake(decompressed, &memory, &spilled);
  SpillSinkDestroy(&decompressed);
  ByteStream* over = spilled;
  if (result == ResultCode::Ok && memory != nullptr) result = MemoryStreamOpen(memory->size, &over, memory->data);
  if (result != ResultCode::Ok) {
    if (result == ResultCode::OutOfMemory) ReasonNote(reason, "no memory for the decompressed data's stream");
    MemorySinkDestroy(&memory);
    return result;
  }
  over->reason = reason;
  over->limits = &limits;
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
