#include "stream/decompress.h"

#include <cstdlib>

#include "stream/detect.h"

namespace tessel {

namespace {

constexpr uint32_t kPropColormap = 1;

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
  uint8_t head[kContainerSignatureSize];
  if (source->read == nullptr || StreamRead(source, sizeof head, head) < sizeof head) return ResultCode::ReadError;
  const ContainerKind kind = DetectContainer(head);
  if (kind == ContainerKind::Unknown) return ResultCode::NotRecognised;
  d->scratch = static_cast<uint8_t*>(std::malloc(kDecompressChunk));
  if (d->scratch == nullptr) return ResultCode::OutOfMemory;
  StreamSeek(source, 0);
  ResultCode result = ContainerReaderOpen(kind, source, &d->reader);
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
  int32_t version = XcfParseSignature(signature);
  if (version == -1) return ResultCode::NotRecognised;
  if (version == -2) return ResultCode::UnsupportedVersion;
  result = WriteAll(sink, signature, sizeof signature);
  if (result != ResultCode::Ok) return result;

  uint8_t header[12];  // width, height, base type
  result = ContainerReaderReadExact(d.reader, header, sizeof header);
  if (result != ResultCode::Ok) return result;
  if (LoadU32BE(header) == 0 || LoadU32BE(header + 4) == 0) return ResultCode::CorruptData;
  if (LoadU32BE(header + 8) > 2) return ResultCode::UnsupportedVersion;
  result = WriteAll(sink, header, sizeof header);
  if (result == ResultCode::Ok) result = CopyPropertyList(d.reader, sink, d.scratch);
  if (result == ResultCode::Ok) result = CopyOffsetList(d.reader, sink);
  if (result == ResultCode::Ok) result = CopyOffsetList(d.reader, sink);
  return result;
}

ResultCode CopyPropertyList(ContainerReader* reader, ByteSink* sink, uint8_t* scratch) {
  if (reader == nullptr || sink == nullptr || scratch == nullptr) return ResultCode::InvalidArgument;
  for (;;) {
    uint8_t record[8];
    ResultCode result = CopyExact(reader, sink, record, sizeof record);
    if (result != ResultCode::Ok) return result;
    uint32_t id = LoadU32BE(record);
    uint64_t length = LoadU32BE(record + 4);
    if (id == 0) return ResultCode::Ok;
    if (id == kPropColormap) {
      // The same repair as the property reader: a length that counts each
      // colour as one byte stands for 3n + 4 bytes.
      if (length < 4) return ResultCode::CorruptData;
      uint8_t countBytes[4];
      result = ContainerReaderReadExact(reader, countBytes, 4);
      if (result != ResultCode::Ok) return result;
      uint64_t n = LoadU32BE(countBytes);
      if (length == n + 4) {
        length = 3 * n + 4;
      } else if (3 * n + 4 > length) {
        return ResultCode::CorruptData;
      }
      result = WriteAll(sink, countBytes, 4);
      if (result != ResultCode::Ok) return result;
      length -= 4;
    }
    while (length > 0) {
      uint32_t piece = length < kDecompressChunk ? static_cast<uint32_t>(length) : kDecompressChunk;
      result = CopyExact(reader, sink, scratch, piece);
      if (result != ResultCode::Ok) return result;
      length -= piece;
    }
  }
}

ResultCode CopyOffsetList(ContainerReader* reader, ByteSink* sink) {
  if (reader == nullptr || sink == nullptr) return ResultCode::InvalidArgument;
  for (;;) {
    uint8_t offset[4];
    ResultCode result = CopyExact(reader, sink, offset, sizeof offset);
    if (result != ResultCode::Ok) return result;
    if (LoadU32BE(offset) == 0) return ResultCode::Ok;
  }
}

}  // namespace tessel
