// What the product offers its tests alone: kept out of the product's own
// headers so that they show only what the product's callers need.
#pragma once

#include <cstdint>

#include "composite/composite.h"
#include "plugin/exports.h"
#include "xcf/image.h"

#ifndef _WIN32
namespace tessel::platform {
// The POSIX stand-in's count of local-memory handles allocated and not yet
// freed, process-wide (platform/kernel32_posix.cpp).
uint32_t LiveLocalHandles();
}  // namespace tessel::platform
#endif
