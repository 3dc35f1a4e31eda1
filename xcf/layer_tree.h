// The layer tree: top-level layers in file order, each group's children in a
// list of their own, linked by the item paths the file stores; and the list
// of layers and masks whose pixels a drawing needs.
#pragma once

#include <cstdint>

#include "xcf/image.h"
#include "xcf/layer.h"

namespace tessel {

constexpr uint32_t kNoEntry = UINT32_MAX;

// One layer whose pixels a drawing loads, and where it lies in the tree of
// what is loaded. Every layer's children are loaded as the tree holds them,
// but only a group draws its own: the children of an
// ordinary layer are loaded, and their damage answered, yet never drawn.
struct LayerLoadEntry {
  XcfLayer* layer;      // not owned
  uint32_t loadPixels;  // 1 unless the layer is a group
  int32_t loadMask;     // 1 when the mask's pixels must be loaded
  uint32_t parent;      // the entry of the layer it lies under, kNoEntry at the top level
  uint32_t depth;       // 0 at the top level
  uint32_t drawn;       // 1 when drawing takes it in: at the top level, or under a drawn group
  uint32_t maskOpacity; // the opacity its mask takes part at; 0 when it takes no part
};

// Which masks take part in a drawing, and how strongly.
enum class XcfMaskRule : uint8_t {
  // Every mask a layer has, at the mask's own opacity: the plug-in's rule,
  // which does not ask PROP_APPLY_MASK.
  Present,
  // A mask that PROP_APPLY_MASK applies (absent: applied), wholly: GIMP's,
  // which never looks at a layer mask's opacity.
  Applied,
};

// Whether a layer takes part in the picture: visible and not wholly
// transparent. A layer left out leaves its descendants out with it.
bool XcfLayerDrawn(const XcfLayerInfo& info);
// Whether GIMP's graph of the picture holds a layer: visible, whatever
// its opacity. A group's bottom layer in that graph is drawn over nothing
// (GIMP's "last node"), and a visible layer of opacity 0 is still that
// layer: the one above it then blends onto its transparent pixels.
bool XcfLayerInGraph(const XcfLayerInfo& info);


XcfLayer* XcfLayerLastSibling(XcfLayer* layer);
// k steps along next (k > 0) or -k along prev; null when the list ends first.
XcfLayer* XcfLayerSiblingAt(XcfLayer* layer, int64_t k);
ResultCode XcfLayerAppendSibling(XcfLayer* list, XcfLayer* layer);
ResultCode XcfLayerAppendChild(XcfLayer* layer, XcfLayer* group);

// Reads the record at layer offset index into a new layer.
ResultCode XcfReadLayer(uint32_t index, XcfImage* image, XcfLayer** out);

// Reads every layer and links the tree; Ok at once when it exists already.
ResultCode XcfBuildLayerTree(XcfImage* image);

// Appends entries for the top-level layer and its visible descendants, in
// pre-order (a layer before its children, siblings in file order); an
// invisible or fully transparent layer is left out with its descendants.
// entries has one slot per layer offset of the image; count starts at 0.
// Masks take part by the plug-in's rule.
ResultCode XcfCollectLoadList(XcfLayer* layer, XcfImage* image, LayerLoadEntry* entries, uint32_t* count);
// The same with masks by the given rule.
ResultCode XcfCollectLoadListWith(XcfLayer* layer, XcfImage* image, XcfMaskRule masks, LayerLoadEntry* entries,
                                  uint32_t* count);

// A layer, or its mask, whose filters the file keeps but the drawing does
// not apply (XcfReadFilters).
struct XcfFoundFilters {
  const XcfLayer* layer;
  bool onMask;  // the filters are its mask's
  bool drawn;   // visible, under visible groups: the picture lacks what they would do
  XcfFilterList filters;
};
using XcfFilterVisit = void (*)(void* context, const XcfFoundFilters& found);

// Tells each layer and mask of the tree that has filters, in file order
// (a group before its children); builds the tree first.
ResultCode XcfVisitFilters(XcfImage* image, XcfFilterVisit visit, void* context);

}  // namespace tessel
