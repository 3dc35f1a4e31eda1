#include "tests/support/local_handles.h"

#include "platform/kernel32.h"
#include "tests/support/product_hooks.h"

#ifdef _WIN32

#include "tests/support/import_route.h"

#include <mutex>
#include <set>

namespace xcftest {

namespace {

// The handles made through the wrappers; a set, so that freeing a handle
// that some other module made (FormatMessage's buffers, say) counts nothing.
struct Registry {
  std::mutex mutex;
  std::set<HLOCAL> live;
};

Registry& Handles() {
  static Registry registry;
  return registry;
}

const auto realLocalAlloc = RealFunction<HLOCAL(WINAPI*)(UINT, SIZE_T)>("kernel32.dll", "LocalAlloc");
const auto realLocalFree = RealFunction<HLOCAL(WINAPI*)(HLOCAL)>("kernel32.dll", "LocalFree");

HLOCAL WINAPI CountingLocalAlloc(UINT flags, SIZE_T bytes) {
  HLOCAL handle = realLocalAlloc(flags, bytes);
  if (handle != nullptr) {
    std::lock_guard<std::mutex> lock(Handles().mutex);
    Handles().live.insert(handle);
  }
  return handle;
}

HLOCAL WINAPI CountingLocalFree(HLOCAL handle) {
  HLOCAL result = realLocalFree(handle);
  if (handle != nullptr && result == nullptr) {
    std::lock_guard<std::mutex> lock(Handles().mutex);
    Handles().live.erase(handle);
  }
  return result;
}

// The test program counts from its start.
[[maybe_unused]] const bool kProgramCounted = CountLocalHandlesOf(GetModuleHandleA(nullptr));

}  // namespace

bool CountLocalHandlesOf(void* module) {
  auto* handle = static_cast<HMODULE>(module);
  Handles();  // constructed before any wrapper can run
  bool alloc = RouteImport(handle, "KERNEL32.dll", "LocalAlloc", reinterpret_cast<void*>(CountingLocalAlloc));
  bool free = RouteImport(handle, "KERNEL32.dll", "LocalFree", reinterpret_cast<void*>(CountingLocalFree));
  return alloc && free;
}

int64_t LiveLocalHandles() {
  std::lock_guard<std::mutex> lock(Handles().mutex);
  return static_cast<int64_t>(Handles().live.size());
}

}  // namespace xcftest

#else

namespace xcftest {

bool CountLocalHandlesOf(void*) { return true; }

int64_t LiveLocalHandles() { return tessel::platform::LiveLocalHandles(); }

}  // namespace xcftest

#endif
