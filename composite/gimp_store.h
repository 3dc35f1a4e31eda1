// The band of GIMP's arithmetic: rows of RGBA floats in linear light of
// the band's own, starting as the backdrop, stored into the canvas at the
// end in its 8 bits.
#pragma once

#include "composite/arithmetic.h"

namespace tessel {

// The store into a canvas of canvasBytes a pixel: RGB (3 bytes) blue first
// (the bitmap's order) or red first; else a byte a pixel, the luminance or,
// for an indexed picture, the index of the nearest colour.
BandStore GimpBandStore(uint32_t canvasBytes, int32_t baseType, bool blueFirst);

}  // namespace tessel
