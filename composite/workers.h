// A call's own threads. The caller works too, so that a picture given one
// thread starts none; the others are started for the call and joined
// before it returns. Every call has its own, so that several host threads
// may call the plug-in at once.
#pragma once

#include <cstdint>

#include "platform/kernel32.h"

namespace tessel {

// More threads than this gain nothing on a picture's memory traffic.
constexpr uint32_t kMaxThreads = 16;

// The threads a picture of this much work may use: the processors the
// process may run on, at most kMaxThreads, and one for a small picture.
uint32_t ThreadsFor(uint64_t bytesOfWork);

using WorkerFn = DWORD(WINAPI*)(LPVOID context);

class Workers {
 public:
  Workers() = default;
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() { Join(); }

  // Starts up to count threads running fn(context); fewer when the system
  // gives fewer, which the work must not depend on.
  void Start(uint32_t count, WorkerFn fn, void* context);
  // Waits for every started thread to end.
  void Join();

 private:
  HANDLE threads_[kMaxThreads] = {};
  uint32_t started_ = 0;
};

// A lock and a condition to wait on, for the threads of one call.
class Signal {
 public:
  Signal() {
    InitializeCriticalSection(&lock_);
    InitializeConditionVariable(&changed_);
  }
  ~Signal() { DeleteCriticalSection(&lock_); }
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;

  void Lock() { EnterCriticalSection(&lock_); }
  void Unlock() { LeaveCriticalSection(&lock_); }
  // With the lock held: releases it until Notify, then holds it again.
  void Wait() { SleepConditionVariableCS(&changed_, &lock_, INFINITE); }
  void Notify() { WakeAllConditionVariable(&changed_); }

 private:
  CRITICAL_SECTION lock_;
  CONDITION_VARIABLE changed_;
};

}  // namespace tessel
