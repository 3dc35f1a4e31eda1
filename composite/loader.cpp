#include "composite/loader.h"

#include <atomic>
#include <memory>
#include <new>

#include "composite/workers.h"
#include "xcf/hierarchy.h"
#include "xcf/tile.h"

namespace tessel {

namespace {

// About this many decoded bytes make one piece of work: large enough that
// taking it costs nothing, small enough that the threads end together.
constexpr uint64_t kUnitBytes = 1u << 20;

// What a unit decodes: rows of a layer, of its mask, of the layer straight
// into the canvas, or of a layer and then its mask, folded into the
// layer's alpha at once.
enum class Part : uint8_t { Layer, Mask, Direct, Folded };

// Tile rows [firstRow, endRow) of an entry's layer or mask.
struct Unit {
  uint32_t entry;
  Part part;
  uint32_t firstRow;
  uint32_t endRow;
};

// The first failure of one kind: the unit of the lowest rows.
struct Failure {
  uint32_t unit = UINT32_MAX;
  ResultCode result = ResultCode::Ok;
  void Note(uint32_t index, ResultCode code) {
    if (code != ResultCode::Ok && index < unit) {
      unit = index;
      result = code;
    }
  }
};

// An entry's progress. Its result is, in this order, the first failure of:
// preparing the layer's pixels, the layer's rows, preparing the mask's,
// the mask's rows: what loading the entry alone would have met first.
struct EntryState {
  uint32_t pending = 0;  // units not yet run
  ResultCode prepare = ResultCode::Ok;
  ResultCode maskPrepare = ResultCode::Ok;
  Failure layerRows;
  Failure maskRows;

