#include "xcf/tile.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessel {

constexpr uint32_t kRleInputSize = 256;

// The source of bytes for one RLE tile: a 256-byte window on the stream.
struct RleInput {
  ByteStream* stream;
  uint8_t* buffer;  // owned; allocated on the first refill
  uint32_t position;
  uint32_t fill;
};

namespace {

// Refills the input's window from the stream when it is empty; false when
// no byte can be had.
inline bool HaveInput(RleInput* in) {
  if (in->position < in->fill) return true;
  in->fill = StreamRead(in->stream, kRleInputSize, in->buffer);
  in->position = 0;
  return in->fill != 0;
}

// One byte from the input.
inline bool NextByte(RleInput* in, uint32_t* byte) {
  if (!HaveInput(in)) return false;
  *byte = in->buffer[in->position++];
  return true;
}

inline void FillStrided(uint8_t* dst, uint32_t stride, uint32_t n, uint8_t value) {
  if (stride == 1) {
    std::memset(dst, value, n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) dst[static_cast<size_t>(i) * stride] = value;
}

inline void CopyStrided(uint8_t* dst, uint32_t stride, const uint8_t* src, uint32_t n) {
  if (stride == 1) {
    std::memcpy(dst, src, n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) dst[static_cast<size_t>(i) * stride] = src[i];
}

// Decodes one channel plane of n bytes into dst, byte k of every stride.
//
// An RLE tile stores each channel as a plane of tw * th bytes, the planes
// one after the other, each a sequence of runs. A run starts with an
// opcode byte d:
//
//   d = 0 .. 126     repeat: the next byte, d + 1 times
//   d = 127          long repeat: a 16-bit big-endian count, then the byte
//   d = 128          long literal: a 16-bit big-endian count, then that many bytes
//   d = 129 .. 255   literal: the next 256 - d bytes as they are
//
// A run that claims more bytes than are left in its plane is cut at the
// plane's end. A repeat run still consumes its value byte; a literal run
// consumes only the bytes it writes, so that its surplus is read as the
// next opcode (the first of the next plane). Nothing is ever written past
// the plane, whatever the counts say. A count of 0 writes nothing.
ResultCode DecodeRlePlane(RleInput* input, uint8_t* dst, uint32_t stride, uint32_t n) {
  uint32_t remaining = n;
  while (remaining > 0) {
    uint32_t op;
    uint32_t count;
    if (!NextByte(input, &op)) return ResultCode::ReadError;
    if (op == 127 || op == 128) {
      uint32_t high;
      uint32_t low;
      if (!NextByte(input, &high) || !NextByte(input, &low)) return ResultCode::ReadError;
      count = (high << 8) | low;
    } else {
      count = op < 127 ? op + 1 : 256 - op;
    }
    // No run writes past its plane; a literal run consumes only what it writes.
    if (count > remaining) count = remaining;
    remaining -= count;
    if (op <= 127) {
      uint32_t value;
      if (!NextByte(input, &value)) return ResultCode::ReadError;
      FillStrided(dst, stride, count, static_cast<uint8_t>(value));
      dst += static_cast<size_t>(count) * stride;
      continue;
    }
    while (count > 0) {
      if (!HaveInput(input)) return ResultCode::ReadError;
      uint32_t available = input->fill - input->position;
      uint32_t piece = count < available ? count : available;
      CopyStrided(dst, stride, input->buffer + input->position, piece);
      dst += static_cast<size_t>(piece) * stride;
      input->position += piece;
      count -= piece;
    }
  }
  return ResultCode::Ok;
}

// Interleaves bpp planes of tw * th bytes into th rows of tw pixels, the
// rows `stride` bytes apart. Decoding planes whole and interleaving them once
// is much faster than writing every byte at a stride.
template <uint32_t Bpp>
void InterleaveRows(const uint8_t* planes, uint32_t tw, uint32_t th, uint8_t* out, int64_t stride) {
  const size_t n = static_cast<size_t>(tw) * th;
  for (uint32_t y = 0; y < th; ++y, out += stride) {
    const uint8_t* p = planes + static_cast<size_t>(y) * tw;
    uint32_t x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time: bytes of two planes paired, then the pairs.
    const __m128i zero = _mm_setzero_si128();
    for (; Bpp >= 2 && x + 16 <= tw; x += 16) {
      auto plane = [&](uint32_t c) {
        return c < Bpp ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + c * n + x)) : zero;
      };
      uint8_t* o = out + static_cast<size_t>(x) * Bpp;
      if (Bpp == 2) {
        const __m128i v = plane(0), a = plane(1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, a));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpackhi_epi8(v, a));
        continue;
      }
      const __m128i r = plane(0), g = plane(1), b = plane(2), a = plane(3);
      const __m128i rg[2] = {_mm_unpacklo_epi8(r, g), _mm_unpackhi_epi8(r, g)};
      const __m128i ba[2] = {_mm_unpacklo_epi8(b, a), _mm_unpackhi_epi8(b, a)};
      for (int h = 0; h < 4; ++h) {
        const __m128i pixels = h % 2 == 0 ? _mm_unpacklo_epi16(rg[h / 2], ba[h / 2]) : _mm_unpackhi_epi16(rg[h / 2], ba[h / 2]);
        if (Bpp == 4) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * h), pixels);
        } else {
          // Four RGB0 dwords into twelve bytes.
          alignas(16) uint8_t spread[16];
          _mm_store_si128(reinterpret_cast<__m128i*>(spread), pixels);
          for (int k = 0; k < 4; ++k) std::memcpy(o + 12 * h + 3 * k, spread + 4 * k, 3);
        }
      }
    }
