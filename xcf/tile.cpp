#include "xcf/tile.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <zlib.h>

#include "stream/xcf_rules.h"
#include "xcf/rle.h"

namespace tessel {

// The window of a loop over many tiles: stored one after another, as they
// usually are, they are read in few large pieces rather than 256 bytes at a
// time.
constexpr uint32_t kTileLoopWindow = 64 * 1024;

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// One whole RLE tile of tw x th pixels into a tile buffer.
ResultCode XcfDecodeRleTile(uint32_t th, RleInput* input, uint32_t tw, uint32_t bpp, uint8_t* tile) {
  if (th == 0 || input == nullptr || tw == 0 || bpp == 0 || tile == nullptr) return ResultCode::InvalidArgument;
  return DecodeRleInto(th, input, tw, bpp, 0, th, tile, static_cast<int64_t>(tw) * bpp);
}

// Why a zlib tile could not be had, beyond what the stream says.
enum class InflateFault { None, EndsEarly, Damaged, TooLong, TooShort };

// One zlib tile of `bytes` pixel bytes, from at most `length` bytes of the
// window (the distance to the next tile's data, or GIMP's bound for the
// last). The stream must end exactly where the tile's pixels do.
ResultCode InflateTile(RleInput* window, uint32_t length, uint8_t* tile, uint32_t bytes, InflateFault* fault) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return ResultCode::OutOfMemory;
  z.next_out = tile;
  z.avail_out = bytes;
  uint32_t left = length;
  int status = Z_OK;
  *fault = InflateFault::None;
  while (status == Z_OK) {
    if (z.avail_in == 0) {
      if (left == 0 || !HaveInput(window)) {
        *fault = left == 0 ? InflateFault::Damaged : InflateFault::EndsEarly;
        break;
      }
      const uint32_t piece = left < window->fill - window->position ? left : window->fill - window->position;
      z.next_in = const_cast<Bytef*>(window->bytes + window->position);
      z.avail_in = piece;
      window->position += piece;
      left -= piece;
    }
    status = inflate(&z, Z_NO_FLUSH);
    // Room for the pixels only: more output than they need is damage.
    if (status == Z_BUF_ERROR && z.avail_out == 0) *fault = InflateFault::TooLong;
  }
  if (status == Z_STREAM_END && z.avail_out != 0) *fault = InflateFault::TooShort;
  if (status != Z_STREAM_END && status != Z_OK && *fault == InflateFault::None) *fault = InflateFault::Damaged;
  inflateEnd(&z);
  if (*fault == InflateFault::None) return ResultCode::Ok;
  return *fault == InflateFault::EndsEarly ? ResultCode::ReadError : ResultCode::CorruptData;
}

// Positions the window at a tile's first byte. A tile whose data the
// window holds already (the next one in the file, or the same tile again)
// is taken from it; any other starts with a seek, whose error is the
// tile's, and an empty window.
ResultCode StartTile(RleInput* window, uint32_t offset) {
  const uint64_t start = window->next - window->fill;
  if (window->fill > 0 && offset >= start && offset < window->next) {
    window->position = static_cast<uint32_t>(offset - start);
    return ResultCode::Ok;
  }
  window->position = 0;
  window->fill = 0;
  window->next = offset;
  return StreamSeek(window->stream, offset);
}

