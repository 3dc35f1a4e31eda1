// Test support: the largest single allocation a piece of code asks for,
// and, when asked, a heap that refuses every request above a size.
// Natively the test program's malloc, calloc and realloc are counting
// wrappers around glibc's; on Windows (and under Wine) the program's
// imports of them from msvcrt.dll are routed through such wrappers, which
// serves the plug-in's core, linked into the program, and the C++ runtime.
// Under the sanitizers, whose allocators must stay in charge, nothing is
// watched.
#pragma once

#include <cstddef>

namespace xcftest {

class AllocationWatch {
 public:
  AllocationWatch();
  ~AllocationWatch();
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;

  // Whether this build watches allocations at all.
  static bool Available();
  // The largest request made on any thread since construction.
  size_t Largest() const;
  // From now until the watch ends, requests above `bytes` fail, as they do
  // when memory runs out.
  void RefuseAbove(size_t bytes);
};

}  // namespace xcftest
