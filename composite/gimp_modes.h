// The layer modes of GIMP 2.10 and 3, as GIMP draws them: each layer's
// RGBA floats blended with what lies below in the mode's blend space
// (linear light, the sRGB curve, or CIE LAB), then composited in its
// composite space by its composite mode (union, clip to backdrop, clip to
// layer, intersection), opacity and mask; the legacy modes by GIMP 2.10's
// own formulas on the sRGB curve. The formulas are GIMP's; rows are RGBA
// floats on the linear scale, not premultiplied. Everything a layer's rows
// need is chosen once, in GimpModeOpChoose: no row asks its mode again.
#pragma once

#include <cstdint>

#include "xcf/layer.h"

namespace tessel {

enum class GimpSpace : uint8_t { Auto = 0, Linear = 1, Perceptual = 2, Lab = 3 };
enum class GimpComposite : uint8_t { Auto = 0, Union = 1, ClipToBackdrop = 2, ClipToLayer = 3, Intersection = 4 };

constexpr uint32_t kGimpModeNormal = 28;
constexpr uint32_t kGimpModePassThrough = 61;
constexpr uint32_t kGimpModeCount = 64;

struct GimpModeOp;

// n pixels from one space into another, alpha kept; out may be in.
using GimpConvertRowFn = void (*)(const float* in, float* out, uint32_t n);
// A blend function over a row: comp gets the blended colour where both in
// and layer have alpha (elsewhere comp is left as it is).
using GimpBlendRowFn = void (*)(const float* in, const float* layer, float* comp, uint32_t n);
// The layer (and the blended colour, for the modes that blend) onto in, in
// place, by the mask's coverage (or none) and the opacity; (x, y) is the
// image position of the first pixel, which dissolve's noise follows.
using GimpCompositeRowFn = void (*)(float* in, const float* layer, const float* comp, const float* mask,
                                    float opacity, uint32_t n, int64_t x, int64_t y);
// A whole row of the op onto the target: see GimpModeOpRun.
using GimpRunFn = void (*)(const GimpModeOp& op, float* target, const float* layer, const float* layerCurve,
                           const float* mask, uint32_t n, int64_t x, int64_t y, float* scratch);

// How every row of one layer is drawn onto what lies below it, chosen once.
struct GimpModeOp {
  GimpRunFn run;
  float opacity;
  GimpSpace compositeSpace;
  GimpSpace blendSpace;
  GimpComposite composite;
  bool subtractive;  // the blended colour removes alpha (erase-like modes)
  // The bottom layer of a group, over nothing: drawn as its own pixels at
  // its opacity, or, where the mode changes its own pixels, composited by
  // union (GIMP's "last node").
  bool lastNode;
  bool copiesLayer;  // lastNode, and the mode leaves its own pixels as they are
  // Whether it can leave what lies below less opaque than it was: the
  // erasing modes, replace, and clip to layer or intersection.
  bool lowersAlpha;
  // From linear light into the composite space and back; null when it is
  // linear light.
  GimpConvertRowFn toSpace;
  GimpConvertRowFn fromSpace;
  // From the composite space into the blend space and back; null when
  // they are the same.
  GimpConvertRowFn toBlend;
  GimpConvertRowFn fromBlend;
  // Whether the layer on the sRGB curve, when it is had so, stands for its
  // conversion into the composite space, or into the blend space.
  bool curveComposites;
  bool curveBlends;
  GimpBlendRowFn blend;  // null but for the modes that blend
  GimpCompositeRowFn compositeRow;
};

// The op of a layer; false, with why, for a mode GIMP does not have.
bool GimpModeOpChoose(const XcfLayerBlending& blending, bool lastNode, GimpModeOp* op, const char** why);

// Makes the op a pass-through group's: its pixels, drawn onto a copy of
// what lies below, go back onto it by the op's opacity and the group's
// mask (GIMP's replace).
void GimpModeOpPassThrough(GimpModeOp* op);

// Whether the op changes what lies below where the layer is transparent,
// outside the layer itself (clip to layer and intersection make it clear).
bool GimpModeOpMarksOutside(const GimpModeOp& op);

// Whether the op looks at the layer on the sRGB curve.
bool GimpModeOpUsesCurve(const GimpModeOp& op);

// The rows an op works in beside its target and layer, four floats a pixel
// each: the target and the layer in the composite space, the blended
// colour, and the target and the layer in the blend space.
constexpr uint32_t kGimpOpRows = 5;
constexpr uint32_t kGimpModeScratchPerPixel = 4 * kGimpOpRows;

// The layer's n pixels (and their mask's coverage, or null) onto the
// target's, in place; layerCurve, where not null, is the layer on the sRGB
// curve already (stored so: what converting it would give). scratch holds
// kGimpModeScratchPerPixel * n floats.
inline void GimpModeOpRun(const GimpModeOp& op, float* target, const float* layer, const float* layerCurve,
                          const float* mask, uint32_t n, int64_t x, int64_t y, float* scratch) {
  op.run(op, target, layer, layerCurve, mask, n, x, y, scratch);
}

}  // namespace tessel
