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

// Tile rows [firstRow, endRow) of an entry's layer or mask.
struct Unit {
  uint32_t entry;
  bool mask;
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

// An entry's outcome is, in this order, the first failure of: preparing
// the layer's pixels, its tiles, preparing the mask's, the mask's tiles:
// what loading the entry alone would have met first.
struct EntryState {
  ResultCode prepare = ResultCode::Ok;
  ResultCode maskPrepare = ResultCode::Ok;
  Failure layerRows;
  Failure maskRows;

  ResultCode Result() const {
    if (prepare != ResultCode::Ok) return prepare;
    if (layerRows.result != ResultCode::Ok) return layerRows.result;
    if (maskRows.result != ResultCode::Ok && maskPrepare == ResultCode::Ok) return maskRows.result;
    return maskPrepare;
  }
};

struct LoadJob {
  LoadJob(const LayerLoadEntry* e, Unit* u, uint32_t n, EntryState* s, ByteStream* st)
      : entries(e), units(u), unitCount(n), states(s), stream(st) {}
  const LayerLoadEntry* entries;
  Unit* units;
  uint32_t unitCount;
  EntryState* states;
  ByteStream* stream;  // the calling thread's; the others fork it
  std::atomic<uint32_t> next{0};
  // The lowest entry known to fail: no later entry's answer matters.
  std::atomic<uint32_t> failedEntry{UINT32_MAX};
  Signal signal;  // guards the states
};

void RunUnit(LoadJob* job, ByteStream* stream, uint32_t index) {
  const Unit& unit = job->units[index];
  if (unit.entry > job->failedEntry.load(std::memory_order_relaxed)) return;
  const XcfLayer* layer = job->entries[unit.entry].layer;
  const XcfLevel* level = unit.mask ? layer->mask->hierarchy->level : layer->hierarchy->level;
  const ResultCode result = XcfLevelCheckRows(stream, level, unit.firstRow, unit.endRow);
  if (result == ResultCode::Ok) return;
  job->signal.Lock();
  EntryState& state = job->states[unit.entry];
  (unit.mask ? state.maskRows : state.layerRows).Note(index, result);
  job->signal.Unlock();
  uint32_t known = job->failedEntry.load();
  while (unit.entry < known && !job->failedEntry.compare_exchange_weak(known, unit.entry)) {
  }
}

void RunUnits(LoadJob* job, ByteStream* stream) {
  for (uint32_t index; (index = job->next.fetch_add(1)) < job->unitCount;) RunUnit(job, stream, index);
}

DWORD WINAPI LoadWorker(LPVOID context) {
  auto* job = static_cast<LoadJob*>(context);
  ByteStream* own = nullptr;
  // A thread that cannot have a stream of its own leaves the work to the others.
  if (StreamFork(job->stream, &own) != ResultCode::Ok) return 0;
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
uint32_t AddUnits(Unit* units, uint32_t at, uint32_t entry, bool mask, const XcfLevel* level) {
  const RowSplit split = SplitRows(level);
  for (uint32_t first = 0; first < split.rows; first += split.perUnit)
    units[at++] = Unit{entry, mask, first, split.rows - first < split.perUnit ? split.rows : first + split.perUnit};
  return at;
}

}  // namespace

ResultCode LoadEntries(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t compression,
                       uint32_t threads, LoadOutcome* outcome) {
  std::unique_ptr<EntryState[]> states(new (std::nothrow) EntryState[count > 0 ? count : 1]);
  if (!states) return ResultCode::OutOfMemory;

  // Every entry's headers and tile offsets are read here, on this thread and
  // in order, up to the first that fails: no entry after it is ever needed.
  ByteStream* stream = image->stream;
  std::unique_ptr<const XcfLevel*[]> levels(new (std::nothrow) const XcfLevel*[2 * static_cast<size_t>(count) + 1]());
  if (!levels) return ResultCode::OutOfMemory;
  uint64_t unitCount = 0;
  for (uint32_t i = 0; i < count; ++i) {
    XcfLayer* layer = entries[i].layer;
    EntryState& state = states[i];
    if (entries[i].loadPixels) {
      state.prepare = XcfLayerPreparePixels(stream, layer, compression);
      if (state.prepare != ResultCode::Ok) break;
      levels[2 * i] = layer->hierarchy->level;
      unitCount += UnitsOf(levels[2 * i]);
    }
    if (entries[i].loadMask) {
      state.maskPrepare = XcfLayerPrepareMaskPixels(layer, stream, compression);
      if (state.maskPrepare != ResultCode::Ok) break;
      levels[2 * i + 1] = layer->mask->hierarchy->level;
      unitCount += UnitsOf(levels[2 * i + 1]);
    }
  }
  if (unitCount > UINT32_MAX) return ResultCode::OutOfMemory;
  std::unique_ptr<Unit[]> units(new (std::nothrow) Unit[unitCount > 0 ? unitCount : 1]);
  if (!units) return ResultCode::OutOfMemory;
  uint32_t at = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (levels[2 * i] != nullptr) at = AddUnits(units.get(), at, i, false, levels[2 * i]);
    if (levels[2 * i + 1] != nullptr) at = AddUnits(units.get(), at, i, true, levels[2 * i + 1]);
  }

  LoadJob job(entries, units.get(), at, states.get(), stream);
  {
    Workers workers;
    if (threads > 1 && at > 1) workers.Start(threads - 1, LoadWorker, &job);
    RunUnits(&job, stream);
  }
  *outcome = LoadOutcome{count, ResultCode::Ok};
  for (uint32_t i = 0; i < count; ++i) {
    const ResultCode result = states[i].Result();
    if (result != ResultCode::Ok) {
      *outcome = LoadOutcome{i, result};
      break;
    }
  }
  return ResultCode::Ok;
}

}  // namespace tessel
