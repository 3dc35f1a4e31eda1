#include "composite/color_space.h"

#include <cmath>

namespace tessel {

namespace {

// The extremes of a triple. Ties do not matter for the values, but the
// comparisons are those the hue formulas were made with.
inline void MaxMin(int32_t r, int32_t g, int32_t b, int32_t* max, int32_t* min) {
  if (r > g) {
    *max = r > b ? r : b;
    *min = g < b ? g : b;
  } else {
    *max = g > b ? g : b;
    *min = r < b ? r : b;
  }
}

// Nearest integer of a non-negative value, halves going up.
inline int32_t Round(double x) { return static_cast<int32_t>(x + 0.5); }

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
  if (max != 0) saturation = (max - min) * 255 / max;
  if (saturation != 0) {
    const int32_t delta = max - min;
    // Red before green before blue where two share the maximum; the
    // division truncates toward zero before the wrap.
    if (red == max) {
      hue = (green - blue) * 60 / delta;
    } else if (green == max) {
      hue = (blue - red) * 60 / delta + 120;
    } else {
      hue = (red - green) * 60 / delta + 240;
    }
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
  const double s = saturation / 255.0;
  const double v = value / 255.0;
  const double h = (hue == 360 ? 0 : hue) / 60.0;
  const int32_t i = static_cast<int32_t>(std::floor(h));
  const double f = h - i;
  const double p = v * (1.0 - s);
  const double q = v * (1.0 - s * f);
  const double t = v * (1.0 - s * (1.0 - f));
  double r;
  double g;
  double b;
  switch (i) {
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    case 5: r = v; g = p; b = q; break;
    default: r = v; g = t; b = p; break;
  }
  hue = Round(255.0 * r);
  saturation = Round(255.0 * g);
  value = Round(255.0 * b);
}

int32_t RgbSaturation(int32_t r, int32_t g, int32_t b) {
  int32_t max;
  int32_t min;
  MaxMin(r, g, b, &max, &min);
  return max == 0 ? 0 : (max - min) * 255 / max;
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

}  // namespace tessel
