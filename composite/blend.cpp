#include "composite/blend.h"

#include <cstring>

#include "composite/blend_frame.h"
#include "xcf/layer.h"

namespace tessel {

namespace {

// Normal mode is the only one that writes target alpha.
template <uint32_t Bt, uint32_t Bs>
void NormalRun(uint8_t* t, const uint8_t* s, uint32_t n, uint32_t o) {
  constexpr uint32_t C = Bt >= 3 ? 3 : 1;
  constexpr bool targetAlpha = Bt == 2 || Bt == 4;
  constexpr bool sourceAlpha = Bs == 2 || Bs == 4;
  if (!targetAlpha && !sourceAlpha && o == 255) {
    std::memcpy(t, s, static_cast<size_t>(n) * Bs);
    return;
  }
  for (uint32_t i = 0; i < n; ++i, t += Bt, s += Bs) {
    if (!targetAlpha && !sourceAlpha) {
      for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>(Div255(s[c] * o + t[c] * (255 - o)));
    } else if (!targetAlpha) {
      uint32_t a = Div255(s[C] * o);
      if (a == 255) {
        for (uint32_t c = 0; c < C; ++c) t[c] = s[c];
      } else if (a != 0) {
        for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>(Div255(s[c] * a + t[c] * (255 - a)));
      }
    } else if (!sourceAlpha) {
      uint32_t da = t[C];
      if (o == 255) {
        for (uint32_t c = 0; c < C; ++c) t[c] = s[c];
        t[C] = 255;
        continue;
      }
      uint32_t h = Div255(da * (255 - o));
      for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>((s[c] * o + t[c] * h) / (o + h));
      t[C] = static_cast<uint8_t>(da + Div255((255 - da) * o));
    } else {
      uint32_t da = t[C];
      uint32_t a = Div255(s[C] * o);
      uint32_t h = Div255((255 - a) * da);
      if (a + h == 0) continue;
      for (uint32_t c = 0; c < C; ++c) t[c] = static_cast<uint8_t>((s[c] * a + t[c] * h) / (a + h));
      t[C] = static_cast<uint8_t>(da + Div255((255 - da) * a));
    }
  }
}

struct Multiply {
  static uint32_t Value(uint32_t s, uint32_t d) { return Div255(s * d); }
};
struct Screen {
  static uint32_t Value(uint32_t s, uint32_t d) { return 255 - Div255((255 - s) * (255 - d)); }
};
struct Overlay {
  static uint32_t Value(uint32_t s, uint32_t d) { return Div255(d * (d + Div255(2 * s * (255 - d)))); }
};
struct Difference {
  static uint32_t Value(uint32_t s, uint32_t d) { return s > d ? s - d : d - s; }
};
struct Addition {
  static uint32_t Value(uint32_t s, uint32_t d) { return s + d > 255 ? 255 : s + d; }
};
struct Subtract {  // the layer is taken from the target
  static uint32_t Value(uint32_t s, uint32_t d) { return d > s ? d - s : 0; }
};
struct DarkenOnly {
  static uint32_t Value(uint32_t s, uint32_t d) { return s < d ? s : d; }
};
struct LightenOnly {
  static uint32_t Value(uint32_t s, uint32_t d) { return s > d ? s : d; }
};

// The row function of each mode; null for the modes that draw nothing.
constexpr BlendFn kModeFunctions[kModeCount] = {
    BlendNormal,     nullptr,          nullptr,       BlendMultiply,      BlendScreen,     BlendOverlay,
    BlendDifference, BlendAddition,    BlendSubtract, BlendDarkenOnly,    BlendLightenOnly, BlendHue,
    BlendSaturation, BlendColor,       BlendValue,    BlendDivide,        BlendDodge,      BlendBurn,
    BlendHardLight,  BlendSoftLight,   BlendGrainExtract, BlendGrainMerge, nullptr,        nullptr,
    nullptr,         nullptr,
};

}  // namespace

void BlendNormal(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  switch (bt * 8 + bs) {
    case 1 * 8 + 1: NormalRun<1, 1>(t, s, n, o); break;
    case 1 * 8 + 2: NormalRun<1, 2>(t, s, n, o); break;
    case 2 * 8 + 1: NormalRun<2, 1>(t, s, n, o); break;
    case 2 * 8 + 2: NormalRun<2, 2>(t, s, n, o); break;
    case 3 * 8 + 3: NormalRun<3, 3>(t, s, n, o); break;
    case 3 * 8 + 4: NormalRun<3, 4>(t, s, n, o); break;
    case 4 * 8 + 3: NormalRun<4, 3>(t, s, n, o); break;
    case 4 * 8 + 4: NormalRun<4, 4>(t, s, n, o); break;
    default: break;
  }
}

void BlendMultiply(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Multiply>>(t, bt, s, bs, n, o);
}
void BlendScreen(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Screen>>(t, bt, s, bs, n, o);
}
void BlendOverlay(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Overlay>>(t, bt, s, bs, n, o);
}
void BlendDifference(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Difference>>(t, bt, s, bs, n, o);
}
void BlendAddition(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Addition>>(t, bt, s, bs, n, o);
}
void BlendSubtract(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Subtract>>(t, bt, s, bs, n, o);
}
void BlendDarkenOnly(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<DarkenOnly>>(t, bt, s, bs, n, o);
}
void BlendLightenOnly(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<LightenOnly>>(t, bt, s, bs, n, o);
}

ResultCode BlendRowIndexed(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t o, uint32_t n) {
  if (t == nullptr || s == nullptr) return ResultCode::InvalidArgument;
  if (o < 128) return ResultCode::Ok;
  if (bt >= 3) return ResultCode::InvalidArgument;
  // A pixel shows when its alpha times the opacity exceeds half of 255 * 255.
  constexpr uint32_t kThreshold = 32512;
  switch (bt * 8 + bs) {
    case 1 * 8 + 1:
      std::memcpy(t, s, n);
      break;
    case 1 * 8 + 2:
      for (uint32_t i = 0; i < n; ++i)
        if (s[2 * i + 1] * o > kThreshold) t[i] = s[2 * i];
      break;
    case 2 * 8 + 1:
      for (uint32_t i = 0; i < n; ++i) {
        t[2 * i] = s[i];
        t[2 * i + 1] = 255;
      }
      break;
    case 2 * 8 + 2:
      for (uint32_t i = 0; i < n; ++i) {
        if (s[2 * i + 1] * o > kThreshold) {
          t[2 * i] = s[2 * i];
          t[2 * i + 1] = 255;
        }
      }
      break;
    default:
      break;
  }
  return ResultCode::Ok;
}

ResultCode BlendRow(uint32_t layerType, uint32_t n, const uint8_t* source, uint32_t opacity, uint8_t* target,
                    uint32_t targetBytes, uint32_t mode) {
  if (target == nullptr || source == nullptr || opacity > 255 || n == 0) return ResultCode::InvalidArgument;
  uint32_t sourceBytes = XcfBytesPerPixel(layerType);
  if (sourceBytes == 0) return ResultCode::InvalidArgument;
  if (opacity == 0) return ResultCode::Ok;
  if (layerType == kLayerIndexed || layerType == kLayerIndexedA) return BlendRowIndexed(target, targetBytes, source, sourceBytes, opacity, n);
  if (mode >= kModeCount) return ResultCode::InvalidArgument;
  BlendFn function = kModeFunctions[mode];
  if (function != nullptr) function(target, targetBytes, source, sourceBytes, n, opacity);
  return ResultCode::Ok;
}

}  // namespace tessel
