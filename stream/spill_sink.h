// Where decompressed data goes: into memory while memory can be had, and
// when it cannot, into a temporary file in the user's temporary folder,
// one that the system deletes when it is closed (also when the process
// dies). A large compressed picture then still opens in a 32-bit viewer.
#pragma once

#include <cstdint>

#include "platform/kernel32.h"
#include "stream/byte_stream.h"
#include "stream/memory_sink.h"

namespace tessel {

struct SpillSink {
  ByteSink* sink;      // owned; its handle is this record, its write the sink's own
  MemorySink* memory;  // owned; the data until memory runs out, then empty
  HANDLE file;         // the temporary file after that; INVALID_HANDLE_VALUE before
  uint64_t fileSize;   // bytes in the file
  uint64_t limit;      // the most bytes it takes in all
  // Why the last write was refused: TooLarge past the limit, OutOfMemory when
  // neither memory nor a temporary file could take the data.
  ResultCode refusal;
};

// A sink that takes at most `limit` bytes (and never more than 4 GiB less one).
ResultCode SpillSinkCreate(SpillSink** holder, uint64_t limit);
// Closes (and so deletes) a temporary file the sink still holds.
ResultCode SpillSinkDestroy(SpillSink** holder);

// Hands over what was written: the memory sink with the bytes (and no
// stream), or a stream over the temporary file (and no memory sink), which
// deletes the file when it is destroyed. The spill sink is emptied.
ResultCode SpillSinkTake(SpillSink* sink, MemorySink** memory, ByteStream** file);

}  // namespace tessel
