// The plug-in's 8-bit integer arithmetic (XCF versions 0 to 3): a layer's
// rows are its stored bytes, a mask is folded into their alpha, and each
// row goes to the row function of its mode (BlendRow's), in place in the
// canvas, which starts black.
#include <cstring>

#include "composite/draw.h"
#include "composite/mask_step.h"

namespace tessel {

namespace {

bool HasAlpha(uint32_t bytesPerPixel) { return bytesPerPixel == 2 || bytesPerPixel == 4; }

// ---- Rows. ------------------------------------------------------------------

void PlainRow(const DrawPlan&, const PlanNode& node, const NodeRow& row) {
  node.integer.blend.Run(row.target, row.own, row.columns);
}

// The mask into the alpha of the node's own rows (decoded or a group's
// buffer: this thread's).
void MaskedRow(const DrawPlan&, const PlanNode& node, const NodeRow& row) {
  FoldMaskRow(node.integer.bs, row.own, row.own, row.mask, node.maskOpacity, row.columns);
  node.integer.blend.Run(row.target, row.own, row.columns);
}

// A layer without alpha takes its mask on the type with alpha, so that the
// mask never lands in a colour byte.
void WidenedRow(const DrawPlan&, const PlanNode& node, const NodeRow& row) {
  const uint32_t bytes = node.integer.bs + 1;
  AddOpaqueAlpha(row.own, node.integer.bs, row.scratch, row.columns);
  FoldMaskRow(bytes, row.scratch, row.scratch, row.mask, node.maskOpacity, row.columns);
  node.integer.blend.Run(row.target, row.scratch, row.columns);
}

// ---- The band: the canvas's own rows. -------------------------------------

// Every byte of the band's rows becomes 0, padding included, but for the
// pixels that the layer decoded into the canvas writes whole.
ResultCode OpenBand(const DrawPlan&, BandScratch*, PixelBuffer* band, const Rect& covered, ByteStream*, Rows* rows) {
  const size_t stride = band->stride < 0 ? 0u - static_cast<size_t>(static_cast<int64_t>(band->stride))
                                         : static_cast<size_t>(band->stride);
  const size_t bpp = band->bytesPerPixel;
  for (uint32_t y = 0; y < band->height; ++y) {
    uint8_t* row = PixelBufferRow(band, y);
    if (covered.Empty() || y < covered.y0 || y >= covered.y1) {
      std::memset(row, 0, stride);
      continue;
    }
    std::memset(row, 0, static_cast<size_t>(covered.x0) * bpp);
    std::memset(row + static_cast<size_t>(covered.x1) * bpp, 0, stride - static_cast<size_t>(covered.x1) * bpp);
  }
  *rows = Rows{PixelBufferRow(band, 0), band->stride, band->bytesPerPixel};
  return ResultCode::Ok;
}

void CloseBand(const DrawPlan&, const Rows&, PixelBuffer*) {}

// The blends work in the XCF order; the bitmap's is blue first, put right
// while the band's rows are in the cache.
void CloseBandBgr(const DrawPlan&, const Rows&, PixelBuffer* band) { PixelBufferExchangeOuterBytes(band); }

// ---- The plan. ----------------------------------------------------------------

// A node's types: a group is composited with alpha, so that what its
// children leave untouched stays transparent. GIMP stores groups so; the
// groups of an indexed image it stores as RGBA over indexed children, and
// those are composited as indexed with alpha. The mask acts as the layer's
// alpha: a layer without alpha is widened to the type with alpha first.
void Types(const DrawPlan& plan, PlanNode* node) {
  IntegerNode& n = node->integer;
  n.type = node->info.type;
  if (node->group) n.type = plan.baseType == kBaseIndexed ? kLayerIndexedA : (node->info.type | 1u);
  n.bs = XcfBytesPerPixel(n.type);
  n.drawType = node->maskOpacity > 0 && !HasAlpha(n.bs) ? n.type + 1 : n.type;
  n.blend = RowBlend{nullptr, 0, 0, 0};
  node->bufferBytes = n.bs;
  node->maskValueBytes = 1;
  node->scratchBytes = n.drawType != n.type ? n.bs + 1 : 0;
  node->drawRow = node->maskOpacity == 0 ? PlainRow : n.drawType != n.type ? WidenedRow : MaskedRow;
}

// Where a drawn node can leave a mark, and whether a group draws as its one
// child; its children have theirs already.
void Settle(DrawPlan* plan, PlanNode* node) {
  node->mark = node->rect;
  uint32_t drawn = 0;
  uint32_t only = kNoNode;
  Rect children{0, 0, 0, 0};
  for (uint32_t c = node->firstChild; c != kNoNode; c = plan->nodes[c].next) {
    if (!plan->nodes[c].draws) continue;
    ++drawn;
    only = c;
    children = Union(children, plan->nodes[c].mark);
  }
  // A group's buffer starts transparent: it marks where its children do,
  // unless a mask between none and full tints the rest of it.
  if (node->group && !(node->maskOpacity > 0 && node->maskOpacity < 255)) node->mark = Intersect(node->rect, children);
  // Into a transparent buffer of its own kind (RGB, gray or indexed, with
  // alpha), a layer in normal mode leaves its own colour and its alpha at
  // its opacity (indexed: its index, opaque, where it passes the
  // threshold), and nothing where that alpha is 0; such a buffer drawn in
  // normal mode at full opacity blends exactly as the layer would have. So
  // a chain of such groups costs no buffers.
  const PlanNode* sole = drawn == 1 ? &plan->nodes[only] : nullptr;
  node->soleChild = node->group && sole != nullptr && node->maskOpacity == 0 && node->info.mode == kModeNormal &&
                            node->info.opacity == 255 && sole->info.mode == kModeNormal &&
                            (sole->integer.drawType | 1u) == (node->integer.type | 1u)
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
  IntegerNode& n = node.integer;
  Reason* reason = &plan.refusalReason;
  if (!node.draws || Intersect(node.rect, target).Empty()) return ResultCode::Ok;
  if (n.bs == 0) {
    ReasonNote(reason, "%s: a group of type %u, which has no pixels", NameOf(node.layer).text, node.info.type);
    return ResultCode::InvalidArgument;
  }
  for (uint32_t c = node.lastChild; c != kNoNode; c = plan.nodes[c].prev) {
    ResultCode result = Check(plan, c, node.rect, n.bs, node.soleChild == c ? into : n.bs);
    if (result != ResultCode::Ok) return result;
  }
  const char* why = BlendRowRefusal(n.drawType, node.info.opacity, targetBytes, node.info.mode);
  if (why == nullptr) {
    n.blend = BlendRowChoose(n.drawType, node.info.opacity, into, node.info.mode);
    return ResultCode::Ok;
  }
  ReasonNote(reason, "%s: %s (type %u, mode %u, opacity %u, into %u bytes per pixel)", NameOf(node.layer).text, why,
             n.drawType, node.info.mode, node.info.opacity, targetBytes);
  return ResultCode::InvalidArgument;
}

ResultCode Resolve(DrawPlan* plan, XcfImage* image, const LayerLoadEntry* entries, uint32_t canvasBytes,
                   bool swapRedBlue) {
  // Its modes are the plug-in's 26 on 8-bit gamma pixels, over black.
  if (XcfHasPrecision(plan->format.version))
    return StreamFault(image->stream, "the plug-in's 8-bit arithmetic asked for XCF version %d",
                       plan->format.version);
  if (plan->request.backdrop != Backdrop::Black)
    return StreamFault(image->stream, "the plug-in's 8-bit arithmetic asked for a backdrop other than black");
  plan->bandBytes = 4;
  plan->store = BandStore{OpenBand, swapRedBlue ? CloseBandBgr : CloseBand};
  for (uint32_t k = 0; k < plan->count; ++k) Types(*plan, &plan->nodes[k]);
  // Children come after their parents in the list: settled first from its end.
  for (uint32_t k = plan->count; k-- > 0;)
    if (entries[k].drawn) Settle(plan, &plan->nodes[k]);
  const Rect canvas{0, 0, image->width, image->height};
  for (uint32_t k = plan->last; k != kNoNode && plan->refusal == ResultCode::Ok; k = plan->nodes[k].prev)
    plan->refusal = Check(*plan, k, canvas, canvasBytes, canvasBytes);
  // The layer drawn first, when drawing it is a plain copy of its rows into
  // the cleared canvas (normal mode, full opacity, no alpha and no mask, the
  // canvas's own format), is decoded straight into the canvas.
  for (uint32_t k = plan->last; k != kNoNode; k = plan->nodes[k].prev) {
    PlanNode& node = plan->nodes[k];
    if (!node.draws) continue;
    if (!node.group && node.maskOpacity == 0 && node.info.mode == kModeNormal && node.info.opacity == 255 &&
        !HasAlpha(node.integer.bs) && node.integer.bs == canvasBytes) {
      node.direct = true;
      plan->direct = k;
    }
    break;
  }
  return ResultCode::Ok;
}

// Its canvas starts black and opaque, and stays so.
bool Opaque(const DrawPlan&, const Rect&) { return true; }

}  // namespace

const ArithmeticOps kIntegerArithmetic{XcfMaskRule::Present, Resolve, Opaque};

}  // namespace tessel
