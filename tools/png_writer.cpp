#include "tools/png_writer.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

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
// of a byte (flat areas leave runs of 0) become matches at distance 1, and
// no further match is searched for: on filtered photographs a general
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

// Rows of a bitmap as the PNG writer reads them: the top one and the
// distance to the next one below (negative for a bottom-up bitmap).
struct SourceRows {
  const uint8_t* top;
  int64_t stride;
  const uint8_t* Row(uint32_t i) const { return top + static_cast<int64_t>(i) * stride; }
};

// How a bitmap's rows become a PNG's: its colour type, its bytes a pixel,
// the bitmap's, and, for a palette made of a 32-bit picture's colours,
// each colour's index (0 for what is transparent).
struct PngForm {
  uint8_t colourType;   // 0 gray, 2 RGB, 3 palette, 4 gray and alpha, 6 RGBA
  uint32_t bpp;         // of the PNG's rows
  uint32_t sourceBytes; // of the bitmap's
  const std::unordered_map<uint32_t, uint8_t>* indices;

  // A bitmap row as PNG has it: red first (the bitmap is blue, green,
  // red), or the palette index or gray level.
  void Row(const uint8_t* src, uint32_t width, uint8_t* out) const {
    if (sourceBytes == 1) {
      std::memcpy(out, src, width);
      return;
    }
    if (sourceBytes == 3) {
      for (uint32_t x = 0; x < width; ++x, src += 3, out += 3) {
        out[0] = src[2];
        out[1] = src[1];
        out[2] = src[0];
      }
      return;
    }
    for (uint32_t x = 0; x < width; ++x, src += 4) {
      if (bpp == 4) {
        *out++ = src[2];
        *out++ = src[1];
        *out++ = src[0];
        *out++ = src[3];
      } else if (bpp == 2) {
        *out++ = src[0];
        *out++ = src[3];
      } else {
        *out++ = src[3] == 0 ? 0 : indices->at(src[0] | (src[1] << 8) | (src[2] << 16));
      }
    }
  }
};

