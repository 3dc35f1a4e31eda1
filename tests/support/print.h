// Test support: result codes print with what they mean to the host.
#pragma once

#include <ostream>

#include "plugin/result.h"

namespace tessel {

inline void PrintTo(ResultCode code, std::ostream* os) {
  const int host = MapResultToHost(code);
  *os << static_cast<int>(code) << " (host code " << host << ", " << HostCodeText(host) << ")";
}

}  // namespace tessel
