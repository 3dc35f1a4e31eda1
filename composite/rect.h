// Rectangles in image coordinates, as the plan and the bands clip with them.
#pragma once

#include <algorithm>
#include <cstdint>

namespace tessel {

// [x0, x1) x [y0, y1); empty when either side is not positive.
struct Rect {
  int64_t x0, y0, x1, y1;
  bool Empty() const { return x0 >= x1 || y0 >= y1; }
  uint32_t Width() const { return static_cast<uint32_t>(x1 - x0); }
  uint32_t Height() const { return static_cast<uint32_t>(y1 - y0); }
};

inline Rect Intersect(const Rect& a, const Rect& b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

// The smallest rectangle holding both; an empty one adds nothing.
inline Rect Union(const Rect& a, const Rect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

// A rectangle that holds every other: where a layer that clears what lies
// outside itself leaves its mark.
constexpr Rect kEverywhere{INT32_MIN, INT32_MIN, static_cast<int64_t>(INT32_MAX) * 2, static_cast<int64_t>(INT32_MAX) * 2};

}  // namespace tessel
