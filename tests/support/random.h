// Test support: a small, fast, seeded generator (xorshift64), so that
// random inputs are the same on every build and every run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xcftest {

struct Random {
  uint64_t state;  // any value but 0
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 32);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
  int32_t Between(int32_t low, int32_t high) { return low + static_cast<int32_t>(Below(high - low + 1)); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }
  template <typename T, size_t N>
  T Pick(const T (&values)[N]) {
    return values[Below(N)];
  }
};

}  // namespace xcftest
