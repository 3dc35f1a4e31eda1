// Test support: random documents whose layers are placed by random item
// paths, of every shape a path can take (refused ones among them), with
// random sizes, offsets, types, modes, opacities, masks and groups. The
// plug-in's versions (0 to 3) for the reference test; every version from 4
// to 26, every precision and GIMP's modes, spaces and composite modes for
// comparing two builds on what neither was shown.
#pragma once

#include <cstdint>

#include "tests/support/random.h"
#include "tests/support/xcf_writer.h"

namespace xcftest {

// The shapes an item path can give a layer.
enum Shape {
  kTopLevel,    // no item path
  kUnderGroup,  // under a group, by its path and a position
  kUnderLayer,  // under a layer that is not a group
  kUnderHidden, // under a layer or group that is not drawn (invisible)
  kOneElement,  // a path of one element: under that top-level layer
  kRepeated,    // the very path of a layer read before it
  kMissing,     // naming a parent that is not there
  kLater,       // naming a parent that comes later in the file
  kTooDeep,     // longer than the tree is deep there
  kEmpty,       // no element, or fewer than 4 bytes
  kNegative,    // an element below 0
  kFirstLayer,  // on the first layer of the file
  kShapes,
};
extern const char* const kShapeNames[kShapes];

enum class Era {
  Plugin,  // tags file to v003, 8-bit gamma, modes 0 to 30
  Gimp,    // tags v004 to v026, every precision, modes 0 to 63 and beyond, spaces and composite modes
};

// A random document; shapes[s] counts its layers of shape s.
Image RandomImage(Random& random, uint32_t* shapes, Era era = Era::Plugin);

}  // namespace xcftest
