// GIMP's three spaces for blending and compositing: linear light, the sRGB
// curve and CIE LAB (D50), and a row function for each way between them.
#include <cmath>
#include <cstring>

#include "composite/gimp_mode_parts.h"
#include "composite/linear_pixels.h"

namespace tessel {

namespace {

// Linear sRGB to CIE XYZ adapted to D50, as GIMP's pixel library has it, and
// the white it maps (1, 1, 1) to: so that a gray has no colour in LAB at
// all (a and b exactly 0), and an LCH mode takes no hue from it.
constexpr double kToXyz[3][3] = {{0.436034844206, 0.385116653627, 0.143051371806},
                                 {0.222487940027, 0.716903838879, 0.060608257216},
                                 {0.013915884749, 0.097060506593, 0.713928954714}};
constexpr double kWhite[3] = {kToXyz[0][0] + kToXyz[0][1] + kToXyz[0][2], kToXyz[1][0] + kToXyz[1][1] + kToXyz[1][2],
                              kToXyz[2][0] + kToXyz[2][1] + kToXyz[2][2]};
constexpr double kLabEpsilon = 216.0 / 24389.0;
constexpr double kLabKappa = 24389.0 / 27.0;

struct FromXyz {
  double m[3][3];
};
FromXyz Inverse() {
  const auto& a = kToXyz;
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  FromXyz r{};
  r.m[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
  r.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  r.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  r.m[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
  r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  r.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  r.m[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
  r.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  return r;
}

void LinearToLab(const float* in, float* out) {
  double t[3];
  for (int i = 0; i < 3; ++i) {
    const double v = (kToXyz[i][0] * in[0] + kToXyz[i][1] * in[1] + kToXyz[i][2] * in[2]) / kWhite[i];
    t[i] = v > kLabEpsilon ? std::cbrt(v) : (kLabKappa * v + 16.0) / 116.0;
  }
  out[0] = static_cast<float>(116.0 * t[1] - 16.0);
  out[1] = static_cast<float>(500.0 * (t[0] - t[1]));
  out[2] = static_cast<float>(200.0 * (t[1] - t[2]));
}

void LabToLinear(const float* in, float* out) {
  static const FromXyz from = Inverse();
  const double fy = (in[0] + 16.0) / 116.0;
  const double fx = fy + in[1] / 500.0;
  const double fz = fy - in[2] / 200.0;
  const auto back = [](double f) { return f * f * f > kLabEpsilon ? f * f * f : (116.0 * f - 16.0) / kLabKappa; };
  const double xyz[3] = {back(fx) * kWhite[0],
                         (in[0] > kLabKappa * kLabEpsilon ? fy * fy * fy : in[0] / kLabKappa) * kWhite[1],
                         back(fz) * kWhite[2]};
  for (int i = 0; i < 3; ++i)
    out[i] = static_cast<float>(from.m[i][0] * xyz[0] + from.m[i][1] * xyz[1] + from.m[i][2] * xyz[2]);
}

// One pixel's colour from one space into another by way of linear light;
// alpha is copied. The sRGB curve is taken channel by channel.
template <GimpSpace from, GimpSpace to>
void ConvertPixel(const float* in, float* out) {
  out[3] = in[3];
  float linear[3];
  if (from == GimpSpace::Perceptual) {
    for (int c = 0; c < 3; ++c) linear[c] = SrgbToLinear(in[c]);
  } else if (from == GimpSpace::Lab) {
    LabToLinear(in, linear);
  } else {
    std::memcpy(linear, in, sizeof linear);
  }
  if (to == GimpSpace::Perceptual) {
    for (int c = 0; c < 3; ++c) out[c] = LinearToSrgb(linear[c]);
  } else if (to == GimpSpace::Lab) {
    LinearToLab(linear, out);
  } else {
    std::memcpy(out, linear, sizeof linear);
  }
}

template <GimpSpace from, GimpSpace to>
void ConvertRowOf(const float* in, float* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) ConvertPixel<from, to>(in + 4 * i, out + 4 * i);
}

}  // namespace

GimpConvertRowFn GimpConvertRowFor(GimpSpace from, GimpSpace to) {
  using S = GimpSpace;
  if (from == to) return nullptr;
  // Linear light and the curve both ways: the curve's own row kernels.
  if (from == S::Linear && to == S::Perceptual) return RowToCurve;
  if (from == S::Perceptual && to == S::Linear) return RowToLinear;
  if (from == S::Linear) return ConvertRowOf<S::Linear, S::Lab>;
  if (from == S::Perceptual) return ConvertRowOf<S::Perceptual, S::Lab>;
  return to == S::Linear ? ConvertRowOf<S::Lab, S::Linear> : ConvertRowOf<S::Lab, S::Perceptual>;
}

}  // namespace tessel