#endif
    for (; x < tw; ++x)
      for (uint32_t c = 0; c < Bpp; ++c) out[static_cast<size_t>(x) * Bpp + c] = p[c * n + x];
  }
}

// One RLE tile into th rows of tw pixels, `stride` bytes apart.
ResultCode DecodeRleInto(uint32_t th, RleInput* input, uint32_t tw, uint32_t bpp, uint8_t* out, int64_t stride) {
  if (input->buffer == nullptr) {
    input->buffer = static_cast<uint8_t*>(std::malloc(kRleInputSize));
    if (input->buffer == nullptr) return ResultCode::OutOfMemory;
  }
  const uint32_t plane = tw * th;
  if (bpp > 4 || plane > kTileSize * kTileSize) {
    // Not a tile of a real layer or mask: the plain path, into rows packed.
    for (uint32_t k = 0; k < bpp; ++k) {
      ResultCode result = DecodeRlePlane(input, out + k, bpp, plane);
      if (result != ResultCode::Ok) return result;
    }
    return ResultCode::Ok;
  }
  uint8_t planes[4 * kTileSize * kTileSize];
  for (uint32_t k = 0; k < bpp; ++k) {
    ResultCode result = DecodeRlePlane(input, planes + k * plane, 1, plane);
    if (result != ResultCode::Ok) return result;
  }
  switch (bpp) {
    case 1: InterleaveRows<1>(planes, tw, th, out, stride); break;
    case 2: InterleaveRows<2>(planes, tw, th, out, stride); break;
    case 3: InterleaveRows<3>(planes, tw, th, out, stride); break;
    default: InterleaveRows<4>(planes, tw, th, out, stride); break;
  }
  return ResultCode::Ok;
}

}  // namespace

ResultCode XcfDecodeRleTile(uint32_t th, RleInput* input, uint32_t tw, uint32_t bpp, uint8_t* tile) {
  if (th == 0 || input == nullptr || tw == 0 || bpp == 0 || tile == nullptr) return ResultCode::InvalidArgument;
  return DecodeRleInto(th, input, tw, bpp, tile, static_cast<int64_t>(tw) * bpp);
}