// Rows [ra, rb) of one tile, packed (tw * bpp bytes apart), through a
// window that serves every tile of a loop. Raw rows the window does not
// hold are read with one read, straight from the stream.
ResultCode ReadTileRows(RleInput* window, uint32_t offset, uint32_t length, uint8_t* tile, uint32_t compression,
                        uint32_t tw, uint32_t th, uint32_t bpp, uint32_t ra, uint32_t rb, InflateFault* fault) {
  ResultCode result = StartTile(window, offset);
  if (result != ResultCode::Ok) return result;
  if (compression == kCompressionZlib) {
    // The whole tile is had, then the rows wanted moved to its start.
    const size_t rowBytes = static_cast<size_t>(tw) * bpp;
    result = InflateTile(window, length, tile, static_cast<uint32_t>(rowBytes * th), fault);
    if (result == ResultCode::Ok && ra > 0) std::memmove(tile, tile + rowBytes * ra, rowBytes * (rb - ra));
    return result;
  }
  if (compression == kCompressionNone) {
    const uint64_t rowBytes = static_cast<uint64_t>(tw) * bpp;
    if (rowBytes * th > UINT32_MAX) return ResultCode::OutOfMemory;
    const auto skip = static_cast<uint32_t>(rowBytes * ra);
    const auto bytes = static_cast<uint32_t>(rowBytes * (rb - ra));
    if (window->fill - window->position >= skip + bytes) {
      std::memcpy(tile, window->bytes + window->position + skip, bytes);
      return ResultCode::Ok;
    }
    if (skip > 0) {
      const uint64_t at = static_cast<uint64_t>(offset) + skip;
      if (at > UINT32_MAX) return ResultCode::ReadError;
      result = StreamSeek(window->stream, static_cast<uint32_t>(at));
      if (result != ResultCode::Ok) return result;
    }
    // The stream has moved past what the window holds.
    window->fill = 0;
    return StreamRead(window->stream, bytes, tile) == bytes ? ResultCode::Ok : ResultCode::ReadError;
  }
  return DecodeRleInto(th, window, tw, bpp, ra, rb, tile, static_cast<int64_t>(tw) * bpp);
}

// Copies the part of decoded tile rows that lies inside the target's clip.
void CopyTileTo(const TileTarget& target, uint32_t bpp, uint32_t tileX, uint32_t tileY, uint32_t tw, uint32_t th,
                const uint8_t* tile) {
  const uint32_t x0 = tileX > target.x0 ? tileX : target.x0;
  const uint32_t x1 = tileX + tw < target.x1 ? tileX + tw : target.x1;
  const uint32_t y0 = tileY > target.y0 ? tileY : target.y0;
  const uint32_t y1 = tileY + th < target.y1 ? tileY + th : target.y1;
  if (x0 >= x1 || y0 >= y1) return;
  const size_t bytes = static_cast<size_t>(x1 - x0) * bpp;
  const uint8_t* from = tile + (static_cast<size_t>(y0 - tileY) * tw + (x0 - tileX)) * bpp;
  uint8_t* to = target.first + static_cast<int64_t>(y0 - target.y0) * target.stride +
                static_cast<int64_t>(x0 - target.x0) * bpp;
  for (uint32_t y = y0; y < y1; ++y, from += static_cast<size_t>(tw) * bpp, to += target.stride)
    std::memcpy(to, from, bytes);
}

// The checks every tile loop makes before its first tile: what the
// arguments, the compression and the offset list allow.
ResultCode CheckTileLoop(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                         uint32_t bpp, uint32_t compression) {
  if (stream == nullptr || offsets == nullptr || width == 0 || height == 0 || bpp == 0)
    return ResultCode::InvalidArgument;
  const bool zlibRead = XcfHasZlibTiles(XcfFormatOf(stream).version);
  if (compression != kCompressionNone && compression != kCompressionRle && !(zlibRead && compression == kCompressionZlib))
    return StreamRefuse(stream, ResultCode::InvalidArgument,
                        zlibRead ? "tile compression %u is none of none (0), RLE (1) and zlib (2)"
                                 : "tile compression %u is neither none (0) nor RLE (1) (zlib is not read)",
                        compression);
  if (stream->seek == nullptr) return ResultCode::InvalidArgument;
  const uint64_t tiles = static_cast<uint64_t>((width + kTileSize - 1) / kTileSize) * ((height + kTileSize - 1) / kTileSize);
  if (offsets->count < tiles)
    return StreamRefuse(stream, ResultCode::CorruptData, "%u tile offsets for %llu tiles", offsets->count,
                        static_cast<unsigned long long>(tiles));
  return ResultCode::Ok;
}

