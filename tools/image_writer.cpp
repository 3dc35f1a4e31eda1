#include "tools/image_writer.h"

#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "plugin/dib.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

}  // namespace

DibLayout LayoutOf(const Dib& dib) {
  DibLayout l{U32(dib.info + 4), U32(dib.info + 8), U16(dib.info + 14), 0};
  l.rowSize = tessel::BitmapRowSize(l.bitCount, l.width);
  return l;
}

bool GrayTable(const Dib& dib) {
  if (U16(dib.info + 14) != 8) return false;
  const uint8_t* table = dib.info + 40;
  for (int i = 0; i < 256; ++i)
    if (table[4 * i] != i || table[4 * i + 1] != i || table[4 * i + 2] != i) return false;
  return true;
}

OwnedDib NewDib(uint32_t width, uint32_t height, uint32_t bitCount) {
  const bool table = bitCount == 8;
  OwnedDib dib;
  dib.info.assign(tessel::kBitmapInfoHeaderSize + (table ? tessel::kColourTableSize : 0), 0);
  uint8_t* h = dib.info.data();
  const uint32_t rowSize = tessel::BitmapRowSize(bitCount, width);
  PutU32(h, tessel::kBitmapInfoHeaderSize);
  PutU32(h + 4, width);
  PutU32(h + 8, height);  // positive: bottom-up rows
  h[12] = 1;              // planes
  h[14] = static_cast<uint8_t>(bitCount);
  PutU32(h + 20, rowSize * height);
  if (table) {
    PutU32(h + 32, 256);
    for (uint32_t i = 0; i < 256; ++i) std::memset(h + 40 + 4 * i, static_cast<int>(i), 3);
  }
  dib.bits.assign(static_cast<size_t>(rowSize) * height, 0);
  return dib;
}

bool DibValid(const Dib& dib, std::string* error) {
  if (dib.info == nullptr || dib.infoSize < 40 || U32(dib.info) != 40) {
    *error = "the bitmap header is malformed";
    return false;
  }
  DibLayout l = LayoutOf(dib);
  size_t table = l.bitCount == 8 ? 1024 : 0;
  if ((l.bitCount != 8 && l.bitCount != 24) || dib.infoSize < 40 + table ||
      dib.bitsSize < l.rowSize * l.height) {
    *error = "the bitmap does not match its header";
    return false;
  }
  return true;
}

bool WriteBmp(const std::string& path, const Dib& dib, std::string* error) {
  if (!DibValid(dib, error)) return false;
  DibLayout l = LayoutOf(dib);
  size_t infoSize = l.bitCount == 8 ? 40 + 1024 : 40;
  size_t pixels = l.rowSize * l.height;
  uint8_t header[14] = {'B', 'M'};
  PutU32(header + 2, static_cast<uint32_t>(14 + infoSize + pixels));
  PutU32(header + 10, static_cast<uint32_t>(14 + infoSize));
  std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
  bool ok = f && std::fwrite(header, 1, 14, f.get()) == 14 && std::fwrite(dib.info, 1, infoSize, f.get()) == infoSize &&
            std::fwrite(dib.bits, 1, pixels, f.get()) == pixels;
  if (ok) ok = std::fclose(f.release()) == 0;
  if (!ok) *error = std::strerror(errno != 0 ? errno : EIO);
  return ok;
}

