// How many processors this process may run on: its affinity mask, counted.
#pragma once

#include <cstdint>

#include "platform/kernel32.h"

namespace tessel {

inline uint32_t ProcessorsOfProcess() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return 1;
  uint32_t count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count == 0 ? 1 : count;
}

}  // namespace tessel
