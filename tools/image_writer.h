// The plug-in's bitmap as the tool holds it, and written to disk as BMP,
// as it came.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>


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

// Tells the system's reason for a file it cannot write.
bool WriteBmp(const std::string& path, const Dib& dib, std::string* error);
