#include "composite/workers.h"

#include <atomic>

#include "platform/processors.h"

namespace tessel {

namespace {

// Below this much work per thread a thread costs more than it gains.
constexpr uint64_t kWorkPerThread = 2u << 20;

// Threads at work on pictures in this process, the callers' own included.
std::atomic<uint32_t> threadsAtWork{0};

}  // namespace

ThreadShare::ThreadShare(uint32_t wanted, bool exact) {
  if (wanted == 0) wanted = 1;
  if (wanted > kMaxThreads) wanted = kMaxThreads;
  if (exact) {
    threads_ = wanted;
    threadsAtWork.fetch_add(threads_);
    return;
  }
  // The calling thread runs whatever the others do; more join it only on
  // processors that no call is using.
  const uint32_t processors = ProcessorsOfProcess();
  uint32_t atWork = threadsAtWork.load();
  uint32_t granted;
  do {
    const uint32_t free = atWork + 1 < processors ? processors - atWork - 1 : 0;
    granted = 1 + (wanted - 1 < free ? wanted - 1 : free);
  } while (!threadsAtWork.compare_exchange_weak(atWork, atWork + granted));
  threads_ = granted;
}

ThreadShare::~ThreadShare() { threadsAtWork.fetch_sub(threads_); }

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
