// A file as a ByteStream: positions count from a start offset inside the file.
#pragma once

#include <cstdint>

#include "platform/kernel32.h"
#include "stream/byte_stream.h"

namespace tessel {

struct FileSource {
  HANDLE file;
  uint32_t startOffset;
};

uint32_t FileRead(void* source, void* buffer, uint32_t count);
ResultCode FileSeek(void* source, uint32_t position);
// Closes the file and frees the source record; only for files tessel opened.
int FileClose(void* source);

// Opens name for reading, positioned at startOffset, as an owning stream.
// ReadError when the file cannot be opened or positioned; OutOfMemory when
// the records cannot be had (the file is closed again).
ResultCode FileStreamOpen(const char* name, uint32_t startOffset, ByteStream** out);

// A stream over a handle the caller keeps: no close, the source record is the
// caller's and must outlive the stream.
ResultCode FileStreamWrap(FileSource* source, ByteStream** out);

}  // namespace tessel
