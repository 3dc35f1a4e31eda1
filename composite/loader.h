// Loading the load list before a picture is drawn band by band: every
// entry's headers and tile offsets are read, in list order, and every tile
// of its layer and mask is checked on the call's threads, without being
// decoded, so that the picture's answer is known before anything is drawn:
// the first entry that fails, with the code that loading the entries whole,
// one after another, would give.
#pragma once

#include <cstdint>

#include "xcf/image.h"
#include "xcf/layer_tree.h"

namespace tessel {

// What loading the entries found: the first entry that fails (count when
// none does) and its code.
struct LoadOutcome {
  uint32_t failedEntry;
  ResultCode result;
};

// Prepares and checks every entry on `threads` threads, the caller's among
// them. A layer or mask whose hierarchy was read already is taken as it is.
// Returns an error only for the loader's own needs (memory); the entries'
// answer is in *outcome.
ResultCode LoadEntries(XcfImage* image, const LayerLoadEntry* entries, uint32_t count, uint32_t compression,
                       uint32_t threads, LoadOutcome* outcome);

}  // namespace tessel