// Rows as PNG's filtered scanlines, quick and good on the large pictures
// `render` writes: the first of a piece by the Sub filter (each byte less
// the same byte of the pixel before), so that a piece needs no row of
// another; the others by the Average filter (less the mean of that byte
// and the one above), which leaves the least on photographs and nothing
// on flat areas.
void FilterRowsFast(const SourceRows& rows, uint32_t count, uint32_t width, const PngForm& form,
                    std::vector<uint8_t>* out) {
  const size_t bpp = form.bpp;
  const size_t bytes = static_cast<size_t>(width) * bpp;
  out->resize((bytes + 1) * count);
  std::vector<uint8_t> above(bytes), row(bytes);
  uint8_t* o = out->data();
  for (uint32_t y = 0; y < count; ++y, o += bytes + 1) {
    form.Row(rows.Row(y), width, row.data());
    if (y == 0) {
      o[0] = 1;  // Sub
      for (size_t i = 0; i < bpp && i < bytes; ++i) o[1 + i] = row[i];
      for (size_t i = bpp; i < bytes; ++i) o[1 + i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
    } else {
      o[0] = 3;  // Average
      for (size_t i = 0; i < bpp && i < bytes; ++i) o[1 + i] = static_cast<uint8_t>(row[i] - (above[i] >> 1));
      for (size_t i = bpp; i < bytes; ++i)
        o[1 + i] = static_cast<uint8_t>(row[i] - ((row[i - bpp] + above[i]) >> 1));
    }
    above.swap(row);
  }
}

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Every row by whichever of PNG's five filters leaves the least sum of
// absolute differences (libpng's choice): for small pictures.
void FilterRowsAdaptive(const SourceRows& rows, uint32_t count, uint32_t width, const PngForm& form,
                        std::vector<uint8_t>* out) {
  const size_t bpp = form.bpp;
  const size_t bytes = static_cast<size_t>(width) * bpp;
  out->resize((bytes + 1) * count);
  std::vector<uint8_t> above(bytes, 0), row(bytes), trial(bytes);
  uint8_t* o = out->data();
  for (uint32_t y = 0; y < count; ++y, o += bytes + 1) {
    form.Row(rows.Row(y), width, row.data());
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

// A palette of a 32-bit indexed picture's colours, where its alpha is all
// or nothing and they fit: index 0 for what is transparent (where anything
// is), then the colours as they first come. False when they do not fit.
bool PaletteOfPixels(const Dib& dib, std::unordered_map<uint32_t, uint8_t>* indices, Chunk* plte, Chunk* trns) {
  const DibLayout l = LayoutOf(dib);
  bool transparent = false;
  std::vector<uint32_t> colours;
  indices->clear();
  for (uint32_t y = 0; y < l.height; ++y) {
    const uint8_t* p = dib.bits + static_cast<size_t>(l.height - 1 - y) * l.rowSize;
    for (uint32_t x = 0; x < l.width; ++x, p += 4) {
      if (p[3] != 0 && p[3] != 255) return false;
      if (p[3] == 0) {
        transparent = true;
        continue;
      }
      const uint32_t colour = p[0] | (p[1] << 8) | (p[2] << 16);
      if (indices->count(colour) != 0) continue;
      if (colours.size() >= 256) return false;
      indices->emplace(colour, 0);
      colours.push_back(colour);
    }
  }
  const uint32_t first = transparent ? 1 : 0;
  if (colours.size() + first > 256) return false;
  plte->data.assign(3 * first, 0);
  for (size_t i = 0; i < colours.size(); ++i) {
    const uint32_t c = colours[i];
    (*indices)[c] = static_cast<uint8_t>(i + first);
    plte->data.insert(plte->data.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                                         static_cast<uint8_t>(c)});
  }
  if (plte->data.empty()) plte->data.assign(3, 0);  // a palette has at least one entry
  plte->Seal();
  if (transparent) {
    trns->data = {0};
    trns->Seal();
  }
  return true;
}

}  // namespace

// The file of one PNG and its pieces: each piece of rows filtered and
// compressed apart (on whichever thread gives it), then written as one
// IDAT chunk as soon as every piece above it is, so that only the pieces
// that come early are held.
class PngPieces {
 public:
  PngPieces(std::string path, PngEffort effort) : path_(std::move(path)), effort_(effort) {}
  ~PngPieces() {
    if (file_ != nullptr) std::fclose(file_);
  }

  // The bitmap's header and colour table: the file and its first chunks.
  // `whole` is the whole bitmap where it is had: an indexed picture with
  // alpha can only be written so (a palette of its colours, or RGBA); told
  // of one as it is drawn, the writer defers it to its caller.
  void Begin(const uint8_t* info, size_t infoSize, const Dib* whole = nullptr) {
    std::lock_guard<std::mutex> hold(lock_);
    const Dib header{info, infoSize, nullptr, 0};
    if (info == nullptr || infoSize < 40) return Fail("the bitmap header is malformed");
    layout_ = LayoutOf(header);
    const bool table = layout_.bitCount == 8 || (layout_.bitCount == 32 && (info[32] | info[33] | info[34] | info[35]) != 0);
    if ((layout_.bitCount != 8 && layout_.bitCount != 24 && layout_.bitCount != 32) ||
        (table && infoSize < 40 + 1024))
      return Fail("the bitmap header is malformed");
    Chunk palette{"PLTE", {}, 0};
    Chunk transparency{"tRNS", {}, 0};
    switch (FormOf(header)) {
      case DibForm::Gray: form_ = PngForm{0, 1, 1, nullptr}; break;
      case DibForm::Rgb: form_ = PngForm{2, 3, 3, nullptr}; break;
      case DibForm::GrayAlpha: form_ = PngForm{4, 2, 4, nullptr}; break;
      case DibForm::Rgba: form_ = PngForm{6, 4, 4, nullptr}; break;
      case DibForm::Palette: {
        form_ = PngForm{3, 1, 1, nullptr};
        const uint8_t* entries = info + 40;
        for (int i = 0; i < 256; ++i)
          palette.data.insert(palette.data.end(), {entries[4 * i + 2], entries[4 * i + 1], entries[4 * i]});
        palette.Seal();
        break;
      }
      case DibForm::PaletteAlpha:
        if (whole == nullptr) {
          deferred_ = true;
          return;
        }
        form_ = PaletteOfPixels(*whole, &indices_, &palette, &transparency) ? PngForm{3, 1, 4, &indices_}
                                                                            : PngForm{6, 4, 4, nullptr};
        break;
    }
    Chunk ihdr{"IHDR", std::vector<uint8_t>(13, 0), 0};
    PutU32BE(ihdr.data.data(), layout_.width);
    PutU32BE(ihdr.data.data() + 4, layout_.height);
    ihdr.data[8] = 8;  // bits per channel
    ihdr.data[9] = form_.colourType;
    ihdr.Seal();
    errno = 0;
    file_ = std::fopen(path_.c_str(), "wb");
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file_ == nullptr || std::fwrite(kSignature, 1, 8, file_) != 8 || !WriteChunk(file_, ihdr) ||
        (!palette.data.empty() && !WriteChunk(file_, palette)) ||
        (!transparency.data.empty() && !WriteChunk(file_, transparency)))
      return Fail(std::strerror(errno != 0 ? errno : EIO));
    begun_ = true;
  }

  bool Deferred() const { return deferred_; }
  uint32_t Bpp() const { return form_.bpp; }

  // Rows [first, first + count) of the picture; any thread, several at once.
  void Piece(uint32_t first, uint32_t count, const SourceRows& rows) {
    if (count == 0 || !begun_) return;
    const uint32_t bpp = form_.bpp;
    Pending piece{count, Chunk{"IDAT", {}, 0}, 0};
    std::vector<uint8_t> filtered;
    if (effort_ == PngEffort::Small)
      FilterRowsAdaptive(rows, count, layout_.width, form_, &filtered);
    else
      FilterRowsFast(rows, count, layout_.width, form_, &filtered);
    if (first == 0) piece.chunk.data = {0x78, 0x01};  // the zlib header: deflate, 32 KiB window
    const bool compressed = CompressPiece(filtered.data(), filtered.size(), effort_, &piece.chunk.data);
    piece.adler = adler32(1, filtered.data(), static_cast<uInt>(filtered.size()));
    piece.chunk.Seal();
    std::lock_guard<std::mutex> hold(lock_);
    if (!compressed) return Fail("no memory to compress the picture");
    pending_.emplace(first, std::move(piece));
    // Every piece that now follows the rows written goes out.
    for (auto next = pending_.find(written_); next != pending_.end(); next = pending_.find(written_)) {
      if (error_.empty() && !WriteChunk(file_, next->second.chunk)) Fail(std::strerror(errno != 0 ? errno : EIO));
      const size_t line = static_cast<size_t>(layout_.width) * bpp + 1;
      adler_ = adler32_combine(adler_, next->second.adler, static_cast<z_off_t>(line * next->second.rows));
      written_ += next->second.rows;
      pending_.erase(next);
    }
  }

  // The stream's end and the file's; false with the reason.
  bool Finish(std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (error_.empty() && (!begun_ || written_ != layout_.height)) Fail("the picture's rows did not all come");
    if (error_.empty()) {
      Chunk end{"IDAT", std::vector<uint8_t>(kDeflateEnd, kDeflateEnd + 5), 0};
      end.data.resize(9);
      PutU32BE(end.data.data() + 5, static_cast<uint32_t>(adler_));
      end.Seal();
      Chunk last{"IEND", {}, 0};
      last.Seal();
      errno = 0;
      FILE* file = file_;
      file_ = nullptr;
      const bool ok = WriteChunk(file, end) && WriteChunk(file, last);
      if (std::fclose(file) != 0 || !ok) Fail(std::strerror(errno != 0 ? errno : EIO));
    }
    if (!error_.empty()) *error = error_;
    return error_.empty();
  }

 private:
  struct Pending {
    uint32_t rows;
    Chunk chunk;
    uLong adler;
  };
  void Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }

  std::string path_;
  PngEffort effort_;
  std::mutex lock_;  // guards what follows
  FILE* file_ = nullptr;
  bool begun_ = false;
  bool deferred_ = false;
  DibLayout layout_{};
  PngForm form_{};
  std::unordered_map<uint32_t, uint8_t> indices_;
  std::map<uint32_t, Pending> pending_;  // by first row
  uint32_t written_ = 0;                 // rows written
  uLong adler_ = 1;
  std::string error_;
};

