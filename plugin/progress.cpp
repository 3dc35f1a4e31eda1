#include "plugin/progress.h"

namespace tessel {

int ReportProgress(ProgressHook* hook, int32_t index, int32_t lastIndex) {
  if (lastIndex <= 0) return 1;
  auto* progress = reinterpret_cast<HostProgress*>(hook);
  if (progress == nullptr || progress->callback == nullptr) return 1;
  return progress->callback(index, lastIndex, progress->userData) == 0 ? 1 : 0;
}

}  // namespace tessel
