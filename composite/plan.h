// The drawing plan of a picture, worked out once after the layer tree and
// the load list, in one pass over the tree: for every layer whether it
// draws, where it can leave a mark, its mask's part, and how its rows are
// drawn in the call's arithmetic (chosen once, as row functions); the
// band's store; and what drawing would refuse. The loading, the checks and
// every band of the drawing read it; none works it out again.
#pragma once

#include <cstdint>

#include "composite/arithmetic.h"
#include "composite/blend.h"
#include "composite/gimp_modes.h"
#include "composite/linear_pixels.h"
#include "composite/rect.h"
#include "composite/request.h"
#include "plugin/reason.h"
#include "xcf/layer.h"
#include "xcf/layer_tree.h"

namespace tessel {

constexpr uint32_t kNoNode = UINT32_MAX;

// How the plug-in's 8-bit integers draw a layer's rows.
struct IntegerNode {
  uint32_t type;      // a group's: the type of its buffer
  uint32_t bs;        // bytes per pixel of that type; 0 for none
  uint32_t drawType;  // the type its rows reach the blend as: with alpha where a mask widens them
  RowBlend blend;     // into the target it draws into
};

// How GIMP's arithmetic draws a layer's rows.
struct GimpNode {
  GimpModeOp op;
  PixelReader reader;
  bool curve;  // its rows are had on the sRGB curve too, as stored
};

struct PlanNode {
  XcfLayer* layer;  // not owned
  XcfLayerInfo info;
  // Links among the plan's nodes, kNoNode for none: siblings in file order
  // (next is lower in the stack), a group's children from its top.
  // A node that the load list leaves out of the drawing (a child of a layer
  // that is not a group) is linked to none.
  uint32_t parent, prev, next, firstChild, lastChild;
  uint32_t depth;  // 0 for a top-level layer
  bool group;
  bool draws;   // linked into the drawing, and not a group without children
  bool direct;  // decoded straight into the canvas: the layer drawn first, when that is a plain copy
  // Its mask takes part when this is above 0, at this opacity (the load
  // list's decision, by the arithmetic's rule).
  uint32_t maskOpacity;
  Rect rect;  // the layer in image coordinates
  // Where it can leave a mark: a layer's rectangle (or everywhere, where
  // it clears what lies outside itself); a group's where its children can
  // mark it, or the whole of it when its mask marks every pixel.
  Rect mark;
  // A group that draws exactly as its one drawn child drawn straight into
  // the group's target, clipped to the group: this child; else kNoNode.
  uint32_t soleChild;
  // A group whose children draw straight onto (a copy of) what lies below
  // it rather than onto nothing.
  bool passThrough;
  // How its rows are drawn (composite/arithmetic.h), chosen once.
  NodeRowFn drawRow;
  uint32_t bufferBytes;   // a group's buffer: bytes a pixel of what its children draw into
  uint32_t scratchBytes;  // bytes a pixel its row function works in
  uint32_t maskValueBytes;  // bytes from one of its mask's values to the next in the mask's rows
  union {
    IntegerNode integer;
    GimpNode gimp;
  };
};

struct DrawPlan {
  PlanNode* nodes;  // owned; one per entry of the load list, in its order
  uint32_t count;
  uint32_t last;    // the bottom top-level node, drawn first (kNoNode without nodes)
  uint32_t direct;  // the node decoded straight into the canvas, or kNoNode
  uint32_t depth;   // the deepest drawn node's
  DrawRequest request;
  XcfFormat format;
  int32_t baseType;
  // An indexed picture's colormap (256 entries, as stored, and in linear light).
  uint32_t colours;
  uint8_t colormap[768];
  float palette[768];
  BandStore store;
  uint32_t bandBytes;  // of a pixel of the rows a band is drawn in
  // The first thing that drawing the picture layer by layer, every group
  // into a buffer of its full size, would refuse, in drawing order, or Ok.
  // The bands then meet no refusal of their own.
  ResultCode refusal;
  Reason refusalReason;  // why, when it refuses
};

// The plan of a picture over the load list of CompositeImage: its entries
// are the plan's nodes, in order, linked as the entries say (what is drawn,
// under which group, whether and how a mask takes part), never worked out
// again. canvasBytes is the canvas's bytes per pixel; swapRedBlue says that
// the canvas takes the bitmap's order. A list that does not follow a tree
// is an internal fault.
ResultCode DrawPlanBuild(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, const DrawRequest& request,
                         uint32_t canvasBytes, bool swapRedBlue, DrawPlan* plan);
void DrawPlanFree(DrawPlan* plan);

}  // namespace tessel
