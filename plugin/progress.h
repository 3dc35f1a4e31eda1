// Connecting the host's progress callback to the composition driver.
#pragma once

#include <cstdint>

#include "composite/composite.h"
#include "plugin/exports.h"

namespace tessel {

// Built on the stack by the bitmap step; the hook comes first.
struct HostProgress {
  ProgressHook hook;
  ProgressCallback callback;
  intptr_t userData;
};

// 1 to go on, 0 to stop. A last index of 0 or below never calls the host.
int ReportProgress(ProgressHook* hook, int32_t index, int32_t lastIndex);

}  // namespace tessel
