// What an arithmetic gives the one drawing walk: the row function of each
// node, chosen once in the plan, and the band's store. The walk (draw.cpp)
// finds a node's rows (a group's buffer, a layer's tiles, its mask's) and
// hands them to the node's row function row by row; how the rows are
// worked out is the arithmetic's: the plug-in's 8-bit integers
// (integer_rows.cpp) or GIMP's floats (gimp_rows.cpp).
#pragma once

#include <cstdint>

#include "composite/pixel_buffer.h"
#include "composite/rect.h"
#include "composite/request.h"
#include "stream/byte_stream.h"
#include "xcf/image.h"
#include "xcf/layer_tree.h"

namespace tessel {

struct DrawPlan;
struct PlanNode;
class BandScratch;

// Rows of pixels: the first, the (signed) bytes from one row to the next,
// and the bytes of a pixel.
struct Rows {
  uint8_t* first;
  int64_t stride;
  uint32_t pixelBytes;
  uint8_t* Row(uint32_t i) const { return first + static_cast<int64_t>(i) * stride; }
  // The rows from pixel (x, y) on.
  Rows At(uint32_t x, uint32_t y) const { return Rows{Row(y) + static_cast<size_t>(x) * pixelBytes, stride, pixelBytes}; }
};

// One row of a node to draw onto its target, as the walk hands it over.
// Columns [before, before + inside) are the layer's own; where it clears
// what lies outside itself the others are transparent.
struct NodeRow {
  uint8_t* target;  // the target's pixel under the row's first column
  // A group: its buffer's row, every column. A layer: its stored pixels
  // of its own columns, decoded (this thread's, free to change), or null
  // where the row lies outside the layer.
  uint8_t* own;
  // Its mask's values over the layer's own columns, or null where it has
  // none there.
  const uint8_t* mask;
  uint32_t columns;
  uint32_t before;
  uint32_t inside;
  int64_t x, y;      // the image position of the row's first pixel
  uint8_t* scratch;  // node.scratchBytes a pixel, this thread's
};
using NodeRowFn = void (*)(const DrawPlan& plan, const PlanNode& node, const NodeRow& row);

// How a band's rows are had before the layers are drawn into them, and
// given to the canvas after.
struct BandStore {
  // The rows the band is drawn in, ready: the canvas's own, cleared (but
  // where `covered`, in band coordinates, is decoded straight into them),
  // or rows of the arithmetic's own holding the backdrop.
  ResultCode (*open)(const DrawPlan& plan, BandScratch* scratch, PixelBuffer* band, const Rect& covered,
                     ByteStream* stream, Rows* rows);
  // The drawn rows into the canvas's, in its order.
  void (*close)(const DrawPlan& plan, const Rows& rows, PixelBuffer* band);
};

// The choices an arithmetic makes for a plan, chosen once by the request.
struct ArithmeticOps {
  // Which masks take part, and how strongly (the load list's rule).
  XcfMaskRule masks;
  // Everything of the plan's linked nodes but their links, in one pass
  // over the tree: each node's row function and sizes, its mark, its sole
  // child, the band's store; and the plan's refusal. canvasBytes and
  // swapRedBlue say what the canvas takes.
  ResultCode (*resolve)(DrawPlan* plan, XcfImage* image, const LayerLoadEntry* entries, uint32_t canvasBytes,
                        bool swapRedBlue);
  // Whether the resolved plan's picture is opaque wherever it lies on the
  // canvas, before anything is drawn.
  bool (*opaque)(const DrawPlan& plan, const Rect& canvas);
};
extern const ArithmeticOps kIntegerArithmetic;  // integer_rows.cpp
extern const ArithmeticOps kGimpArithmetic;     // gimp_rows.cpp
const ArithmeticOps& ArithmeticOf(Arithmetic arithmetic);

}  // namespace tessel
