// The row functions of the drawn layer modes, which BlendRow dispatches to:
// the arithmetic modes and normal (blend.cpp), hue, saturation, color and
// value (blend_color.cpp), divide to grain merge (blend_light.cpp).
#pragma once

#include <cstdint>

#include "composite/blend.h"

namespace tessel {

void BlendNormal(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendMultiply(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendScreen(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendOverlay(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendDifference(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendAddition(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendSubtract(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendDarkenOnly(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendLightenOnly(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);

void BlendHue(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendSaturation(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendColor(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendValue(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendComponentGray(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);

void BlendDivide(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendDodge(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendBurn(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendHardLight(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendSoftLight(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendGrainExtract(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);
void BlendGrainMerge(uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t, uint32_t);

}  // namespace tessel
