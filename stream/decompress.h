// Turning a gzip or bzip2 container into XCF bytes in a sink: all of it for a
// picture, or only the leading part that the header summary needs.
#pragma once

#include "stream/byte_stream.h"
#include "stream/container_reader.h"
#include "stream/memory_sink.h"

namespace tessel {

ResultCode DecompressAll(ByteStream* source, ByteSink* sink);

// Writes exactly what the header reader consumes: signature, canvas size and
// base type, the image property list and the layer and channel offset lists.
ResultCode DecompressHeaderPrefix(ByteStream* source, ByteSink* sink);

// Used by DecompressHeaderPrefix; scratch holds 64 KiB.
ResultCode CopyPropertyList(ContainerReader* reader, ByteSink* sink, uint8_t* scratch);
ResultCode CopyOffsetList(ContainerReader* reader, ByteSink* sink, uint32_t pointerBytes = 4);

}  // namespace tessel