namespace {

void PutU32BE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A chunk: length, type, data, and the CRC of type and data.
struct Chunk {
  char type[5];
  std::vector<uint8_t> data;
  uint32_t crc;
  void Seal() {
    crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    // zlib takes a null buffer for a request of the initial value.
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
  }
};

bool WriteChunk(FILE* f, const Chunk& chunk) {
  uint8_t head[8];
  PutU32BE(head, static_cast<uint32_t>(chunk.data.size()));
  std::memcpy(head + 4, chunk.type, 4);
  uint8_t tail[4];
  PutU32BE(tail, chunk.crc);
  return std::fwrite(head, 1, 8, f) == 8 &&
         (chunk.data.empty() || std::fwrite(chunk.data.data(), 1, chunk.data.size(), f) == chunk.data.size()) &&
         std::fwrite(tail, 1, 4, f) == 4;
}

// A piece of the zlib stream of the scanlines: `data` compressed by zlib
// as raw deflate blocks that end on a byte boundary (its sync flush), none
// of them final, so that pieces compressed apart on several threads and
// laid one after the other, then a final empty block, are one stream. Runs
// of a byte (flat areas, after the Sub filter) become matches at distance 1,
// and no further match is searched for: on filtered photographs a general
// search costs much and finds little (zlib's Z_RLE strategy).
bool CompressPiece(const uint8_t* data, size_t size, PngEffort effort, std::vector<uint8_t>* out) {
  z_stream z{};
  // A small picture is worth zlib's full search.
  const bool small = effort == PngEffort::Small;
  if (deflateInit2(&z, small ? 9 : 1, Z_DEFLATED, -15, 9, small ? Z_DEFAULT_STRATEGY : Z_RLE) != Z_OK) return false;
  const size_t start = out->size();
  out->resize(start + deflateBound(&z, static_cast<uLong>(size)) + 16);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out->data() + start;
  z.avail_out = static_cast<uInt>(out->size() - start);
  const int status = deflate(&z, Z_SYNC_FLUSH);
  out->resize(out->size() - z.avail_out);
  deflateEnd(&z);
  return status == Z_OK && z.avail_in == 0;
}

// A final, empty stored block: the end of a stream of pieces.
constexpr uint8_t kDeflateEnd[5] = {0x01, 0x00, 0x00, 0xFF, 0xFF};

// Row y of the picture, top-down, as PNG has it: red first (the bitmap is
// blue, green, red), or the palette index or gray level.
void PlainRow(const Dib& dib, const DibLayout& l, uint32_t y, uint8_t* out) {
  const uint8_t* src = dib.bits + static_cast<size_t>(l.height - 1 - y) * l.rowSize;  // bottom-up rows
  if (l.bitCount == 8) {
    std::memcpy(out, src, l.width);
    return;
  }
  for (uint32_t x = 0; x < l.width; ++x, src += 3, out += 3) {
    out[0] = src[2];
    out[1] = src[1];
    out[2] = src[0];
  }
}

// The rows [first, end) as PNG's filtered scanlines, each the Sub filter's
// byte and the differences of every byte from the same byte of the pixel
// before: quick, and good enough on the large pictures `render` writes.
void FilterRowsSub(const Dib& dib, const DibLayout& l, uint32_t first, uint32_t end, std::vector<uint8_t>* out) {
  const uint32_t bpp = l.bitCount / 8;
  const size_t bytes = static_cast<size_t>(l.width) * bpp;
  out->resize((bytes + 1) * (end - first));
  uint8_t* o = out->data();
  for (uint32_t y = first; y < end; ++y, o += bytes + 1) {
    o[0] = 1;  // Sub
    PlainRow(dib, l, y, o + 1);
    for (size_t i = bytes; i-- > bpp;) o[1 + i] = static_cast<uint8_t>(o[1 + i] - o[1 + i - bpp]);
  }
}

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Every row by whichever of PNG's five filters leaves the least sum of
// absolute differences (libpng's choice): for small pictures.
void FilterRowsAdaptive(const Dib& dib, const DibLayout& l, std::vector<uint8_t>* out) {
  const size_t bpp = l.bitCount / 8;
  const size_t bytes = static_cast<size_t>(l.width) * bpp;
  out->resize((bytes + 1) * l.height);
  std::vector<uint8_t> above(bytes, 0), row(bytes), trial(bytes);
  uint8_t* o = out->data();
  for (uint32_t y = 0; y < l.height; ++y, o += bytes + 1) {
    PlainRow(dib, l, y, row.data());
    uint64_t best = UINT64_MAX;
    for (uint8_t filter = 0; filter < 5; ++filter) {
      uint64_t cost = 0;
      for (size_t i = 0; i < bytes; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0, b = above[i], c = i >= bpp ? above[i - bpp] : 0;
        const uint8_t predicted = filter == 0 ? 0 : filter == 1 ? a : filter == 2 ? b
                                : filter == 3 ? static_cast<uint8_t>((a + b) / 2) : Paeth(a, b, c);
        trial[i] = static_cast<uint8_t>(row[i] - predicted);
        cost += static_cast<uint64_t>(std::abs(static_cast<int8_t>(trial[i])));
      }
      if (cost >= best) continue;
      best = cost;
      o[0] = filter;
      std::memcpy(o + 1, trial.data(), bytes);
    }
    above.swap(row);
  }
}

}  // namespace

