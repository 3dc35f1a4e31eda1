// The layer modes of GIMP 2.10, for files of XCF version 4 on, as GIMP
// draws them: each layer's RGBA floats blended with what lies below in the
// mode's blend space (linear light, the sRGB curve, or CIE LAB), then
// composited in its composite space by its composite mode (union, clip to
// backdrop, clip to layer, intersection), opacity and mask; the legacy
// modes by GIMP 2.10's own formulas on the sRGB curve. The formulas are
// GIMP's; rows are RGBA floats on the linear scale, not premultiplied.
#pragma once

#include <cstdint>

#include "plugin/result.h"
#include "xcf/layer.h"

namespace tessel {

enum class GimpSpace : uint8_t { Auto = 0, Linear = 1, Perceptual = 2, Lab = 3 };
enum class GimpComposite : uint8_t { Auto = 0, Union = 1, ClipToBackdrop = 2, ClipToLayer = 3, Intersection = 4 };

constexpr uint32_t kGimpModeNormal = 28;
constexpr uint32_t kGimpModePassThrough = 61;
constexpr uint32_t kGimpModeCount = 64;

// How every row of one layer is drawn onto what lies below it, chosen once.
struct GimpModeOp {
  uint8_t kind;  // how the mode draws (layer_modes.cpp)
  uint8_t formula;
  bool subtractive;
  GimpSpace compositeSpace;
  GimpSpace blendSpace;
  GimpComposite composite;
  float opacity;
  // The bottom layer of a group, over nothing: drawn as its own pixels at
  // its opacity, or, where the mode changes its own pixels, composited by
  // union (GIMP's "last node").
  bool lastNode;
  bool copiesLayer;  // lastNode, and the mode leaves its own pixels as they are
};

// The op of a layer; false, with why, for a mode GIMP 2.10 does not have.
bool GimpModeOpChoose(const XcfLayerBlending& blending, bool lastNode, GimpModeOp* op, const char** why);

// Whether the op changes what lies below where the layer is transparent,
// outside the layer itself (clip to layer and intersection make it clear).
bool GimpModeOpMarksOutside(const GimpModeOp& op);

// Floats the op needs beside its rows, per pixel.
constexpr uint32_t kGimpModeScratchPerPixel = 20;

// Whether the op looks at the layer on the sRGB curve.
bool GimpModeOpUsesCurve(const GimpModeOp& op);

// The layer's n pixels (and their mask's coverage, or null) onto the
// target's, in place; (x, y) is the image position of the first pixel,
// which dissolve's noise follows. layerCurve, where not null, is the layer
// on the sRGB curve already (stored so: what converting it would give).
// scratch holds kGimpModeScratchPerPixel * n.
void GimpModeOpRun(const GimpModeOp& op, float* target, const float* layer, const float* layerCurve, const float* mask,
                   uint32_t n, int64_t x, int64_t y, float* scratch);

// The pixels of a pass-through group, drawn onto a copy of what lies below,
// back onto it by the group's opacity and mask (GIMP's replace).
void GimpPassThroughRun(float opacity, float* target, const float* group, const float* mask, uint32_t n);

}  // namespace tessel
