// A call's own threads. The caller works too, so that a picture given one
// thread starts none; the others are started for the call and joined
// before it returns. Every call has its own, so that several host threads
// may call the plug-in at once, and they share the process's processors.
#pragma once

#include <cstdint>

#include "platform/kernel32.h"
#include "plugin/limits.h"

namespace tessel {

// The most threads a call starts: as many as the limits allow.
constexpr uint32_t kMaxThreads = kDefaultLimits.threads;

// The threads a picture of this much work may use: the processors the
// process may run on, at most kMaxThreads, and one for a small picture.
uint32_t ThreadsFor(uint64_t bytesOfWork);

// The threads one call runs on, the calling thread among them, taken from
// the processors of the process that every call at once shares: a call
// that finds them all at work runs on its own thread alone. A count of the
// threads at work is the plug-in's one piece of process-wide state, a
// plain number that leaves nothing behind when the library unloads.
class ThreadShare {
 public:
  // Up to `wanted` threads from the share; `exact` takes that many whatever
  // the others use (for tests that compare counts).
  ThreadShare(uint32_t wanted, bool exact);
  ~ThreadShare();
  ThreadShare(const ThreadShare&) = delete;
  ThreadShare& operator=(const ThreadShare&) = delete;
  uint32_t Threads() const { return threads_; }

 private:
  uint32_t threads_;
};

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
