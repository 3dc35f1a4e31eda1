#include "composite/pixel_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tessel {

namespace {

void FreeOwned(PixelBuffer* buffer) {
  if ((buffer->flags & kPixelBufferOwnsMemory) != 0) std::free(buffer->pixels);
  buffer->pixels = nullptr;
  buffer->flags &= ~kPixelBufferOwnsMemory;
}

uint32_t StrideBytes(const PixelBuffer* buffer) {
  return buffer->stride < 0 ? 0u - static_cast<uint32_t>(buffer->stride) : static_cast<uint32_t>(buffer->stride);
}

}  // namespace

ResultCode PixelBufferNew(PixelBuffer** out) {
  if (out == nullptr) return ResultCode::InvalidArgument;
  auto* buffer = new (std::nothrow) PixelBuffer{};
  if (buffer == nullptr) return ResultCode::OutOfMemory;
  *out = buffer;
  return ResultCode::Ok;
}

void PixelBufferRelease(PixelBuffer** holder) {
  if (holder == nullptr || *holder == nullptr) return;
  FreeOwned(*holder);
  delete *holder;
  *holder = nullptr;
}

ResultCode PixelBufferCreate(PixelBuffer* buffer, uint32_t bytesPerPixel, uint32_t width, uint32_t height) {
  if (buffer == nullptr || bytesPerPixel == 0 || width == 0 || height == 0) return ResultCode::InvalidArgument;
  FreeOwned(buffer);
  uint64_t rowBytes = static_cast<uint64_t>(width) * bytesPerPixel;
  if (rowBytes > INT32_MAX) return ResultCode::OutOfMemory;
  uint64_t size = rowBytes * height;
  if (size > SIZE_MAX) return ResultCode::OutOfMemory;
  auto* pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
  if (pixels == nullptr) return ResultCode::OutOfMemory;
  *buffer = PixelBuffer{kPixelBufferOwnsMemory, width, height, bytesPerPixel, static_cast<int32_t>(rowBytes), pixels};
  return ResultCode::Ok;
}

ResultCode PixelBufferWrap(PixelBuffer* buffer, uint32_t width, uint32_t bytesPerPixel, uint32_t height,
                           int32_t stride, uint8_t* memory) {
  if (buffer == nullptr || width == 0 || bytesPerPixel == 0 || height == 0 || memory == nullptr)
    return ResultCode::InvalidArgument;
  uint64_t strideBytes = stride < 0 ? 0ull - static_cast<uint64_t>(static_cast<int64_t>(stride))
                                    : static_cast<uint64_t>(stride);
  if (strideBytes < static_cast<uint64_t>(width) * bytesPerPixel) return ResultCode::InvalidArgument;
  FreeOwned(buffer);
  *buffer = PixelBuffer{0, width, height, bytesPerPixel, stride, memory};
  return ResultCode::Ok;
}

ResultCode PixelBufferClear(PixelBuffer* buffer) {
  if (buffer == nullptr) return ResultCode::InvalidArgument;
  if (buffer->pixels == nullptr) return ResultCode::NotReady;
  std::memset(buffer->pixels, 0, static_cast<size_t>(StrideBytes(buffer)) * buffer->height);
  return ResultCode::Ok;
}

ResultCode PixelBufferGetSize(const PixelBuffer* buffer, uint32_t* width, uint32_t* height,
                              uint32_t* bytesPerPixel) {
  if (buffer == nullptr || width == nullptr || height == nullptr || bytesPerPixel == nullptr)
    return ResultCode::InvalidArgument;
  if (buffer->pixels == nullptr) return ResultCode::NotReady;
  *width = buffer->width;
  *height = buffer->height;
  *bytesPerPixel = buffer->bytesPerPixel;
  return ResultCode::Ok;
}

uint8_t* PixelBufferRow(const PixelBuffer* buffer, uint32_t y) {
  if (buffer == nullptr || buffer->pixels == nullptr || y >= buffer->height) return nullptr;
  size_t stride = StrideBytes(buffer);
  size_t row = buffer->stride < 0 ? static_cast<size_t>(buffer->height - 1 - y) : y;
  return buffer->pixels + row * stride;
}

}  // namespace tessel
