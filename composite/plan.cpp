#include "composite/plan.h"

#include <algorithm>
#include <cstdlib>

#include "composite/blend.h"
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

// Which layers become nodes, in the order of the load list: a walk of the
// tree that skips what is hidden, with each group's children after it.
struct Builder {
  DrawPlan* plan;
  int32_t baseType;
  // The load list whose entries the nodes are; null for a loaded layer.
  const LayerLoadEntry* entries;
  uint32_t made;
  uint32_t deepest;  // the levels of groups that are walked
};

// Whether a layer of the caller's own loading is drawn: visible, and
// either a group or a layer whose pixels are in memory.
bool LoadedLayerDraws(const XcfLayer* layer, XcfLayerInfo* info) {
  if (XcfLayerGetInfo(layer, info) != ResultCode::Ok) return false;
  if ((info->flags & kLayerVisible) == 0 || info->opacity == 0) return false;
  return XcfLayerIsGroup(layer) != 0 || XcfLayerHasPixels(layer) != 0;
}

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
  node->prev = node->next = node->firstChild = node->lastChild = node->soleChild = kNoNode;
}

// Adds the nodes of a sibling list (or of `first` alone) below `parent`.
ResultCode Walk(Builder* b, XcfLayer* first, bool siblings, uint32_t parent, uint32_t depth) {
  DrawPlan* plan = b->plan;
  for (XcfLayer* layer = first; layer != nullptr; layer = siblings ? layer->next : nullptr) {
    XcfLayerInfo info;
    uint32_t maskOpacity;
    PixelSource source;
    if (b->entries != nullptr) {
      if (b->made >= plan->count || b->entries[b->made].layer != layer) continue;  // hidden
      ResultCode result = XcfLayerGetInfo(layer, &info);
      if (result != ResultCode::Ok) return result;
      maskOpacity = MaskOpacity(layer, b->entries[b->made].loadMask != 0);
      source = PixelSource::Tiles;
    } else {
      if (!LoadedLayerDraws(layer, &info)) continue;
      const XcfChannel* mask = layer->mask;
      const bool inMemory = mask != nullptr && mask->hierarchy != nullptr && mask->hierarchy->level != nullptr &&
                            mask->hierarchy->level->pixels != nullptr;
      maskOpacity = MaskOpacity(layer, (info.flags & kLayerApplyMask) != 0 && inMemory);
      source = PixelSource::Memory;
    }
    const uint32_t k = b->made++;
    PlanNode* node = &plan->nodes[k];
    FillNode(node, layer, info, b->baseType, maskOpacity, source);
    node->parent = parent;
    node->depth = depth;
    if (depth > plan->depth) plan->depth = depth;
    uint32_t* lastOfList = parent == kNoNode ? &plan->last : &plan->nodes[parent].lastChild;
    if (*lastOfList != kNoNode) {
      plan->nodes[*lastOfList].next = k;
      node->prev = *lastOfList;
    } else if (parent != kNoNode) {
      plan->nodes[parent].firstChild = k;
    }
    *lastOfList = k;
    if (node->group && depth <= b->deepest) {
      ResultCode result = Walk(b, layer->firstChild, true, k, depth + 1);
      if (result != ResultCode::Ok) return result;
    }
    // Where it can leave a mark, found bottom-up once its children have theirs.
    node->mark = node->rect;
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
  return ResultCode::Ok;
}

// What drawing the node as the design draws it, every group into a buffer
// of its full size, would refuse: the arguments that BlendRow refuses, for
// every layer that reaches it, the children of a group wherever they lie in
// the group.
ResultCode Check(DrawPlan& plan, uint32_t k, const Rect& target, uint32_t targetBytes, uint32_t deepest) {
  const PlanNode& node = plan.nodes[k];
  Reason* reason = &plan.refusalReason;
  if (node.depth > deepest) {
    ReasonNote(reason, "groups nested deeper than %u", deepest);
    return ResultCode::CorruptData;
  }
  if (!node.draws || Intersect(node.rect, target).Empty()) return ResultCode::Ok;
  if (node.bs == 0) {
    ReasonNote(reason, "%s: a group of type %u, which has no pixels", NameOf(node.layer).text, node.info.type);
    return ResultCode::InvalidArgument;
  }
  for (uint32_t c = node.lastChild; c != kNoNode; c = plan.nodes[c].prev) {
    ResultCode result = Check(plan, c, node.rect, node.bs, deepest);
    if (result != ResultCode::Ok) return result;
  }
  const char* why = BlendRowRefusal(node.drawType, node.info.opacity, targetBytes, node.info.mode);
  if (why == nullptr) return ResultCode::Ok;
  ReasonNote(reason, "%s: %s (type %u, mode %u, opacity %u, into %u bytes per pixel)", NameOf(node.layer).text, why,
             node.drawType, node.info.mode, node.info.opacity, targetBytes);
  return ResultCode::InvalidArgument;
}

ResultCode Build(Builder* b, XcfLayer* first, bool siblings, uint32_t count, const Rect& target, uint32_t targetBytes,
                 uint32_t deepest) {
  DrawPlan* plan = b->plan;
  *plan = DrawPlan{nullptr, count, kNoNode, kNoNode, 0, ResultCode::Ok, Reason{}};
  if (count > 0) {
    plan->nodes = static_cast<PlanNode*>(std::calloc(count, sizeof(PlanNode)));
    if (plan->nodes == nullptr) return ResultCode::OutOfMemory;
  }
  ResultCode result = Walk(b, first, siblings, kNoNode, 0);
  // Every entry is a node: the load list and the walk see the same tree.
  if (result == ResultCode::Ok && b->made != count) result = ResultCode::InvalidArgument;
  if (result != ResultCode::Ok) {
    DrawPlanFree(plan);
    return result;
  }
  for (uint32_t k = plan->last; k != kNoNode && plan->refusal == ResultCode::Ok; k = plan->nodes[k].prev)
    plan->refusal = Check(*plan, k, target, targetBytes, deepest);
  return ResultCode::Ok;
}

// Nodes a loaded layer makes: itself and its drawn descendants.
uint32_t CountLoaded(XcfLayer* layer, uint32_t depth) {
  XcfLayerInfo info;
  if (!LoadedLayerDraws(layer, &info)) return 0;
  uint32_t count = 1;
  if (XcfLayerIsGroup(layer) && depth <= kDefaultLimits.groupDepth)
    for (XcfLayer* child = layer->firstChild; child != nullptr; child = child->next) count += CountLoaded(child, depth + 1);
  return count;
}

}  // namespace

ResultCode DrawPlanBuild(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t canvasBytes,
                         DrawPlan* plan) {
  if (image == nullptr || plan == nullptr || (entries == nullptr && count > 0)) return ResultCode::InvalidArgument;
  const uint32_t deepest = StreamLimits(image->stream).groupDepth;
  Builder b{plan, image->baseType, entries, 0, deepest};
  ResultCode result =
      Build(&b, image->layers, true, count, Rect{0, 0, image->width, image->height}, canvasBytes, deepest);
  if (result != ResultCode::Ok) return result;
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
  Builder b{plan, baseType, nullptr, 0, kDefaultLimits.groupDepth};
  return Build(&b, layer, false, CountLoaded(layer, 0), targetRect, targetBytes, kDefaultLimits.groupDepth);
}

void DrawPlanFree(DrawPlan* plan) {
  if (plan == nullptr) return;
  std::free(plan->nodes);
  plan->nodes = nullptr;
  plan->count = 0;
  plan->last = plan->direct = kNoNode;
}

}  // namespace tessel
