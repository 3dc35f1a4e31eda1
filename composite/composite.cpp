#include "composite/composite.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "composite/blend.h"
#include "composite/loader.h"
#include "composite/simd.h"
#include "composite/workers.h"
#include "xcf/hierarchy.h"
#include "xcf/layer_tree.h"

namespace tessel {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// A group buffer, released on every path.
struct GroupBuffer {
  PixelBuffer* buffer = nullptr;
  ~GroupBuffer() { PixelBufferRelease(&buffer); }
};

bool HasAlpha(uint32_t bytesPerPixel) { return bytesPerPixel == 2 || bytesPerPixel == 4; }

bool MaskHasPixels(const XcfChannel* mask) {
  return mask != nullptr && mask->hierarchy != nullptr && mask->hierarchy->level != nullptr &&
         mask->hierarchy->level->pixels != nullptr;
}

// [x0, x1) x [y0, y1); empty when either side is not positive.
struct Rect {
  int64_t x0, y0, x1, y1;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
};

Rect Intersect(const Rect& a, const Rect& b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

// A layer's rectangle in image coordinates.
Rect LayerRect(const XcfLayerInfo& info) {
  return {info.offsetX, info.offsetY, static_cast<int64_t>(info.offsetX) + info.width,
          static_cast<int64_t>(info.offsetY) + info.height};
}

// How a layer is drawn: its parameters, the type its rows have before the
// mask step, and the mask that takes part.
struct LayerPlan {
  XcfLayerInfo info;
  bool group;
  uint32_t type;           // a group's: the type of its buffer
  uint32_t bs;             // bytes per pixel of that type; 0 for none
  const XcfChannel* mask;  // null when no mask takes part
  uint32_t maskOpacity;
  bool widen;              // rows without alpha get one before the mask step
  uint32_t drawType;       // the type the rows reach BlendRow as
};

ResultCode PlanLayer(const XcfLayer* layer, int32_t baseType, LayerPlan* plan) {
  ResultCode result = XcfLayerGetInfo(layer, &plan->info);
  if (result != ResultCode::Ok) return result;
  plan->group = XcfLayerIsGroup(layer) != 0;
  plan->type = plan->info.type;
  if (plan->group) {
    // A group is composited with alpha, so that what its children leave
    // untouched stays transparent. GIMP stores groups so; the groups of an
    // indexed image it stores as RGBA over indexed children, and those are
    // composited as indexed with alpha.
    plan->type = baseType == kBaseIndexed ? kLayerIndexedA : (plan->type | 1u);
  }
  plan->bs = XcfBytesPerPixel(plan->type);
  const XcfChannel* mask = layer->mask;
  XcfChannelInfo maskInfo{};
  const bool masked = mask != nullptr && (plan->info.flags & kLayerApplyMask) != 0 && MaskHasPixels(mask) &&
                      XcfChannelGetInfo(mask, &maskInfo) == ResultCode::Ok && maskInfo.opacity > 0;
  plan->mask = masked ? mask : nullptr;
  plan->maskOpacity = masked ? maskInfo.opacity : 0;
  // The mask acts as the layer's alpha. A layer without alpha is widened to
  // the type with alpha first, so the mask never lands in a colour byte.
  plan->widen = masked && !HasAlpha(plan->bs);
  plan->drawType = plan->widen ? plan->type + 1 : plan->type;
  return ResultCode::Ok;
}

// The plan of a layer about to be drawn at this depth of nesting; *draws
// is false for an empty group, which draws nothing. Nesting beyond the
// limit is refused, and so is a layer whose pixels were never loaded.
ResultCode PlanDrawing(const XcfLayer* layer, int32_t baseType, uint32_t depth, LayerPlan* plan, bool* draws) {
  if (depth > kMaxGroupDepth) return ResultCode::CorruptData;
  const bool group = XcfLayerIsGroup(layer) != 0;
  *draws = !group || layer->firstChild != nullptr;
  if (!*draws) return ResultCode::Ok;
  if (!group && layer->hierarchy == nullptr) return ResultCode::NotReady;
  return PlanLayer(layer, baseType, plan);
}

// A mask between none and full mixes its own value into every alpha, so
// that even a transparent pixel of its layer draws.
bool MasksEveryPixel(const LayerPlan& plan) { return plan.mask != nullptr && plan.maskOpacity < 255; }

bool Drawable(const XcfLayer* layer) { return XcfLayerIsGroup(layer) ? true : XcfLayerHasPixels(layer) != 0; }

// Where a group's children can leave a mark, in image coordinates: the
// layers with pixels, visible groups with such layers inside, and the whole
// of a group whose mask marks every pixel. A group's buffer starts
// transparent, and transparent pixels leave every target as it is, so
// nothing outside this extent needs a buffer or a blend.
Rect ContentExtent(const XcfLayer* group, int32_t baseType, uint32_t depth) {
  Rect extent{0, 0, 0, 0};
  if (depth > kMaxGroupDepth) return extent;
  for (const XcfLayer* child = group->firstChild; child != nullptr; child = child->next) {
    LayerPlan plan;
    if (PlanLayer(child, baseType, &plan) != ResultCode::Ok || (plan.info.flags & kLayerVisible) == 0 ||
        plan.info.opacity == 0)
      continue;
    if (plan.group) {
      if (child->firstChild == nullptr) continue;
      const Rect own = LayerRect(plan.info);
      extent = Union(extent, MasksEveryPixel(plan) ? own : Intersect(own, ContentExtent(child, baseType, depth + 1)));
    } else if (XcfLayerHasPixels(child)) {
      extent = Union(extent, LayerRect(plan.info));
    }
  }
  return extent;
}

// What drawing the layer as the design draws it, every group into a buffer
// of its full size, would refuse: the arguments that BlendRow refuses, for
// every layer that reaches it, the children of a group wherever they lie in
// the group. The driver draws groups only where their children can mark
// them, so it asks this of every top-level layer before it draws.
ResultCode CheckLayer(const XcfLayer* layer, const Rect& target, uint32_t targetBytes, int32_t baseType,
                      uint32_t depth) {
  LayerPlan plan;
  bool draws = false;
  ResultCode result = PlanDrawing(layer, baseType, depth, &plan, &draws);
  if (result != ResultCode::Ok || !draws) return result;
  if ((plan.info.flags & kLayerVisible) == 0 || plan.info.opacity == 0) return ResultCode::Ok;
  const Rect rect = LayerRect(plan.info);
  if (Intersect(rect, target).Empty()) return ResultCode::Ok;
  if (plan.bs == 0) return ResultCode::InvalidArgument;
  if (plan.group) {
    for (const XcfLayer* child = XcfLayerLastSibling(layer->firstChild); child != nullptr; child = child->prev) {
      if (!Drawable(child)) continue;
      result = CheckLayer(child, rect, plan.bs, baseType, depth + 1);
      if (result != ResultCode::Ok) return result;
    }
  }
  return BlendRowCheck(plan.drawType, plan.info.opacity, targetBytes, plan.info.mode);
}

// Copies n pixels of bs bytes (1 or 3) into bs + 1 bytes with an opaque alpha.
void AddOpaqueAlpha(const uint8_t* source, uint32_t bs, uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i, source += bs) {
    for (uint32_t c = 0; c < bs; ++c) *out++ = source[c];
    *out++ = 255;
  }
}

ResultCode DrawLayer(XcfLayer* layer, PixelBuffer* target, const LayerOrigin* origin, int32_t baseType,
                     uint32_t depth);

// Composites a group's children, bottom to top, into a buffer covering the
// region of the group that will be drawn; its first pixel lies at `corner`
// in image coordinates.
ResultCode DrawChildren(XcfLayer* group, int32_t baseType, uint32_t depth, uint32_t bytesPerPixel,
                        const LayerOrigin& corner, uint32_t columns, uint32_t rows, GroupBuffer* out) {
  ResultCode result = PixelBufferNew(&out->buffer);
  if (result == ResultCode::Ok) result = PixelBufferCreate(out->buffer, bytesPerPixel, columns, rows);
  if (result == ResultCode::Ok) result = PixelBufferClear(out->buffer);
  if (result != ResultCode::Ok) return result;
  for (XcfLayer* child = XcfLayerLastSibling(group->firstChild); child != nullptr; child = child->prev) {
    if (!Drawable(child)) continue;
    result = DrawLayer(child, out->buffer, &corner, baseType, depth + 1);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

ResultCode DrawLayer(XcfLayer* layer, PixelBuffer* target, const LayerOrigin* origin, int32_t baseType,
                     uint32_t depth) {
  if (layer == nullptr || target == nullptr) return ResultCode::InvalidArgument;
  LayerPlan plan;
  bool draws = false;
  ResultCode result = PlanDrawing(layer, baseType, depth, &plan, &draws);
  if (result != ResultCode::Ok || !draws) return result;
  const bool group = plan.group;
  const XcfLayerInfo& info = plan.info;
  uint32_t targetWidth;
  uint32_t targetHeight;
  uint32_t bt;
  result = PixelBufferGetSize(target, &targetWidth, &targetHeight, &bt);
  if (result != ResultCode::Ok) return result;
  if ((info.flags & kLayerVisible) == 0 || info.opacity == 0) return ResultCode::Ok;

  // The part of the layer that lands in the target, in image coordinates;
  // for a group only where its children can leave a mark.
  const LayerOrigin at = origin != nullptr ? *origin : LayerOrigin{0, 0};
  Rect region = Intersect(LayerRect(info), Rect{at.x, at.y, at.x + targetWidth, at.y + targetHeight});
  if (group && !MasksEveryPixel(plan)) region = Intersect(region, ContentExtent(layer, baseType, depth));
  if (region.Empty()) return ResultCode::Ok;
  const int64_t skipX = region.x0 - info.offsetX;  // first layer column and row drawn
  const int64_t skipY = region.y0 - info.offsetY;
  const int64_t dstX = region.x0 - at.x;           // where they land in the target
  const int64_t dstY = region.y0 - at.y;
  const auto columns = static_cast<uint32_t>(region.x1 - region.x0);
  const auto rows = static_cast<uint32_t>(region.y1 - region.y0);

  const uint32_t bs = plan.bs;
  if (bs == 0) return ResultCode::InvalidArgument;
  GroupBuffer groupBuffer;
  if (group) {
    result = DrawChildren(layer, baseType, depth, bs, LayerOrigin{region.x0, region.y0}, columns, rows, &groupBuffer);
    if (result != ResultCode::Ok) return result;
  }

  const uint32_t maskedBytes = plan.widen ? bs + 1 : bs;
  std::unique_ptr<uint8_t, FreeDeleter> scratch;
  if (plan.mask != nullptr) {
    uint64_t size = static_cast<uint64_t>(maskedBytes) * columns;
    if (size == 0 || size > SIZE_MAX) return ResultCode::OutOfMemory;
    scratch.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))));
    if (!scratch) return ResultCode::OutOfMemory;
  }

  for (uint32_t i = 0; i < rows; ++i) {
    const auto r = static_cast<uint32_t>(skipY + i);
    const auto t = static_cast<uint32_t>(dstY + i);
    const uint8_t* source = group ? PixelBufferRow(groupBuffer.buffer, i) : XcfHierarchyRow(layer->hierarchy, r);
    uint8_t* row = PixelBufferRow(target, t);
    if (source == nullptr || row == nullptr) return ResultCode::Unsupported;
    if (!group) source += static_cast<size_t>(bs) * static_cast<size_t>(skipX);
    uint8_t* destination = row + static_cast<size_t>(bt) * static_cast<size_t>(dstX);
    if (plan.mask != nullptr) {
      const uint8_t* maskRow = XcfChannelRow(plan.mask, r);
      if (maskRow == nullptr) return ResultCode::Unsupported;
      maskRow += skipX;
      if (plan.widen) {
        AddOpaqueAlpha(source, bs, scratch.get(), columns);
        source = scratch.get();
      }
      result = ApplyMaskRow(maskedBytes, source, scratch.get(), maskRow, plan.maskOpacity, columns);
      if (result != ResultCode::Ok) return result;
      source = scratch.get();
    }
    result = BlendRow(plan.drawType, columns, source, info.opacity, destination, bt, info.mode);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

// A canvas of 3 or 4 bytes for RGB, 1 or 2 for grayscale and indexed.
bool CanvasSuits(int32_t baseType, uint32_t bytesPerPixel) {
  switch (baseType) {
    case kBaseRgb: return bytesPerPixel == 3 || bytesPerPixel == 4;
    case kBaseGray:
    case kBaseIndexed: return bytesPerPixel == 1 || bytesPerPixel == 2;
    default: return true;
  }
}

// The bytes a picture's threads share out: its canvas and what its
// entries decode.
uint64_t WorkOf(const LayerLoadEntry* entries, uint32_t count, const PixelBuffer* canvas) {
  uint64_t work = static_cast<uint64_t>(canvas->width) * canvas->height * canvas->bytesPerPixel;
  for (uint32_t i = 0; i < count; ++i) {
    const XcfLayer* layer = entries[i].layer;
    const uint64_t pixels = static_cast<uint64_t>(layer->width) * layer->height;
    if (entries[i].loadPixels) work += pixels * XcfBytesPerPixel(layer->type);
    if (entries[i].loadMask) work += pixels;
  }
  return work;
}

// The layer drawn first, when drawing it is a plain copy of its rows into
// the cleared canvas (normal mode, full opacity, no alpha and no mask, the
// canvas's own format): its tiles are then decoded straight into the
// canvas, which saves a buffer of the layer's size and the copy.
bool FindDirectEntry(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, PixelBuffer* canvas,
                     DirectEntry* out) {
  for (XcfLayer* layer = XcfLayerLastSibling(image->layers); layer != nullptr; layer = layer->prev) {
    uint32_t i = 0;
    while (i < count && entries[i].layer != layer) ++i;
    if (i == count) continue;  // hidden: it draws nothing
    if (XcfLayerIsGroup(layer)) {
      if (layer->firstChild == nullptr) continue;
      return false;
    }
    XcfLayerInfo info;
    if (XcfLayerGetInfo(layer, &info) != ResultCode::Ok || layer->hierarchy != nullptr) return false;
    const uint32_t bs = XcfBytesPerPixel(info.type);
    if (!entries[i].loadPixels || entries[i].loadMask || info.mode != kModeNormal || info.opacity != 255 ||
        HasAlpha(bs) || bs != canvas->bytesPerPixel)
      return false;
    *out = DirectEntry{i, canvas, info.offsetX, info.offsetY};
    return true;
  }
  return false;
}

// The canvas rows that the direct entry covers from edge to edge: the
// whole canvas width of them, or nothing.
Rect CoveredRows(const DirectEntry& direct, const XcfLayer* layer) {
  const int64_t x1 = static_cast<int64_t>(direct.x) + layer->width;
  if (direct.x > 0 || x1 < direct.canvas->width) return Rect{0, 0, 0, 0};
  return Intersect(Rect{0, direct.y, direct.canvas->width, static_cast<int64_t>(direct.y) + layer->height},
                   Rect{0, 0, direct.canvas->width, direct.canvas->height});
}

// Every byte of the canvas becomes 0, padding included, but for the pixels
// of `covered`, which the direct entry writes whole.
ResultCode ClearCanvas(PixelBuffer* canvas, const Rect& covered) {
  if (covered.Empty()) return PixelBufferClear(canvas);
  if (canvas->pixels == nullptr) return ResultCode::NotReady;
  const size_t stride = canvas->stride < 0 ? 0u - static_cast<size_t>(static_cast<int64_t>(canvas->stride))
                                           : static_cast<size_t>(canvas->stride);
  const size_t used = static_cast<size_t>(canvas->width) * canvas->bytesPerPixel;
  for (uint32_t y = 0; y < canvas->height; ++y) {
    uint8_t* row = PixelBufferRow(canvas, y);
    const bool whole = y >= covered.y0 && y < covered.y1;
    if (whole) {
      std::memset(row + used, 0, stride - used);
    } else {
      std::memset(row, 0, stride);
    }
  }
  return ResultCode::Ok;
}

// Drawing in horizontal bands: each band takes every top-level layer from
// the bottom up, so that its rows stay in the cache; the bands are shared
// out among the call's threads. A band that fails keeps its code; the
// lowest such band's is the result.
constexpr uint32_t kBandRows = 32;

struct DrawJob {
  DrawJob(XcfImage* i, PixelBuffer* c, uint32_t n, bool swap) : image(i), canvas(c), bands(n), swapRedBlue(swap) {}
  XcfImage* image;
  PixelBuffer* canvas;
  uint32_t bands;
  bool swapRedBlue;
  std::atomic<uint32_t> next{0};
  Signal signal;  // guards the failure
  uint32_t failedBand = UINT32_MAX;
  ResultCode failure = ResultCode::Ok;
};

void DrawBand(DrawJob* job, uint32_t band) {
  PixelBuffer* canvas = job->canvas;
  const uint32_t y0 = band * kBandRows;
  const uint32_t y1 = canvas->height - y0 < kBandRows ? canvas->height : y0 + kBandRows;
  // The band's rows as a buffer of their own; its lowest address is its
  // last row when the rows are stored bottom-up.
  PixelBuffer view{0, canvas->width, y1 - y0, canvas->bytesPerPixel, canvas->stride,
                   PixelBufferRow(canvas, canvas->stride < 0 ? y1 - 1 : y0)};
  const LayerOrigin origin{0, y0};
  ResultCode result = ResultCode::Ok;
  for (XcfLayer* layer = XcfLayerLastSibling(job->image->layers); layer != nullptr; layer = layer->prev) {
    if (!Drawable(layer)) continue;
    result = DrawLayer(layer, &view, &origin, job->image->baseType, 0);
    if (result != ResultCode::Ok) break;
  }
  if (result == ResultCode::Ok) {
    if (job->swapRedBlue && view.bytesPerPixel >= 3) PixelBufferExchangeOuterBytes(&view);
    return;
  }
  job->signal.Lock();
  if (band < job->failedBand) {
    job->failedBand = band;
    job->failure = result;
  }
  job->signal.Unlock();
}

DWORD WINAPI DrawWorker(LPVOID context) {
  auto* job = static_cast<DrawJob*>(context);
  for (uint32_t band; (band = job->next.fetch_add(1)) < job->bands;) DrawBand(job, band);
  return 0;
}

ResultCode DrawBands(XcfImage* image, PixelBuffer* canvas, uint32_t threads, bool swapRedBlue) {
  DrawJob job(image, canvas, (canvas->height + kBandRows - 1) / kBandRows, swapRedBlue);
  Workers workers;
  if (threads > 1 && job.bands > 1) workers.Start(std::min(threads, job.bands) - 1, DrawWorker, &job);
  DrawWorker(&job);
  workers.Join();
  return job.failure;
}

#if defined(__SSE2__)
// The mask step for pixels with alpha, eight at a time: the alpha of each
// becomes the mix of its own and the mask's that the scalar loop forms.
// Returns the pixels done.
uint32_t MaskAlphaVector(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t mo,
                         uint32_t n) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i weight = simd::Splat(static_cast<int>(mo));
  auto mix = [&](__m128i s, __m128i m) {
    return mo == 255 ? simd::Div255(_mm_mullo_epi16(m, s)) : simd::Mix(m, s, weight);
  };
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8, source += 8 * bs, out += 8 * bs, mask += 8) {
    const __m128i m = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(mask)), zero);
    if (bs == 2) {
      // value | alpha << 8 in each 16-bit lane
      const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
      const __m128i alpha = mix(_mm_srli_epi16(pixels, 8), m);
      const __m128i value = _mm_and_si128(pixels, simd::Splat(255));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(value, _mm_slli_epi16(alpha, 8)));
    } else {
      // R, G, B | alpha << 24 in each 32-bit lane
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16));
      const __m128i alpha = mix(_mm_packs_epi32(_mm_srli_epi32(low, 24), _mm_srli_epi32(high, 24)), m);
      const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       _mm_or_si128(_mm_and_si128(low, colour), _mm_slli_epi32(_mm_unpacklo_epi16(alpha, zero), 24)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                       _mm_or_si128(_mm_and_si128(high, colour), _mm_slli_epi32(_mm_unpackhi_epi16(alpha, zero), 24)));
    }
  }
  return i;
}
#endif

}  // namespace