bool WritePng(const std::string& path, const Dib& dib, std::string* error, uint32_t threads, PngEffort effort) {
  if (!DibValid(dib, error)) return false;
  const DibLayout l = LayoutOf(dib);
  PngPieces png(path, effort);
  png.Begin(dib.info, dib.infoSize, &dib);
  // Pieces of about a megabyte, on `threads` threads; a small picture in one.
  const size_t line = static_cast<size_t>(l.width) * png.Bpp() + 1;
  const uint32_t rowsPerPiece = effort == PngEffort::Small ? std::max(1u, l.height)
                                                           : static_cast<uint32_t>(std::max<size_t>(1, (1u << 20) / line));
  const uint32_t pieces = l.height == 0 ? 0 : (l.height + rowsPerPiece - 1) / rowsPerPiece;
  const SourceRows rows{dib.bits + static_cast<size_t>(l.height - 1) * l.rowSize, -static_cast<int64_t>(l.rowSize)};
  std::atomic<uint32_t> next{0};
  auto work = [&] {
    for (uint32_t p; (p = next++) < pieces;) {
      const uint32_t first = p * rowsPerPiece;
      png.Piece(first, std::min(l.height - first, rowsPerPiece), SourceRows{rows.Row(first), rows.stride});
    }
  };
  std::vector<std::thread> workers;
  for (uint32_t t = 1; t < std::min(threads, pieces); ++t) workers.emplace_back(work);
  work();
  for (std::thread& w : workers) w.join();
  return png.Finish(error);
}

void PngStreamWriter::Begin(tessel::PictureSink* sink, const uint8_t* info, uint32_t infoSize) {
  reinterpret_cast<PngStreamWriter*>(sink)->pieces_->Begin(info, infoSize);
}

void PngStreamWriter::Rows(tessel::RowsHook* hook, uint32_t first, uint32_t count, const uint8_t* top, int32_t stride) {
  reinterpret_cast<PngStreamWriter*>(hook)->pieces_->Piece(first, count, SourceRows{top, stride});
}

PngStreamWriter::PngStreamWriter(const std::string& path)
    : sink_{{Rows}, Begin}, pieces_(std::make_unique<PngPieces>(path, PngEffort::Fast)) {}

PngStreamWriter::~PngStreamWriter() = default;

bool PngStreamWriter::Deferred() const { return pieces_->Deferred(); }

bool PngStreamWriter::Finish(std::string* error) { return pieces_->Finish(error); }
