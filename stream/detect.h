// Recognising the input: container signatures, the XCF signature and version
// tag, and the quick check behind IsSupported.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"
#include "stream/container_reader.h"

namespace tessel {

constexpr uint32_t kContainerSignatureSize = 9;
constexpr uint32_t kXcfSignatureSize = 14;

// From the first 9 bytes: plain XCF, gzip, bzip2 or Unknown (also for null).
ContainerKind DetectContainer(const uint8_t* bytes);

// Reads a stream's first 9 bytes, rewinds it to position 0 and tells its
// container: ReadError for fewer than 9 bytes (or no read operation),
// NotRecognised for no known signature. The kind is written on success.
ResultCode ReadContainerKind(ByteStream* stream, ContainerKind* kind);

// From the first 14 bytes of XCF data: the version, 0 to `newest` (3, the
// plug-in's newest, by default), -1 when the signature is not "gimp xcf ", -2 for
// a version tag (the NUL included) that is none of "file" and "v001" to
// the newest.
int32_t XcfParseSignature(const uint8_t* bytes, uint32_t newest = 3);
// The version a tag names, whether read here or not ("file" 0, "vNNN" N
// from 1), or -1 for no version tag at all.
int32_t XcfTagVersion(const uint8_t* bytes);

// Reads the container signature and the first 14 bytes of XCF data through
// the container's reader. With a version pointer, stores the parse result
// (-2 .. 3) and succeeds whatever it is.
ResultCode ProbeXcf(ByteStream* stream, int32_t* version);

}  // namespace tessel
