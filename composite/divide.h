// Exact integer division by small divisors, as a multiplication: the
// divisions of normal mode's alpha targets (by 1 to 510) and of the HSV
// conversions (by 1 to 255) sit in the innermost loops.
#pragma once

#include <cstdint>

namespace tessel {

// ceil(2^32 / y) for y = 1 .. 510. floor(x / y) = (x * r[y]) >> 32 exactly for
// every x below 2^17: the error term x * (r[y] * y - 2^32) stays below
// x * y < 2^26, far under the 2^32 that would move the quotient.
struct Reciprocals {
  static constexpr uint32_t kLimit = 511;
  uint64_t value[kLimit];
  constexpr Reciprocals() : value() {
    for (uint64_t y = 1; y < kLimit; ++y) value[y] = ((1ull << 32) + y - 1) / y;
  }
};
inline constexpr Reciprocals kReciprocals;

// x / y truncated, for x < 2^17 and 1 <= y <= 510.
inline uint32_t DivideSmall(uint32_t x, uint32_t y) {
  return static_cast<uint32_t>((x * kReciprocals.value[y]) >> 32);
}

}  // namespace tessel
