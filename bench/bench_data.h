// Benchmark inputs: photograph-like pixels and the large documents built
// from them.
#pragma once

#include <cstdint>

#include "tests/support/xcf_writer.h"

namespace tesselbench {

// Smooth shapes with sensor-like noise: what RLE meets in a photograph.
// Alpha, when present, is opaque but for a soft-edged hole.
xcftest::Bytes PhotoLike(uint32_t width, uint32_t height, uint32_t bpp, uint32_t seed);

// The end-to-end document: 4096 x 4096 RGB, eight RGBA layers (RLE), two of
// them masked, three of them inside a group; mostly normal mode, with one
// layer each in multiply, screen and overlay.
xcftest::Image LargeDocument(uint32_t size = 4096);

// A photograph as a viewer meets it: 6000 x 4000 RGB, RLE, an opaque base
// and five layers in normal (80 %, masked), multiply (masked), screen,
// overlay (50 %, without alpha) and hard light (masked) mode, each smaller
// than the canvas and placed inside it.
// With a tag ("v011") the same layers in a file of that version; with a
// hole, the base has alpha, opaque but for a soft-edged hole. From version
// 12 on, a precision word of 16-bit integers (200, 250) or 32-bit floats
// (600, 650) stores the same 8-bit pixels widened.
xcftest::Image ViewerDocument(const char* tag = "v001", bool hole = false, uint32_t precision = 150);

// The small file of the per-call measurements: 1000 x 800 RGB, three layers.
xcftest::Image SmallDocument();

// Many layers the canvas's size, cheap to decode: `count` RGBA layers of a
// colour of their own in every tile, in normal mode at 90 % over an RGB
// canvas, so that every one is drawn everywhere. Its memory is what the
// number of layers costs.
xcftest::Image ManyLayers(uint32_t count, uint32_t width, uint32_t height);

// `count` groups the canvas's size, each inside the one before, around one
// RGBA layer of 8 columns from top to bottom: what the depth of nesting
// costs in every band.
xcftest::Image NestedGroups(uint32_t count, uint32_t width, uint32_t height);

}  // namespace tesselbench