namespace {

// One tile through a window that serves every tile of a decode: emptied
// before each tile, whose data starts after a seek, so that read-ahead past
// a tile's data does no harm.
ResultCode ReadTileThrough(RleInput* window, uint8_t* tile, uint32_t compression, uint32_t tw, uint32_t th,
                           uint32_t bpp) {
  if (compression == kCompressionNone) {
    uint64_t size = static_cast<uint64_t>(tw) * th * bpp;
    if (size > UINT32_MAX) return ResultCode::OutOfMemory;
    uint32_t bytes = static_cast<uint32_t>(size);
    return StreamRead(window->stream, bytes, tile) == bytes ? ResultCode::Ok : ResultCode::ReadError;
  }
  window->position = 0;
  window->fill = 0;
  return XcfDecodeRleTile(th, window, tw, bpp, tile);
}

// An RLE tile that lies wholly inside the target, decoded into it in place.
ResultCode ReadRleTileInto(RleInput* window, const TileTarget& target, uint32_t bpp, uint32_t tileX, uint32_t tileY,
                           uint32_t tw, uint32_t th) {
  window->position = 0;
  window->fill = 0;
  uint8_t* first = target.first + static_cast<int64_t>(tileY - target.y0) * target.stride +
                   static_cast<int64_t>(tileX - target.x0) * bpp;
  return DecodeRleInto(th, window, tw, bpp, first, target.stride);
}

// Copies the part of a decoded tile that lies inside the target's clip.
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

}  // namespace

ResultCode XcfReadTile(ByteStream* stream, uint8_t* tile, uint32_t compression, uint32_t tw, uint32_t th,
                       uint32_t bpp) {
  RleInput input{stream, nullptr, 0, 0};
  ResultCode result = ReadTileThrough(&input, tile, compression, tw, th, bpp);
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
  if (stream == nullptr || offsets == nullptr || width == 0 || height == 0 || bpp == 0 || target.first == nullptr)
    return ResultCode::InvalidArgument;
  if (compression != kCompressionNone && compression != kCompressionRle) return ResultCode::InvalidArgument;
  if (stream->seek == nullptr) return ResultCode::InvalidArgument;
  const uint32_t columns = (width + kTileSize - 1) / kTileSize;
  const uint32_t rows = (height + kTileSize - 1) / kTileSize;
  if (offsets->count < static_cast<uint64_t>(rows) * columns) return ResultCode::CorruptData;
  if (endRow > rows) endRow = rows;

  uint64_t tileBytes = static_cast<uint64_t>(width < kTileSize ? width : kTileSize) *
                       (height < kTileSize ? height : kTileSize) * bpp;
  if (tileBytes > SIZE_MAX) return ResultCode::OutOfMemory;
  auto* tile = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(tileBytes)));
  if (tile == nullptr) return ResultCode::OutOfMemory;
  RleInput window{stream, nullptr, 0, 0};

  ResultCode result = ResultCode::Ok;
  for (uint32_t r = firstRow; r < endRow && result == ResultCode::Ok; ++r) {
    uint32_t tileY = r * kTileSize;
    uint32_t th = height - tileY < kTileSize ? height - tileY : kTileSize;
    for (uint32_t c = 0; c < columns; ++c) {
      uint32_t tileX = c * kTileSize;
      uint32_t tw = width - tileX < kTileSize ? width - tileX : kTileSize;
      result = StreamSeek(stream, offsets->offsets[static_cast<size_t>(r) * columns + c]);
      if (result != ResultCode::Ok) break;
      const bool inside = tileX >= target.x0 && tileX + tw <= target.x1 && tileY >= target.y0 && tileY + th <= target.y1;
      if (inside && compression == kCompressionRle && bpp <= 4) {
        result = ReadRleTileInto(&window, target, bpp, tileX, tileY, tw, th);
        if (result != ResultCode::Ok) break;
        continue;
      }
      result = ReadTileThrough(&window, tile, compression, tw, th, bpp);
      if (result != ResultCode::Ok) break;
      CopyTileTo(target, bpp, tileX, tileY, tw, th, tile);
    }
  }
  std::free(window.buffer);
  std::free(tile);
  return result;
}

ResultCode XcfDecodeTiles(ByteStream* stream, const XcfOffsetList* offsets, uint32_t width, uint32_t height,
                          uint32_t bpp, uint32_t compression, uint8_t* pixels) {
  const TileTarget whole{pixels, static_cast<int64_t>(width) * bpp, 0, 0, width, height};
  return XcfDecodeTileRows(stream, offsets, width, height, bpp, compression, whole, 0, UINT32_MAX);
}

}  // namespace tessel
