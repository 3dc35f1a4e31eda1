#include "composite/pixel_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/simd.h"

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

#if TESSEL_SSE2
// Lane j of vector k of a block is 0xFF where (16 k + j) % 3 is r.
struct SwapLanes {
  alignas(16) uint8_t mask[3][3][16];
  constexpr SwapLanes() : mask() {
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 16; ++j) mask[r][k][j] = (16 * k + j) % 3 == r ? 0xFF : 0;
  }
};
constexpr SwapLanes kSwapLanes;
#endif

// The swap of 3-byte pixels, sixteen (48 bytes) at a time: in each lane
// j of the block, byte j + 2 where j is a pixel's first byte, byte j - 2
// where it is its last, byte j itself in the middle. Returns the pixels done.
uint32_t SwapOuterBytes16(uint8_t* row, uint32_t width) {
#if TESSEL_SSE2
  const auto& lanes = kSwapLanes.mask;
  __m128i first[3], middle[3], last[3];
  for (int k = 0; k < 3; ++k) {
    first[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes[0][k]));
    middle[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes[1][k]));
    last[k] = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes[2][k]));
  }
  uint32_t x = 0;
  for (; x + 16 <= width; x += 16, row += 48) {
    __m128i v[3];
    for (int k = 0; k < 3; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * k));
    for (int k = 0; k < 3; ++k) {
      // Each lane j takes byte j + 2 and byte j - 2 of the block.
      __m128i ahead = _mm_srli_si128(v[k], 2);
      if (k < 2) ahead = _mm_or_si128(ahead, _mm_slli_si128(v[k + 1], 14));
      __m128i behind = _mm_slli_si128(v[k], 2);
      if (k > 0) behind = _mm_or_si128(behind, _mm_srli_si128(v[k - 1], 14));
      const __m128i out = _mm_or_si128(_mm_or_si128(_mm_and_si128(ahead, first[k]), _mm_and_si128(behind, last[k])),
                                       _mm_and_si128(v[k], middle[k]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 16 * k), out);
    }
  }
  return x;
#else
  (void)row;
  (void)width;
  return 0;
#endif
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

void PixelBufferExchangeOuterBytes(PixelBuffer* buffer) {
  if (buffer == nullptr || buffer->pixels == nullptr || buffer->bytesPerPixel < 3) return;
  const size_t stride = StrideBytes(buffer);
  const uint32_t bpp = buffer->bytesPerPixel;
  for (uint32_t y = 0; y < buffer->height; ++y) {
    uint8_t* p = buffer->pixels + y * stride;
    uint32_t x = bpp == 3 ? SwapOuterBytes16(p, buffer->width) : 0;
    for (p += static_cast<size_t>(x) * bpp; x < buffer->width; ++x, p += bpp) {
      uint8_t first = p[0];
      p[0] = p[2];
      p[2] = first;
    }
  }
}

}  // namespace tessel
