// Test support: result codes print by name in failure messages.
#pragma once

#include <ostream>

#include "plugin/result.h"

namespace tessel {

inline void PrintTo(ResultCode code, std::ostream* os) {
  *os << static_cast<int>(code) << " (" << ResultText(code) << ")";
}

}  // namespace tessel
