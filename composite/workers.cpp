#include "composite/workers.h"

#include "platform/processors.h"

namespace tessel {

namespace {

// Below this much work per thread a thread costs more than it gains.
constexpr uint64_t kWorkPerThread = 4u << 20;

}  // namespace

uint32_t ThreadsFor(uint64_t bytesOfWork) {
  uint64_t threads = bytesOfWork / kWorkPerThread;
  const uint32_t processors = ProcessorsOfProcess();
  if (threads > processors) threads = processors;
  if (threads > kMaxThreads) threads = kMaxThreads;
  return threads == 0 ? 1 : static_cast<uint32_t>(threads);
}

void Workers::Start(uint32_t count, WorkerFn fn, void* context) {
  for (uint32_t i = 0; i < count && started_ < kMaxThreads; ++i) {
    HANDLE thread = CreateThread(nullptr, 0, fn, context, 0, nullptr);
    if (thread == nullptr) break;
    threads_[started_++] = thread;
  }
}

void Workers::Join() {
  for (uint32_t i = 0; i < started_; ++i) {
    WaitForSingleObject(threads_[i], INFINITE);
    CloseHandle(threads_[i]);
  }
  started_ = 0;
}

}  // namespace tessel
