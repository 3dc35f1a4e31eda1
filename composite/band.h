// Drawing a plan into one band of a target: each layer's rows that the
// band shows are had from its tiles (or its pixels in memory), its mask
// folded in, and blended; a group's children are drawn into a buffer that
// covers the band, not the group.
#pragma once

#include <cstddef>
#include <cstdint>

#include "composite/pixel_buffer.h"
#include "composite/plan.h"
#include "stream/byte_stream.h"

namespace tessel {

// The mask step: a mask row folded into the alpha (last byte) of n pixels
// of bs bytes, copied from source to out.
ResultCode ApplyMaskRow(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t maskOpacity,
                        uint32_t n);

// Memory that grows to the largest request and is reused.
class ScratchBytes {
 public:
  ScratchBytes() = default;
  ScratchBytes(const ScratchBytes&) = delete;
  ScratchBytes& operator=(const ScratchBytes&) = delete;
  ~ScratchBytes();
  // At least n bytes, their contents undefined; null when they cannot be had.
  uint8_t* Reserve(size_t n);

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// One thread's working memory for the bands it draws: a layer's rows, its
// rows widened to take a mask, its mask's rows, and a group buffer per
// level of nesting.
class BandScratch {
 public:
  BandScratch() = default;
  BandScratch(const BandScratch&) = delete;
  BandScratch& operator=(const BandScratch&) = delete;
  ~BandScratch();
  // Room for the group buffers of a plan; false when it cannot be had.
  bool Fit(const DrawPlan& plan);

  ScratchBytes rows, widened, mask;
  // GIMP's arithmetic: the band in floats, a layer's row and its mask's,
  // and the modes' own.
  ScratchBytes band, floatRow, coverage, modes;
  ScratchBytes* groups = nullptr;  // depth + 1 of them
  uint32_t levels = 0;
};

// Draws the plan's top-level layers, bottom to top, into a target whose
// first pixel lies at (targetRect.x0, targetRect.y0) of the image and which
// covers targetRect. The layer of source Canvas is decoded into the target
// (which is then the canvas) where it lies; everything else is blended.
// stream is the calling thread's own.
ResultCode DrawPlanInto(const DrawPlan& plan, ByteStream* stream, BandScratch* scratch, PixelBuffer* target,
                        const Rect& targetRect);

}  // namespace tessel
