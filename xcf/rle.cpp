#include "xcf/rle.h"

#include <cstdlib>
#include <cstring>

#include "platform/simd.h"
#include "xcf/tile.h"

namespace tessel {

// Refills the input's window from the stream when it is empty; false when
// no byte can be had.
bool HaveInput(RleInput* in) {
  if (in->position < in->fill) return true;
  in->fill = StreamReadOrView(in->stream, in->capacity, in->buffer, &in->bytes);
  in->next += in->fill;
  in->position = 0;
  return in->fill != 0;
}

namespace {

inline bool NextByte(RleInput* in, uint32_t* byte) {
  if (!HaveInput(in)) return false;
  *byte = in->bytes[in->position++];
  return true;
}

// Consumes n bytes beyond the window: false when reading them would fall
// short. The stream is moved on instead of read, where it knows how much it
// holds.
bool SkipBeyondWindow(RleInput* in, uint32_t n) {
  n -= in->fill - in->position;
  in->position = in->fill;
  ByteStream* stream = in->stream;
  if (stream->remaining != nullptr && in->next + n <= UINT32_MAX) {
    if (!StreamHolds(stream, n) || StreamSeek(stream, static_cast<uint32_t>(in->next + n)) != ResultCode::Ok)
      return false;
    in->next += n;
    in->position = in->fill = 0;
    return true;
  }
  while (n > 0) {
    if (!HaveInput(in)) return false;
    const uint32_t piece = n < in->fill - in->position ? n : in->fill - in->position;
    in->position += piece;
    n -= piece;
  }
  return true;
}

}  // namespace

bool SkipInput(RleInput* in, uint32_t n) {
  if (n <= in->fill - in->position) {
    in->position += n;
    return true;
  }
  return SkipBeyondWindow(in, n);
}

namespace {

inline void FillStrided(uint8_t* dst, uint32_t stride, uint32_t n, uint8_t value) {
  if (stride == 1) {
    std::memset(dst, value, n);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) dst[static_cast<size_t>(i) * stride] = value;
}

// Copies n bytes of input to dst, one every stride bytes.
bool CopyInput(RleInput* in, uint8_t* dst, uint32_t stride, uint32_t n) {
  while (n > 0) {
    if (!HaveInput(in)) return false;
    const uint32_t piece = n < in->fill - in->position ? n : in->fill - in->position;
    const uint8_t* src = in->bytes + in->position;
    if (stride == 1) {
      std::memcpy(dst, src, piece);
    } else {
      for (uint32_t i = 0; i < piece; ++i) dst[static_cast<size_t>(i) * stride] = src[i];
    }
    dst += static_cast<size_t>(piece) * stride;
    in->position += piece;
    n -= piece;
  }
  return true;
}

// Follows the runs that cover the next n bytes of a plane without writing
// them; false when the data ends first. Runs that lie whole in the window
// are followed where they lie, the rest one by one.
bool SkipRuns(RleInput* in, uint32_t n) {
  while (n > 0) {
    const uint8_t* p = in->bytes + in->position;
    const uint8_t* const end = in->bytes + in->fill;
    while (n > 0 && end - p >= 4) {
      const uint32_t op = p[0];
      uint32_t count;
      uint32_t size;  // the bytes of the run
      if (op < 127) {
        count = op + 1;
        size = 2;
      } else if (op > 128) {
        count = 256 - op;
        size = 1;
      } else {
        count = (static_cast<uint32_t>(p[1]) << 8) | p[2];
        size = op == 127 ? 4 : 3;
      }
      if (count > n) count = n;
      if (op >= 128) {
        size += count;
        if (size > static_cast<uint32_t>(end - p)) break;
      }
      p += size;
      n -= count;
    }
    in->position = static_cast<uint32_t>(p - in->bytes);
    if (n == 0) return true;
    // A run across the window's edge.
    uint32_t op;
    uint32_t count;
    if (!NextByte(in, &op)) return false;
    if (op == 127 || op == 128) {
      uint32_t high;
      uint32_t low;
      if (!NextByte(in, &high) || !NextByte(in, &low)) return false;
      count = (high << 8) | low;
    } else {
      count = op < 127 ? op + 1 : 256 - op;
    }
    if (count > n) count = n;
    uint32_t value;
    if (op <= 127 ? !NextByte(in, &value) : !SkipInput(in, count)) return false;
    n -= count;
  }
  return true;
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
#if TESSEL_SSE2
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

}  // namespace

// Decodes one channel plane of n bytes, of which the bytes [a, b) are
// written (byte i to dst[(i - a) * stride]) and the others only consumed:
// a band that needs some rows of a tile follows the runs of the rest, and
// a check writes nothing (a = b).
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
ResultCode DecodeRlePlane(RleInput* input, uint32_t n, uint32_t a, uint32_t b, uint8_t* dst, uint32_t stride) {
  uint32_t at = 0;
  while (at < n) {
    if (at >= b) return SkipRuns(input, n - at) ? ResultCode::Ok : ResultCode::ReadError;
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
    if (count > n - at) count = n - at;
    const uint32_t end = at + count;
    const uint32_t w0 = at > a ? at : a;  // the part of the run that is written
    const uint32_t w1 = end < b ? end : b;
    if (op <= 127) {
      uint32_t value;
      if (!NextByte(input, &value)) return ResultCode::ReadError;
      if (w0 < w1) FillStrided(dst + static_cast<size_t>(w0 - a) * stride, stride, w1 - w0, static_cast<uint8_t>(value));
    } else if (w0 < w1) {
      if (!SkipInput(input, w0 - at) || !CopyInput(input, dst + static_cast<size_t>(w0 - a) * stride, stride, w1 - w0) ||
          !SkipInput(input, end - w1))
        return ResultCode::ReadError;
    } else if (!SkipInput(input, count)) {
      return ResultCode::ReadError;
    }
    at = end;
  }
  return ResultCode::Ok;
}

// Rows [ra, rb) of one RLE tile into rb - ra rows of tw pixels, `stride`
// bytes apart.
ResultCode DecodeRleInto(uint32_t th, RleInput* input, uint32_t tw, uint32_t bpp, uint32_t ra, uint32_t rb, uint8_t* out,
                         int64_t stride) {
  if (input->buffer == nullptr && input->stream->view == nullptr) {
    input->buffer = static_cast<uint8_t*>(std::malloc(kRleInputSize));
    if (input->buffer == nullptr) return ResultCode::OutOfMemory;
  }
  const uint32_t plane = tw * th;
  const uint32_t a = ra * tw;
  const uint32_t b = rb * tw;
  if (bpp > 4 || plane > kTileSize * kTileSize) {
    // Not a tile of a real layer or mask: the plain path, into rows packed.
    for (uint32_t k = 0; k < bpp; ++k) {
      ResultCode result = DecodeRlePlane(input, plane, a, b, out + k, bpp);
      if (result != ResultCode::Ok) return result;
    }
    return ResultCode::Ok;
  }
  uint8_t planes[4 * kTileSize * kTileSize];
  for (uint32_t k = 0; k < bpp; ++k) {
    ResultCode result = DecodeRlePlane(input, plane, a, b, planes + k * (b - a), 1);
    if (result != ResultCode::Ok) return result;
  }
  switch (bpp) {
    case 1: InterleaveRows<1>(planes, tw, rb - ra, out, stride); break;
    case 2: InterleaveRows<2>(planes, tw, rb - ra, out, stride); break;
    case 3: InterleaveRows<3>(planes, tw, rb - ra, out, stride); break;
    default: InterleaveRows<4>(planes, tw, rb - ra, out, stride); break;
  }
  return ResultCode::Ok;
}

}  // namespace tessel
