// Test support: a picture decoded through GetPicture, as a host sees it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/entry.h"
#include "plugin/exports.h"
#include "plugin/limits.h"
#include "tests/support/xcf_writer.h"

namespace xcftest {

struct Picture {
  int code = -1;          // GetPicture's host code
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitCount = 0;
  uint32_t rowSize = 0;
  Bytes header;           // the whole info block
  Bytes bits;             // the pixel block as delivered (bottom-up)
  std::string reason;     // why it failed, as the plug-in told it

  // Pixel (x, y), y = 0 at the top, in the XCF order (R, G, B; then A for
  // a picture of 32 bits) or the index.
  Bytes At(uint32_t x, uint32_t y) const;
  // Pixel (x, y) as R, G, B, A, an index through the colour table.
  Bytes Rgba(uint32_t x, uint32_t y) const;
  // Colour table entry i: blue, green, red, reserved.
  Bytes Entry(uint32_t i) const;
};

// Decodes bytes held in memory; frees both handles after copying them.
// Every failure must come with its reason: those that do not are counted.
// The plug-in's own limits read versions 0 to 3; kEveryVersion every one.
Picture Decode(const Bytes& file, ProgressCallback callback = nullptr, intptr_t userData = 0,
               const tessel::Limits& limits = tessel::kDefaultLimits,
               tessel::PictureChoice choice = tessel::PictureChoice{tessel::PictureKind::Viewer, {0, 0, 0}});
Picture Decode(const Image& image);

// What GetPictureFiltersWith tells of a file read with every version, a
// line a layer or mask: `layer 1 "Sky": 2 gegl:levels, gegl:gaussian-blur`
// (then "'s mask" after the name for a mask's, " (hidden)" for a layer
// not drawn); a last line "code N" when the call fails.
std::vector<std::string> FiltersOf(const Bytes& file);

// Decode's failures, so far in this process, that came without a reason.
uint32_t UnexplainedFailures();

// The whole block of a handle the plug-in delivered; the handle is freed.
Bytes TakeHandle(HLOCAL handle);

}  // namespace xcftest
