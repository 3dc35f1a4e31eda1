// Delivers XCF bytes from a source holding plain, gzip, bzip2 or xz data.
// gzip is inflated with zlib, bzip2 with libbzip2, xz with liblzma (in
// native builds); only the first gzip member, bzip2 or xz stream is read.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"

namespace tessel {

enum class ContainerKind : int32_t { Unknown = -1, Plain = 0, Gzip = 1, Bzip2 = 2, Xz = 3 };

// Whether this build reads xz at all.
bool ContainerReadsXz();

struct ContainerReader {
  ByteStream* source;  // not owned
  ContainerKind kind;
  void* decoder;       // the library's state and an input buffer, owned; none for plain data
};

ResultCode ContainerReaderOpen(ContainerKind kind, ByteStream* source, ContainerReader** out);
ResultCode ContainerReaderClose(ContainerReader** holder);
ResultCode ContainerReaderCheckHeader(ContainerReader* reader);
// count: bytes wanted on entry, bytes delivered on return.
ResultCode ContainerReaderRead(ContainerReader* reader, void* buffer, uint32_t* count);
ResultCode ContainerReaderReadExact(ContainerReader* reader, void* buffer, uint32_t n);

}  // namespace tessel
