#include "composite/color_space_float.h"

#include <algorithm>

namespace tessel {

Hsv RgbToHsv(const float* c) {
  const double r = c[0], g = c[1], b = c[2];
  const double max = std::max(r, std::max(g, b)), min = std::min(r, std::min(g, b));
  Hsv o{0.0, 0.0, max};
  const double delta = max - min;
  if (delta > 0.0001) {
    o.s = delta / max;
    if (r == max) {
      o.h = (g - b) / delta;
      if (o.h < 0.0) o.h += 6.0;
    } else if (g == max) {
      o.h = 2.0 + (b - r) / delta;
    } else {
      o.h = 4.0 + (r - g) / delta;
    }
    o.h /= 6.0;
  }
  return o;
}

void HsvToRgb(const Hsv& hsv, float* out) {
  double r, g, b;
  if (hsv.s == 0.0) {
    r = g = b = hsv.v;
  } else {
    double hue = hsv.h == 1.0 ? 0.0 : hsv.h;
    hue *= 6.0;
    const int i = static_cast<int>(hue);
    const double f = hue - i, w = hsv.v * (1.0 - hsv.s), q = hsv.v * (1.0 - hsv.s * f),
                 t = hsv.v * (1.0 - hsv.s * (1.0 - f));
    switch (i) {
      case 0: r = hsv.v, g = t, b = w; break;
      case 1: r = q, g = hsv.v, b = w; break;
      case 2: r = w, g = hsv.v, b = t; break;
      case 3: r = w, g = q, b = hsv.v; break;
      case 4: r = t, g = w, b = hsv.v; break;
      default: r = hsv.v, g = w, b = q; break;
    }
  }
  out[0] = static_cast<float>(r);
  out[1] = static_cast<float>(g);
  out[2] = static_cast<float>(b);
}

Hsl RgbToHsl(const float* c) {
  const double r = c[0], g = c[1], b = c[2];
  const double max = std::max(r, std::max(g, b)), min = std::min(r, std::min(g, b));
  Hsl o{-1.0, 0.0, (max + min) / 2.0};
  if (max != min) {
    o.s = o.l <= 0.5 ? (max - min) / (max + min) : (max - min) / (2.0 - max - min);
    double delta = max - min;
    if (delta == 0.0) delta = 1.0;
    if (r == max) {
      o.h = (g - b) / delta;
    } else if (g == max) {
      o.h = 2.0 + (b - r) / delta;
    } else {
      o.h = 4.0 + (r - g) / delta;
    }
    o.h /= 6.0;
    if (o.h < 0.0) o.h += 1.0;
  }
  return o;
}

namespace {

double HslValue(double n1, double n2, double hue) {
  if (hue > 6.0) {
    hue -= 6.0;
  } else if (hue < 0.0) {
    hue += 6.0;
  }
  if (hue < 1.0) return n1 + (n2 - n1) * hue;
  if (hue < 3.0) return n2;
  if (hue < 4.0) return n1 + (n2 - n1) * (4.0 - hue);
  return n1;
}

}  // namespace

void HslToRgb(const Hsl& hsl, float* out) {
  if (hsl.s == 0.0) {
    out[0] = out[1] = out[2] = static_cast<float>(hsl.l);
    return;
  }
  const double m2 = hsl.l <= 0.5 ? hsl.l * (1.0 + hsl.s) : hsl.l + hsl.s - hsl.l * hsl.s;
  const double m1 = 2.0 * hsl.l - m2;
  out[0] = static_cast<float>(HslValue(m1, m2, hsl.h * 6.0 + 2.0));
  out[1] = static_cast<float>(HslValue(m1, m2, hsl.h * 6.0));
  out[2] = static_cast<float>(HslValue(m1, m2, hsl.h * 6.0 - 2.0));
}

}  // namespace tessel
