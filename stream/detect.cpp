#include "stream/detect.h"

#include <cstring>

#include "stream/container_reader.h"

namespace tessel {

namespace {
constexpr char kXcfMagic[] = "gimp xcf ";  // nine bytes, the last a blank
// Each tag with its NUL: the NUL takes part in the comparison.
constexpr char kVersionTags[4][5] = {{'f', 'i', 'l', 'e', 0}, {'v', '0', '0', '1', 0},
                                     {'v', '0', '0', '2', 0}, {'v', '0', '0', '3', 0}};
}  // namespace

ContainerKind DetectContainer(const uint8_t* bytes) {
  if (bytes == nullptr) return ContainerKind::Unknown;
  if (std::memcmp(bytes, kXcfMagic, 9) == 0) return ContainerKind::Plain;
  if (bytes[0] == 0x1F && bytes[1] == 0x8B) return ContainerKind::Gzip;
  if (bytes[0] == 'B' && bytes[1] == 'Z' && bytes[2] == 'h') return ContainerKind::Bzip2;
  if (std::memcmp(bytes, "\xFD" "7zXZ\0", 6) == 0) return ContainerKind::Xz;
  return ContainerKind::Unknown;
}

ResultCode ReadContainerKind(ByteStream* stream, ContainerKind* kind) {
  if (stream == nullptr || kind == nullptr) return ResultCode::InvalidArgument;
  uint8_t head[kContainerSignatureSize];
  if (stream->read == nullptr || StreamRead(stream, sizeof head, head) < sizeof head)
    return StreamRefuse(stream, ResultCode::ReadError, "fewer than the 9 bytes of a signature");
  // Whatever reads the container next starts from its first byte.
  StreamSeek(stream, 0);
  const ContainerKind detected = DetectContainer(head);
  const bool xz = StreamLimits(stream).readsXz && ContainerReadsXz();
  if (detected == ContainerKind::Unknown || (detected == ContainerKind::Xz && !xz))
    return StreamRefuse(stream, ResultCode::NotRecognised,
                        xz ? "no XCF, gzip, bzip2 or xz signature" : "no XCF, gzip or bzip2 signature");
  *kind = detected;
  return ResultCode::Ok;
}

int32_t XcfTagVersion(const uint8_t* bytes) {
  if (bytes == nullptr) return -1;
  for (int32_t version = 0; version < 4; ++version) {
    if (std::memcmp(bytes + 9, kVersionTags[version], 5) == 0) return version;
  }
  const uint8_t* tag = bytes + 9;
  auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  if (tag[0] != 'v' || !digit(tag[1]) || !digit(tag[2]) || !digit(tag[3]) || tag[4] != 0) return -1;
  const int32_t version = (tag[1] - '0') * 100 + (tag[2] - '0') * 10 + (tag[3] - '0');
  return version > 0 ? version : -1;
}

int32_t XcfParseSignature(const uint8_t* bytes, uint32_t newest) {
  if (bytes == nullptr || std::memcmp(bytes, kXcfMagic, 9) != 0) return -1;
  const int32_t version = XcfTagVersion(bytes);
  return version >= 0 && static_cast<uint32_t>(version) <= newest ? version : -2;
}

ResultCode ProbeXcf(ByteStream* stream, int32_t* version) {
  if (version != nullptr) *version = -1;
  if (stream == nullptr) return ResultCode::InvalidArgument;
  ContainerKind kind = ContainerKind::Unknown;
  ResultCode result = ReadContainerKind(stream, &kind);
  if (result != ResultCode::Ok) return result;

  ContainerReader* reader = nullptr;
  result = ContainerReaderOpen(kind, stream, &reader);
  if (result != ResultCode::Ok) return result;
  result = ContainerReaderCheckHeader(reader);
  uint8_t signature[kXcfSignatureSize];
  uint32_t count = sizeof signature;
  if (result == ResultCode::Ok) result = ContainerReaderRead(reader, signature, &count);
  if (result == ResultCode::Ok && count < sizeof signature) result = ResultCode::NotRecognised;
  if (result == ResultCode::Ok) {
    int32_t parsed = XcfParseSignature(signature, StreamLimits(stream).newestVersion);
    if (version != nullptr) {
      *version = parsed;
    } else if (parsed == -1) {
      result = ResultCode::NotRecognised;
    } else if (parsed == -2) {
      result = ResultCode::UnsupportedVersion;
    }
  }
  ContainerReaderClose(&reader);
  return result;
}

}  // namespace tessel
