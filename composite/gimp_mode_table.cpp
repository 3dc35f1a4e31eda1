// GIMP's layer modes by number, with the defaults its files rely on, and
// the op of a layer chosen once from them; a row of an op.
#include <cstring>

#include "composite/gimp_mode_parts.h"

namespace tessel {

namespace {

struct ModeInfo {
  GimpKind kind;
  GimpFormula formula;
  bool subtractive;
  GimpComposite composite;
  GimpSpace compositeSpace;
  GimpSpace blendSpace;
};

constexpr GimpComposite U = GimpComposite::Union, C = GimpComposite::ClipToBackdrop;
constexpr GimpSpace A = GimpSpace::Auto, L = GimpSpace::Linear, P = GimpSpace::Perceptual, B = GimpSpace::Lab;

// GIMP 2.10's modes by number, with the defaults its files rely on when a
// layer stores none of its own.
constexpr ModeInfo kModes[kGimpModeCount] = {
    {GimpKind::Normal, fNone, false, U, P, A},            // 0 normal (legacy)
    {GimpKind::Dissolve, fNone, false, U, A, A},          // 1 dissolve
    {GimpKind::Behind, fNone, false, U, P, A},            // 2 behind (legacy)
    {GimpKind::Legacy, fMultiply, false, C, P, P},        // 3 multiply (legacy)
    {GimpKind::Legacy, fScreen, false, C, P, P},          // 4 screen (legacy)
    {GimpKind::Legacy, fSoftLight, false, C, P, P},       // 5 old overlay, which GIMP draws as soft light
    {GimpKind::Legacy, fDifference, false, C, P, P},      // 6 difference (legacy)
    {GimpKind::Legacy, fAddition, false, C, P, P},        // 7 addition (legacy)
    {GimpKind::Legacy, fSubtract, false, C, P, P},        // 8 subtract (legacy)
    {GimpKind::Legacy, fDarken, false, C, P, P},          // 9 darken only (legacy)
    {GimpKind::Legacy, fLighten, false, C, P, P},         // 10 lighten only (legacy)
    {GimpKind::Legacy, fHsvHue, false, C, P, P},          // 11 HSV hue (legacy)
    {GimpKind::Legacy, fHsvSaturation, false, C, P, P},   // 12 HSV saturation (legacy)
    {GimpKind::Legacy, fHslColor, false, C, P, P},        // 13 HSL color (legacy)
    {GimpKind::Legacy, fHsvValue, false, C, P, P},        // 14 HSV value (legacy)
    {GimpKind::Legacy, fDivide, false, C, P, P},          // 15 divide (legacy)
    {GimpKind::Legacy, fDodge, false, C, P, P},           // 16 dodge (legacy)
    {GimpKind::Legacy, fBurn, false, C, P, P},            // 17 burn (legacy)
    {GimpKind::Legacy, fHardLight, false, C, P, P},       // 18 hard light (legacy)
    {GimpKind::Legacy, fSoftLight, false, C, P, P},       // 19 soft light (legacy)
    {GimpKind::Legacy, fGrainExtract, false, C, P, P},    // 20 grain extract (legacy)
    {GimpKind::Legacy, fGrainMerge, false, C, P, P},      // 21 grain merge (legacy)
    {GimpKind::Blend, fColorErase, true, C, P, P},        // 22 color erase (legacy)
    {GimpKind::Blend, fOverlay, false, C, L, P},          // 23 overlay
    {GimpKind::Blend, fLchHue, false, C, L, B},           // 24 LCh hue
    {GimpKind::Blend, fLchChroma, false, C, L, B},        // 25 LCh chroma
    {GimpKind::Blend, fLchColor, false, C, L, B},         // 26 LCh color
    {GimpKind::Blend, fLchLightness, false, C, L, B},     // 27 LCh lightness
    {GimpKind::Normal, fNone, false, U, L, A},            // 28 normal
    {GimpKind::Behind, fNone, false, U, L, A},            // 29 behind
    {GimpKind::Blend, fMultiply, false, C, L, L},         // 30 multiply
    {GimpKind::Blend, fScreen, false, C, L, P},           // 31 screen
    {GimpKind::Blend, fDifference, false, C, L, P},       // 32 difference
    {GimpKind::Blend, fAddition, false, C, L, L},         // 33 addition
    {GimpKind::Blend, fSubtract, false, C, L, L},         // 34 subtract
    {GimpKind::Blend, fDarken, false, C, L, A},           // 35 darken only
    {GimpKind::Blend, fLighten, false, C, L, A},          // 36 lighten only
    {GimpKind::Blend, fHsvHue, false, C, L, P},           // 37 HSV hue
    {GimpKind::Blend, fHsvSaturation, false, C, L, P},    // 38 HSV saturation
    {GimpKind::Blend, fHslColor, false, C, L, P},         // 39 HSL color
    {GimpKind::Blend, fHsvValue, false, C, L, P},         // 40 HSV value
    {GimpKind::Blend, fDivide, false, C, L, L},           // 41 divide
    {GimpKind::Blend, fDodge, false, C, L, P},            // 42 dodge
    {GimpKind::Blend, fBurn, false, C, L, P},             // 43 burn
    {GimpKind::Blend, fHardLight, false, C, L, P},        // 44 hard light
    {GimpKind::Blend, fSoftLight, false, C, L, P},        // 45 soft light
    {GimpKind::Blend, fGrainExtract, false, C, L, P},     // 46 grain extract
    {GimpKind::Blend, fGrainMerge, false, C, L, P},       // 47 grain merge
    {GimpKind::Blend, fVividLight, false, C, L, P},       // 48 vivid light
    {GimpKind::Blend, fPinLight, false, C, L, P},         // 49 pin light
    {GimpKind::Blend, fLinearLight, false, C, L, P},      // 50 linear light
    {GimpKind::Blend, fHardMix, false, C, L, P},          // 51 hard mix
    {GimpKind::Blend, fExclusion, false, C, L, P},        // 52 exclusion
    {GimpKind::Blend, fLinearBurn, false, C, L, P},       // 53 linear burn
    {GimpKind::Blend, fLumaDarken, false, C, L, P},       // 54 luma darken only
    {GimpKind::Blend, fLumaLighten, false, C, L, P},      // 55 luma lighten only
    {GimpKind::Blend, fLuminance, false, C, L, L},        // 56 luminance
    {GimpKind::Blend, fColorErase, true, C, L, L},        // 57 color erase
    {GimpKind::Erase, fNone, true, C, L, A},              // 58 erase
    {GimpKind::Merge, fNone, false, U, L, A},             // 59 merge
    {GimpKind::Split, fNone, true, C, A, A},              // 60 split
    {GimpKind::Replace, fNone, false, U, L, A},           // 61 pass through (on a layer that is no group)
    {GimpKind::Replace, fNone, false, U, L, A},           // 62 replace
    {GimpKind::AntiErase, fNone, false, U, A, A},         // 63 anti erase
};

// The layer's own pixels at its opacity and mask: the bottom layer of a
// group in a mode that leaves its pixels as they are.
void RunCopy(const GimpModeOp& op, float* target, const float* layer, const float*, const float* mask, uint32_t n,
             int64_t, int64_t, float*) {
  for (uint32_t i = 0; i < n; ++i, target += 4, layer += 4) {
    CopyColour(target, layer);
    target[3] = layer[3] * op.opacity * (mask != nullptr ? mask[i] : 1.0f);
  }
}

// The target and the layer into the composite space (in place over linear
// light), blended in the blend space where the mode blends, composited,
// and back into linear light. The scratch's rows (kGimpOpRows of them, in
// this order): the target and the layer in the composite space, the
// blended colour, the target and the layer in the blend space.
void RunComposite(const GimpModeOp& op, float* target, const float* layer, const float* layerCurve, const float* mask,
                  uint32_t n, int64_t x, int64_t y, float* scratch) {
  const size_t row = 4 * static_cast<size_t>(n);
  float* in = target;
  const float* lay = layer;
  if (op.toSpace != nullptr) {
    in = scratch;
    op.toSpace(target, in, n);
    if (layerCurve != nullptr && op.curveComposites) {
      lay = layerCurve;
    } else {
      op.toSpace(layer, scratch + row, n);
      lay = scratch + row;
    }
  }
  float* comp = nullptr;
  if (op.blend != nullptr) {
    comp = scratch + 2 * row;
    const float* bd = in;
    const float* bs = lay;
    if (op.toBlend != nullptr) {
      float* rows = scratch + 3 * row;
      op.toBlend(in, rows, n);
      bd = rows;
      if (layerCurve != nullptr && op.curveBlends) {
        bs = layerCurve;
      } else {
        op.toBlend(lay, rows + row, n);
        bs = rows + row;
      }
    }
    // Where either has no alpha the blend is not looked at: comp is the
    // layer there (no content for a subtractive mode).
    std::memcpy(comp, lay, sizeof(float) * row);
    if (op.subtractive)
      for (size_t i = 0; i < row; i += 4) comp[i + 3] = 0.0f;
    op.blend(bd, bs, comp, n);
    if (op.fromBlend != nullptr) op.fromBlend(comp, comp, n);
  }
  op.compositeRow(in, lay, comp, mask, op.opacity, n, x, y);
  if (op.fromSpace != nullptr) op.fromSpace(in, target, n);
}

void RunPassThrough(const GimpModeOp& op, float* target, const float* group, const float*, const float* mask,
                    uint32_t n, int64_t, int64_t, float*) {
  for (uint32_t i = 0; i < n; ++i)
    GimpReplacePixel(target + 4 * i, group + 4 * i, mask != nullptr ? mask[i] : 1.0f, op.opacity, target + 4 * i);
}

}  // namespace

bool GimpModeOpChoose(const XcfLayerBlending& blending, bool lastNode, GimpModeOp* op, const char** why) {
  if (blending.mode >= kGimpModeCount) {
    *why = "its layer mode is none of GIMP's (0 to 63)";
    return false;
  }
  if (blending.blendSpace > 3 || blending.compositeSpace > 3 || blending.compositeMode > 4) {
    *why = "its blend space, composite space or composite mode is none GIMP 2.10 knows";
    return false;
  }
  const ModeInfo& info = kModes[blending.mode];
  GimpModeOp o{};
  o.subtractive = info.subtractive;
  o.opacity = blending.opacity;
  o.composite = blending.compositeMode != 0 ? static_cast<GimpComposite>(blending.compositeMode) : info.composite;
  o.compositeSpace = blending.compositeSpace != 0 ? static_cast<GimpSpace>(blending.compositeSpace) : info.compositeSpace;
  o.blendSpace = blending.blendSpace != 0 ? static_cast<GimpSpace>(blending.blendSpace) : info.blendSpace;
  // A space of "auto" is the one its pixels come in: linear light.
  if (o.compositeSpace == GimpSpace::Auto) o.compositeSpace = GimpSpace::Linear;
  if (o.blendSpace == GimpSpace::Auto) o.blendSpace = o.compositeSpace;
  o.lastNode = lastNode;
  // Over nothing, modes that leave their layer's pixels alone draw them
  // as they are; the others composite them by union.
  const bool changesItself =
      info.kind == GimpKind::Replace || info.kind == GimpKind::AntiErase || info.kind == GimpKind::Dissolve;
  o.copiesLayer = lastNode && !changesItself;
  if (lastNode && changesItself) o.composite = GimpComposite::Union;
  o.lowersAlpha = !o.copiesLayer && (info.kind == GimpKind::Erase || info.kind == GimpKind::Split ||
                                     info.kind == GimpKind::Replace || info.subtractive ||
                                     o.composite == GimpComposite::ClipToLayer ||
                                     o.composite == GimpComposite::Intersection);
  if (o.copiesLayer) {
    o.run = RunCopy;
    *op = o;
    return true;
  }
  o.run = RunComposite;
  o.toSpace = GimpConvertRowFor(GimpSpace::Linear, o.compositeSpace);
  o.fromSpace = GimpConvertRowFor(o.compositeSpace, GimpSpace::Linear);
  o.curveComposites = o.compositeSpace == GimpSpace::Perceptual;
  switch (info.kind) {
    case GimpKind::Dissolve: o.compositeRow = GimpDissolveRowFor(o.composite); break;
    case GimpKind::Legacy: o.compositeRow = GimpLegacyRowFor(info.formula); break;
    case GimpKind::Blend:
      o.blend = GimpBlendRowFor(info.formula);
      o.toBlend = GimpConvertRowFor(o.compositeSpace, o.blendSpace);
      o.fromBlend = GimpConvertRowFor(o.blendSpace, o.compositeSpace);
      o.curveBlends = o.compositeSpace == GimpSpace::Linear && o.blendSpace == GimpSpace::Perceptual;
      o.compositeRow = GimpCompositeRowFor(o.composite, o.subtractive);
      break;
    default: o.compositeRow = GimpKindRowFor(info.kind, o.composite); break;
  }
  *op = o;
  return true;
}

void GimpModeOpPassThrough(GimpModeOp* op) { op->run = RunPassThrough; }

bool GimpModeOpMarksOutside(const GimpModeOp& op) {
  if (op.copiesLayer) return false;
  return op.composite == GimpComposite::ClipToLayer || op.composite == GimpComposite::Intersection;
}

bool GimpModeOpUsesCurve(const GimpModeOp& op) {
  return !op.copiesLayer && (op.compositeSpace == GimpSpace::Perceptual || op.blendSpace == GimpSpace::Perceptual);
}

}  // namespace tessel
