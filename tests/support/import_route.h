#pragma once
// Test support for the Windows builds: watching what a module calls by
// rewriting its import table.

#ifdef _WIN32

#include <windows.h>

namespace xcftest {

// Points every import of dll!name in module at replacement. False when the
// module imports no such function or no slot could be written.
bool RouteImport(HMODULE module, const char* dll, const char* name, void* replacement);

// The real function, for a replacement to call: the program's own calls go
// through the replacement too.
template <typename Function>
Function RealFunction(const char* dll, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA(dll), name)));
}

}  // namespace xcftest

#endif
