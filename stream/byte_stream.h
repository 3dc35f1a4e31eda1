// The one abstraction everything in tessel reads through: an opaque source
// with read, seek and an optional close. Plain files, memory blocks and
// decompressed containers all look the same to the XCF reader.
#pragma once

#include <cstdint>

#include "plugin/limits.h"
#include "plugin/reason.h"
#include "plugin/result.h"

namespace tessel {

// Copies up to count bytes; 0 means end of data or failure (not told apart).
using StreamReadFn = uint32_t (*)(void* handle, void* buffer, uint32_t count);
// Sets the absolute position of the next read.
using StreamSeekFn = ResultCode (*)(void* handle, uint32_t position);
// Releases the source; present exactly when the stream owns it.
using StreamCloseFn = int (*)(void* handle);
// The bytes from the position of the next read to the end of the data.
using StreamRemainingFn = uint64_t (*)(void* handle);
struct ByteStream;
struct XcfFormat;
// A second stream over the same bytes, with a position of its own.
using StreamForkFn = ResultCode (*)(void* handle, ByteStream** out);
// Up to count bytes from the position of the next read, lent rather than
// copied: their address in the source's own memory, valid until the next
// operation on the stream. The position moves past them; 0 as for read.
using StreamViewFn = uint32_t (*)(void* handle, uint32_t count, const uint8_t** bytes);

struct ByteStream {
  void* handle;
  StreamReadFn read;
  StreamSeekFn seek;
  StreamCloseFn close;
  // Optional, set by the sources that know their size (memory blocks and the
  // files tessel opens): lengths that a damaged file declares are checked
  // against it before anything is allocated for them.
  StreamRemainingFn remaining;
  // Optional: set by the sources whose bytes other threads may read at the
  // same time (memory blocks and the files tessel opens). A fork owns no
  // more than its own position and buffer; it is destroyed before the
  // stream it came from.
  StreamForkFn fork;
  // Optional: set by the sources that hold their bytes in memory of their
  // own (memory blocks, the read-ahead of the files tessel opens), so that
  // a reader that only looks at the bytes need not copy them.
  StreamViewFn view;
  // The call's own records, optional: where the first refusal of the data
  // is told (each thread's stream has its own), and the limits that apply
  // (the defaults when none). A fork takes the limits, not the reason.
  Reason* reason;
  const Limits* limits;
  // How the XCF data is laid out once its header is read (stream/xcf_rules.h:
  // its version, the width of its pointers, its precision); null before
  // (XcfFormatOf reads version 0's then). A fork takes it too.
  const XcfFormat* format;
};

ResultCode StreamCreate(StreamReadFn read, StreamSeekFn seek, void* handle, StreamCloseFn close,
                        ByteStream** out);
ResultCode StreamDestroy(ByteStream** holder);

// Bytes read; 0 without calling anything for a missing stream, buffer or count.
uint32_t StreamRead(ByteStream* stream, uint32_t count, void* buffer);
ResultCode StreamSeek(ByteStream* stream, uint32_t position);
// Whether count more bytes can still be read: false only when the stream
// knows that it holds fewer, so that reading them would fall short.
bool StreamHolds(const ByteStream* stream, uint64_t count);
// Bytes lent by the stream's view, or copied into `buffer` (of at least
// count bytes) by its read when it has none; *bytes is where they are.
uint32_t StreamReadOrView(ByteStream* stream, uint32_t count, uint8_t* buffer, const uint8_t** bytes);
// Refuses the data: tells why in the stream's reason record (the first
// refusal only) and returns the code.
ResultCode StreamRefuse(const ByteStream* stream, ResultCode code, const char* format, ...) TESSEL_PRINTF(3, 4);
// A fault of the reader itself, not of the data: two of its parts disagree,
// or a count that cannot happen did. Said as "internal fault: ..." and
// answered InvalidArgument (the host's "any other failure"); a debug build
// stops here, so that a test meets it where it happens.
ResultCode StreamFault(const ByteStream* stream, const char* format, ...) TESSEL_PRINTF(2, 3);
// A reason record of its own for the stream while one step runs on it, so
// that a step whose failure may not be the call's answer (one of several
// layers checked at once) keeps its reason apart; the stream's own record
// comes back when the step ends.
class ReasonAside {
 public:
  explicit ReasonAside(ByteStream* stream) : stream_(stream), saved_(stream->reason) { stream->reason = &reason_; }
  ~ReasonAside() { stream_->reason = saved_; }
  ReasonAside(const ReasonAside&) = delete;
  ReasonAside& operator=(const ReasonAside&) = delete;
  const Reason& Why() const { return reason_; }
  Reason* Record() { return &reason_; }

 private:
  ByteStream* stream_;
  Reason* saved_;
  Reason reason_{};
};

// The limits that apply to the stream's data.
const Limits& StreamLimits(const ByteStream* stream);
// A fork of the stream for another thread; Unsupported when it has none.
ResultCode StreamFork(ByteStream* stream, ByteStream** out);
// One big-endian u32: 1 on success, 0 on failure (out unchanged).
int StreamReadU32(ByteStream* stream, uint32_t* out);

inline uint32_t LoadU32BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void StoreU32BE(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

}  // namespace tessel
