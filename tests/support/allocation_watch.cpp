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

[[maybe_unused]] void Note(size_t bytes) {
  if (watchers.load(std::memory_order_relaxed) == 0) return;
  size_t seen = largest.load(std::memory_order_relaxed);
  while (bytes > seen && !largest.compare_exchange_weak(seen, bytes, std::memory_order_relaxed)) {
  }
}

}  // namespace

#if TESSEL_WATCH_ALLOCATIONS && defined(_WIN32)

#include <windows.h>

#include <cstring>

namespace {

using MallocFn = void*(__cdecl*)(size_t);
using CallocFn = void*(__cdecl*)(size_t, size_t);
using ReallocFn = void*(__cdecl*)(void*, size_t);

template <typename Function>
Function Msvcrt(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), name)));
}
const auto realMalloc = Msvcrt<MallocFn>("malloc");
const auto realCalloc = Msvcrt<CallocFn>("calloc");
const auto realRealloc = Msvcrt<ReallocFn>("realloc");

void* __cdecl WatchedMalloc(size_t n) {
  Note(n);
  return realMalloc(n);
}
void* __cdecl WatchedCalloc(size_t count, size_t size) {
  Note(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size);
  return realCalloc(count, size);
}
void* __cdecl WatchedRealloc(void* p, size_t n) {
  Note(n);
  return realRealloc(p, n);
}

// Points the program's import of msvcrt!name at replacement.
bool RouteImport(const char* name, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  bool routed = false;
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       directory.Size != 0 && import->Name != 0; ++import) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), "msvcrt.dll") != 0) continue;
    const DWORD namesAt = import->OriginalFirstThunk != 0 ? import->OriginalFirstThunk : import->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD protection;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) continue;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      routed = true;
    }
  }
  return routed;
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

void* malloc(size_t n) noexcept {
  Note(n);
  return __libc_malloc(n);
}
void* calloc(size_t count, size_t size) noexcept {
  Note(size != 0 && count > SIZE_MAX / size ? SIZE_MAX : count * size);
  return __libc_calloc(count, size);
}
void* realloc(void* p, size_t n) noexcept {
  Note(n);
  return __libc_realloc(p, n);
}
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

AllocationWatch::~AllocationWatch() { --watchers; }

bool AllocationWatch::Available() { return kRouted; }

size_t AllocationWatch::Largest() const { return largest.load(); }

}  // namespace xcftest