  bool Done() const { return pending == 0; }
  ResultCode Result() const {
    if (prepare != ResultCode::Ok) return prepare;
    if (layerRows.result != ResultCode::Ok) return layerRows.result;
    if (maskRows.result != ResultCode::Ok && maskPrepare == ResultCode::Ok) return maskRows.result;
    return maskPrepare;
  }
};

struct LoadJob {
  LoadJob(XcfImage* i, const LayerLoadEntry* e, const DirectEntry* d, Unit* u, uint32_t n, EntryState* s)
      : image(i), entries(e), direct(d), units(u), unitCount(n), states(s) {}
  XcfImage* image;
  const LayerLoadEntry* entries;
  const DirectEntry* direct;
  Unit* units;
  uint32_t unitCount;
  EntryState* states;
  std::atomic<uint32_t> next{0};
  std::atomic<bool> stop{false};
  Signal signal;  // guards the states; notified when an entry completes
};

// Where the direct entry's tiles land in the canvas: the part of the layer
// inside it. An empty part still decodes every tile, as loading must.
TileTarget DirectTarget(const DirectEntry& direct, const XcfLevel* level) {
  PixelBuffer* canvas = direct.canvas;
  const int64_t w = level->width, h = level->height, x = direct.x, y = direct.y;
  const int64_t x0 = x < 0 ? -x : 0, y0 = y < 0 ? -y : 0;
  const int64_t x1 = x + w > canvas->width ? canvas->width - x : w;
  const int64_t y1 = y + h > canvas->height ? canvas->height - y : h;
  if (x0 >= x1 || y0 >= y1) return TileTarget{canvas->pixels, 0, 0, 0, 0, 0};
  uint8_t* first = PixelBufferRow(canvas, static_cast<uint32_t>(y + y0)) + (x + x0) * canvas->bytesPerPixel;
  return TileTarget{first, canvas->stride, static_cast<uint32_t>(x0), static_cast<uint32_t>(y0),
                    static_cast<uint32_t>(x1), static_cast<uint32_t>(y1)};
}

// A mask's rows [firstRow, endRow) decoded and folded into its layer's
// alpha, as the mask step would fold them when drawing: whole rows, mask
// byte x for layer pixel x.
ResultCode FoldMaskRows(ByteStream* stream, XcfLayer* layer, uint32_t firstRow, uint32_t endRow) {
  const XcfLevel* mask = layer->mask->hierarchy->level;
  XcfChannelInfo info;
  ResultCode result = XcfChannelGetInfo(layer->mask, &info);
  if (result != ResultCode::Ok) return result;
  const auto width = static_cast<uint32_t>(mask->width);
  const auto height = static_cast<uint32_t>(mask->height);
  const uint32_t y0 = firstRow * kTileSize;
  const uint32_t y1 = endRow * kTileSize < height ? endRow * kTileSize : height;
  if (y0 >= y1) return ResultCode::Ok;
  const uint64_t rowBytes = static_cast<uint64_t>(width) * static_cast<uint32_t>(mask->bpp);
  const uint64_t bytes = rowBytes * (y1 - y0);
  if (bytes > SIZE_MAX) return ResultCode::OutOfMemory;
  std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[static_cast<size_t>(bytes)]);
  if (!rows) return ResultCode::OutOfMemory;
  const TileTarget target{rows.get(), static_cast<int64_t>(rowBytes), 0, y0, width, y1};
  result = XcfDecodeTileRows(stream, &mask->tileOffsets, width, height, static_cast<uint32_t>(mask->bpp),
                             mask->compression, target, firstRow, endRow);
  if (result != ResultCode::Ok) return result;
  const XcfLevel* pixels = layer->hierarchy->level;
  const auto bs = static_cast<uint32_t>(pixels->bpp);
  for (uint32_t y = y0; y < y1; ++y) {
    uint8_t* row = pixels->pixels + static_cast<size_t>(y) * width * bs;
    ApplyMaskRow(bs, row, row, rows.get() + (y - y0) * rowBytes, info.opacity, width);
  }
  return ResultCode::Ok;
}

void RunUnit(LoadJob* job, ByteStream* stream, uint32_t index) {
  const Unit& unit = job->units[index];
  XcfLayer* layer = job->entries[unit.entry].layer;
  ResultCode layerResult = ResultCode::Ok;
  ResultCode maskResult = ResultCode::Ok;
  switch (unit.part) {
    case Part::Mask:
      maskResult = XcfLevelDecodeRows(stream, layer->mask->hierarchy->level, unit.firstRow, unit.endRow);
      break;
    case Part::Layer:
    case Part::Folded:
      layerResult = XcfLevelDecodeRows(stream, layer->hierarchy->level, unit.firstRow, unit.endRow);
      if (layerResult == ResultCode::Ok && unit.part == Part::Folded)
        maskResult = FoldMaskRows(stream, layer, unit.firstRow, unit.endRow);
      break;
    case Part::Direct: {
      const XcfLevel* level = layer->hierarchy->level;
      layerResult = XcfDecodeTileRows(stream, &level->tileOffsets, static_cast<uint32_t>(level->width),
                                      static_cast<uint32_t>(level->height), static_cast<uint32_t>(level->bpp),
                                      level->compression, DirectTarget(*job->direct, level), unit.firstRow, unit.endRow);
      break;
    }
  }
  job->signal.Lock();
  EntryState& state = job->states[unit.entry];
  state.layerRows.Note(index, layerResult);
  state.maskRows.Note(index, maskResult);
  if (--state.pending == 0) job->signal.Notify();
  job->signal.Unlock();
}

// Runs units until none is left or the work is stopped.
void RunUnits(LoadJob* job, ByteStream* stream) {
  while (!job->stop.load(std::memory_order_relaxed)) {
    const uint32_t index = job->next.fetch_add(1);
    if (index >= job->unitCount) return;
    RunUnit(job, stream, index);
  }
}

DWORD WINAPI LoadWorker(LPVOID context) {
  auto* job = static_cast<LoadJob*>(context);
  ByteStream* own = nullptr;
  // A thread that cannot have a stream of its own leaves the work to the others.
  if (StreamFork(job->image->stream, &own) != ResultCode::Ok) return 0;
  RunUnits(job, own);
  StreamDestroy(&own);
  return 0;
}

// A level's tile rows, and how many of them make one unit.
struct RowSplit {
  uint32_t rows;
  uint32_t perUnit;
};

RowSplit SplitRows(const XcfLevel* level) {
  const uint64_t rowBytes = static_cast<uint64_t>(level->width) * static_cast<uint64_t>(level->bpp) * kTileSize;
  const auto rows = static_cast<uint32_t>((static_cast<uint64_t>(level->height) + kTileSize - 1) / kTileSize);
  return RowSplit{rows, static_cast<uint32_t>(rowBytes >= kUnitBytes ? 1 : kUnitBytes / rowBytes)};
}

uint32_t UnitsOf(const XcfLevel* level) {
  const RowSplit split = SplitRows(level);
  return static_cast<uint32_t>((static_cast<uint64_t>(split.rows) + split.perUnit - 1) / split.perUnit);
}

// The units of one level's tile rows.
uint32_t AddUnits(Unit* units, uint32_t at, uint32_t entry, Part part, const XcfLevel* level) {
  const RowSplit split = SplitRows(level);
  for (uint32_t first = 0; first < split.rows; first += split.perUnit)
    units[at++] = Unit{entry, part, first, split.rows - first < split.perUnit ? split.rows : first + split.perUnit};
  return at;
}

}  // namespace

