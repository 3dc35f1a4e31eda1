#include "tests/support/allocation_watch.h"

#include <atomic>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSEL_WATCH_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSEL_WATCH_ALLOCATIONS 0
#endif
#endif
#ifndef TESSEL_WATCH_ALLOCATIONS
#define TESSEL_WATCH_ALLOCATIONS 1
#endif

namespace {

std::atomic<int> watchers{0};
std::atomic<size_t> largest{0};
std::atomic<size_t> ceiling{SIZE_MAX};

// Notes a request; false when it is to be refused.
[[maybe_unused]] bool Note(size_t bytes) {
  if (watchers.load(std::memory_order_relaxed) == 0) return true;
  size_t seen = largest.load(std::memory_order_relaxed);
  while (bytes > seen && !largest.compare_exchange_weak(seen, bytes, std::memory_order_relaxed)) {
  }
  return bytes <= ceiling.load(std::memory_order_relaxed);
}

}  // namespace

#if TESSEL_WATCH_ALLOCATIONS && defined(_WIN32)

#include "tests/support/import_route.h"

namespace {

using MallocFn = void*(__cdecl*)(size_t);
using CallocFn = void*(__cdecl*)(size_t, size_t);
using ReallocFn = void*(__cdecl*)(void*, size_t);

const auto realMalloc = xcftest::RealFunction<MallocFn>("msvcrt.dll", "malloc");
const auto realCalloc = xcftest::RealFunction<CallocFn>("msvcrt.dll", "calloc");
const auto realRealloc = xcftest::RealFunction<ReallocFn>("msvcrt.dll", "realloc");

void* __cdecl WatchedMalloc(size_t n) { return Note(n) ? realMalloc(n) : nullptr; }
void* __cdecl WatchedCalloc(size_t count, size_t size) {
  return Note(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size) ? realCalloc(count, size) : nullptr;
}
void* __cdecl WatchedRealloc(void* p, size_t n) { return Note(n) ? realRealloc(p, n) : nullptr; }

bool RouteImport(const char* name, void* replacement) {
  return xcftest::RouteImport(GetModuleHandleA(nullptr), "msvcrt.dll", name, replacement);
}

const bool kRouted = RouteImport("malloc", reinterpret_cast<void*>(WatchedMalloc)) &&
                     RouteImport("calloc", reinterpret_cast<void*>(WatchedCalloc)) &&
                     RouteImport("realloc", reinterpret_cast<void*>(WatchedRealloc));

}  // namespace

#elif TESSEL_WATCH_ALLOCATIONS && defined(__GLIBC__)

// The program's own definitions come first for every caller in the
// process: the plug-in's core, the C++ runtime's operator new, zlib.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);

void* malloc(size_t n) noexcept { return Note(n) ? __libc_malloc(n) : nullptr; }
void* calloc(size_t count, size_t size) noexcept {
  return Note(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size) ? __libc_calloc(count, size) : nullptr;
}
void* realloc(void* p, size_t n) noexcept { return Note(n) ? __libc_realloc(p, n) : nullptr; }
}

namespace {
const bool kRouted = true;
}  // namespace

#else

namespace {
const bool kRouted = false;
}  // namespace

#endif

namespace xcftest {

AllocationWatch::AllocationWatch() {
  largest = 0;
  ++watchers;
}

AllocationWatch::~AllocationWatch() {
  ceiling = SIZE_MAX;
  --watchers;
}

void AllocationWatch::RefuseAbove(size_t bytes) { ceiling = bytes; }

bool AllocationWatch::Available() { return kRouted; }

size_t AllocationWatch::Largest() const { return largest.load(); }

}  // namespace xcftest
