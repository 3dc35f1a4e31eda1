// GIMP's arithmetic (XCF versions 4 on): every layer's stored pixels, of
// any precision, gray and indexed among them, become RGBA floats in linear
// light, not premultiplied (masks become coverage on a linear scale), and
// each layer is drawn onto what lies below by its op (gimp_modes.h), chosen
// once here with everything GIMP decides about a layer: the mode a
// pass-through group reduces to, whether it is its group's bottom layer
// (drawn over nothing), where it can leave a mark.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "composite/draw.h"
#include "composite/gimp_store.h"

namespace tessel {

namespace {

// ---- Rows. ------------------------------------------------------------------

// A node's working row: the layer's rows (in linear light, then on the
// curve where it is had so), the mask's coverage, the op's own rows.
struct Working {
  float* linear;
  float* curve;
  float* coverage;
  float* modes;
};
Working WorkingOf(const NodeRow& row, uint32_t layerRows) {
  auto* floats = reinterpret_cast<float*>(row.scratch);
  const size_t n = row.columns;
  float* coverage = floats + 4 * n * layerRows;
  return Working{layerRows > 0 ? floats : nullptr, layerRows == 2 ? floats + 4 * n : nullptr, coverage, coverage + n};
}

// The mask's coverage of the row: none where the node has no mask, 0
// outside the layer's own columns and rows.
const float* Coverage(const DrawPlan& plan, const PlanNode& node, const NodeRow& row, float* coverage) {
  if (node.maskOpacity == 0) return nullptr;
  std::memset(coverage, 0, sizeof(float) * row.columns);
  if (row.mask != nullptr) ReadCoverage(plan.format, row.mask, coverage + row.before, row.inside);
  return coverage;
}

void LayerRow(const DrawPlan& plan, const PlanNode& node, const NodeRow& row) {
  const GimpNode& g = node.gimp;
  const Working w = WorkingOf(row, g.curve ? 2 : 1);
  const size_t pixel = 4 * sizeof(float);
  if (row.own == nullptr) {
    std::memset(w.linear, 0, pixel * row.columns * (g.curve ? 2 : 1));
  } else {
    const size_t after = row.columns - row.before - row.inside;
    for (float* r : {w.linear, w.curve}) {
      if (r == nullptr) continue;
      std::memset(r, 0, pixel * row.before);
      (r == w.linear ? ReadLinearRgba : ReadCurveRgba)(g.reader, row.own, r + 4 * row.before, row.inside);
      std::memset(r + 4 * (row.before + row.inside), 0, pixel * after);
    }
  }
  GimpModeOpRun(g.op, reinterpret_cast<float*>(row.target), w.linear, w.curve, Coverage(plan, node, row, w.coverage),
                row.columns, row.x, row.y, w.modes);
}

// A group's pixels are kept in the picture's precision before the group
// is composited, as GIMP keeps them.
void GroupRow(const DrawPlan& plan, const PlanNode& node, const NodeRow& row) {
  const Working w = WorkingOf(row, 0);
  auto* own = reinterpret_cast<float*>(row.own);
  StoreInPrecision(plan.format.precision, own, row.columns);
  GimpModeOpRun(node.gimp.op, reinterpret_cast<float*>(row.target), own, nullptr,
                Coverage(plan, node, row, w.coverage), row.columns, row.x, row.y, w.modes);
}

// A pass-through group's children drew onto a copy of what lies below,
// which goes back by the group's opacity and mask.
void PassThroughRow(const DrawPlan& plan, const PlanNode& node, const NodeRow& row) {
  const Working w = WorkingOf(row, 0);
  GimpModeOpRun(node.gimp.op, reinterpret_cast<float*>(row.target), reinterpret_cast<float*>(row.own), nullptr,
                Coverage(plan, node, row, w.coverage), row.columns, row.x, row.y, w.modes);
}

// ---- The plan. ----------------------------------------------------------------

// The mode, spaces and composite mode a layer is drawn with, as a
// pass-through group reduces them.
struct Effective {
  bool ok;
  XcfLayerBlending blending;
  GimpModeOp op;  // as a layer that is no group's bottom one
  const char* why;
};

bool InGraph(const XcfLayer* layer) {
  XcfLayerInfo info;
  return XcfLayerGetInfo(layer, &info) == ResultCode::Ok && XcfLayerInGraph(info);
}

// A pass-through group draws as a plain group where that gives the same
// picture, as GIMP has it: when its children in GIMP's graph are none, or
// one, or all normal by union in the same spaces, and either its opacity
// is full without a mask or its composite space is theirs; it then takes
// their mode and spaces. `child(layer)` is the Effective of a child.
template <typename ChildEffective>
Effective EffectiveOf(const XcfLayer* layer, ChildEffective child) {
  Effective e{false, {}, {}, "its layer mode is none of GIMP's (0 to 63)"};
  XcfLayerBlending own;
  if (XcfLayerGetBlending(layer, &own) != ResultCode::Ok || !GimpModeOpChoose(own, false, &e.op, &e.why)) return e;
  e.ok = true;
  e.blending = own;
  if (!XcfLayerIsGroup(layer) || own.mode != kGimpModePassThrough) return e;
  XcfLayerBlending reduced{own.opacity, kGimpModeNormal, 0, 0, 0, own.applyMask};
  GimpModeOp first{};
  bool any = false;
  for (const XcfLayer* c = layer->firstChild; c != nullptr; c = c->next) {
    if (!InGraph(c)) continue;
    const Effective ce = child(c);
    if (!ce.ok) return e;
    const uint32_t mode = ce.blending.mode == 0 ? kGimpModeNormal : ce.blending.mode;
    const GimpModeOp& o = ce.op;
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
      return e;
  }
  const bool masked = layer->maskOffset != 0 && own.applyMask;
  if (any && !(own.opacity == 1.0f && !masked) && first.compositeSpace != e.op.compositeSpace) return e;
  e.blending = reduced;
  GimpModeOpChoose(reduced, false, &e.op, &e.why);
  return e;
}

// A layer that is no node of the plan (in GIMP's graph at opacity 0):
// its children are none of the plan's either, each met once, here.
Effective LooseEffective(const XcfLayer* layer) { return EffectiveOf(layer, LooseEffective); }

// The bottom child of a group in GIMP's graph: what GIMP draws over nothing.
const XcfLayer* BottomInGraph(const XcfLayer* group) {
  const XcfLayer* bottom = nullptr;
  for (const XcfLayer* child = group->firstChild; child != nullptr; child = child->next)
    if (InGraph(child)) bottom = child;
  return bottom;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Each drawn node's op, in one pass over the tree each way: the
// Effective of every node, children first (a group's plan children are
// its drawn children, in the same order: met in step with its layer's);
// then, parents first, whether it is its group's bottom layer and its op;
// the first mode GIMP does not have is the plan's refusal.
ResultCode ChooseOps(DrawPlan* plan, const LayerLoadEntry* entries, const XcfImage* image) {
  const ByteStream* stream = image->stream;
  std::unique_ptr<Effective, FreeDeleter> effective(
      static_cast<Effective*>(std::calloc(plan->count, sizeof(Effective))));
  std::unique_ptr<const XcfLayer*, FreeDeleter> bottoms(
      static_cast<const XcfLayer**>(std::calloc(plan->count, sizeof(const XcfLayer*))));
  if (!effective || !bottoms)
    return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory for the modes of %u layers", plan->count);
  Effective* known = effective.get();
  // Over nothing the image's own bottom layer is drawn over nothing too, as
  // GIMP's projection draws it; over a backdrop it is drawn onto that.
  const XcfLayer* imageBottom = nullptr;
  if (plan->request.backdrop == Backdrop::Nothing)
    for (const XcfLayer* layer = image->layers; layer != nullptr; layer = layer->next)
      if (InGraph(layer)) imageBottom = layer;
  for (uint32_t k = plan->count; k-- > 0;) {
    if (!entries[k].drawn) continue;
    uint32_t next = plan->nodes[k].firstChild;
    known[k] = EffectiveOf(plan->nodes[k].layer, [&](const XcfLayer* child) {
      if (next != kNoNode && plan->nodes[next].layer == child) {
        const uint32_t c = next;
        next = plan->nodes[c].next;
        return known[c];
      }
      return LooseEffective(child);
    });
  }
  for (uint32_t k = 0; k < plan->count; ++k) {
    if (!entries[k].drawn) continue;
    PlanNode* node = &plan->nodes[k];
    if (node->group) bottoms.get()[k] = BottomInGraph(node->layer);
    const Effective& e = known[k];
    node->passThrough = e.ok && node->group && e.blending.mode == kGimpModePassThrough;
    const uint32_t parent = node->parent;
    const bool lastNode = parent != kNoNode
                              ? !plan->nodes[parent].passThrough && bottoms.get()[parent] == node->layer
                              : imageBottom == node->layer;
    const char* why = e.why;
    const bool ok = e.ok && GimpModeOpChoose(e.blending, lastNode, &node->gimp.op, &why);
    if (!ok && plan->refusal == ResultCode::Ok) {
      plan->refusal = ResultCode::InvalidArgument;
      ReasonNote(&plan->refusalReason, "%s: %s", NameOf(node->layer).text, why);
    }
  }
  return ResultCode::Ok;
}

// Where a drawn node can leave a mark, its children having theirs: a layer
// or group that clears what lies outside it everywhere; a pass-through
// group wherever its children do; another group where its children do
// inside it.
void Settle(DrawPlan* plan, PlanNode* node) {
  Rect children{0, 0, 0, 0};
  for (uint32_t c = node->firstChild; c != kNoNode; c = plan->nodes[c].next)
    if (plan->nodes[c].draws) children = Union(children, plan->nodes[c].mark);
  if (GimpModeOpMarksOutside(node->gimp.op)) {
    node->mark = kEverywhere;
  } else if (node->passThrough) {
    node->mark = children;
  } else if (node->group) {
    node->mark = Intersect(node->rect, children);
  } else {
    node->mark = node->rect;
  }
}

// How the node's rows are had and drawn, and what they need.
void ChooseRows(DrawPlan* plan, PlanNode* node) {
  GimpNode& g = node->gimp;
  constexpr uint32_t kPixel = 4 * sizeof(float);
  const uint32_t working = sizeof(float) * (1 + kGimpModeScratchPerPixel);  // the coverage and the op's rows
  node->bufferBytes = kPixel;
  node->maskValueBytes = XcfComponentBytes(plan->format.precision.component);
  if (node->group) {
    if (node->passThrough) GimpModeOpPassThrough(&g.op);
    node->drawRow = node->passThrough ? PassThroughRow : GroupRow;
    node->scratchBytes = working;
    return;
  }
  g.reader = PixelReaderFor(plan->format, node->info.type, plan->palette);
  // An 8-bit gamma layer is had on the curve too where its mode wants it
  // so, as it is stored.
  g.curve = StoredOnCurve8(g.reader) && GimpModeOpUsesCurve(g.op);
  node->drawRow = LayerRow;
  node->scratchBytes = kPixel * (g.curve ? 2 : 1) + working;
}

ResultCode Resolve(DrawPlan* plan, XcfImage* image, const LayerLoadEntry* entries, uint32_t canvasBytes,
                   bool swapRedBlue) {
  ResultCode result = ChooseOps(plan, entries, image);
  if (result != ResultCode::Ok) return result;
  for (uint32_t k = plan->count; k-- > 0;)
    if (entries[k].drawn) Settle(plan, &plan->nodes[k]);
  for (uint32_t k = 0; k < plan->count; ++k)
    if (entries[k].drawn) ChooseRows(plan, &plan->nodes[k]);
  if (image->baseType == kBaseIndexed) {
    plan->colours = 256;
    if (XcfGetColormap(image, &plan->colours, plan->colormap) != ResultCode::Ok) plan->colours = 0;
    LinearPalette(plan->colormap, plan->colours, plan->palette);
  }
  plan->bandBytes = 16;
  plan->store = GimpBandStore(canvasBytes, image->baseType, swapRedBlue);
  return ResultCode::Ok;
}

// Over nothing, a picture is opaque wherever it lies when its bottom layer
// is: a layer of colours without alpha, normal, at full opacity, without a
// mask, over the whole canvas; and no layer above can take alpha away.
bool Opaque(const DrawPlan& plan, const Rect& canvas) {
  if (plan.request.backdrop != Backdrop::Nothing) return true;
  uint32_t bottom = plan.last;
  while (bottom != kNoNode && !plan.nodes[bottom].draws) bottom = plan.nodes[bottom].prev;
  if (bottom == kNoNode) return false;
  const PlanNode& b = plan.nodes[bottom];
  const uint32_t type = b.info.type;
  const bool colours = type == kLayerRgb || type == kLayerGray || type == kLayerIndexed;
  const bool normal = b.info.mode == 0 || b.info.mode == kGimpModeNormal;
  const Rect covered = Intersect(b.rect, canvas);
  if (b.group || !colours || !normal || b.gimp.op.opacity != 1.0f || b.maskOpacity != 0 ||
      covered.x0 != canvas.x0 || covered.y0 != canvas.y0 || covered.x1 != canvas.x1 || covered.y1 != canvas.y1)
    return false;
  for (uint32_t k = 0; k < plan.count; ++k) {
    const PlanNode& node = plan.nodes[k];
    if (k != bottom && node.draws && !node.passThrough && node.gimp.op.lowersAlpha) return false;
  }
  return true;
}

}  // namespace

const ArithmeticOps kGimpArithmetic{XcfMaskRule::Applied, Resolve, Opaque};

}  // namespace tessel