bool WritePng(const std::string& path, const Dib& dib, std::string* error, uint32_t threads, PngEffort effort) {
  if (!DibValid(dib, error)) return false;
  const DibLayout l = LayoutOf(dib);
  const uint8_t* table = dib.info + 40;
  const bool gray = GrayTable(dib);

  // The scanlines in pieces of about a megabyte, filtered and compressed
  // on `threads` threads; each piece becomes one IDAT chunk.
  const size_t line = static_cast<size_t>(l.width) * (l.bitCount / 8) + 1;
  const uint32_t rowsPerPiece = effort == PngEffort::Small ? std::max(1u, l.height)
                                                           : static_cast<uint32_t>(std::max<size_t>(1, (1u << 20) / line));
  const uint32_t pieces = l.height == 0 ? 0 : (l.height + rowsPerPiece - 1) / rowsPerPiece;
  std::vector<Chunk> idat(pieces);
  std::vector<uLong> adler(pieces);
  std::atomic<uint32_t> next{0};
  std::atomic<bool> compressed{true};
  auto work = [&] {
    std::vector<uint8_t> rows;
    for (uint32_t p; (p = next++) < pieces;) {
      const uint32_t first = p * rowsPerPiece;
      if (effort == PngEffort::Small)
        FilterRowsAdaptive(dib, l, &rows);
      else
        FilterRowsSub(dib, l, first, std::min(l.height, first + rowsPerPiece), &rows);
      Chunk& chunk = idat[p];
      std::memcpy(chunk.type, "IDAT", 5);
      if (p == 0) chunk.data = {0x78, 0x01};  // the zlib header: deflate, 32 KiB window
      if (!CompressPiece(rows.data(), rows.size(), effort, &chunk.data)) compressed = false;
      adler[p] = adler32(1, rows.data(), static_cast<uInt>(rows.size()));
      chunk.Seal();
    }
  };
  std::vector<std::thread> workers;
  for (uint32_t t = 1; t < std::min(threads, pieces); ++t) workers.emplace_back(work);
  work();
  for (std::thread& w : workers) w.join();
  if (!compressed) {
    *error = "no memory to compress the picture";
    return false;
  }

  // The stream's end and its Adler-32, joined from the pieces'.
  uLong sum = 1;
  for (uint32_t p = 0; p < pieces; ++p) {
    const uint32_t rows = std::min(l.height, (p + 1) * rowsPerPiece) - p * rowsPerPiece;
    sum = adler32_combine(sum, adler[p], static_cast<z_off_t>(line * rows));
  }
  Chunk end{"IDAT", std::vector<uint8_t>(kDeflateEnd, kDeflateEnd + 5), 0};
  end.data.resize(9);
  PutU32BE(end.data.data() + 5, static_cast<uint32_t>(sum));
  end.Seal();

  Chunk header{"IHDR", std::vector<uint8_t>(13, 0), 0};
  PutU32BE(header.data.data(), l.width);
  PutU32BE(header.data.data() + 4, l.height);
  header.data[8] = 8;                                      // bits per channel
  header.data[9] = l.bitCount == 24 ? 2 : (gray ? 0 : 3);  // RGB, gray or palette
  header.Seal();
  Chunk palette{"PLTE", {}, 0};
  if (l.bitCount == 8 && !gray) {
    for (int i = 0; i < 256; ++i) palette.data.insert(palette.data.end(), {table[4 * i + 2], table[4 * i + 1], table[4 * i]});
    palette.Seal();
  }
  Chunk last{"IEND", {}, 0};
  last.Seal();

  std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  bool ok = f && std::fwrite(kSignature, 1, 8, f.get()) == 8 && WriteChunk(f.get(), header) &&
            (palette.data.empty() || WriteChunk(f.get(), palette));
  for (uint32_t p = 0; ok && p < pieces; ++p) ok = WriteChunk(f.get(), idat[p]);
  ok = ok && WriteChunk(f.get(), end) && WriteChunk(f.get(), last);
  if (ok) ok = std::fclose(f.release()) == 0;
  if (!ok) *error = std::strerror(errno != 0 ? errno : EIO);
  return ok;
}
