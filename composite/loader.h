// Loading the pixels and masks of the load list on the call's threads:
// tile rows are decoded by every thread, and the host hears of each entry
// on the calling thread, in list order, exactly as if the entries were
// loaded one after another.
#pragma once

#include <cstdint>

#include "composite/composite.h"
#include "composite/pixel_buffer.h"
#include "xcf/image.h"
#include "xcf/layer_tree.h"

namespace tessel {

// An entry whose layer is drawn first, opaque and whole, so that it is
// decoded straight into the canvas at its offsets instead of into a buffer
// of its own (its layer then has no pixels in memory).
struct DirectEntry {
  uint32_t entry;
  PixelBuffer* canvas;
  int32_t x;
  int32_t y;
};

// Loads every entry: the layer's pixels when wanted, then its mask's. After
// each entry, in order, the hook (if any) is called with (hook, i, count -
// 1); a zero answer stops with Cancelled. The first entry that fails gives
// its code, as loading the entries one by one would, and the hook hears of
// none after it. With threads 1 nothing but the calling thread works.
ResultCode LoadEntries(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t compression,
                       ProgressHook* progress, uint32_t threads, const DirectEntry* direct);

}  // namespace tessel
