#include "stream/decompress.h"

#include <cstdlib>

#include "stream/detect.h"
#include "stream/xcf_rules.h"

namespace tessel {

namespace {

// The piece of compressed data read, and of decompressed data written, at a time.
constexpr uint32_t kDecompressChunk = 65536;

constexpr uint32_t kPropColormap = 1;
constexpr uint32_t kHeaderFieldsSize = 12;  // width, height, base type

ResultCode WriteAll(ByteSink* sink, const void* bytes, uint32_t count) {
  return SinkWrite(sink, bytes, count) == count ? ResultCode::Ok : ResultCode::WriteError;
}

// Reads exactly n bytes (a short count is a ReadError) and passes them on.
ResultCode CopyExact(ContainerReader* reader, ByteSink* sink, uint8_t* buffer, uint32_t n) {
  ResultCode result = ContainerReaderReadExact(reader, buffer, n);
  return result != ResultCode::Ok ? result : WriteAll(sink, buffer, n);
}

// The scratch buffer and the reader, released on every path.
struct Decompression {
  uint8_t* scratch = nullptr;
  ContainerReader* reader = nullptr;
  ~Decompression() {
    ContainerReaderClose(&reader);
    std::free(scratch);
  }
};

// Recognises the container by its first bytes, then opens and checks its
// reader from the first byte on, with a scratch buffer of one chunk.
ResultCode OpenDecompression(ByteStream* source, ByteSink* sink, Decompression* d) {
  if (source == nullptr || sink == nullptr) return ResultCode::InvalidArgument;
  ContainerKind kind = ContainerKind::Unknown;
  ResultCode result = ReadContainerKind(source, &kind);
  if (result != ResultCode::Ok) return result;
  d->scratch = static_cast<uint8_t*>(std::malloc(kDecompressChunk));
  if (d->scratch == nullptr) return StreamRefuse(source, ResultCode::OutOfMemory, "no memory for a decompression buffer");
  result = ContainerReaderOpen(kind, source, &d->reader);
  return result != ResultCode::Ok ? result : ContainerReaderCheckHeader(d->reader);
}

}  // namespace

ResultCode DecompressAll(ByteStream* source, ByteSink* sink) {
  Decompression d;
  ResultCode result = OpenDecompression(source, sink, &d);
  if (result != ResultCode::Ok) return result;
  uint32_t count;
  do {
    count = kDecompressChunk;
    result = ContainerReaderRead(d.reader, d.scratch, &count);
    if (result != ResultCode::Ok) return result;
    if (count > 0 && SinkWrite(sink, d.scratch, count) != count) return ResultCode::WriteError;
  } while (count == kDecompressChunk);
  return ResultCode::Ok;
}

ResultCode DecompressHeaderPrefix(ByteStream* source, ByteSink* sink) {
  Decompression d;
  ResultCode result = OpenDecompression(source, sink, &d);
  if (result != ResultCode::Ok) return result;

  uint8_t signature[kXcfSignatureSize];
  result = ContainerReaderReadExact(d.reader, signature, sizeof signature);
  if (result != ResultCode::Ok) return result;
  const int32_t version = XcfParseSignature(signature, StreamLimits(source).newestVersion);
  result = XcfCheckSignature(source, signature, version);
  if (result != ResultCode::Ok) return result;
  result = WriteAll(sink, signature, sizeof signature);
  if (result != ResultCode::Ok) return result;

  uint8_t header[kHeaderFieldsSize];
  result = ContainerReaderReadExact(d.reader, header, sizeof header);
  if (result == ResultCode::Ok)
    result = XcfCheckCanvas(source, LoadU32BE(header), LoadU32BE(header + 4), LoadU32BE(header + 8));
  if (result == ResultCode::Ok) result = WriteAll(sink, header, sizeof header);
  if (result == ResultCode::Ok && XcfHasPrecision(version)) {
    uint8_t precision[4];
    result = CopyExact(d.reader, sink, precision, sizeof precision);
  }
  const uint32_t pointerBytes = XcfPointerBytes(version);
  if (result == ResultCode::Ok) result = CopyPropertyList(d.reader, sink, d.scratch);
  if (result == ResultCode::Ok) result = CopyOffsetList(d.reader, sink, pointerBytes);
  if (result == ResultCode::Ok) result = CopyOffsetList(d.reader, sink, pointerBytes);
  if (result == ResultCode::Ok && XcfHasPathList(version)) result = CopyOffsetList(d.reader, sink, pointerBytes);
  return result;
}

ResultCode CopyPropertyList(ContainerReader* reader, ByteSink* sink, uint8_t* scratch) {
  if (reader == nullptr || sink == nullptr || scratch == nullptr) return ResultCode::InvalidArgument;
  for (;;) {
    uint8_t record[8];
    ResultCode result = CopyExact(reader, sink, record, sizeof record);
    if (result != ResultCode::Ok) return result;
    uint32_t id = LoadU32BE(record);
    uint32_t length = LoadU32BE(record + 4);
    if (id == 0) return ResultCode::Ok;
    if (id == kPropColormap) {
      // The copy keeps the file's own bytes, the stored length among them;
      // the reader of the copy repairs it again by the same rule.
      uint8_t countBytes[kColormapCountBytes];
      uint32_t n = 0;
      uint32_t repaired = 0;
      result = XcfColormapLength(
          reader->source, length,
          [&](uint32_t* count) {
            ResultCode read = ContainerReaderReadExact(reader, countBytes, sizeof countBytes);
            if (read == ResultCode::Ok) *count = LoadU32BE(countBytes);
            return read;
          },
          &n, &repaired);
      if (result == ResultCode::Ok) result = WriteAll(sink, countBytes, sizeof countBytes);
      if (result != ResultCode::Ok) return result;
      length = repaired - kColormapCountBytes;
    }
    while (length > 0) {
      uint32_t piece = length < kDecompressChunk ? length : kDecompressChunk;
      result = CopyExact(reader, sink, scratch, piece);
      if (result != ResultCode::Ok) return result;
      length -= piece;
    }
  }
}

ResultCode CopyOffsetList(ContainerReader* reader, ByteSink* sink, uint32_t pointerBytes) {
  if (reader == nullptr || sink == nullptr || (pointerBytes != 4 && pointerBytes != 8))
    return ResultCode::InvalidArgument;
  for (;;) {
    uint8_t offset[8];
    ResultCode result = CopyExact(reader, sink, offset, pointerBytes);
    if (result != ResultCode::Ok) return result;
    if (LoadU32BE(offset) == 0 && LoadU32BE(offset + pointerBytes - 4) == 0) return ResultCode::Ok;
  }
}

}  // namespace tessel