ResultCode ApplyMaskRow(uint32_t bs, const uint8_t* source, uint8_t* out, const uint8_t* mask, uint32_t maskOpacity,
                        uint32_t n) {
  if (out == nullptr || source == nullptr || mask == nullptr || bs < 1 || n == 0) return ResultCode::InvalidArgument;
  if (maskOpacity == 0) return ResultCode::Ok;
  const uint32_t mo = maskOpacity > 255 ? 255 : maskOpacity;
  uint32_t i = 0;
#if defined(__SSE2__)
  if (bs == 2 || bs == 4) {
    const uint32_t done = MaskAlphaVector(bs, source, out, mask, mo, n);
    i = done;
    source += static_cast<size_t>(done) * bs;
    out += static_cast<size_t>(done) * bs;
    mask += done;
  }
#endif
  for (; i < n; ++i, source += bs, out += bs, ++mask) {
    for (uint32_t c = 0; c + 1 < bs; ++c) out[c] = source[c];
    const uint32_t s = source[bs - 1];
    const uint32_t m = *mask;
    out[bs - 1] = static_cast<uint8_t>(mo == 255 ? Div255(m * s) : Div255(s * (255 - mo) + m * mo));
  }
  return ResultCode::Ok;
}

ResultCode CompositeLayer(XcfLayer* layer, PixelBuffer* target, const LayerOrigin* origin, int32_t baseType) {
  return DrawLayer(layer, target, origin, baseType, 0);
}

