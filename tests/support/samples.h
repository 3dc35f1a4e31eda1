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

// An indexed image whose groups are stored as GIMP stores them: RGBA
// records over indexed children, one group nested in another.
Image IndexedGroupsImage(bool groupVisible);

// A layer in each of the 26 layer modes, each a strip over a textured
// background; RGB (RGBA layers) or grayscale (gray with alpha layers).
Image ModesImage(bool gray);

// One file for each shape item paths give the tree, drawn or refused.
std::vector<Sample> TreeShapeSamples();

// One group the canvas's size holding `count` RGBA layers of 8 x 8 pixels
// side by side, row after row, in a file of the version `tag`: what the
// width of a group costs.
Image WideGroup(uint32_t count, uint32_t width, uint32_t height, const std::string& tag);

// Every sample, compressed twins included.
std::vector<Sample> Samples();

// The mix of the stress run: good pictures, truncated and damaged ones in
// all three containers, and one whose layers decode to more memory than a
// 32-bit process has.
std::vector<Sample> StressSamples();

}  // namespace xcftest
