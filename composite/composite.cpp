#include "composite/composite.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "composite/draw.h"
#include "composite/loader.h"
#include "composite/plan.h"
#include "composite/workers.h"
#include "xcf/layer_tree.h"
#include "xcf/tile.h"

namespace tessel {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// A plan, freed on every path.
struct PlanHolder {
  DrawPlan plan{};
  ~PlanHolder() { DrawPlanFree(&plan); }
};

// A canvas of 3 or 4 bytes for RGB, 1 or 2 for grayscale and indexed; of
// 4 (colour and alpha) for every picture drawn over nothing.
bool CanvasSuits(int32_t baseType, uint32_t bytesPerPixel, const DrawRequest& request) {
  if (request.backdrop == Backdrop::Nothing) return bytesPerPixel == 4;
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

// Tells the host of entry i; false when it asks to stop.
bool Report(ProgressHook* progress, uint32_t i, uint32_t count) {
  return progress == nullptr || progress->function == nullptr ||
         progress->function(progress, static_cast<int32_t>(i), static_cast<int32_t>(count - 1)) != 0;
}

// The host asked to stop at progress call i.
ResultCode RefuseCancel(const ByteStream* stream, uint32_t i, uint32_t count) {
  return StreamRefuse(stream, ResultCode::Cancelled, "stopped by the host at progress call %u of %u", i + 1, count);
}

// How the canvas is cut into bands: rows [start(b), end(b)) for band b,
// every boundary on the same row modulo a tile, `first` rows into the
// first band. A band that cuts a layer's tile row decodes the rows it needs
// of it and passes over the others' runs, so the boundaries are laid on the
// tile rows of the layers with the most to decode (in a document of layers
// the canvas's size, on all of them), and bands are two tile rows high, as
// many as keep a thread's band memory (a layer's rows, its working row,
// its mask's, a group buffer per level) near kBandBytes.
constexpr uint64_t kBandBytes = 32u << 20;

struct BandLayout {
  uint32_t rows;   // of a whole band
  uint32_t first;  // rows of band 0
  uint32_t bands;
  uint32_t Start(uint32_t b) const { return b == 0 ? 0 : first + (b - 1) * rows; }
};

BandLayout LayBands(const DrawPlan& plan, uint32_t width, uint32_t height) {
  const uint64_t perRow = static_cast<uint64_t>(width) * plan.bandBytes * (plan.depth + 4);
  const uint64_t fit = kBandBytes / perRow;
  // Whole tile rows where they fit, so that no band cuts one.
  const uint32_t rows = fit >= 2 * kTileSize ? 2 * kTileSize : fit >= kTileSize ? kTileSize
                        : fit == 0                ? 1
                                                  : static_cast<uint32_t>(fit);
  uint64_t bytesAt[kTileSize] = {};
  for (uint32_t k = 0; k < plan.count; ++k) {
    const PlanNode& node = plan.nodes[k];
    if (!node.draws || node.group || node.direct) continue;
    const auto tile = static_cast<int32_t>(kTileSize);
    const auto residue = static_cast<uint32_t>((node.info.offsetY % tile + tile) % tile);
    bytesAt[residue] += static_cast<uint64_t>(node.info.width) * node.info.height * XcfBytesPerPixel(node.info.type);
  }
  uint32_t shift = 0;
  for (uint32_t r = 1; r < kTileSize; ++r)
    if (bytesAt[r] > bytesAt[shift]) shift = r;
  // Bands shorter than a tile row cut every tile row anyway.
  if (rows < kTileSize) shift = 0;
  const uint32_t first = shift == 0 || shift >= height ? (rows < height ? rows : height) : shift;
  const uint32_t bands = 1 + (height - first + rows - 1) / rows;
  return BandLayout{rows, first, bands};
}

// Drawing in horizontal bands: each band takes every top-level layer from
// the bottom up, decoding only the rows it shows, so that they stay in the
// cache and no layer is ever held whole; the bands are shared out among the
// call's threads. A band that fails keeps its code; the lowest such band's
// is the result.
struct SweepJob {
  SweepJob(const DrawPlan& p, LoadJob* l, PixelBuffer* c, ByteStream* s, CompositeOptions options)
      : plan(p), load(l), canvas(c), stream(s), layout(LayBands(p, c->width, c->height)), bands(layout.bands),
        rows(options.rows) {}
  const DrawPlan& plan;
  // Checked before the bands: a thread that finds no unit of it left goes
  // on to the bands, which are kept only if the check finds nothing.
  LoadJob* load;
  PixelBuffer* canvas;
  ByteStream* stream;  // the calling thread's; the others fork it
  BandLayout layout;
  uint32_t bands;
  RowsHook* rows;
  std::atomic<uint32_t> next{0};
  std::atomic<bool> stop{false};
  Signal signal;  // guards what follows; notified when a band is done
  uint64_t rowsDone = 0;
  uint32_t failedBand = UINT32_MAX;
  ResultCode failure = ResultCode::Ok;
  Reason failureReason{};
};

void SweepBand(SweepJob* job, uint32_t band, ByteStream* stream, BandScratch* scratch) {
  PixelBuffer* canvas = job->canvas;
  const uint32_t y0 = job->layout.Start(band);
  const uint32_t end = job->layout.Start(band + 1);
  const uint32_t y1 = end < canvas->height ? end : canvas->height;
  // The band's rows as a buffer of their own; its lowest address is its
  // last row when the rows are stored bottom-up.
  PixelBuffer view{0, canvas->width, y1 - y0, canvas->bytesPerPixel, canvas->stride,
                   PixelBufferRow(canvas, canvas->stride < 0 ? y1 - 1 : y0)};
  const Rect bandRect{0, y0, canvas->width, y1};
  Rect covered{0, 0, 0, 0};
  if (job->plan.direct != kNoNode) {
    covered = Intersect(job->plan.nodes[job->plan.direct].rect, bandRect);
    covered = Rect{covered.x0, covered.y0 - y0, covered.x1, covered.y1 - y0};
  }
  ReasonAside aside(stream);
  ResultCode result = DrawBand(job->plan, stream, scratch, &view, bandRect, covered);
  if (result != ResultCode::Ok) ReasonPrefix(aside.Record(), "rows %u to %u: ", y0, y1 - 1);
  if (result == ResultCode::Ok && job->rows != nullptr && job->rows->function != nullptr)
    job->rows->function(job->rows, y0, y1 - y0, PixelBufferRow(canvas, y0), canvas->stride);
  job->signal.Lock();
  job->rowsDone += y1 - y0;
  if (result != ResultCode::Ok && band < job->failedBand) {
    job->failedBand = band;
    job->failure = result;
    job->failureReason = aside.Why();
  }
  job->signal.Notify();
  job->signal.Unlock();
}

// The next band to draw, or false when none is left or the work stopped.
bool TakeBand(SweepJob* job, uint32_t* band) {
  if (job->stop.load(std::memory_order_relaxed)) return false;
  *band = job->next.fetch_add(1);
  return *band < job->bands;
}

DWORD WINAPI SweepWorker(LPVOID context) {
  auto* job = static_cast<SweepJob*>(context);
  ByteStream* own = nullptr;
  // A thread that cannot have a stream of its own leaves the work to the others.
  if (StreamFork(job->stream, &own) != ResultCode::Ok) return 0;
  LoadJobRun(job->load, own);
  {
    BandScratch scratch;
    for (uint32_t band; TakeBand(job, &band);) SweepBand(job, band, own, &scratch);
  }
  StreamDestroy(&own);
  return 0;
}

// Checks the entries' tiles and draws every band on the call's threads.
// The host hears of the entries as the rows are drawn, call i when (i + 1)
// / count of them are, on this thread, which works too. When the check
// finds an entry that fails, or the plan a refusal, nothing is kept of the
// drawing and the host hears of the entries before the failing one (of all
// of them before a refusal), as if each had been loaded whole in turn.
ResultCode Sweep(const DrawPlan& plan, LoadJob* load, PixelBuffer* canvas, ByteStream* stream, uint32_t threads,
                 CompositeOptions options, ProgressHook* progress, uint32_t count) {
  SweepJob job(plan, load, canvas, stream, options);
  // A picture the plan refuses, or whose layers' headers fail to read,
  // draws nothing, not even ahead of the check: its blends were never
  // chosen, or its layers' tiles never found.
  job.stop = plan.refusal != ResultCode::Ok || !LoadJobPrepared(load);
  const uint64_t total = canvas->height;
  Workers workers;
  if (threads > 1 && (job.bands > 1 || LoadJobShared(load))) workers.Start(threads - 1, SweepWorker, &job);
  LoadJobRun(load, stream);
  const LoadOutcome loaded = LoadJobFinish(load);
  if (loaded.failedEntry < count || plan.refusal != ResultCode::Ok) {
    job.stop = true;
    workers.Join();
    const uint32_t heard = loaded.failedEntry < count ? loaded.failedEntry : count;
    for (uint32_t i = 0; i < heard; ++i)
      if (!Report(progress, i, count)) return RefuseCancel(stream, i, count);
    ReasonTake(stream->reason, loaded.failedEntry < count ? loaded.reason : plan.refusalReason);
    return loaded.failedEntry < count ? loaded.result : plan.refusal;
  }
  BandScratch scratch;
  ResultCode result = ResultCode::Ok;
  for (uint32_t reported = 0; reported < count;) {
    job.signal.Lock();
    const uint64_t done = job.rowsDone;
    const ResultCode failure = job.failure;
    job.signal.Unlock();
    if (failure != ResultCode::Ok) break;
    // Call i comes once (i + 1) / count of the rows are drawn.
    if (done * count >= (reported + 1) * total) {
      if (!Report(progress, reported, count)) {
        result = RefuseCancel(stream, reported, count);
        break;
      }
      ++reported;
      continue;
    }
    uint32_t band;
    if (TakeBand(&job, &band)) {
      SweepBand(&job, band, stream, &scratch);
      continue;
    }
    job.signal.Lock();
    while (job.rowsDone == done && job.failure == ResultCode::Ok) job.signal.Wait();
    job.signal.Unlock();
  }
  job.stop = true;
  workers.Join();
  if (result != ResultCode::Ok) return result;
  ReasonTake(stream->reason, job.failureReason);
  return job.failure;
}

}  // namespace

ResultCode CompositeImage(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress) {
  if (image == nullptr || canvas == nullptr) return ResultCode::InvalidArgument;
  ResultCode result = XcfLoad(image);
  if (result != ResultCode::Ok) return result;
  return CompositeImageWith(image, canvas, progress, CompositeOptions{ViewerRequest(image->format), 0, false, nullptr});
}

namespace {

// The load list and the plan of a picture: no plan when nothing is visible.
struct Prepared {
  std::unique_ptr<LayerLoadEntry, FreeDeleter> list;
  uint32_t count = 0;
  PlanHolder holder;
};

ResultCode Prepare(XcfImage* image, const DrawRequest& request, uint32_t canvasBytes, bool swapRedBlue,
                   Prepared* out) {
  ResultCode result = XcfBuildLayerTree(image);
  if (result != ResultCode::Ok) return result;
  const uint32_t layers = image->layerOffsets.count;
  out->list.reset(static_cast<LayerLoadEntry*>(std::calloc(layers, sizeof(LayerLoadEntry))));
  if (!out->list)
    return StreamRefuse(image->stream, ResultCode::OutOfMemory, "no memory for a list of %u layers", layers);
  const XcfMaskRule masks = ArithmeticOf(request.arithmetic).masks;
  for (XcfLayer* layer = image->layers; layer != nullptr; layer = layer->next) {
    result = XcfCollectLoadListWith(layer, image, masks, out->list.get(), &out->count);
    if (result != ResultCode::Ok) return result;
  }
  // Nothing visible over black: the picture is black (or palette index 0).
  if (out->count == 0 && request.backdrop == Backdrop::Black) return ResultCode::Ok;
  return DrawPlanBuild(image, out->list.get(), out->count, request, canvasBytes, swapRedBlue, &out->holder.plan);
}

}  // namespace

ResultCode CompositeIsOpaque(XcfImage* image, const DrawRequest& request, bool* opaque) {
  Prepared prepared;
  ResultCode result = Prepare(image, request, 4, false, &prepared);
  if (result != ResultCode::Ok) return result;
  const DrawPlan& plan = prepared.holder.plan;
  *opaque = request.backdrop == Backdrop::Black ||
            ArithmeticOf(request.arithmetic).opaque(plan, Rect{0, 0, image->width, image->height});
  return ResultCode::Ok;
}

ResultCode CompositeImageWith(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress, CompositeOptions options) {
  uint32_t width;
  uint32_t height;
  uint32_t bytesPerPixel;
  ResultCode result = PixelBufferGetSize(canvas, &width, &height, &bytesPerPixel);
  if (result != ResultCode::Ok) return result;
  ByteStream* stream = image->stream;
  if (width != image->width || height != image->height)
    return StreamRefuse(stream, ResultCode::InvalidArgument, "a canvas of %u x %u for an image of %u x %u", width,
                        height, image->width, image->height);
  if (!CanvasSuits(image->baseType, bytesPerPixel, options.request))
    return StreamRefuse(stream, ResultCode::InvalidArgument, "a canvas of %u bytes per pixel for base type %d",
                        bytesPerPixel, image->baseType);
  Prepared prepared;
  result = Prepare(image, options.request, bytesPerPixel, options.swapRedBlue, &prepared);
  if (result != ResultCode::Ok) return result;
  const LayerLoadEntry* entries = prepared.list.get();
  const uint32_t count = prepared.count;
  if (count == 0 && options.request.backdrop == Backdrop::Black) {
    result = PixelBufferClear(canvas);
    if (result == ResultCode::Ok && options.rows != nullptr && options.rows->function != nullptr)
      for (uint32_t y = 0; y < height; y += 2 * kTileSize) {
        const uint32_t rows = height - y < 2 * kTileSize ? height - y : 2 * kTileSize;
        options.rows->function(options.rows, y, rows, PixelBufferRow(canvas, y), canvas->stride);
      }
    return result;
  }
  const uint32_t wanted = options.threads != 0 ? options.threads : ThreadsFor(WorkOf(entries, count, canvas));
  const uint32_t most = StreamLimits(stream).threads;
  const ThreadShare share(wanted < most ? wanted : most, options.threads != 0);
  uint32_t compression = 0;
  XcfGetCompression(image, &compression);
  LoadJob* load = nullptr;
  result = LoadJobCreate(image, entries, count, compression, &load);
  if (result != ResultCode::Ok) return result;
  result = Sweep(prepared.holder.plan, load, canvas, stream, share.Threads(), options, progress, count);
  LoadJobDestroy(&load);
  return result;
}

}  // namespace tessel
