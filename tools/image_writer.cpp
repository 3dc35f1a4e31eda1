#include "tools/image_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "plugin/dib.h"

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

namespace {

// Whether the bitmap has a colour table: always with 8 bits, where it is
// counted with 32.
bool HasTable(const Dib& dib) {
  const uint16_t bits = U16(dib.info + 14);
  return bits == 8 || (bits == 32 && U32(dib.info + 32) != 0 && dib.infoSize >= 40 + 1024);
}

bool IsGrayRamp(const uint8_t* table) {
  for (int i = 0; i < 256; ++i)
    if (table[4 * i] != i || table[4 * i + 1] != i || table[4 * i + 2] != i) return false;
  return true;
}

}  // namespace

bool GrayTable(const Dib& dib) { return U16(dib.info + 14) == 8 && IsGrayRamp(dib.info + 40); }

DibForm FormOf(const Dib& dib) {
  const uint16_t bits = U16(dib.info + 14);
  if (bits == 24) return DibForm::Rgb;
  if (bits == 8) return IsGrayRamp(dib.info + 40) ? DibForm::Gray : DibForm::Palette;
  if (!HasTable(dib)) return DibForm::Rgba;
  return IsGrayRamp(dib.info + 40) ? DibForm::GrayAlpha : DibForm::PaletteAlpha;
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

OwnedDib NewDibLike(const Dib& like, uint32_t width, uint32_t height) {
  OwnedDib dib;
  const bool table = HasTable(like);
  dib.info.assign(like.info, like.info + tessel::kBitmapInfoHeaderSize + (table ? tessel::kColourTableSize : 0));
  uint8_t* h = dib.info.data();
  const uint32_t rowSize = tessel::BitmapRowSize(32, width);
  PutU32(h + 4, width);
  PutU32(h + 8, height);
  PutU32(h + 20, rowSize * height);
  dib.bits.assign(static_cast<size_t>(rowSize) * height, 0);
  return dib;
}

bool DibValid(const Dib& dib, std::string* error) {
  if (dib.info == nullptr || dib.infoSize < 40 || U32(dib.info) != 40) {
    *error = "the bitmap header is malformed";
    return false;
  }
  DibLayout l = LayoutOf(dib);
  size_t table = l.bitCount == 8 || (l.bitCount == 32 && U32(dib.info + 32) != 0) ? 1024 : 0;
  if ((l.bitCount != 8 && l.bitCount != 24 && l.bitCount != 32) || dib.infoSize < 40 + table ||
      dib.bitsSize < l.rowSize * l.height) {
    *error = "the bitmap does not match its header";
    return false;
  }
  return true;
}

bool WriteBmp(const std::string& path, const Dib& dib, std::string* error) {
  if (!DibValid(dib, error)) return false;
  DibLayout l = LayoutOf(dib);
  size_t infoSize = HasTable(dib) ? 40 + 1024 : 40;
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
