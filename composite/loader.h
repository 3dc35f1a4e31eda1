// Loading the load list before a picture is drawn band by band: every
// entry's headers and tile offsets are read, in list order, and every tile
// of its layer and mask is checked on the call's threads, without being
// decoded, so that the picture's answer is known before anything is drawn:
// the first entry that fails, with the code that loading the entries whole,
// one after another, would give.
#pragma once

#include <cstdint>

#include "plugin/reason.h"
#include "xcf/image.h"
#include "xcf/layer_tree.h"

namespace tessel {

// What loading the entries found: the first entry that fails (count when
// none does), its code and why.
struct LoadOutcome {
  uint32_t failedEntry;
  ResultCode result;
  Reason reason;
};

// The checking of one load list's tiles, cut into units that any thread
// takes in turn.
struct LoadJob;

// Reads every entry's headers and tile offsets, on this thread and in list
// order, up to the first that fails, and cuts the tiles into units. A layer
// or mask whose hierarchy was read already is taken as it is. Fails only
// for the job's own needs (memory).
ResultCode LoadJobCreate(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t compression,
                         LoadJob** out);
void LoadJobDestroy(LoadJob** holder);
// Whether every entry's headers and tile offsets were read: only then can
// bands be drawn ahead of the tile check.
bool LoadJobPrepared(const LoadJob* job);
// Whether the job has units to share with other threads.
bool LoadJobShared(const LoadJob* job);
// Runs units, each thread with a stream of its own, until none is left to take.
void LoadJobRun(LoadJob* job, ByteStream* stream);
// Waits until every unit taken has run; the entries' answer.
LoadOutcome LoadJobFinish(LoadJob* job);

}  // namespace tessel
