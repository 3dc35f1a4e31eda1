// The mask step: a layer mask folded into the alpha (the last byte) of a
// run of pixels, as the plug-in's 8-bit arithmetic draws masked layers.
#pragma once

#include <cstdint>

#include "plugin/result.h"

namespace tessel {

// A mask row folded into the alpha of n pixels of bs bytes, copied from
// source to out (which may be source): with s the source alpha, m the mask
// value and o the mask's opacity, D(m s) at full opacity (255 or more),
// D(s (255 - o) + m o) below it, nothing written at 0. Checks its
// arguments, as the step has always been called.
ResultCode ApplyMaskRow(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t maskOpacity,
                        uint32_t n);
// The same for a caller that holds them right: bs >= 1, every row present.
void FoldMaskRow(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t maskOpacity,
                 uint32_t n);

// Copies n pixels of bs bytes (1 or 3) into bs + 1 bytes with an opaque alpha.
void AddOpaqueAlpha(const uint8_t* source, uint32_t bs, uint8_t* out, uint32_t n);

}  // namespace tessel
