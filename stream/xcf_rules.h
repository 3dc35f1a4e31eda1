// Rules of the XCF data that two readers apply: the copy of a compressed
// file's leading part for the header summary (decompress.cpp) and the
// document reader (xcf/). Each rule is written here once.
#pragma once

#include <cstdint>

#include "plugin/result.h"
#include "stream/byte_stream.h"

namespace tessel {

constexpr uint32_t kMaxColormapColours = 256;
constexpr uint32_t kColormapCountBytes = 4;

// The answer to a parsed signature (XcfParseSignature's -2 to 3 for the 14
// signature bytes): no "gimp xcf " is NotRecognised, a tag none of "file",
// "v001" to "v003" UnsupportedVersion.
inline ResultCode XcfCheckSignature(const ByteStream* stream, const uint8_t* bytes, int32_t version) {
  if (version == -1) return StreamRefuse(stream, ResultCode::NotRecognised, "no XCF signature (\"gimp xcf \")");
  if (version == -2) {
    char tag[5];
    for (int i = 0; i < 4; ++i) tag[i] = bytes[9 + i] >= 0x20 && bytes[9 + i] < 0x7F ? static_cast<char>(bytes[9 + i]) : '?';
    tag[4] = '\0';
    return StreamRefuse(stream, ResultCode::UnsupportedVersion,
                        "version tag \"%s\" (then byte 0x%02X) is none of file, v001, v002, v003", tag, bytes[13]);
  }
  return ResultCode::Ok;
}

// The canvas size and base type of the header, in this order: a zero side
// is damage (CorruptData), a side beyond the stream's limits TooLarge, a
// base type above 2 (indexed) UnsupportedVersion. The prefix copy tests the
// limits too, so that a file gets the same answer compressed or not.
inline ResultCode XcfCheckCanvas(const ByteStream* stream, uint32_t width, uint32_t height, uint32_t baseType) {
  const Limits& limits = StreamLimits(stream);
  if (width == 0 || height == 0)
    return StreamRefuse(stream, ResultCode::CorruptData, "canvas %u x %u has no pixels", width, height);
  if (width > limits.canvasWidth)
    return StreamRefuse(stream, ResultCode::TooLarge, "canvas %u x %u is wider than %u", width, height,
                        limits.canvasWidth);
  if (height > limits.canvasHeight)
    return StreamRefuse(stream, ResultCode::TooLarge, "canvas %u x %u is taller than %u", width, height,
                        limits.canvasHeight);
  if (baseType > 2)
    return StreamRefuse(stream, ResultCode::UnsupportedVersion,
                        "base type %u is none of RGB (0), grayscale (1) and indexed (2)", baseType);
  return ResultCode::Ok;
}

// The payload length of a colormap property (PROP_COLORMAP): a 4-byte
// colour count n, then n RGB triples. A stored length below 4 is damage,
// found before the count is read (readCount(&n) reads it, returning a
// ResultCode). More than 256 colours is damage. A stored length of n + 4
// counts each colour as one byte and is repaired to 3n + 4; any other
// length below 3n + 4 is damage, and a longer one stands (its extra bytes
// belong to the property).
// The reasons are told through `stream`.
template <typename ReadCount>
ResultCode XcfColormapLength(const ByteStream* stream, uint32_t storedLength, ReadCount readCount, uint32_t* colours,
                             uint32_t* payloadLength) {
  if (storedLength < kColormapCountBytes)
    return StreamRefuse(stream, ResultCode::CorruptData, "colormap of %u bytes, too short for its colour count",
                        storedLength);
  uint32_t n;
  ResultCode result = readCount(&n);
  if (result != ResultCode::Ok) return result;
  if (n > kMaxColormapColours)
    return StreamRefuse(stream, ResultCode::CorruptData, "colormap of %u colours, more than 256", n);
  const uint32_t needed = 3 * n + kColormapCountBytes;
  uint32_t length = storedLength;
  if (length == n + kColormapCountBytes) {
    length = needed;
  } else if (length < needed) {
    return StreamRefuse(stream, ResultCode::CorruptData, "colormap of %u colours in %u bytes, fewer than %u", n,
                        storedLength, needed);
  }
  *colours = n;
  *payloadLength = length;
  return ResultCode::Ok;
}

}  // namespace tessel
