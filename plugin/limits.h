// What the plug-in accepts, in one record, each bound with the reason it is
// there. The exports apply the defaults; tests, fuzz targets and the tool
// can ask for tighter ones through the internal entry points (entry.h).
#pragma once

#include <cstdint>

namespace tessel {

struct Limits {
  // The widest canvas: 32767, the largest signed 16-bit number, the widest
  // bitmap the viewers this plug-in serves are made for; a 24-bit row of it
  // (98 304 bytes) and every offset in the bitmap stay far inside 32 bits.
  uint32_t canvasWidth;
  // The tallest canvas: one row fewer than the widest, as the plug-in has
  // always accepted it, and files were written to that.
  uint32_t canvasHeight;
  // The widest and tallest layer or mask: 32767, so that a layer's pixels
  // (32767 x 32767 x 4 bytes) stay below 4 GiB and every row offset inside
  // a tile or a band fits in 32 bits.
  uint32_t layerSize;
  // Levels of layer groups: 512, far beyond what people make, so that every
  // walk over the tree (building it, planning, drawing, freeing) stays
  // within a small, fixed stack.
  uint32_t groupDepth;
  // Bytes a compressed file may decompress to: 4 GiB less one, since every
  // position in XCF data is a 32-bit offset.
  uint64_t decompressedBytes;
  // Threads one picture runs on, the caller's among them: 16; more gain
  // nothing on a picture's memory traffic.
  uint32_t threads;
  // The newest XCF version read: 3, the plug-in's, since hosts choose
  // between plug-ins by what IsSupported answers; a caller that asks (the
  // tool, its thumbnailer) reads up to kNewestXcfVersion, the files of
  // GIMP 2.10 and later.
  uint32_t newestVersion;
  // Whether .xcf.xz is read (through liblzma, natively only): not by the
  // plug-in, whose file patterns hosts go by; by the tool and thumbnailer.
  bool readsXz = false;
};

constexpr uint32_t kNewestXcfVersion = 26;
constexpr Limits kDefaultLimits{32767, 32766, 32767, 512, 0xFFFFFFFFu, 16, 3};
// The defaults, reading every version this reader knows.
constexpr Limits kEveryVersion{32767, 32766, 32767, 512, 0xFFFFFFFFu, 16, kNewestXcfVersion, true};
// Every version, for the exports when the user asks for it (tessel.ini):
// in the containers the plug-in's file patterns name, xz not among them.
constexpr Limits kPluginEveryVersion = [] {
  Limits limits = kEveryVersion;
  limits.readsXz = false;
  return limits;
}();

}  // namespace tessel
