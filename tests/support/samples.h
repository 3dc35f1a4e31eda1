// Test support: the named sample files shared by the end-to-end suites, the
// benchmarks and the bundled example.
#pragma once

#include <string>
#include <vector>

#include "tests/support/xcf_writer.h"

namespace xcftest {

struct Sample {
  std::string name;
  Bytes bytes;
};

// The bundled example: layers, a group, a mask, modes and offsets.
Image ExampleImage();

// Every sample, compressed twins included.
std::vector<Sample> Samples();

}  // namespace xcftest
