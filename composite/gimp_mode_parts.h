// The parts GIMP's modes are made of, for GimpModeOpChoose to pick from
// once per layer: how a mode draws (its kind), the blend functions and
// legacy formulas, the conversions between spaces and the row functions of
// each composite mode. Each part is compiled for its own kind, formula or
// composite mode, so that no row asks which it is.
#pragma once

#include <cstdint>

#include "composite/gimp_modes.h"

namespace tessel {

enum class GimpKind : uint8_t {
  Normal,     // gimp:normal, by the composite mode
  Behind,     // gimp:behind
  Legacy,     // the legacy modes' own formula, clipped to the backdrop
  Blend,      // a blend function, then the composite mode
  Erase,      // alpha only
  Merge,
  Split,      // alpha only
  Replace,    // also a pass-through layer that is no group
  AntiErase,  // alpha only
  Dissolve,
};

// The blend functions of the modern modes, and the legacy formulas.
enum GimpFormula : uint8_t {
  fNone, fMultiply, fScreen, fOverlay, fDifference, fAddition, fSubtract, fDarken, fLighten, fHsvHue, fHsvSaturation,
  fHslColor, fHsvValue, fDivide, fDodge, fBurn, fHardLight, fSoftLight, fGrainExtract, fGrainMerge, fVividLight,
  fPinLight, fLinearLight, fHardMix, fExclusion, fLinearBurn, fLumaDarken, fLumaLighten, fLuminance, fColorErase,
  fLchHue, fLchChroma, fLchColor, fLchLightness, kGimpFormulas,
};

// From one space into another (neither Auto); null when they are one.
GimpConvertRowFn GimpConvertRowFor(GimpSpace from, GimpSpace to);
// The blend function of a formula of the modern modes.
GimpBlendRowFn GimpBlendRowFor(GimpFormula formula);
// The blended colour onto the backdrop by a composite mode.
GimpCompositeRowFn GimpCompositeRowFor(GimpComposite mode, bool subtractive);
// The modes that composite the layer itself: normal, behind, erase, merge,
// split, replace and anti erase.
GimpCompositeRowFn GimpKindRowFor(GimpKind kind, GimpComposite mode);
// A legacy mode's formula, clipped to the backdrop.
GimpCompositeRowFn GimpLegacyRowFor(GimpFormula formula);
GimpCompositeRowFn GimpDissolveRowFor(GimpComposite mode);

// Replace of one pixel, by union: what a pass-through group does.
void GimpReplacePixel(const float* in, const float* layer, float maskValue, float opacity, float* out);

// Small helpers the parts share.
inline void CopyColour(float* out, const float* from) {
  out[0] = from[0];
  out[1] = from[1];
  out[2] = from[2];
}
inline float Clamp01(float v) { return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v; }

}  // namespace tessel
