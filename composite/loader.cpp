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

// A step's answer, and why it failed (kept only for failures).
struct Answer {
  ResultCode result = ResultCode::Ok;
  std::unique_ptr<Reason> reason;
  void Set(ResultCode code, const Reason& why) {
    result = code;
    if (code == ResultCode::Ok) return;
    if (!reason) reason.reset(new (std::nothrow) Reason{});
    if (reason) *reason = why;
  }
  bool Failed() const { return result != ResultCode::Ok; }
};

// The first failure of one kind: the unit of the lowest rows.
struct Failure {
  uint32_t unit = UINT32_MAX;
  Answer answer;
  void Note(uint32_t index, ResultCode code, const Reason& why) {
    if (code != ResultCode::Ok && index < unit) {
      unit = index;
      answer.Set(code, why);
    }
  }
};

// An entry's outcome is, in this order, the first failure of: preparing
// the layer's pixels, its tiles, preparing the mask's, the mask's tiles:
// what loading the entry alone would have met first.
struct EntryState {
  Answer prepare;
  Answer maskPrepare;
  Failure layerRows;
  Failure maskRows;

  const Answer& Result() const {
    if (prepare.Failed()) return prepare;
    if (layerRows.answer.Failed()) return layerRows.answer;
    if (maskRows.answer.Failed() && !maskPrepare.Failed()) return maskRows.answer;
    return maskPrepare;
  }
};

}  // namespace

struct LoadJob {
  const LayerLoadEntry* entries = nullptr;
  uint32_t count = 0;
  std::unique_ptr<EntryState[]> states;
  std::unique_ptr<Unit[]> units;
  uint32_t unitCount = 0;
  uint32_t next = 0;  // the next unit to take
  bool prepared = false;  // every entry's headers and tile offsets read
  // The lowest entry known to fail: no later entry's answer matters.
  std::atomic<uint32_t> failedEntry{UINT32_MAX};
  Signal signal;  // guards the states, `next` and `running`; notified when a unit ends
  uint32_t running = 0;
};

namespace {

ResultCode CheckUnit(LoadJob* job, ByteStream* stream, const Unit& unit) {
  if (unit.entry > job->failedEntry.load(std::memory_order_relaxed)) return ResultCode::Ok;
  const XcfLayer* layer = job->entries[unit.entry].layer;
  const XcfLevel* level = unit.mask ? layer->mask->hierarchy->level : layer->hierarchy->level;
  const ResultCode result = XcfLevelCheckRows(stream, level, unit.firstRow, unit.endRow);
  uint32_t known = job->failedEntry.load();
  while (result != ResultCode::Ok && unit.entry < known && !job->failedEntry.compare_exchange_weak(known, unit.entry)) {
  }
  return result;
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

ResultCode LoadJobCreate(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t compression,
                         LoadJob** out) {
  std::unique_ptr<LoadJob> job(new (std::nothrow) LoadJob);
  if (!job) return StreamRefuse(image->stream, ResultCode::OutOfMemory, "no memory to check the layers' tiles");
  job->entries = entries;
  job->count = count;
  job->states.reset(new (std::nothrow) EntryState[count > 0 ? count : 1]);
  if (!job->states) return StreamRefuse(image->stream, ResultCode::OutOfMemory, "no memory to check the layers' tiles");

  // Every entry's headers and tile offsets are read here, on this thread and
  // in order, up to the first that fails: no entry after it is ever needed.
  ByteStream* stream = image->stream;
  std::unique_ptr<const XcfLevel*[]> levels(new (std::nothrow) const XcfLevel*[2 * static_cast<size_t>(count) + 1]());
  if (!levels) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory to check the layers' tiles");
  uint64_t unitCount = 0;
  uint32_t i = 0;
  for (; i < count; ++i) {
    XcfLayer* layer = entries[i].layer;
    EntryState& state = job->states[i];
    if (entries[i].loadPixels) {
      ReasonAside aside(stream);
      state.prepare.Set(XcfLayerPreparePixels(stream, layer, compression), aside.Why());
      if (state.prepare.Failed()) break;
      levels[2 * i] = layer->hierarchy->level;
      unitCount += UnitsOf(levels[2 * i]);
    }
    if (entries[i].loadMask) {
      ReasonAside aside(stream);
      state.maskPrepare.Set(XcfLayerPrepareMaskPixels(layer, stream, compression), aside.Why());
      if (state.maskPrepare.Failed()) break;
      levels[2 * i + 1] = layer->mask->hierarchy->level;
      unitCount += UnitsOf(levels[2 * i + 1]);
    }
  }
  job->prepared = i == count;
  if (unitCount <= UINT32_MAX) job->units.reset(new (std::nothrow) Unit[unitCount > 0 ? unitCount : 1]);
  if (!job->units) return StreamRefuse(stream, ResultCode::OutOfMemory, "no memory to check the layers' tiles");
  uint32_t at = 0;
  for (i = 0; i < count; ++i) {
    if (levels[2 * i] != nullptr) at = AddUnits(job->units.get(), at, i, false, levels[2 * i]);
    if (levels[2 * i + 1] != nullptr) at = AddUnits(job->units.get(), at, i, true, levels[2 * i + 1]);
  }
  job->unitCount = at;
  *out = job.release();
  return ResultCode::Ok;
}

bool LoadJobPrepared(const LoadJob* job) { return job->prepared; }

void LoadJobDestroy(LoadJob** holder) {
  delete *holder;
  *holder = nullptr;
}

bool LoadJobShared(const LoadJob* job) { return job->unitCount > 1; }

void LoadJobRun(LoadJob* job, ByteStream* stream) {
  for (;;) {
    job->signal.Lock();
    const uint32_t index = job->next;
    if (index >= job->unitCount) {
      job->signal.Unlock();
      return;
    }
    ++job->next;
    ++job->running;
    job->signal.Unlock();
    const Unit& unit = job->units[index];
    ReasonAside aside(stream);
    const ResultCode result = CheckUnit(job, stream, unit);
    if (result != ResultCode::Ok)
      ReasonPrefix(aside.Record(), unit.mask ? "%s's mask: " : "%s: ", NameOf(job->entries[unit.entry].layer).text);
    job->signal.Lock();
    EntryState& state = job->states[unit.entry];
    (unit.mask ? state.maskRows : state.layerRows).Note(index, result, aside.Why());
    --job->running;
    job->signal.Notify();
    job->signal.Unlock();
  }
}

LoadOutcome LoadJobFinish(LoadJob* job) {
  job->signal.Lock();
  while (job->running > 0 || job->next < job->unitCount) job->signal.Wait();
  job->signal.Unlock();
  for (uint32_t i = 0; i < job->count; ++i) {
    const Answer& answer = job->states[i].Result();
    if (!answer.Failed()) continue;
    LoadOutcome outcome{i, answer.result, Reason{}};
    if (answer.reason) outcome.reason = *answer.reason;
    return outcome;
  }
  return LoadOutcome{job->count, ResultCode::Ok, Reason{}};
}

}  // namespace tessel
