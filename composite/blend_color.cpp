// Hue, saturation, color and value: the colour-space conversions and the
// four modes that use them. Both live here so that the conversions are
// inlined into the row functions.
#include <cmath>

#include "composite/blend_modes.h"
#include "composite/blend_frame.h"
#include "composite/color_space.h"
#include "composite/divide.h"

namespace tessel {

namespace {

// The extremes of a triple. Ties do not matter for the values, but the
// comparisons are those the hue formulas were made with.
inline void MaxMin(int32_t r, int32_t g, int32_t b, int32_t* max, int32_t* min) {
  const bool redFirst = r > g;
  const int32_t high = redFirst ? r : g;
  const int32_t low = redFirst ? g : r;
  *max = high > b ? high : b;
  *min = low < b ? low : b;
}

// Nearest integer of a non-negative value, halves going up.
inline int32_t Round(double x) { return static_cast<int32_t>(x + 0.5); }

// The divisions of the HSV formulas are done by multiplication (divide.h);
// the quotients v / 255.0 and h / 60.0 are tabled. A constant expression
// rounds exactly as the division at run time does.
struct HsvTables {
  double unit[256];    // v / 255.0
  double sixth[360];   // h / 60.0
  constexpr HsvTables() : unit(), sixth() {
    for (int v = 0; v < 256; ++v) unit[v] = v / 255.0;
    for (int h = 0; h < 360; ++h) sixth[h] = h / 60.0;
  }
};
constexpr HsvTables kHsv;

// x / d truncated toward zero; by multiplication for |x| < 2^16 and d from
// 1 to 255, which is all that channel values give.
inline int32_t Divide(int32_t x, int32_t d) {
  if (d < 1 || d > 255 || x <= -65536 || x >= 65536) return x / d;
  const int32_t sign = x >> 31;  // 0 or -1
  const auto magnitude = static_cast<uint32_t>((x ^ sign) - sign);
  const auto q = static_cast<int32_t>(DivideSmall(magnitude, static_cast<uint32_t>(d)));
  return (q ^ sign) - sign;
}

}  // namespace

void RgbToHsv(int32_t& r, int32_t& g, int32_t& b) {
  const int32_t red = r;
  const int32_t green = g;
  const int32_t blue = b;
  int32_t max;
  int32_t min;
  MaxMin(red, green, blue, &max, &min);
  int32_t hue = 0;
  int32_t saturation = 0;
  if (max != 0) saturation = Divide((max - min) * 255, max);
  if (saturation != 0) {
    // Red before green before blue where two share the maximum; the
    // division truncates toward zero before the wrap. (Plain selections, so
    // that the compiler need not branch on the colour.)
    int32_t difference = red - green;
    int32_t base = 240;
    if (green == max) difference = blue - red, base = 120;
    if (red == max) difference = green - blue, base = 0;
    hue = Divide(difference * 60, max - min) + base;
    if (hue < 0) hue += 360;
  }
  r = hue;
  g = saturation;
  b = max;
}

void HsvToRgb(int32_t& hue, int32_t& saturation, int32_t& value) {
  if (saturation == 0) {
    hue = value;
    saturation = value;
    return;
  }
  // Channel values and hues from the conversions stay in range; others are
  // divided as they come.
  const bool tabled = saturation > 0 && saturation < 256 && value >= 0 && value < 256 && hue >= 0 && hue <= 360;
  const double s = tabled ? kHsv.unit[saturation] : saturation / 255.0;
  const double v = tabled ? kHsv.unit[value] : value / 255.0;
  const double h = tabled ? kHsv.sixth[hue == 360 ? 0 : hue] : (hue == 360 ? 0 : hue) / 60.0;
  const int32_t i = static_cast<int32_t>(std::floor(h));
  const double f = h - i;
  const double p = v * (1.0 - s);
  const double q = v * (1.0 - s * f);
  const double t = v * (1.0 - s * (1.0 - f));
  // By sextant, which of v, p, q, t each channel takes: (v, t, p), (q, v, p),
  // (p, v, t), (p, q, v), (t, p, v), (v, p, q). A lookup, not a branch.
  static constexpr uint8_t kPick[6][3] = {{0, 3, 1}, {2, 0, 1}, {1, 0, 3}, {1, 2, 0}, {3, 1, 0}, {0, 1, 2}};
  const double candidates[4] = {v, p, q, t};
  const uint8_t* pick = kPick[i >= 0 && i < 6 ? i : 0];
  hue = Round(255.0 * candidates[pick[0]]);
  saturation = Round(255.0 * candidates[pick[1]]);
  value = Round(255.0 * candidates[pick[2]]);
}

int32_t RgbSaturation(int32_t r, int32_t g, int32_t b) {
  int32_t max;
  int32_t min;
  MaxMin(r, g, b, &max, &min);
  return max == 0 ? 0 : Divide((max - min) * 255, max);
}

void RgbToHsl(int32_t& r, int32_t& g, int32_t& b) {
  const int32_t red = r;
  const int32_t green = g;
  const int32_t blue = b;
  int32_t max;
  int32_t min;
  MaxMin(red, green, blue, &max, &min);
  const double l = (max + min) * 0.5;
  if (max == min) {
    r = 0;
    g = 0;
    b = Round(l);
    return;
  }
  const double delta = max - min;
  const double s = l < 128 ? 255 * delta / (max + min) : 255 * delta / (511 - max - min);
  double h;
  if (red == max) {
    h = (green - blue) / delta;
  } else if (green == max) {
    h = 2 + (blue - red) / delta;
  } else {
    h = 4 + (red - green) / delta;
  }
  h = h * 42.5;
  if (h < 0) h += 255;
  r = Round(h);
  g = Round(s);
  b = Round(l);
}

// The HSL hue runs round a circle of 255 steps, so a sixth of it is 42.5:
// red at 0, yellow at 42.5, green at 85, cyan at 127.5, blue at 170,
// magenta at 212.5. Each channel is read in a frame of its own (the hue
// plus 85 for red, the hue for green, minus 85 for blue, wrapped into the
// circle), in which its own colour lies at 85: it rises from m1 to m2 over
// the first sixth (0 to 42.5), stays at m2 for two sixths (to 127.5), falls
// back to m1 over the fourth (to 170) and stays at m1 for the rest.
int32_t HslComponent(double m1, double m2, double hue) {
  if (hue > 255) {
    hue -= 255;
  } else if (hue < 0) {
    hue += 255;
  }
  double x;
  if (hue < 42.5) {
    x = m1 + (m2 - m1) * hue / 42.5;
  } else if (hue < 127.5) {
    x = m2;
  } else if (hue < 170) {
    x = m1 + (m2 - m1) * (170 - hue) / 42.5;
  } else {
    x = m1;
  }
  return Round(255 * x);
}

void HslToRgb(int32_t& hue, int32_t& saturation, int32_t& lightness) {
  if (saturation == 0) {
    hue = lightness;
    saturation = lightness;
    return;
  }
  const double L = lightness;
  const double S = saturation;
  const double m2 = L < 128 ? L * (S + 255) / 65025 : (L + S - L * S / 255) / 255;
  const double m1 = L / 127.5 - m2;
  const double h = hue;
  hue = HslComponent(m1, m2, h + 85);
  saturation = HslComponent(m1, m2, h);
  lightness = HslComponent(m1, m2, h - 85);
}


// The row functions.

namespace {

// The new colour's channels as the frame takes them.
inline bool Deliver(int32_t r, int32_t g, int32_t b, uint32_t* out) {
  out[0] = static_cast<uint32_t>(r);
  out[1] = static_cast<uint32_t>(g);
  out[2] = static_cast<uint32_t>(b);
  return true;
}

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
    return Deliver(h, sat, v, b);
  }
};

struct Saturation {
  template <uint32_t C>
  static bool Compute(const uint8_t* s, const uint8_t* d, uint32_t* b) {
    int32_t h = d[0], sat = d[1], v = d[2];
    RgbToHsv(h, sat, v);
    sat = RgbSaturation(s[0], s[1], s[2]);
    HsvToRgb(h, sat, v);
    return Deliver(h, sat, v, b);
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
    return Deliver(h, sat, l, b);
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
    return Deliver(h, sat, v, b);
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
