// Opening the host's input: a file at a start offset or a memory block,
// plain or compressed, as a stream whose position 0 is the first XCF byte.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"
#include "stream/memory_sink.h"

namespace tessel {

// The low three bits of the host's flag argument.
enum class InputKind : uint32_t { File = 0, Memory = 1 };

inline uint32_t InputKindOf(uint32_t flag) { return flag & 7u; }

// On success the stream reads XCF data from position 0 and the sink holds
// the decompressed bytes behind it: none for plain input, and none for
// compressed input whose decompressed data memory could not hold, which the
// stream reads from a temporary file that goes with it. On failure both
// hold none and nothing is left open. headerOnly decompresses only as far as
// the header summary needs.
ResultCode OpenInput(const char* buffer, int32_t offsetOrSize, uint32_t inputKind, ByteStream** stream,
                     MemorySink** sink, int headerOnly);
// The same for a call with records of its own: the limits apply to the
// input and go with the stream, as the reason record does, which tells why
// the input could not be opened.
ResultCode OpenInputWith(const char* buffer, int32_t offsetOrSize, uint32_t inputKind, ByteStream** stream,
                         MemorySink** sink, int headerOnly, const Limits& limits, Reason* reason);
void CloseInput(ByteStream** stream, MemorySink** sink);

}  // namespace tessel
