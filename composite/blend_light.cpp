// Divide, dodge, burn, hard light, soft light, grain extract and grain
// merge: channel formulas on the common frame.
#include "composite/blend_modes.h"
#include "composite/blend_frame.h"

namespace tessel {

namespace {

inline uint32_t Clamp255(int32_t x) { return x < 0 ? 0u : (x > 255 ? 255u : static_cast<uint32_t>(x)); }

struct Divide {
  static uint32_t Value(uint32_t s, uint32_t d) {
    uint32_t q = (d * 256) / (s + 1);
    return q > 255 ? 255 : q;
  }
};
struct Dodge {
  static uint32_t Value(uint32_t s, uint32_t d) {
    uint32_t q = (d * 256) / (256 - s);
    return q > 255 ? 255 : q;
  }
};
struct Burn {
  static uint32_t Value(uint32_t s, uint32_t d) {
    return Clamp255(255 - static_cast<int32_t>(((255 - d) * 256) / (s + 1)));
  }
};
struct HardLight {
  static uint32_t Value(uint32_t s, uint32_t d) {
    if (s <= 128) return (2 * s * d) >> 8;
    return 255 - (((511 - 2 * s) * (255 - d)) >> 8);
  }
};
struct SoftLight {
  static uint32_t Value(uint32_t s, uint32_t d) {
    uint32_t m = Div255(s * d);                          // multiply
    uint32_t k = 255 - Div255((255 - s) * (255 - d));    // screen
    return Div255(d * k) + Div255(m * (255 - d));
  }
};
struct GrainExtract {
  static uint32_t Value(uint32_t s, uint32_t d) {
    return Clamp255(static_cast<int32_t>(d) - static_cast<int32_t>(s) + 128);
  }
};
struct GrainMerge {
  static uint32_t Value(uint32_t s, uint32_t d) {
    return Clamp255(static_cast<int32_t>(d) + static_cast<int32_t>(s) - 128);
  }
};

}  // namespace

void BlendDivide(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Divide>>(t, bt, s, bs, n, o);
}
void BlendDodge(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Dodge>>(t, bt, s, bs, n, o);
}
void BlendBurn(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<Burn>>(t, bt, s, bs, n, o);
}
void BlendHardLight(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<HardLight>>(t, bt, s, bs, n, o);
}
void BlendSoftLight(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<SoftLight>>(t, bt, s, bs, n, o);
}
void BlendGrainExtract(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<GrainExtract>>(t, bt, s, bs, n, o);
}
void BlendGrainMerge(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendFrame<PerChannel<GrainMerge>>(t, bt, s, bs, n, o);
}

}  // namespace tessel