ResultCode CompositeImage(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress) {
  return CompositeImageWith(image, canvas, progress, CompositeOptions{0, false});
}

ResultCode CompositeImageWith(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress, CompositeOptions options) {
  if (image == nullptr || canvas == nullptr) return ResultCode::InvalidArgument;
  if ((image->flags & kImageBodyValid) == 0) {
    ResultCode result = XcfLoad(image);
    if (result != ResultCode::Ok) return result;
    if ((image->flags & kImageBodyValid) == 0) return ResultCode::NotReady;
  }
  uint32_t width;
  uint32_t height;
  uint32_t bytesPerPixel;
  ResultCode result = PixelBufferGetSize(canvas, &width, &height, &bytesPerPixel);
  if (result != ResultCode::Ok) return result;
  if (width != image->width || height != image->height) return ResultCode::InvalidArgument;
  if (!CanvasSuits(image->baseType, bytesPerPixel)) return ResultCode::InvalidArgument;
  if (image->layerOffsets.count == 0) return ResultCode::CorruptData;
  result = XcfBuildLayerTree(image);
  if (result != ResultCode::Ok) return result;

  std::unique_ptr<LayerLoadEntry, FreeDeleter> entries(
      static_cast<LayerLoadEntry*>(std::calloc(image->layerOffsets.count, sizeof(LayerLoadEntry))));
  if (!entries) return ResultCode::OutOfMemory;
  uint32_t count = 0;
  for (XcfLayer* layer = image->layers; layer != nullptr; layer = layer->next) {
    result = XcfCollectLoadList(layer, image, entries.get(), &count);
    if (result != ResultCode::Ok) return result;
  }
  DirectEntry direct{};
  const bool straight = count > 0 && FindDirectEntry(image, entries.get(), count, canvas, &direct);
  result = ClearCanvas(canvas, straight ? CoveredRows(direct, entries.get()[direct.entry].layer) : Rect{0, 0, 0, 0});
  if (result != ResultCode::Ok || count == 0) return result;

  const uint32_t threads = options.threads != 0 ? options.threads : ThreadsFor(WorkOf(entries.get(), count, canvas));
  uint32_t compression = 0;
  XcfGetCompression(image, &compression);
  result = LoadEntries(image, entries.get(), count, compression, progress, threads, straight ? &direct : nullptr);
  if (result != ResultCode::Ok) return result;

  // Whatever drawing the picture as the design does would refuse is
  // refused before anything is drawn; drawing in bands then meets no
  // refusal of its own.
  const Rect whole{0, 0, width, height};
  for (XcfLayer* layer = XcfLayerLastSibling(image->layers); layer != nullptr; layer = layer->prev) {
    if (!Drawable(layer)) continue;
    result = CheckLayer(layer, whole, bytesPerPixel, image->baseType, 0);
    if (result != ResultCode::Ok) return result;
  }
  return DrawBands(image, canvas, threads, options.swapRedBlue);
}

}  // namespace tessel
