// Flattening the layer tree into one picture: loading what will be seen,
// then drawing the top-level layers bottom to top, groups through buffers of
// their own, each clipped row through the mask step and the blend.
#pragma once

#include <cstdint>

#include "composite/pixel_buffer.h"
#include "xcf/image.h"
#include "xcf/layer.h"

namespace tessel {

struct ProgressHook;
// Called after each loaded entry with (hook, index, last index); 0 cancels.
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

// The canvas must have the image's size; it is cleared first.
ResultCode CompositeImage(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress);

// How a composition runs: on `threads` threads, the caller's among them;
// 0 lets it choose (the processors the process may use, fewer for a small
// picture). The picture and the result are the same for every count.
struct CompositeOptions {
  uint32_t threads;
  // SwapRedBlue (plugin/bitmap.h) on each band as soon as it is drawn,
  // while its rows are in the cache.
  bool swapRedBlue;
  // Told of the rows as they are drawn; null for none.
  RowsHook* rows;
};
ResultCode CompositeImageWith(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress, CompositeOptions options);

// Draws one layer (a group with its children) into the target. baseType is
// the image's; origin is null for top-level layers.
ResultCode CompositeLayer(XcfLayer* layer, PixelBuffer* target, const LayerOrigin* origin, int32_t baseType);

}  // namespace tessel
