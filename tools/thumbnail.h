// A picture scaled down to fit a square, for file managers' thumbnails.
#pragma once

#include <cstdint>

#include "tools/image_writer.h"

// `dib` scaled to fit size x size: every output pixel the exact average of
// the source area it covers, each source pixel weighted by the part of it
// inside, rounded to nearest. Integer arithmetic throughout, so every build
// and thread count gives the same bytes. Palette pictures are averaged in
// colour (their gray ramp stays gray). False when memory runs out.
bool ScaleToFit(const ::Dib& dib, uint32_t size, uint32_t threads, OwnedDib* out);

// The same to exactly width x height, whatever the aspect; larger than
// the picture, each output pixel the area it covers of one to four source
// pixels.
bool ScaleTo(const ::Dib& dib, uint32_t width, uint32_t height, uint32_t threads, OwnedDib* out);
