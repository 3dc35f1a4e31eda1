// Blending one run of layer pixels into one run of target pixels: the layer
// modes, the indexed path and the rounding rule they share.
#pragma once

#include <cstdint>

#include "plugin/result.h"

namespace tessel {

enum LayerMode : uint32_t {
  kModeNormal = 0,
  kModeDissolve = 1,
  kModeBehind = 2,
  kModeMultiply = 3,
  kModeScreen = 4,
  kModeOverlay = 5,
  kModeDifference = 6,
  kModeAddition = 7,
  kModeSubtract = 8,
  kModeDarkenOnly = 9,
  kModeLightenOnly = 10,
  kModeHue = 11,
  kModeSaturation = 12,
  kModeColor = 13,
  kModeValue = 14,
  kModeDivide = 15,
  kModeDodge = 16,
  kModeBurn = 17,
  kModeHardLight = 18,
  kModeSoftLight = 19,
  kModeGrainExtract = 20,
  kModeGrainMerge = 21,
  kModeColorErase = 22,
  kModeErase = 23,
  kModeReplace = 24,
  kModeAntiErase = 25,
  kModeCount = 26,
};

// x / 255 with one rounding step, exact for multiples of 255; x <= 65025.
constexpr uint32_t Div255(uint32_t x) { return ((x + 1) * 257) >> 16; }

// Why BlendRow refuses a row of a layer of this type, opacity and mode into
// a target of targetBytes, in a few words, without drawing it: every
// refusal of BlendRow depends on these alone. Null when it does not.
const char* BlendRowRefusal(uint32_t layerType, uint32_t opacity, uint32_t targetBytes, uint32_t mode);

// The row function of every drawn mode: (target, Bt, source, Bs, n >= 1, opacity 1..255).
using BlendFn = void (*)(uint8_t* target, uint32_t targetBytes, const uint8_t* source, uint32_t sourceBytes,
                         uint32_t n, uint32_t opacity);

// How every row of one layer into one target is blended, chosen once for
// arguments that BlendRowRefusal accepts, so that the rows are not asked
// again: what BlendRow would do with each of them.
struct RowBlend {
  BlendFn function;  // null when the layer draws nothing there
  uint32_t targetBytes;
  uint32_t sourceBytes;
  uint32_t opacity;
  void Run(uint8_t* target, const uint8_t* source, uint32_t n) const {
    if (function != nullptr) function(target, targetBytes, source, sourceBytes, n, opacity);
  }
};
RowBlend BlendRowChoose(uint32_t layerType, uint32_t opacity, uint32_t targetBytes, uint32_t mode);

// One clipped row of a layer of the given XCF type into the target run.
ResultCode BlendRow(uint32_t layerType, uint32_t n, const uint8_t* source, uint32_t opacity, uint8_t* target,
                    uint32_t targetBytes, uint32_t mode);
// Palette indices are never mixed: a target pixel is replaced or kept.
ResultCode BlendRowIndexed(uint8_t* target, uint32_t targetBytes, const uint8_t* source, uint32_t sourceBytes,
                           uint32_t opacity, uint32_t n);

}  // namespace tessel
