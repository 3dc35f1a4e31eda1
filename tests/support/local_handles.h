// Test support: the local-memory handles alive in this process, so that a
// test can prove a call leaves none behind. Natively the stand-in for
// KERNEL32 counts them; on Windows (and under Wine) the calls that the
// test program and the plug-in make to LocalAlloc and LocalFree are routed
// through counting wrappers in their import tables.
#pragma once

#include <cstdint>

namespace xcftest {

// Handles made and not yet freed by the counted modules. The test program
// is counted from its start.
int64_t LiveLocalHandles();

// Counts the handles that a loaded module (tessel.spi) makes and frees from
// now on; natively every module is counted already. False when the
// module's import table has no LocalAlloc and LocalFree to route.
bool CountLocalHandlesOf(void* module);

}  // namespace xcftest
