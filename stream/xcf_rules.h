// Rules of the XCF data that two readers apply: the copy of a compressed
// file's leading part for the header summary (decompress.cpp) and the
// document reader (xcf/). Each rule is written here once.
#pragma once

#include <cstdint>

#include "plugin/result.h"

namespace tessel {

constexpr uint32_t kMaxImageWidth = 32767;
constexpr uint32_t kMaxImageHeight = 32766;  // one less than the width's limit
constexpr uint32_t kMaxColormapColours = 256;
constexpr uint32_t kColormapCountBytes = 4;

// The canvas size and base type of the header, in this order: a zero side
// is damage (CorruptData), a side beyond its limit TooLarge, a base type
// above 2 (indexed) UnsupportedVersion. The prefix copy tests the limits
// too, so that a file gets the same answer compressed or not.
inline ResultCode XcfCheckCanvas(uint32_t width, uint32_t height, uint32_t baseType) {
  if (width == 0 || height == 0) return ResultCode::CorruptData;
  if (width > kMaxImageWidth || height > kMaxImageHeight) return ResultCode::TooLarge;
  if (baseType > 2) return ResultCode::UnsupportedVersion;
  return ResultCode::Ok;
}

// The payload length of a colormap property (PROP_COLORMAP): a 4-byte
// colour count n, then n RGB triples. A stored length below 4 is damage,
// found before the count is read (readCount(&n) reads it, returning a
// ResultCode). More than 256 colours is damage. A stored length of n + 4
// counts each colour as one byte and is repaired to 3n + 4; any other
// length below 3n + 4 is damage, and a longer one stands (its extra bytes
// belong to the property).
template <typename ReadCount>
ResultCode XcfColormapLength(uint32_t storedLength, ReadCount readCount, uint32_t* colours, uint32_t* payloadLength) {
  if (storedLength < kColormapCountBytes) return ResultCode::CorruptData;
  uint32_t n;
  ResultCode result = readCount(&n);
  if (result != ResultCode::Ok) return result;
  if (n > kMaxColormapColours) return ResultCode::CorruptData;
  const uint32_t needed = 3 * n + kColormapCountBytes;
  uint32_t length = storedLength;
  if (length == n + kColormapCountBytes) {
    length = needed;
  } else if (length < needed) {
    return ResultCode::CorruptData;
  }
  *colours = n;
  *payloadLength = length;
  return ResultCode::Ok;
}

}  // namespace tessel
