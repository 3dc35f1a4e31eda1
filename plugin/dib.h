// The layout of the device-independent bitmap the host receives, shared by
// the plug-in that builds it and the hosts that read it.
#pragma once

#include <cstdint>

namespace tessel {

constexpr uint32_t kBitmapInfoHeaderSize = 40;
constexpr uint32_t kColourTableSize = 256 * 4;

// Bytes per bitmap row: bitCount * width bits padded to a multiple of 4 bytes.
constexpr uint32_t BitmapRowSize(uint32_t bitCount, uint32_t width) {
  return static_cast<uint32_t>(((static_cast<uint64_t>(bitCount) * width + 31) / 32) * 4);
}

}  // namespace tessel