ResultCode LoadEntries(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t compression,
                       ProgressHook* progress, uint32_t threads, const DirectEntry* direct) {
  std::unique_ptr<EntryState[]> states(new (std::nothrow) EntryState[count]);
  if (!states) return ResultCode::OutOfMemory;

  // Every entry's headers and tile offsets are read here, on this thread and
  // in order, up to the first that fails: no entry after it is ever needed.
  // A layer or mask whose pixels are in memory already is not loaded again.
  ByteStream* stream = image->stream;
  std::unique_ptr<const XcfLevel*[]> levels(new (std::nothrow) const XcfLevel*[2 * static_cast<size_t>(count)]());
  if (!levels) return ResultCode::OutOfMemory;
  // A mask on a layer with alpha is folded into the alpha as the layer's
  // rows are decoded: no buffer of its own, and no mask step when drawing.
  std::unique_ptr<bool[]> folded(new (std::nothrow) bool[count]());
  if (!folded) return ResultCode::OutOfMemory;
  uint64_t unitCount = 0;
  for (uint32_t i = 0; i < count; ++i) {
    XcfLayer* layer = entries[i].layer;
    EntryState& state = states[i];
    if (entries[i].loadPixels) {
      const bool loaded = layer->hierarchy != nullptr;
      const bool straight = direct != nullptr && direct->entry == i;
      state.prepare = XcfLayerPreparePixels(stream, layer, compression, !straight);
      if (state.prepare != ResultCode::Ok) break;
      if (!loaded) levels[2 * i] = layer->hierarchy->level;
    }
    if (entries[i].loadMask) {
      const bool loaded = layer->mask != nullptr && layer->mask->hierarchy != nullptr;
      const uint32_t bs = XcfBytesPerPixel(layer->type);
      folded[i] = !loaded && levels[2 * i] != nullptr && !XcfLayerIsGroup(layer) && (bs == 2 || bs == 4);
      state.maskPrepare = XcfLayerPrepareMaskPixels(layer, stream, compression, !folded[i]);
      if (state.maskPrepare == ResultCode::Ok && !loaded) levels[2 * i + 1] = layer->mask->hierarchy->level;
      if (state.maskPrepare != ResultCode::Ok) folded[i] = false;
    }
    unitCount += levels[2 * i] != nullptr ? UnitsOf(levels[2 * i]) : 0;
    if (levels[2 * i + 1] != nullptr && !folded[i]) unitCount += UnitsOf(levels[2 * i + 1]);
    if (state.maskPrepare != ResultCode::Ok) break;
  }
  if (unitCount > UINT32_MAX) return ResultCode::OutOfMemory;
  std::unique_ptr<Unit[]> units(new (std::nothrow) Unit[unitCount > 0 ? unitCount : 1]);
  if (!units) return ResultCode::OutOfMemory;
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t first = at;
    const Part part = direct != nullptr && direct->entry == i ? Part::Direct : folded[i] ? Part::Folded : Part::Layer;
    if (levels[2 * i] != nullptr) at = AddUnits(units.get(), at, i, part, levels[2 * i]);
    if (levels[2 * i + 1] != nullptr && !folded[i]) at = AddUnits(units.get(), at, i, Part::Mask, levels[2 * i + 1]);
    states[i].pending = at - first;
  }

  LoadJob job(image, entries, direct, units.get(), at, states.get());
  Workers workers;
  if (threads > 1 && at > 1) workers.Start(threads - 1, LoadWorker, &job);

  // This thread decodes too, and between units tells the host of every
  // entry that has completed, in order.
  ResultCode result = ResultCode::Ok;
  uint32_t reported = 0;
  while (result == ResultCode::Ok && reported < count) {
    job.signal.Lock();
    const bool done = states[reported].Done();
    const ResultCode entryResult = states[reported].Result();
    job.signal.Unlock();
    if (done) {
      if (entryResult != ResultCode::Ok) {
        result = entryResult;
      } else if (progress != nullptr && progress->function != nullptr &&
                 progress->function(progress, static_cast<int32_t>(reported), static_cast<int32_t>(count - 1)) == 0) {
        result = ResultCode::Cancelled;
      } else {
        ++reported;
      }
      continue;
    }
    const uint32_t index = job.next.fetch_add(1);
    if (index < job.unitCount) {
      RunUnit(&job, stream, index);
      continue;
    }
    job.signal.Lock();
    while (!states[reported].Done()) job.signal.Wait();
    job.signal.Unlock();
  }
  job.stop = true;
  workers.Join();
  return result;
}

}  // namespace tessel
