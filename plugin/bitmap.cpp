#include "plugin/bitmap.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "composite/composite.h"
#include "plugin/progress.h"

namespace tessel {

namespace {

void StoreU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void StoreU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// One movable handle, unlocked and (unless handed over) freed on every path.
struct LocalHandle {
  HLOCAL handle = nullptr;
  uint8_t* locked = nullptr;

  ResultCode AllocateAndLock(SIZE_T bytes) {
    handle = LocalAlloc(LMEM_MOVEABLE, bytes);
    if (handle == nullptr) return ResultCode::OutOfMemory;
    locked = static_cast<uint8_t*>(LocalLock(handle));
    return locked == nullptr ? ResultCode::LockFailed : ResultCode::Ok;
  }
  void Unlock() {
    if (locked != nullptr) LocalUnlock(handle);
    locked = nullptr;
  }
  HLOCAL Release() {
    Unlock();
    HLOCAL h = handle;
    handle = nullptr;
    return h;
  }
  ~LocalHandle() {
    Unlock();
    if (handle != nullptr) LocalFree(handle);
  }
};

struct CanvasRecord {
  PixelBuffer* buffer = nullptr;
  ~CanvasRecord() { PixelBufferRelease(&buffer); }
};

void WriteInfoHeader(uint8_t* p, uint32_t width, uint32_t height, uint16_t bitCount) {
  std::memset(p, 0, kBitmapInfoHeaderSize);
  StoreU32LE(p + 0, kBitmapInfoHeaderSize);
  StoreU32LE(p + 4, width);
  StoreU32LE(p + 8, height);  // positive: rows are stored bottom-up
  StoreU16LE(p + 12, 1);
  StoreU16LE(p + 14, bitCount);
  // Compression, image size, densities and colour counts stay 0.
}

// 256 entries of blue, green, red, 0.
void WriteColourTable(uint8_t* table, const XcfImage* image) {
  if (image->baseType == kBaseGray) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint8_t* e = table + 4 * i;
      e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
      e[3] = 0;
    }
    return;
  }
  // Colours beyond the colormap's count (or all of them, without a valid
  // colormap) are black: the triples start cleared.
  uint8_t triples[256 * 3] = {};
  uint32_t count = 256;
  XcfGetColormap(image, &count, triples);
  for (uint32_t i = 0; i < 256; ++i) {
    uint8_t* e = table + 4 * i;
    e[0] = triples[3 * i + 2];
    e[1] = triples[3 * i + 1];
    e[2] = triples[3 * i];
    e[3] = 0;
  }
}

// The swap of 3-byte pixels, sixteen (48 bytes) at a time: in each lane
// j of the block, byte j + 2 where j is a pixel's first byte, byte j - 2
// where it is its last, byte j itself in the middle. Returns the pixels done.
#if defined(__SSE2__)
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

uint32_t SwapOuterBytes16(uint8_t* row, uint32_t width) {
#if defined(__SSE2__)
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

ResultCode SwapRedBlue(PixelBuffer* buffer) {
  if (buffer == nullptr) return ResultCode::InvalidArgument;
  if (buffer->pixels == nullptr || buffer->bytesPerPixel < 3) return ResultCode::NotReady;
  const size_t stride = buffer->stride < 0 ? 0u - static_cast<size_t>(static_cast<int64_t>(buffer->stride))
                                           : static_cast<size_t>(buffer->stride);
  const uint32_t bpp = buffer->bytesPerPixel;
  for (uint32_t y = 0; y < buffer->height; ++y) {
    uint8_t* p = buffer->pixels + y * stride;
    uint32_t x = bpp == 3 ? SwapOuterBytes16(p, buffer->width) : 0;
    for (p += static_cast<size_t>(x) * bpp; x < buffer->width; ++x, p += bpp) {
      uint8_t red = p[0];
      p[0] = p[2];
      p[2] = red;
    }
  }
  return ResultCode::Ok;
}

ResultCode BuildBitmap(XcfImage* image, HLOCAL* infoHandle, HLOCAL* bitsHandle, ProgressCallback callback,
                       intptr_t userData) {
  return BuildBitmapWith(image, infoHandle, bitsHandle, callback, userData, CompositeOptions{0});
}

ResultCode BuildBitmapWith(XcfImage* image, HLOCAL* infoHandle, HLOCAL* bitsHandle, ProgressCallback callback,
                           intptr_t userData, CompositeOptions options) {
  if (image == nullptr || infoHandle == nullptr || bitsHandle == nullptr) return ResultCode::InvalidArgument;
  ResultCode result = XcfLoad(image);
  if (result != ResultCode::Ok) return result;
  if ((image->flags & kImageHeaderValid) == 0) return ResultCode::NotReady;
  const uint32_t width = image->width;
  const uint32_t height = image->height;
  const bool rgb = image->baseType == kBaseRgb;
  const uint16_t bitCount = rgb ? 24 : 8;

  CanvasRecord canvas;
  result = PixelBufferNew(&canvas.buffer);
  if (result != ResultCode::Ok) return result;

  LocalHandle info;
  result = info.AllocateAndLock(rgb ? kBitmapInfoHeaderSize : kBitmapInfoHeaderSize + kColourTableSize);
  if (result != ResultCode::Ok) return result;
  WriteInfoHeader(info.locked, width, height, bitCount);
  if (!rgb) WriteColourTable(info.locked + kBitmapInfoHeaderSize, image);

  const uint32_t rowSize = BitmapRowSize(bitCount, width);
  const uint64_t bytes = static_cast<uint64_t>(rowSize) * height;
  if (bytes > SIZE_MAX) return ResultCode::OutOfMemory;
  LocalHandle bits;
  result = bits.AllocateAndLock(static_cast<SIZE_T>(bytes));
  if (result != ResultCode::Ok) return result;
  // Row 0 of the canvas, the top of the picture, is the last row in memory.
  result = PixelBufferWrap(canvas.buffer, width, rgb ? 3 : 1, height, -static_cast<int32_t>(rowSize), bits.locked);
  if (result != ResultCode::Ok) return result;

  HostProgress progress{{ReportProgress}, callback, userData};
  result = CompositeImageWith(image, canvas.buffer, callback != nullptr ? &progress.hook : nullptr, options);
  if (result != ResultCode::Ok) return result;
  SwapRedBlue(canvas.buffer);

  bits.Unlock();
  info.Unlock();
  *infoHandle = info.Release();
  *bitsHandle = bits.Release();
  return ResultCode::Ok;
}

}  // namespace tessel
