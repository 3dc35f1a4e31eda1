// Zero-terminated lists of file offsets (layers, channels, tiles).
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"

namespace tessel {

struct XcfOffsetList {
  uint32_t* offsets;  // owned; null when empty
  uint32_t count;
};

// One pointer of the data, its width by the stream's format: 4 bytes, or 8
// from XCF version 11 on. ReadError for a short read; TooLarge for a
// pointer past 4 GiB, which no position of the data read here reaches.
ResultCode XcfReadPointer(ByteStream* stream, uint32_t* out);

// Reads offsets up to and including the terminating zero (not kept). Any
// earlier contents are freed first; on failure the list is left empty.
ResultCode XcfReadOffsetList(XcfOffsetList* list, ByteStream* stream);
void XcfOffsetListFree(XcfOffsetList* list);

}  // namespace tessel
