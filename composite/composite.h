// Flattening the layer tree into one picture: loading what will be seen,
// then drawing the top-level layers bottom to top, groups through buffers of
// their own, each clipped row through the mask step and the blend.
#pragma once

#include <cstdint>

#include "composite/pixel_buffer.h"
#include "composite/request.h"
#include "xcf/image.h"
#include "xcf/layer.h"

namespace tessel {

struct ProgressHook;
// Called with (hook, index, last index) as the picture is drawn, call i
// once (i + 1) / (last index + 1) of its rows are; 0 cancels.
using ProgressFn = int (*)(ProgressHook* hook, int32_t index, int32_t lastIndex);

// The caller's record starts with this and carries what the function needs.
struct ProgressHook {
  ProgressFn function;
};

// Told of canvas rows [firstRow, firstRow + rowCount) as soon as they are
// drawn (in the bitmap's order when it swaps red and blue), the top one at
// `top`, `stride` bytes from one row to the next below it; on any of the
// call's threads, several at once, each row once. The rows are the
// picture's only if the call succeeds.
struct RowsHook;
using RowsFn = void (*)(RowsHook* hook, uint32_t firstRow, uint32_t rowCount, const uint8_t* top, int32_t stride);
struct RowsHook {
  RowsFn function;
};

// What a nested layer's offsets are taken relative to: the image
// coordinates of its group buffer's first pixel.
struct LayerOrigin {
  int64_t x;
  int64_t y;
};

// The plug-in's picture of the image (ViewerRequest), reading the
// document first if it has not been read. The canvas must have the
// image's size; it is cleared first.
ResultCode CompositeImage(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress);

// How a composition runs.
struct CompositeOptions {
  // What the call asks for (composite/request.h).
  DrawRequest request;
  // On `threads` threads, the caller's among them; 0 lets it choose (the
  // processors the process may use, fewer for a small picture). The
  // picture and the result are the same for every count.
  uint32_t threads;
  // The canvas in the bitmap's order, blue first, each band put so as it
  // is drawn.
  bool swapRedBlue;
  // Told of the rows as they are drawn; null for none.
  RowsHook* rows;
};
// The image's document read (XcfLoad), its canvas of the image's size.
ResultCode CompositeImageWith(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress, CompositeOptions options);

// Whether the picture the request draws is opaque wherever it lies, as
// its plan says before anything is drawn: over a backdrop always; over
// nothing when its bottom layer is opaque, covers the canvas, and no layer
// above can take alpha away. The image's document read.
ResultCode CompositeIsOpaque(XcfImage* image, const DrawRequest& request, bool* opaque);

// Draws one layer (a group with its children) whose pixels and masks are
// loaded whole (XcfLayerLoadPixels) into the target, in the plug-in's
// 8-bit arithmetic: a group composited into a buffer of its own, each
// clipped row through the mask step and BlendRow. baseType is the image's;
// origin is null for top-level layers.
ResultCode CompositeLayer(XcfLayer* layer, PixelBuffer* target, const LayerOrigin* origin, int32_t baseType);

}  // namespace tessel
