// Zero-terminated lists of file offsets (layers, channels, tiles).
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"

namespace tessel {

struct XcfOffsetList {
  uint32_t* offsets;  // owned; null when empty
  uint32_t count;
};

// Reads offsets up to and including the terminating zero (not kept). Any
// earlier contents are freed first; on failure the list is left empty.
ResultCode XcfReadOffsetList(XcfOffsetList* list, ByteStream* stream);
void XcfOffsetListFree(XcfOffsetList* list);

}  // namespace tessel