// Why tile `index` (from 0) of `tiles` could not be read.
ResultCode RefuseTile(const RleInput& window, ResultCode result, uint32_t compression, uint64_t index, uint64_t tiles,
                      uint32_t offset, InflateFault fault = InflateFault::None) {
  const auto n = static_cast<unsigned long long>(index + 1);
  const auto of = static_cast<unsigned long long>(tiles);
  switch (fault) {
    case InflateFault::None: break;
    case InflateFault::EndsEarly:
      return StreamRefuse(window.stream, result, "tile %llu of %llu: zlib data ends early", n, of);
    case InflateFault::Damaged:
      return StreamRefuse(window.stream, result, "tile %llu of %llu: zlib data is damaged", n, of);
    case InflateFault::TooLong:
      return StreamRefuse(window.stream, result, "tile %llu of %llu: zlib data holds more than the tile's pixels", n, of);
    case InflateFault::TooShort:
      return StreamRefuse(window.stream, result, "tile %llu of %llu: zlib data holds fewer than the tile's pixels", n, of);
  }
  switch (result) {
    case ResultCode::SeekError:
      return StreamRefuse(window.stream, result, "tile %llu of %llu: its offset %u lies past the end of the data", n, of,
                          offset);
    case ResultCode::ReadError:
      if (compression == kCompressionRle)
        return StreamRefuse(window.stream, result, "tile %llu of %llu: RLE data ends early at byte %llu", n, of,
                            static_cast<unsigned long long>(window.next));
      return StreamRefuse(window.stream, result, "tile %llu of %llu: its pixels end early", n, of);
    case ResultCode::OutOfMemory:
      return StreamRefuse(window.stream, result, "tile %llu of %llu: no memory for it", n, of);
    default: return StreamRefuse(window.stream, result, "tile %llu of %llu cannot be read", n, of);
  }
}

// The bytes a zlib tile may take, as GIMP bounds them: up to the next
// tile's data, and at most one and a half times a whole tile's pixels (the
// last tile takes that bound); a next tile before this one, or further than
// the bound, is damage.
ResultCode ZlibTileLength(const RleInput& window, const XcfOffsetList* offsets, uint64_t index, uint64_t tiles,
                          uint32_t bpp, uint32_t* length) {
  const uint64_t most = static_cast<uint64_t>(kTileSize) * kTileSize * bpp * 3 / 2;
  const uint32_t offset = offsets->offsets[index];
  const uint32_t next = index + 1 < offsets->count ? offsets->offsets[index + 1] : 0;
  if (next == 0) {
    *length = most > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(most);
    return ResultCode::Ok;
  }
  if (next < offset || next - offset > most)
    return StreamRefuse(window.stream, ResultCode::CorruptData,
                        "tile %llu of %llu: its zlib data would be %lld bytes, more than %llu or none",
                        static_cast<unsigned long long>(index + 1), static_cast<unsigned long long>(tiles),
                        static_cast<long long>(next) - offset, static_cast<unsigned long long>(most));
  *length = next - offset;
  return ResultCode::Ok;
}

// A loop's window needs a buffer of its own only over a stream that does
// not lend its bytes.
bool OpenLoopWindow(RleInput* window, std::unique_ptr<uint8_t, FreeDeleter>* buffer) {
  if (window->stream->view != nullptr) return true;
  buffer->reset(static_cast<uint8_t*>(std::malloc(window->capacity)));
  window->buffer = buffer->get();
  return window->buffer != nullptr;
}

