#include "stream/byte_stream.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <new>

namespace tessel {

ResultCode StreamCreate(StreamReadFn read, StreamSeekFn seek, void* handle, StreamCloseFn close,
                        ByteStream** out) {
  if (out == nullptr || read == nullptr || seek == nullptr) return ResultCode::InvalidArgument;
  auto* stream = new (std::nothrow) ByteStream{handle, read, seek, close, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  if (stream == nullptr) {
    *out = nullptr;
    return ResultCode::OutOfMemory;
  }
  *out = stream;
  return ResultCode::Ok;
}

ResultCode StreamDestroy(ByteStream** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  ByteStream* stream = *holder;
  if (stream == nullptr) return ResultCode::Ok;
  if (stream->close != nullptr) stream->close(stream->handle);
  delete stream;
  *holder = nullptr;
  return ResultCode::Ok;
}

uint32_t StreamRead(ByteStream* stream, uint32_t count, void* buffer) {
  if (stream == nullptr || stream->read == nullptr || buffer == nullptr || count == 0) return 0;
  return stream->read(stream->handle, buffer, count);
}

ResultCode StreamSeek(ByteStream* stream, uint32_t position) {
  if (stream == nullptr || stream->seek == nullptr) return ResultCode::InvalidArgument;
  return stream->seek(stream->handle, position);
}

bool StreamHolds(const ByteStream* stream, uint64_t count) {
  return stream == nullptr || stream->remaining == nullptr || count <= stream->remaining(stream->handle);
}

uint32_t StreamReadOrView(ByteStream* stream, uint32_t count, uint8_t* buffer, const uint8_t** bytes) {
  if (stream != nullptr && stream->view != nullptr && count > 0) return stream->view(stream->handle, count, bytes);
  *bytes = buffer;
  return StreamRead(stream, count, buffer);
}

ResultCode StreamFork(ByteStream* stream, ByteStream** out) {
  if (stream == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  if (stream->fork == nullptr) return ResultCode::Unsupported;
  ResultCode result = stream->fork(stream->handle, out);
  if (result == ResultCode::Ok) {
    (*out)->limits = stream->limits;
    (*out)->format = stream->format;
  }
  return result;
}

ResultCode StreamRefuse(const ByteStream* stream, ResultCode code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReasonNoteV(stream != nullptr ? stream->reason : nullptr, format, args);
  va_end(args);
  return code;
}

ResultCode StreamFault(const ByteStream* stream, const char* format, ...) {
  char text[sizeof(Reason{}.text)];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ReasonNote(stream != nullptr ? stream->reason : nullptr, "internal fault: %s", text);
  assert(!"internal fault");
  return ResultCode::InvalidArgument;
}

const Limits& StreamLimits(const ByteStream* stream) {
  return stream != nullptr && stream->limits != nullptr ? *stream->limits : kDefaultLimits;
}

int StreamReadU32(ByteStream* stream, uint32_t* out) {
  if (stream == nullptr || out == nullptr || stream->read == nullptr) return 0;
  uint8_t bytes[4];
  if (stream->read(stream->handle, bytes, 4) != 4) return 0;
  *out = LoadU32BE(bytes);
  return 1;
}

}  // namespace tessel
