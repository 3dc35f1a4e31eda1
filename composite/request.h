// What a call asks of the drawing, decided once where the call is made
// (when the document's header is read) and handed down as a value: the
// plan reads it, and nothing below asks the version again.
#pragma once

#include <cstdint>

#include "stream/xcf_rules.h"

namespace tessel {

// How a picture's rows are worked out.
enum class Arithmetic : uint8_t {
  Integer8,  // the plug-in's 8-bit integers and its 26 modes (XCF versions 0 to 3)
  Gimp,      // GIMP's floats in linear light and its 64 modes, as GIMP 2.10 and 3 draw
};

// What lies under the bottom layer.
enum class Backdrop : uint8_t {
  Black,    // an opaque black canvas, as the plug-in's bitmap has it
  Nothing,  // no layer at all: what the layers leave transparent stays so
  Colour,   // an opaque layer of the request's colour, as GIMP's Flatten Image lays a picture on one
};

struct DrawRequest {
  Arithmetic arithmetic;
  Backdrop backdrop;
  uint8_t colour[3];  // of a Colour backdrop, red first, on the sRGB curve
};

// The plug-in's picture of a document of this format, what GetPicture
// hands a viewer: versions 0 to 3 in its own 8-bit integers, the later
// ones as GIMP draws them, both over black. The one place where the
// version picks the arithmetic.
inline DrawRequest ViewerRequest(const XcfFormat& format) {
  return DrawRequest{XcfHasPrecision(format.version) ? Arithmetic::Gimp : Arithmetic::Integer8, Backdrop::Black, {0, 0, 0}};
}

}  // namespace tessel
