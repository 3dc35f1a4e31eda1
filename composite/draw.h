// Drawing a plan into one band of the canvas: the band's rows had from the
// plan's store, then the top-level layers bottom to top, each one's rows
// (a group's children drawn into a buffer that covers the band, not the
// group; a layer's tiles decoded for the rows the band shows; its mask's)
// handed to its row function, then the rows given back to the canvas.
// One walk for both arithmetics: what differs is in the nodes' row
// functions and the store.
#pragma once

#include "composite/pixel_buffer.h"
#include "composite/plan.h"
#include "composite/scratch.h"
#include "stream/byte_stream.h"

namespace tessel {

// Draws the plan into `band`, the canvas's rows [bandRect.y0, bandRect.y1)
// (bandRect is in image coordinates); `covered`, in band coordinates, is
// where the direct node lies (nothing else clears it). stream is the
// calling thread's own.
ResultCode DrawBand(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch, PixelBuffer* band,
                    const Rect& bandRect, const Rect& covered);

}  // namespace tessel
