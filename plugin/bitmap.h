// The host's device-independent bitmap: a BITMAPINFO handle and a pixel
// handle into which the layers are flattened directly.
#pragma once

#include "composite/pixel_buffer.h"
#include "platform/kernel32.h"
#include "plugin/exports.h"
#include "xcf/image.h"

namespace tessel {

constexpr uint32_t kBitmapInfoHeaderSize = 40;
constexpr uint32_t kColourTableSize = 256 * 4;

// Writes both handles only on success; they are unlocked and the host's.
ResultCode BuildBitmap(XcfImage* image, HLOCAL* infoHandle, HLOCAL* bitsHandle, ProgressCallback callback,
                       intptr_t userData);

// Exchanges the first and third byte of every pixel of 3 or more bytes.
ResultCode SwapRedBlue(PixelBuffer* buffer);

// Bytes per bitmap row: bitCount * width bits padded to a multiple of 4 bytes.
uint32_t BitmapRowSize(uint32_t bitCount, uint32_t width);

}  // namespace tessel
