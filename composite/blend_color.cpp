// Hue, saturation, color and value: the new colour takes one or two
// components from the layer and the rest from the target.
#include "composite/blend.h"
#include "composite/blend_frame.h"
#include "composite/color_space.h"

namespace tessel {

namespace {

struct Hue {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t sh = s[0], ss = s[1], sv = s[2];
    RgbToHsv(sh, ss, sv);
    if (ss == 0) return false;  // a gray layer pixel has no hue to give
    int32_t h = d[0], sat = d[1], v = d[2];
    RgbToHsv(h, sat, v);
    h = sh;
    HsvToRgb(h, sat, v);
    b[0] = static_cast<uint32_t>(h);
    b[1] = static_cast<uint32_t>(sat);
    b[2] = static_cast<uint32_t>(v);
    return true;
  }
};

struct Saturation {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t h = d[0], sat = d[1], v = d[2];
    RgbToHsv(h, sat, v);
    sat = RgbSaturation(s[0], s[1], s[2]);
    HsvToRgb(h, sat, v);
    b[0] = static_cast<uint32_t>(h);
    b[1] = static_cast<uint32_t>(sat);
    b[2] = static_cast<uint32_t>(v);
    return true;
  }
};

struct Color {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t sh = s[0], ss = s[1], sl = s[2];
    RgbToHsl(sh, ss, sl);
    int32_t h = d[0], sat = d[1], l = d[2];
    RgbToHsl(h, sat, l);
    h = sh;
    sat = ss;
    HslToRgb(h, sat, l);
    b[0] = static_cast<uint32_t>(h);
    b[1] = static_cast<uint32_t>(sat);
    b[2] = static_cast<uint32_t>(l);
    return true;
  }
};

struct Value {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t h = d[0], sat = d[1], v = d[2];
    RgbToHsv(h, sat, v);
    uint32_t m = s[0] > s[1] ? s[0] : s[1];
    v = static_cast<int32_t>(m > s[2] ? m : s[2]);
    HsvToRgb(h, sat, v);
    b[0] = static_cast<uint32_t>(h);
    b[1] = static_cast<uint32_t>(sat);
    b[2] = static_cast<uint32_t>(v);
    return true;
  }
};

template <typename Mode>
void BlendColorMode(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  if (bt == 1 || bt == 2) {
    BlendComponentGray(t, bt, s, bs, n, o);
    return;
  }
  BlendFrameRgb<Mode>(t, bt, s, bs, n, o);
}

}  // namespace

void BlendHue(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Hue>(t, bt, s, bs, n, o);
}
void BlendSaturation(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Saturation>(t, bt, s, bs, n, o);
}
void BlendColor(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Color>(t, bt, s, bs, n, o);
}
void BlendValue(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  BlendColorMode<Value>(t, bt, s, bs, n, o);
}

// These modes have no gray form: on a gray target they mix the layer's gray
// value in like normal mode, without touching target alpha.
void BlendComponentGray(uint8_t* t, uint32_t bt, const uint8_t* s, uint32_t bs, uint32_t n, uint32_t o) {
  if (bt == 1) {
    BlendNormal(t, bt, s, bs, n, o);
    return;
  }
  if (bt != 2) return;
  if (bs == 1) {
    for (uint32_t i = 0; i < n; ++i, t += 2, ++s) t[0] = static_cast<uint8_t>(Div255(s[0] * o + t[0] * (255 - o)));
    return;
  }
  if (bs != 2) return;
  for (uint32_t i = 0; i < n; ++i, t += 2, s += 2) {
    uint32_t a = Div255(s[1] * o);
    if (a == 0) continue;
    uint32_t da = t[1];
    uint32_t total = da + Div255((255 - da) * a);
    if (a == total) {
      t[0] = s[0];
      continue;
    }
    uint32_t r = a * 255 / total;
    t[0] = static_cast<uint8_t>(Div255(s[0] * r + t[0] * (255 - r)));
  }
}

}  // namespace tessel
