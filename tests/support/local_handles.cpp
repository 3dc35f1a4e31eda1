#include "tests/support/local_handles.h"

#include "platform/kernel32.h"

#ifdef _WIN32

#include <cstring>
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

// The real functions: the program's own calls go through the wrappers too.
template <typename Function>
Function Kernel32(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}
const auto realLocalAlloc = Kernel32<HLOCAL(WINAPI*)(UINT, SIZE_T)>("LocalAlloc");
const auto realLocalFree = Kernel32<HLOCAL(WINAPI*)(HLOCAL)>("LocalFree");

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

// Points the module's import of KERNEL32!name at replacement.
bool RouteImport(HMODULE module, const char* name, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (directory.Size == 0) return false;
  for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       import->Name != 0; ++import) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), "KERNEL32.dll") != 0) continue;
    const DWORD namesAt = import->OriginalFirstThunk != 0 ? import->OriginalFirstThunk : import->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD protection;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return false;
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return true;
    }
  }
  return false;
}

// The test program counts from its start.
[[maybe_unused]] const bool kProgramCounted = CountLocalHandlesOf(GetModuleHandleA(nullptr));

}  // namespace

bool CountLocalHandlesOf(void* module) {
  auto* handle = static_cast<HMODULE>(module);
  Handles();  // constructed before any wrapper can run
  bool alloc = RouteImport(handle, "LocalAlloc", reinterpret_cast<void*>(CountingLocalAlloc));
  bool free = RouteImport(handle, "LocalFree", reinterpret_cast<void*>(CountingLocalFree));
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
