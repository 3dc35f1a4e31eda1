// 64 x 64 tiles, stored uncompressed or run-length encoded: decoded into a
// level's pixel buffer, into the few rows a band of the picture needs, or
// only checked.
#pragma once

#include <cstdint>

#include "stream/byte_stream.h"
#include "xcf/offset_list.h"

namespace tessel {

constexpr uint32_t kTileSize = 64;

// zlib tiles come from XCF version 4 on (GIMP writes them from 8): each
// tile one zlib stream of its pixels, interleaved as uncompressed ones.
enum XcfCompression : uint32_t { kCompressionNone = 0, kCompressionRle = 1, kCompressionZlib = 2 };

// Where decoded tiles land: only the level's pixels inside [x0, x1) x
// [y0, y1) are written, pixel (x, y) at first + (y - y0) * stride +
// (x - x0) * bpp. The stride may be negative (bottom-up rows). Tiles
// outside it are not read at all, and of the others only the rows inside.
struct TileTarget {
  uint8_t* first;
  int64_t stride;
  uint32_t x0, y0, x1, y1;
};

// All tiles into a level buffer of width * height * bpp bytes.
ResultCode XcfDecodeTiles(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                          uint32_t bpp, uint32_t compression, uint8_t* pixels);
// The tile rows firstRow .. endRow - 1 into a target, so that threads can
// share a level and a band of the picture decodes only what it shows.
ResultCode XcfDecodeTileRows(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                             uint32_t bpp, uint32_t compression, const TileTarget& target, uint32_t firstRow,
                             uint32_t endRow);
// What decoding every tile of the tile rows firstRow .. endRow - 1 would
// answer, found without writing a pixel: the same checks, seeks and reads
// (RLE runs are followed, the bytes they copy skipped), the first failing
// tile's code in row-major order.
ResultCode XcfCheckTileRows(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                            uint32_t bpp, uint32_t compression, uint32_t firstRow, uint32_t endRow);
ResultCode XcfReadTile(ByteStream* stream, uint8_t* tile, uint32_t compression, uint32_t tw, uint32_t th,
                       uint32_t bpp);
void XcfCopyTile(uint32_t bpp, uint32_t th, uint32_t levelWidth, uint8_t* pixels, uint32_t tileX, uint32_t tileY,
                 uint32_t tw, const uint8_t* tile);

}  // namespace tessel
