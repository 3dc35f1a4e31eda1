#include "composite/plan.h"

#include <algorithm>
#include <cstdlib>

#include "composite/linear_pixels.h"
#include "xcf/hierarchy.h"

namespace tessel {

Rect Intersect(const Rect& a, const Rect& b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

namespace {

Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

bool HasAlpha(uint32_t bytesPerPixel) { return bytesPerPixel == 2 || bytesPerPixel == 4; }

// The opacity of a mask that takes part in drawing the layer, or 0.
uint32_t MaskOpacity(const XcfLayer* layer, bool wanted) {
  XcfChannelInfo info;
  if (!wanted || layer->mask == nullptr || XcfChannelGetInfo(layer->mask, &info) != ResultCode::Ok) return 0;
  return info.opacity;
}

void FillNode(PlanNode* node, XcfLayer* layer, const XcfLayerInfo& info, int32_t baseType, uint32_t maskOpacity,
              PixelSource leafSource) {
  node->layer = layer;
  node->info = info;
  node->group = XcfLayerIsGroup(layer) != 0;
  node->draws = !node->group || layer->firstChild != nullptr;
  node->type = info.type;
  if (node->group) {
    // A group is composited with alpha, so that what its children leave
    // untouched stays transparent. GIMP stores groups so; the groups of an
    // indexed image it stores as RGBA over indexed children, and those are
    // composited as indexed with alpha.
    node->type = baseType == kBaseIndexed ? kLayerIndexedA : (info.type | 1u);
  }
  node->bs = XcfBytesPerPixel(node->type);
  node->source = node->group ? PixelSource::None : leafSource;
  node->maskOpacity = maskOpacity;
  node->mask = maskOpacity == 0 ? MaskRole::None : node->group ? MaskRole::Step : MaskRole::Folded;
  node->maskSource = maskOpacity == 0 ? PixelSource::None : leafSource;
  // The mask acts as the layer's alpha. A layer without alpha is widened to
  // the type with alpha first, so the mask never lands in a colour byte.
  node->drawType = node->mask != MaskRole::None && !HasAlpha(node->bs) ? node->type + 1 : node->type;
  node->rect = Rect{info.offsetX, info.offsetY, static_cast<int64_t>(info.offsetX) + info.width,
                    static_cast<int64_t>(info.offsetY) + info.height};
  node->parent = node->prev = node->next = node->firstChild = node->lastChild = node->soleChild = kNoNode;
  node->blend = RowBlend{nullptr, 0, 0, 0};
}

// A rectangle that holds every other: where a layer that clears what lies
// outside itself leaves its mark.
constexpr Rect kEverywhere{INT32_MIN, INT32_MIN, static_cast<int64_t>(INT32_MAX) * 2, static_cast<int64_t>(INT32_MAX) * 2};

// A node that the load list leaves out of the drawing: loaded and checked
// with the others, never drawn.
void Undrawn(PlanNode* node) {
  node->draws = false;
  node->source = PixelSource::None;
  node->maskSource = PixelSource::None;
  node->mask = MaskRole::None;
}

// Links node k as the last of its parent's children (or of the top level).
void Link(DrawPlan* plan, uint32_t k, uint32_t parent) {
  PlanNode* node = &plan->nodes[k];
  node->parent = parent;
  uint32_t* lastOfList = parent == kNoNode ? &plan->last : &plan->nodes[parent].lastChild;
  if (*lastOfList != kNoNode) {
    plan->nodes[*lastOfList].next = k;
    node->prev = *lastOfList;
  } else if (parent != kNoNode) {
    plan->nodes[parent].firstChild = k;
  }
  *lastOfList = k;
}

// Where a drawn node can leave a mark, and whether a group draws as its one
// child; its children have theirs already.
void Settle(DrawPlan* plan, uint32_t k) {
  PlanNode* node = &plan->nodes[k];
  node->mark = node->rect;
  if (plan->gimp) {
    // A layer or group that clears what lies outside it marks everywhere;
    // a pass-through group wherever its children do; another group where
    // its children do inside it.
    Rect children{0, 0, 0, 0};
    for (uint32_t c = node->firstChild; c != kNoNode; c = plan->nodes[c].next)
      if (plan->nodes[c].draws) children = Union(children, plan->nodes[c].mark);
    if (GimpModeOpMarksOutside(node->gimp)) {
      node->mark = kEverywhere;
    } else if (node->passThrough) {
      node->mark = children;
    } else if (node->group) {
      node->mark = Intersect(node->rect, children);
    }
    return;
  }
  uint32_t drawn = 0;
  uint32_t only = kNoNode;
  for (uint32_t c = node->firstChild; c != kNoNode; c = plan->nodes[c].next) {
    if (!plan->nodes[c].draws) continue;
    ++drawn;
    only = c;
  }
  if (node->group && !(node->mask != MaskRole::None && node->maskOpacity < 255)) {
    Rect children{0, 0, 0, 0};
    for (uint32_t c = node->firstChild; c != kNoNode; c = plan->nodes[c].next)
      if (plan->nodes[c].draws) children = Union(children, plan->nodes[c].mark);
    node->mark = Intersect(node->rect, children);
  }
  // Into a transparent buffer of its own kind (RGB, gray or indexed, with
  // alpha), a layer in normal mode leaves its own colour and its alpha at
  // its opacity (indexed: its index, opaque, where it passes the
  // threshold), and nothing where that alpha is 0; such a buffer drawn in
  // normal mode at full opacity blends exactly as the layer would have. So
  // a chain of such groups costs no buffers.
  const PlanNode* sole = drawn == 1 ? &plan->nodes[only] : nullptr;
  node->soleChild = node->group && sole != nullptr && node->mask == MaskRole::None &&
                            node->info.mode == kModeNormal && node->info.opacity == 255 &&
                            sole->info.mode == kModeNormal && (sole->drawType | 1u) == (node->type | 1u)
                        ? only
                        : kNoNode;
}

// What drawing the node with every group in a buffer of its full size
// would refuse: the arguments that BlendRow refuses, for every layer that
// reaches it, the children of a group wherever they lie in the group. Each
// node that is drawn gets its row blend for the target it draws into
// (`into` bytes: a group's sole child draws into the group's own target).
ResultCode Check(DrawPlan& plan, uint32_t k, const Rect& target, uint32_t targetBytes, uint32_t into) {
  PlanNode& node = plan.nodes[k];
  Reason* reason = &plan.refusalReason;
  if (!node.draws || Intersect(node.rect, target).Empty()) return ResultCode::Ok;
  if (node.bs == 0) {
    ReasonNote(reason, "%s: a group of type %u, which has no pixels", NameOf(node.layer).text, node.info.type);
    return ResultCode::InvalidArgument;
  }
  for (uint32_t c = node.lastChild; c != kNoNode; c = plan.nodes[c].prev) {
    ResultCode result = Check(plan, c, node.rect, node.bs, node.soleChild == c ? into : node.bs);
    if (result != ResultCode::Ok) return result;
  }
  const char* why = BlendRowRefusal(node.drawType, node.info.opacity, targetBytes, node.info.mode);
  if (why == nullptr) {
    node.blend = BlendRowChoose(node.drawType, node.info.opacity, into, node.info.mode);
    return ResultCode::Ok;
  }
  ReasonNote(reason, "%s: %s (type %u, mode %u, opacity %u, into %u bytes per pixel)", NameOf(node.layer).text, why,
             node.drawType, node.info.mode, node.info.opacity, targetBytes);
  return ResultCode::InvalidArgument;
}

// ---- GIMP's arithmetic: what each layer is drawn with. ---------------------

bool Visible(const XcfLayer* layer) {
  XcfLayerInfo info;
  return XcfLayerGetInfo(layer, &info) == ResultCode::Ok && (info.flags & kLayerVisible) != 0;
}

// The mode, spaces and composite mode a layer is drawn with. A pass-through
// group draws as a plain group where that gives the same picture, as GIMP
// has it: when its visible children are none, or one, or all normal by
// union in the same spaces, and either its opacity is full without a mask
// or its composite space is theirs; it then takes their mode and spaces.
bool Effective(const XcfLayer* layer, XcfLayerBlending* out, GimpModeOp* op, const char** why) {
  XcfLayerBlending own;
  if (XcfLayerGetBlending(layer, &own) != ResultCode::Ok || !GimpModeOpChoose(own, false, op, why)) return false;
  *out = own;
  if (!XcfLayerIsGroup(layer) || own.mode != kGimpModePassThrough) return true;
  XcfLayerBlending reduced{own.opacity, kGimpModeNormal, 0, 0, 0, own.applyMask};
  GimpModeOp first{};
  bool any = false;
  for (const XcfLayer* child = layer->firstChild; child != nullptr; child = child->next) {
    if (!Visible(child)) continue;
    XcfLayerBlending b;
    GimpModeOp o;
    const char* ignored = nullptr;
    if (!Effective(child, &b, &o, &ignored)) return true;
    const uint32_t mode = b.mode == 0 ? kGimpModeNormal : b.mode;
    if (!any) {
      any = true;
      first = o;
      reduced.mode = mode;
      reduced.blendSpace = static_cast<uint32_t>(o.blendSpace);
      reduced.compositeSpace = static_cast<uint32_t>(o.compositeSpace);
      reduced.compositeMode = static_cast<uint32_t>(o.composite);
      continue;
    }
    if (reduced.mode != kGimpModeNormal || first.composite != GimpComposite::Union || mode != reduced.mode ||
        o.blendSpace != first.blendSpace || o.compositeSpace != first.compositeSpace || o.composite != first.composite)
      return true;
  }
  const bool masked = layer->maskOffset != 0 && own.applyMask;
  if (any && !(own.opacity == 1.0f && !masked) && first.compositeSpace != op->compositeSpace) return true;
  *out = reduced;
  GimpModeOpChoose(reduced, false, op, why);
  return true;
}

// The bottom visible child of a group: what GIMP draws over nothing.
const XcfLayer* BottomVisible(const XcfLayer* group) {
  const XcfLayer* bottom = nullptr;
  for (const XcfLayer* child = group->firstChild; child != nullptr; child = child->next)
    if (Visible(child)) bottom = child;
  return bottom;
}

// Each drawn node's op, parents before children; the first mode GIMP does
// not have is the plan's refusal.
void ChooseGimpOps(DrawPlan* plan, const LayerLoadEntry* entries) {
  for (uint32_t k = 0; k < plan->count; ++k) {
    if (!entries[k].drawn) continue;
    PlanNode* node = &plan->nodes[k];
    XcfLayerBlending blending;
    GimpModeOp op{};
    const char* why = "its layer mode is none of GIMP's (0 to 63)";
    bool ok = Effective(node->layer, &blending, &op, &why);
    node->passThrough = ok && node->group && blending.mode == kGimpModePassThrough;
    const uint32_t parent = node->parent;
    const bool lastNode = parent != kNoNode && !plan->nodes[parent].passThrough &&
                          BottomVisible(plan->nodes[parent].layer) == node->layer;
    ok = ok && GimpModeOpChoose(blending, lastNode, &node->gimp, &why);
    if (!ok && plan->refusal == ResultCode::Ok) {
      plan->refusal = ResultCode::InvalidArgument;
      ReasonNote(&plan->refusalReason, "%s: %s", NameOf(node->layer).text, why);
    }
    node->soleChild = kNoNode;
  }
}

// The plan whose nodes are the entries, in their order: each drawn entry
// linked under its parent's node, in the order the entries give (file
// order), marks found bottom-up.
ResultCode Build(const ByteStream* stream, int32_t baseType, const LayerLoadEntry* entries, uint32_t count,
                 PixelSource source, const Rect& target, uint32_t targetBytes, DrawPlan* plan) {
  *plan = DrawPlan{};
  plan->count = count;
  plan->last = plan->direct = kNoNode;
  plan->baseType = baseType;
  // From version 4 on the picture is drawn as GIMP 2.10 draws it.
  plan->gimp = stream != nullptr && stream->format != nullptr;
  if (plan->gimp) plan->format = *stream->format;
  if (count > 0) {
    plan->nodes = static_cast<PlanNode*>(std::calloc(count, sizeof(PlanNode)));
    if (plan->nodes == nullptr) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a drawing plan of %u layers", count);
  }
  ResultCode result = ResultCode::Ok;
  for (uint32_t k = 0; k < count && result == ResultCode::Ok; ++k) {
    const LayerLoadEntry& entry = entries[k];
    // A pre-order list names only parents before their children, and draws
    // a child only under a drawn group.
    const uint32_t parent = entry.parent;
    if (entry.layer == nullptr || (parent != kNoEntry && parent >= k) ||
        (entry.drawn && parent != kNoEntry && !(plan->nodes[parent].group && entries[parent].drawn))) {
      result = StreamFault(stream, "load list entry %u of %u does not follow the tree (parent %u)", k, count, parent);
      break;
    }
    XcfLayerInfo info;
    result = XcfLayerGetInfo(entry.layer, &info);
    if (result != ResultCode::Ok) break;
    PlanNode* node = &plan->nodes[k];
    // In GIMP's arithmetic a mask that takes part is applied whatever its
    // own opacity.
    const uint32_t maskOpacity =
        plan->gimp ? (entry.loadMask != 0 ? 255u : 0u) : MaskOpacity(entry.layer, entry.loadMask != 0);
    FillNode(node, entry.layer, info, baseType, maskOpacity, source);
    node->depth = entry.depth;
    if (!entry.drawn) {
      Undrawn(node);
      continue;
    }
    if (entry.depth > plan->depth) plan->depth = entry.depth;
    Link(plan, k, parent == kNoEntry ? kNoNode : parent);
  }
  if (result != ResultCode::Ok) {
    DrawPlanFree(plan);
    return result;
  }
  if (plan->gimp) ChooseGimpOps(plan, entries);
  for (uint32_t k = count; k-- > 0;)
    if (entries[k].drawn) Settle(plan, k);
  if (plan->gimp) return ResultCode::Ok;
  for (uint32_t k = plan->last; k != kNoNode && plan->refusal == ResultCode::Ok; k = plan->nodes[k].prev)
    plan->refusal = Check(*plan, k, target, targetBytes, targetBytes);
  return ResultCode::Ok;
}

// The entries of a layer whose pixels and masks its caller loaded whole,
// with its drawn descendants: visible, with opacity, and either groups or
// layers whose pixels are in memory; a mask takes part when it is applied
// and in memory. Counts them when entries is null.
void CollectLoaded(XcfLayer* layer, uint32_t parent, uint32_t depth, LayerLoadEntry* entries, uint32_t* count) {
  XcfLayerInfo info;
  if (XcfLayerGetInfo(layer, &info) != ResultCode::Ok) return;
  if ((info.flags & kLayerVisible) == 0 || info.opacity == 0) return;
  const bool group = XcfLayerIsGroup(layer) != 0;
  if (!group && XcfLayerHasPixels(layer) == 0) return;
  const XcfChannel* mask = layer->mask;
  const bool maskInMemory = mask != nullptr && mask->hierarchy != nullptr && mask->hierarchy->level != nullptr &&
                            mask->hierarchy->level->pixels != nullptr;
  const uint32_t self = (*count)++;
  if (entries != nullptr)
    entries[self] = LayerLoadEntry{layer, group ? 0u : 1u, (info.flags & kLayerApplyMask) && maskInMemory ? 1 : 0,
                                   parent, depth, 1};
  if (XcfLayerDrawsChildren(layer))
    for (XcfLayer* child = layer->firstChild; child != nullptr; child = child->next)
      CollectLoaded(child, self, depth + 1, entries, count);
}

}  // namespace

ResultCode DrawPlanBuild(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t canvasBytes,
                         DrawPlan* plan) {
  if (image == nullptr || plan == nullptr || (entries == nullptr && count > 0)) return ResultCode::InvalidArgument;
  ResultCode result = Build(image->stream, image->baseType, entries, count, PixelSource::Tiles,
                            Rect{0, 0, image->width, image->height}, canvasBytes, plan);
  if (result != ResultCode::Ok) return result;
  if (plan->gimp) {
    if (image->baseType == kBaseIndexed) {
      plan->colours = 256;
      if (XcfGetColormap(image, &plan->colours, plan->colormap) != ResultCode::Ok) plan->colours = 0;
      LinearPalette(plan->colormap, plan->colours, plan->palette);
    }
    return ResultCode::Ok;
  }
  // The layer drawn first, when drawing it is a plain copy of its rows into
  // the cleared canvas (normal mode, full opacity, no alpha and no mask, the
  // canvas's own format), is decoded straight into the canvas.
  for (uint32_t k = plan->last; k != kNoNode; k = plan->nodes[k].prev) {
    PlanNode& node = plan->nodes[k];
    if (!node.draws) continue;
    if (!node.group && node.mask == MaskRole::None && node.info.mode == kModeNormal && node.info.opacity == 255 &&
        !HasAlpha(node.bs) && node.bs == canvasBytes) {
      node.source = PixelSource::Canvas;
      plan->direct = k;
    }
    break;
  }
  return ResultCode::Ok;
}

ResultCode DrawPlanBuildLoaded(XcfLayer* layer, int32_t baseType, const Rect& targetRect, uint32_t targetBytes,
                               DrawPlan* plan) {
  if (layer == nullptr || plan == nullptr) return ResultCode::InvalidArgument;
  if (!XcfLayerIsGroup(layer) && layer->hierarchy == nullptr) return ResultCode::NotReady;
  uint32_t count = 0;
  CollectLoaded(layer, kNoEntry, 0, nullptr, &count);
  LayerLoadEntry* entries = nullptr;
  if (count > 0) {
    entries = static_cast<LayerLoadEntry*>(std::calloc(count, sizeof(LayerLoadEntry)));
    if (entries == nullptr) return ResultCode::OutOfMemory;
    uint32_t filled = 0;
    CollectLoaded(layer, kNoEntry, 0, entries, &filled);
  }
  ResultCode result = Build(nullptr, baseType, entries, count, PixelSource::Memory, targetRect, targetBytes, plan);
  std::free(entries);
  return result;
}

void DrawPlanFree(DrawPlan* plan) {
  if (plan == nullptr) return;
  std::free(plan->nodes);
  plan->nodes = nullptr;
  plan->count = 0;
  plan->last = plan->direct = kNoNode;
}

}  // namespace tessel
