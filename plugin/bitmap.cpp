#include "plugin/bitmap.h"

#include <cstring>

#include "composite/composite.h"
#include "plugin/entry.h"
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

const char* HandleFailure(ResultCode result) {
  return result == ResultCode::LockFailed ? "its memory could not be locked" : "no memory for it";
}

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

}  // namespace

ResultCode SwapRedBlue(PixelBuffer* buffer) {
  if (buffer == nullptr) return ResultCode::InvalidArgument;
  if (buffer->pixels == nullptr || buffer->bytesPerPixel < 3) return ResultCode::NotReady;
  PixelBufferExchangeOuterBytes(buffer);
  return ResultCode::Ok;
}

ResultCode BuildBitmap(XcfImage* image, HLOCAL* infoHandle, HLOCAL* bitsHandle, ProgressCallback callback,
                       intptr_t userData) {
  if (image == nullptr || infoHandle == nullptr || bitsHandle == nullptr) return ResultCode::InvalidArgument;
  ResultCode result = XcfLoad(image);
  if (result != ResultCode::Ok) return result;
  return BuildBitmapWith(image, infoHandle, bitsHandle, callback, userData,
                         CompositeOptions{ViewerRequest(image->format), 0, true, nullptr}, nullptr);
}

ResultCode BuildBitmapWith(XcfImage* image, HLOCAL* infoHandle, HLOCAL* bitsHandle, ProgressCallback callback,
                           intptr_t userData, CompositeOptions options, PictureSink* sink) {
  ResultCode result = ResultCode::Ok;
  const uint32_t width = image->width;
  const uint32_t height = image->height;
  const bool rgb = image->baseType == kBaseRgb;
  // A picture drawn over nothing keeps its alpha: 32 bits, the colour
  // table saying how it was made (none for RGB).
  const bool alpha = options.request.backdrop == Backdrop::Nothing;
  const uint16_t bitCount = alpha ? 32 : rgb ? 24 : 8;
  const uint32_t pixelBytes = bitCount / 8;
  const uint32_t infoSize = rgb ? kBitmapInfoHeaderSize : kBitmapInfoHeaderSize + kColourTableSize;

  const ByteStream* stream = image->stream;
  CanvasRecord canvas;
  result = PixelBufferNew(&canvas.buffer);
  if (result != ResultCode::Ok) return StreamRefuse(stream, result, "no memory for the canvas record");

  LocalHandle info;
  result = info.AllocateAndLock(infoSize);
  if (result != ResultCode::Ok) return StreamRefuse(stream, result, "the bitmap's header: %s", HandleFailure(result));
  WriteInfoHeader(info.locked, width, height, bitCount);
  if (!rgb) WriteColourTable(info.locked + kBitmapInfoHeaderSize, image);
  // A table beside pixels of more than 8 bits is there only when counted.
  if (alpha && !rgb) StoreU32LE(info.locked + 32, 256);

  const uint32_t rowSize = BitmapRowSize(bitCount, width);
  const uint64_t bytes = static_cast<uint64_t>(rowSize) * height;
  LocalHandle bits;
  result = bytes > SIZE_MAX ? ResultCode::OutOfMemory : bits.AllocateAndLock(static_cast<SIZE_T>(bytes));
  if (result != ResultCode::Ok)
    return StreamRefuse(stream, result, "the bitmap of %u x %u (%llu MB): %s", width, height,
                        static_cast<unsigned long long>(bytes >> 20), HandleFailure(result));
  // Row 0 of the canvas, the top of the picture, is the last row in memory.
  result = PixelBufferWrap(canvas.buffer, width, pixelBytes, height, -static_cast<int32_t>(rowSize), bits.locked);
  if (result != ResultCode::Ok) return result;

  HostProgress progress{{ReportProgress}, callback, userData};
  if (sink != nullptr) {
    if (sink->begin != nullptr)
      sink->begin(sink, info.locked, infoSize);
    options.rows = &sink->rows;
  }
  result = CompositeImageWith(image, canvas.buffer, callback != nullptr ? &progress.hook : nullptr, options);
  if (result != ResultCode::Ok) return result;

  bits.Unlock();
  info.Unlock();
  *infoHandle = info.Release();
  *bitsHandle = bits.Release();
  return ResultCode::Ok;
}

}  // namespace tessel
