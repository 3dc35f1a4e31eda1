// The plug-in's HSV and HSL conversions in 8-bit integers (the hue,
// saturation, color and value modes'): the same idea as GIMP's in floating
// point (color_space_float.h).
#include "composite/color_space.h"

#include <cmath>

#include "composite/color_space_lanes.h"
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
constexpr int32_t Round(double x) { return static_cast<int32_t>(x + 0.5); }

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

#if TESSEL_SSE2
int32_t HsvSlopeChannel(int32_t hue, int32_t saturation, int32_t value) {
  const double s = kHsv.unit[saturation], v = kHsv.unit[value], h = kHsv.sixth[hue];
  const int32_t i = static_cast<int32_t>(h);
  const double f = h - i;
  return Round(255.0 * (v * (1.0 - s * (i % 2 == 1 ? f : 1.0 - f))));
}
#endif

}  // namespace tessel