// What reading one tile would answer; a zlib tile is inflated into
// `scratch` (a tile's bytes), there being no other way to know.
ResultCode CheckTile(RleInput* window, uint32_t offset, uint32_t length, uint32_t compression, uint32_t tw,
                     uint32_t th, uint32_t bpp, uint8_t* scratch, InflateFault* fault) {
  const uint64_t bytes = static_cast<uint64_t>(tw) * th * bpp;
  if (compression != kCompressionRle && bytes > UINT32_MAX) return ResultCode::OutOfMemory;
  ResultCode result = StartTile(window, offset);
  if (result != ResultCode::Ok) return result;
  if (compression == kCompressionZlib) return InflateTile(window, length, scratch, static_cast<uint32_t>(bytes), fault);
  if (compression == kCompressionNone)
    return SkipInput(window, static_cast<uint32_t>(bytes)) ? ResultCode::Ok : ResultCode::ReadError;
  for (uint32_t k = 0; k < bpp; ++k) {
    result = DecodeRlePlane(window, tw * th, 0, 0, nullptr, 0);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

}  // namespace

ResultCode XcfReadTile(ByteStream* stream, uint8_t* tile, uint32_t compression, uint32_t tw, uint32_t th,
                       uint32_t bpp) {
  if (compression == kCompressionNone) {
    const uint64_t size = static_cast<uint64_t>(tw) * th * bpp;
    if (size > UINT32_MAX) return ResultCode::OutOfMemory;
    const auto bytes = static_cast<uint32_t>(size);
    return StreamRead(stream, bytes, tile) == bytes ? ResultCode::Ok : ResultCode::ReadError;
  }
  RleInput input{stream, nullptr, nullptr, kRleInputSize, 0, 0, 0};
  ResultCode result = XcfDecodeRleTile(th, &input, tw, bpp, tile);
  std::free(input.buffer);
  return result;
}

void XcfCopyTile(uint32_t bpp, uint32_t th, uint32_t levelWidth, uint8_t* pixels, uint32_t tileX, uint32_t tileY,
                 uint32_t tw, const uint8_t* tile) {
  const TileTarget whole{pixels, static_cast<int64_t>(levelWidth) * bpp, 0, 0, levelWidth, tileY + th};
  CopyTileTo(whole, bpp, tileX, tileY, tw, th, tile);
}

ResultCode XcfDecodeTileRows(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                             uint32_t bpp, uint32_t compression, const TileTarget& target, uint32_t firstRow,
                             uint32_t endRow) {
  ResultCode result = CheckTileLoop(stream, offsets, width, height, bpp, compression);
  if (result != ResultCode::Ok) return result;
  if (target.first == nullptr) return ResultCode::InvalidArgument;
  const uint32_t columns = (width + kTileSize - 1) / kTileSize;
  const uint32_t rows = (height + kTileSize - 1) / kTileSize;
  if (endRow > rows) endRow = rows;

  uint64_t tileBytes = static_cast<uint64_t>(width < kTileSize ? width : kTileSize) *
                       (height < kTileSize ? height : kTileSize) * bpp;
  if (tileBytes > SIZE_MAX) return ResultCode::OutOfMemory;
  std::unique_ptr<uint8_t, FreeDeleter> tile(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(tileBytes))));
  if (!tile) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a tile");
  RleInput window{stream, nullptr, nullptr, kTileLoopWindow, 0, 0, 0};
  std::unique_ptr<uint8_t, FreeDeleter> windowBytes;
  if (!OpenLoopWindow(&window, &windowBytes)) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a tile");

  for (uint32_t r = firstRow; r < endRow; ++r) {
    const uint32_t tileY = r * kTileSize;
    const uint32_t th = height - tileY < kTileSize ? height - tileY : kTileSize;
    // The tile rows inside the target.
    const uint32_t ra = target.y0 > tileY ? target.y0 - tileY : 0;
    const uint32_t rb = target.y1 < tileY + th ? (target.y1 > tileY ? target.y1 - tileY : 0) : th;
    if (ra >= rb) continue;
    for (uint32_t c = 0; c < columns; ++c) {
      const uint32_t tileX = c * kTileSize;
      const uint32_t tw = width - tileX < kTileSize ? width - tileX : kTileSize;
      if (tileX + tw <= target.x0 || tileX >= target.x1) continue;
      const uint64_t index = static_cast<uint64_t>(r) * columns + c;
      const uint32_t offset = offsets->offsets[index];
      const bool inside = tileX >= target.x0 && tileX + tw <= target.x1;
      uint32_t length = 0;
      InflateFault fault = InflateFault::None;
      if (compression == kCompressionZlib) {
        result = ZlibTileLength(window, offsets, index, static_cast<uint64_t>(rows) * columns, bpp, &length);
        if (result != ResultCode::Ok) return result;
      }
      if (inside && compression == kCompressionRle && bpp <= 4) {
        // Interleaved straight into place.
        result = StartTile(&window, offset);
        if (result != ResultCode::Ok)
          return RefuseTile(window, result, compression, static_cast<uint64_t>(r) * columns + c,
                            static_cast<uint64_t>(rows) * columns, offset);
        uint8_t* first = target.first + static_cast<int64_t>(tileY + ra - target.y0) * target.stride +
                         static_cast<int64_t>(tileX - target.x0) * bpp;
        result = DecodeRleInto(th, &window, tw, bpp, ra, rb, first, target.stride);
      } else {
        result = ReadTileRows(&window, offset, length, tile.get(), compression, tw, th, bpp, ra, rb, &fault);
        if (result == ResultCode::Ok) CopyTileTo(target, bpp, tileX, tileY + ra, tw, rb - ra, tile.get());
      }
      if (result != ResultCode::Ok)
        return RefuseTile(window, result, compression, index, static_cast<uint64_t>(rows) * columns, offset, fault);
    }
  }
  return ResultCode::Ok;
}

