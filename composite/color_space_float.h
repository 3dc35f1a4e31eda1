// The HSV and HSL conversions of GIMP's colour library, in floating point,
// which GIMP 2.10's legacy hue, saturation, color and value modes use: the
// same idea as the plug-in's 8-bit conversions (color_space.h) in GIMP's
// arithmetic. Hue runs from 0 to 1; an HSL hue of -1 means none.
#pragma once

namespace tessel {

struct Hsv {
  double h, s, v;
};
struct Hsl {
  double h, s, l;
};

Hsv RgbToHsv(const float* rgb);
void HsvToRgb(const Hsv& hsv, float* rgb);
Hsl RgbToHsl(const float* rgb);
void HslToRgb(const Hsl& hsl, float* rgb);

}  // namespace tessel
