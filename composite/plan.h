// The drawing plan of a picture, worked out once after the layer tree and
// the load list: what every visible layer is drawn with and from, where
// each group can leave a mark, and what drawing would refuse. The loading,
// the checks and every band of the drawing read it; none works it out again.
#pragma once

#include <cstdint>

#include "composite/blend.h"
#include "composite/layer_modes.h"
#include "plugin/reason.h"
#include "xcf/layer.h"
#include "xcf/layer_tree.h"

namespace tessel {

// [x0, x1) x [y0, y1) in image coordinates; empty when either side is not positive.
struct Rect {
  int64_t x0, y0, x1, y1;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};
Rect Intersect(const Rect& a, const Rect& b);

constexpr uint32_t kNoNode = UINT32_MAX;

// Where a layer's pixels come from when it is drawn.
enum class PixelSource : uint8_t {
  None,    // a group: what its children draw into a buffer of its own
  Tiles,   // its tiles, the rows each band needs
  Canvas,  // its tiles, straight into the canvas: the layer drawn first, when drawing it is a plain copy
  Memory,  // its pixels, loaded whole by the caller
};

// What a layer's mask does.
enum class MaskRole : uint8_t {
  None,
  Folded,  // folded into the layer's alpha as its rows are had (a layer without alpha gets one first)
  Step,    // the mask step on a group's buffer
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
  bool draws;      // false for a group without children, and for a node left out
  PixelSource source;
  MaskRole mask;
  PixelSource maskSource;  // Tiles or Memory for a mask that takes part, else None
  uint32_t maskOpacity;  // of a mask that takes part
  uint32_t type;         // a group's: the type of its buffer
  uint32_t bs;           // bytes per pixel of that type; 0 for none
  uint32_t drawType;     // the type its rows reach BlendRow as
  Rect rect;             // the layer in image coordinates
  // Where it can leave a mark: a layer's rectangle; a group's where its
  // children can mark it (its buffer starts transparent), or the whole of
  // it when its mask marks every pixel.
  Rect mark;
  // A group in normal mode at full opacity without a mask whose one drawn
  // child is in normal mode draws exactly as that child drawn straight into
  // the group's target, clipped to the group: this child; else kNoNode.
  uint32_t soleChild;
  // How its rows are blended into the target it draws into, chosen once
  // the plan accepts them.
  RowBlend blend;
  // In GIMP's arithmetic: how it is drawn onto what lies below it, and
  // whether it is a group whose children draw straight onto that
  // (pass-through).
  GimpModeOp gimp;
  bool passThrough;
};

struct DrawPlan {
  PlanNode* nodes;  // owned; one per entry of the load list, in its order
  uint32_t count;
  uint32_t last;    // the bottom top-level node, drawn first (kNoNode without nodes)
  uint32_t direct;  // the node of source Canvas, or kNoNode
  uint32_t depth;   // the deepest drawn node's
  // The arithmetic of its rows: the design's 8-bit integers (XCF versions 0
  // to 3), or GIMP 2.10's floats in linear light (version 4 on), with the
  // picture's format, base type and colormap (256 entries, linear light,
  // and as stored).
  bool gimp;
  XcfFormat format;
  int32_t baseType;
  uint32_t colours;
  uint8_t colormap[768];
  float palette[768];
  // The first thing that drawing the picture layer by layer, every group
  // into a buffer of its full size, would refuse, in drawing order, or Ok.
  // The bands then meet no refusal of their own.
  ResultCode refusal;
  Reason refusalReason;  // why, when it refuses
};

// The plan of a picture over the load list of CompositeImage: its entries
// are the plan's nodes, in order, linked as the entries say (what is drawn,
// under which group, whether a mask takes part), never worked out again.
// Sources Tiles, and Canvas for the layer drawn first when it can be.
// canvasBytes is the canvas's bytes per pixel. A list that does not follow
// a tree is an internal fault.
ResultCode DrawPlanBuild(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t canvasBytes,
                         DrawPlan* plan);
// The plan of one layer, with its children, whose pixels and masks its
// caller loaded whole, to be drawn into a target of targetBytes covering
// targetRect.
ResultCode DrawPlanBuildLoaded(XcfLayer* layer, int32_t baseType, const Rect& targetRect, uint32_t targetBytes,
                               DrawPlan* plan);
void DrawPlanFree(DrawPlan* plan);

}  // namespace tessel