ResultCode XcfCheckTileRows(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                            uint32_t bpp, uint32_t compression, uint32_t firstRow, uint32_t endRow) {
  ResultCode result = CheckTileLoop(stream, offsets, width, height, bpp, compression);
  if (result != ResultCode::Ok) return result;
  const uint32_t columns = (width + kTileSize - 1) / kTileSize;
  const uint32_t rows = (height + kTileSize - 1) / kTileSize;
  if (endRow > rows) endRow = rows;
  RleInput window{stream, nullptr, nullptr, kTileLoopWindow, 0, 0, 0};
  std::unique_ptr<uint8_t, FreeDeleter> windowBytes;
  if (!OpenLoopWindow(&window, &windowBytes)) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a tile");
  std::unique_ptr<uint8_t, FreeDeleter> scratch;
  if (compression == kCompressionZlib) {
    scratch.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(kTileSize) * kTileSize * bpp)));
    if (!scratch) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a tile");
  }
  for (uint32_t r = firstRow; r < endRow; ++r) {
    const uint32_t th = height - r * kTileSize < kTileSize ? height - r * kTileSize : kTileSize;
    for (uint32_t c = 0; c < columns; ++c) {
      const uint32_t tw = width - c * kTileSize < kTileSize ? width - c * kTileSize : kTileSize;
      const uint64_t index = static_cast<uint64_t>(r) * columns + c;
      const uint32_t offset = offsets->offsets[index];
      uint32_t length = 0;
      InflateFault fault = InflateFault::None;
      if (compression == kCompressionZlib) {
        result = ZlibTileLength(window, offsets, index, static_cast<uint64_t>(rows) * columns, bpp, &length);
        if (result != ResultCode::Ok) return result;
      }
      result = CheckTile(&window, offset, length, compression, tw, th, bpp, scratch.get(), &fault);
      if (result != ResultCode::Ok)
        return RefuseTile(window, result, compression, index, static_cast<uint64_t>(rows) * columns, offset, fault);
    }
  }
  return ResultCode::Ok;
}

ResultCode XcfDecodeTiles(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                          uint32_t bpp, uint32_t compression, uint8_t* pixels) {
  const TileTarget whole{pixels, static_cast<int64_t>(width) * bpp, 0, 0, width, height};
  return XcfDecodeTileRows(stream, offsets, width, height, bpp, compression, whole, 0, UINT32_MAX);
}

}  // namespace tessel
