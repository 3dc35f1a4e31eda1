#include "composite/mask_step.h"

#include "composite/blend.h"
#include "composite/simd.h"

namespace tessel {

ResultCode ApplyMaskRow(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t maskOpacity,
                        uint32_t n) {
  if (out == nullptr || source == nullptr || mask == nullptr || bs < 1 || n == 0) return ResultCode::InvalidArgument;
  FoldMaskRow(bs, source, out, mask, maskOpacity, n);
  return ResultCode::Ok;
}

void FoldMaskRow(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t maskOpacity,
                 uint32_t n) {
  if (maskOpacity == 0) return;
  const uint32_t mo = maskOpacity > 255 ? 255 : maskOpacity;
  uint32_t i = 0;
#if TESSEL_SSE2
  if (bs == 2 || bs == 4) {
    const uint32_t done = simd::MaskAlphaVector(bs, source, out, mask, mo, n);
    i = done;
    source += static_cast<size_t>(done) * bs;
    out += static_cast<size_t>(done) * bs;
    mask += done;
  }
#endif
  for (; i < n; ++i, source += bs, out += bs, ++mask) {
    for (uint32_t c = 0; c + 1 < bs; ++c) out[c] = source[c];
    const uint32_t s = source[bs - 1];
    const uint32_t m = *mask;
    out[bs - 1] = static_cast<uint8_t>(mo == 255 ? Div255(m * s) : Div255(s * (255 - mo) + m * mo));
  }
}

void AddOpaqueAlpha(const uint8_t* source, uint32_t bs, uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, source += bs) {
    for (uint32_t c = 0; c < bs; ++c) *out++ = source[c];
    *out++ = 255;
  }
}

}  // namespace tessel
