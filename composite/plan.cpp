#include "composite/plan.h"

#include <cstdlib>

namespace tessel {

namespace {

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

// What every arithmetic knows of a node: its layer, where it lies, whether
// it draws and whether its mask takes part, as the entry says.
void FillNode(PlanNode* node, const LayerLoadEntry& entry, const XcfLayerInfo& info) {
  node->layer = entry.layer;
  node->info = info;
  node->depth = entry.depth;
  node->group = XcfLayerIsGroup(entry.layer) != 0;
  node->draws = entry.drawn != 0 && (!node->group || entry.layer->firstChild != nullptr);
  node->maskOpacity = entry.drawn != 0 ? entry.maskOpacity : 0;
  node->rect = Rect{info.offsetX, info.offsetY, static_cast<int64_t>(info.offsetX) + info.width,
                    static_cast<int64_t>(info.offsetY) + info.height};
  node->mark = Rect{0, 0, 0, 0};
  node->parent = node->prev = node->next = node->firstChild = node->lastChild = node->soleChild = kNoNode;
}

}  // namespace

const ArithmeticOps& ArithmeticOf(Arithmetic arithmetic) {
  static const ArithmeticOps* const kOps[] = {&kIntegerArithmetic, &kGimpArithmetic};
  return *kOps[static_cast<size_t>(arithmetic)];
}

ResultCode DrawPlanBuild(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, const DrawRequest& request,
                         uint32_t canvasBytes, bool swapRedBlue, DrawPlan* plan) {
  const ByteStream* stream = image->stream;
  *plan = DrawPlan{};
  plan->count = count;
  plan->last = plan->direct = kNoNode;
  plan->request = request;
  plan->format = XcfFormatOf(stream);
  plan->baseType = image->baseType;
  if (count > 0) {
    plan->nodes = static_cast<PlanNode*>(std::calloc(count, sizeof(PlanNode)));
    if (plan->nodes == nullptr)
      return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for a drawing plan of %u layers", count);
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
    FillNode(&plan->nodes[k], entry, info);
    if (!entry.drawn) continue;
    if (entry.depth > plan->depth) plan->depth = entry.depth;
    Link(plan, k, parent == kNoEntry ? kNoNode : parent);
  }
  if (result == ResultCode::Ok)
    result = ArithmeticOf(request.arithmetic).resolve(plan, image, entries, canvasBytes, swapRedBlue);
  if (result != ResultCode::Ok) DrawPlanFree(plan);
  return result;
}

void DrawPlanFree(DrawPlan* plan) {
  std::free(plan->nodes);
  plan->nodes = nullptr;
  plan->count = 0;
  plan->last = plan->direct = kNoNode;
}

}  // namespace tessel
