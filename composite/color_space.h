// The colour-space conversions of the hue, saturation, color and value
// modes. They work in place on three integers: forward conversions read
// red, green, blue and write hue, saturation, value or lightness.
#pragma once

#include <cstdint>

namespace tessel {

// Integer: hue 0..359, saturation 0..255, value 0..255.
void RgbToHsv(int32_t& r, int32_t& g, int32_t& b);
void HsvToRgb(int32_t& hue, int32_t& saturation, int32_t& value);
// The HSV saturation alone.
int32_t RgbSaturation(int32_t r, int32_t g, int32_t b);

// Hue on a circle of 255 steps, saturation and lightness 0..255.
void RgbToHsl(int32_t& r, int32_t& g, int32_t& b);
void HslToRgb(int32_t& hue, int32_t& saturation, int32_t& lightness);
int32_t HslComponent(double m1, double m2, double hue);

}  // namespace tessel
