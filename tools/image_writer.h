// Writing the plug-in's bitmap to disk: BMP as it came, or PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plugin/entry.h"

// The two blocks GetPicture hands over, locked.
struct Dib {
  const uint8_t* info;   // BITMAPINFOHEADER and, for 8 bits, 256 RGBQUADs
  size_t infoSize;
  const uint8_t* bits;   // bottom-up rows padded to 4 bytes
  size_t bitsSize;
};

// Checks the header against the block sizes.
bool DibValid(const Dib& dib, std::string* error);

// What the header of a valid bitmap says.
struct DibLayout {
  uint32_t width;
  uint32_t height;
  uint32_t bitCount;
  size_t rowSize;  // bytes, padded to 4
};
DibLayout LayoutOf(const Dib& dib);
// Whether an 8-bit bitmap's colour table is the gray ramp (a gray picture).
bool GrayTable(const Dib& dib);

// What a bitmap holds: 8 bits of gray or of a palette index, 24 of colour,
// or 32 of colour and alpha (blue, green, red, alpha, not weighed by it),
// whose colour table, where it has one, says that the picture is gray (the
// gray ramp) or indexed (its colormap, every pixel one of its colours).
enum class DibForm { Gray, Palette, Rgb, GrayAlpha, PaletteAlpha, Rgba };
DibForm FormOf(const Dib& dib);

// A bitmap of the tool's own, in the plug-in's layout; View() lends it as a Dib.
struct OwnedDib {
  std::vector<uint8_t> info;
  std::vector<uint8_t> bits;
  Dib View() const { return {info.data(), info.size(), bits.data(), bits.size()}; }
};
// A zeroed bottom-up bitmap of 24 bits, or of 8 with a gray ramp for a
// colour table. Throws std::bad_alloc when memory runs out.
OwnedDib NewDib(uint32_t width, uint32_t height, uint32_t bitCount);
// A zeroed bottom-up bitmap of 32 bits of another's size, with its colour
// table. Throws std::bad_alloc when memory runs out.
OwnedDib NewDibLike(const Dib& like, uint32_t width, uint32_t height);

// The writers tell the system's reason for a file they cannot write.
bool WriteBmp(const std::string& path, const Dib& dib, std::string* error);
// How hard the PNG writer works: Fast (rows by the Average filter, zlib's
// run-length strategy, in pieces on threads) for whole pictures, Small
// (each row by its best filter, zlib's full search, one piece) for
// thumbnails.
enum class PngEffort { Fast, Small };

// 8-bit gray, palette or RGB, as the bitmap is; a 32-bit one as gray and
// alpha or RGBA, and an indexed one as a palette with a transparent entry
// where its alpha is all or nothing and its colours fit, else RGBA.
// Compressed by zlib in pieces on `threads` threads.
bool WritePng(const std::string& path, const Dib& dib, std::string* error, uint32_t threads = 1,
              PngEffort effort = PngEffort::Fast);

class PngPieces;

// A PNG written while the picture is drawn (PngEffort::Fast): its header
// as soon as the bitmap's is known, then each band of rows filtered and
// compressed on the thread that drew it and written as soon as the bands
// above it are. Nothing of the picture is held but bands that come early.
class PngStreamWriter {
 public:
  explicit PngStreamWriter(const std::string& path);
  ~PngStreamWriter();
  PngStreamWriter(const PngStreamWriter&) = delete;
  PngStreamWriter& operator=(const PngStreamWriter&) = delete;

  // What GetPictureWith tells of the bitmap as it is made.
  tessel::PictureSink* Sink() { return &sink_; }
  // Whether the picture is one whose PNG can only be chosen once it is
  // whole (an indexed picture with alpha): nothing was written, and the
  // caller writes it (WritePng) instead.
  bool Deferred() const;
  // Ends the file once the picture is whole; false with the reason.
  bool Finish(std::string* error);

 private:
  static void Begin(tessel::PictureSink* sink, const uint8_t* info, uint32_t infoSize);
  static void Rows(tessel::RowsHook* hook, uint32_t first, uint32_t count, const uint8_t* top, int32_t stride);
  tessel::PictureSink sink_;  // first: the sink, and its hook, are the writer
  std::unique_ptr<PngPieces> pieces_;
};
