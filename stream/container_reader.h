// Delivers XCF bytes from a source holding plain, gzip or bzip2 data. gzip
// is inflated with zlib, bzip2 with libbzip2; only the first gzip member or
// bzip2 stream is read.
#pragma once

#include <bzlib.h>
#include <zlib.h>

#include <cstdint>

#include "stream/byte_stream.h"

namespace tessel {

enum class ContainerKind : int32_t { Unknown = -1, Plain = 0, Gzip = 1, Bzip2 = 2 };

// Decoder flags.
constexpr uint32_t kDecoderHeaderChecked = 0x1;
constexpr uint32_t kDecoderInitialised = 0x2;
constexpr uint32_t kDecoderStreamEnded = 0x4;

constexpr uint32_t kDecoderInputSize = 65536;

struct GzipDecoder {
  ByteStream* source;  // not owned
  z_stream z;
  uint8_t* input;      // owned; null until the first read
  uint32_t inputSize;
  uint32_t flags;
};

struct Bzip2Decoder {
  ByteStream* source;  // not owned
  bz_stream bz;
  uint8_t* input;
  uint32_t inputSize;
  uint32_t flags;
};

struct ContainerReader {
  ByteStream* source;  // not owned
  ContainerKind kind;
  void* decoder;       // GzipDecoder or Bzip2Decoder, owned; none for plain data
};

ResultCode ContainerReaderOpen(ContainerKind kind, ByteStream* source, ContainerReader** out);
ResultCode ContainerReaderClose(ContainerReader** holder);
ResultCode ContainerReaderCheckHeader(ContainerReader* reader);
// count: bytes wanted on entry, bytes delivered on return.
ResultCode ContainerReaderRead(ContainerReader* reader, void* buffer, uint32_t* count);
ResultCode ContainerReaderReadExact(ContainerReader* reader, void* buffer, uint32_t n);

ResultCode MapZlibError(int status);
ResultCode MapBzip2Error(int status);

}  // namespace tessel
