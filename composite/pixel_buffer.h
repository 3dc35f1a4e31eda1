// A rectangular pixel store for the canvas and for group buffers.
#pragma once

#include <cstdint>

#include "plugin/result.h"

namespace tessel {

constexpr uint32_t kPixelBufferOwnsMemory = 0x1;

// Row y (0 = top) starts at pixels + y * stride for stride >= 0, and at
// pixels + |stride| * (height - 1 - y) for stride < 0: bottom-up rows.
struct PixelBuffer {
  uint32_t flags;
  uint32_t width;
  uint32_t height;
  uint32_t bytesPerPixel;
  int32_t stride;
  uint8_t* pixels;  // the lowest address of the rows; null = empty
};

ResultCode PixelBufferNew(PixelBuffer** out);
// Frees owned pixel memory and the record, and clears the holder.
void PixelBufferRelease(PixelBuffer** holder);

// Allocates width * bytesPerPixel * height bytes (not cleared), top-down.
ResultCode PixelBufferCreate(PixelBuffer* buffer, uint32_t bytesPerPixel, uint32_t width, uint32_t height);
// Records memory the buffer does not own.
ResultCode PixelBufferWrap(PixelBuffer* buffer, uint32_t width, uint32_t bytesPerPixel, uint32_t height,
                           int32_t stride, uint8_t* memory);
// Every byte of every row, padding included, becomes 0.
ResultCode PixelBufferClear(PixelBuffer* buffer);
ResultCode PixelBufferGetSize(const PixelBuffer* buffer, uint32_t* width, uint32_t* height,
                              uint32_t* bytesPerPixel);
uint8_t* PixelBufferRow(const PixelBuffer* buffer, uint32_t y);
// Exchanges the first and third byte of every pixel of 3 or more bytes
// (red and blue); does nothing to other buffers.
void PixelBufferExchangeOuterBytes(PixelBuffer* buffer);

}  // namespace tessel
