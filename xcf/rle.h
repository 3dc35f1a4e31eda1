// Run-length encoded tiles, and the window on the stream every tile loop
// reads through.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"

namespace tessel {

constexpr uint32_t kRleInputSize = 256;

// The source of bytes for RLE tiles: a window on the stream, of 256 bytes
// for one tile, larger for a loop over many. A stream that lends its bytes
// is looked at where they are; another's are copied into a buffer.
struct RleInput {
  ByteStream* stream;
  uint8_t* buffer;       // for a stream without a view: allocated on the first refill unless the caller gives one
  const uint8_t* bytes;  // the window
  uint32_t capacity;
  uint32_t position;
  uint32_t fill;
  uint64_t next;         // the stream position of the byte after the window
};

// Refills the input's window from the stream when it is empty; false when
// no byte can be had.
bool HaveInput(RleInput* in);

// Consumes n bytes without looking at them: false when reading them would
// fall short.
bool SkipInput(RleInput* in, uint32_t n);

// Decodes one channel plane of n bytes, of which the bytes [a, b) are
// written (byte i to dst[(i - a) * stride]) and the others only consumed.
ResultCode DecodeRlePlane(RleInput* input, uint32_t n, uint32_t a, uint32_t b, uint8_t* dst, uint32_t stride);

// Rows [ra, rb) of one RLE tile of tw x th pixels of bpp bytes into
// rb - ra rows, `stride` bytes apart.
ResultCode DecodeRleInto(uint32_t th, RleInput* input, uint32_t tw, uint32_t bpp, uint32_t ra, uint32_t rb, uint8_t* out,
                         int64_t stride);

}  // namespace tessel
