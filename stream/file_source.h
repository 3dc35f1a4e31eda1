// A file as a ByteStream: positions count from a start offset inside the file.
#pragma once

#include <cstdint>

#include "platform/kernel32.h"
#include "stream/byte_stream.h"

namespace tessel {

// A file that tessel opened itself is read through a buffer of its own, one
// positional ReadFile per buffer, and knows its size. A host's handle is
// read as it stands, one ReadFile per read from the handle's own position,
// so that it is left exactly where the reads ended.
struct FileSource {
  HANDLE file;
  uint32_t startOffset;
  bool positional;    // read through the buffer at its own position
  bool ownsFile;      // closed with the stream (forks share their file)
  uint64_t size;      // bytes from the start offset to the end (owned files)
  uint64_t position;  // of the next read, from the start offset (owned files)
  uint8_t* buffer;    // read-ahead, owned; null until the first read
  uint32_t capacity;  // of the buffer: kFileReadAhead, or less for a small file
  uint64_t bufferAt;  // the position of buffer[0]
  uint32_t fill;      // bytes in the buffer
};

// Opens name for reading, positioned at startOffset, as an owning stream.
// ReadError when the file cannot be opened or positioned (said in `reason`,
// which may be null); OutOfMemory when the records cannot be had (the file
// is closed again).
ResultCode FileStreamOpen(const char* name, uint32_t startOffset, ByteStream** out, Reason* reason);

// An owning stream over a file the caller opened for reading, of `size`
// bytes, read positionally from its start; the file is closed with the
// stream, and also when this fails.
ResultCode FileStreamOwn(HANDLE file, uint64_t size, ByteStream** out);

// A stream over a handle the caller keeps: no close, the source record is the
// caller's and must outlive the stream.
ResultCode FileStreamWrap(FileSource* source, ByteStream** out);

}  // namespace tessel
