#include "tests/support/random_tree.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stream/byte_stream.h"
#include "xcf/layer.h"

namespace xcftest {

const char* const kShapeNames[kShapes] = {"top level",  "under a group", "under a plain layer", "under a hidden one",
                                          "one element", "repeated",      "missing parent",      "parent later",
                                          "deeper than the tree", "empty", "negative",           "on the first layer"};

namespace {

Bytes RandomPixels(Random& random, uint32_t count) {
  Bytes out(count);
  // Few distinct values, so that alpha and indices land on both sides of
  // their thresholds and RLE finds runs.
  static const uint8_t kValues[] = {0, 0, 1, 2, 3, 64, 127, 128, 129, 200, 254, 255, 255};
  for (uint8_t& b : out) b = random.Pick(kValues);
  return out;
}

// How the components of a precision are stored: bytes, and whether floats.
struct Components {
  int version;
  uint32_t bytes;
  bool floats;
};

Components ComponentsOf(int version, uint32_t precision) {
  const uint32_t bytes = ComponentBytes(version, precision);
  const uint32_t kind = version == 4 ? precision : precision / 100;
  const bool floats = version == 4 ? kind >= 3 : version <= 6 ? kind >= 4 : kind >= 5;
  return Components{version, bytes, floats};
}

uint16_t HalfOf(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  const uint32_t sign = (bits >> 16) & 0x8000u;
  const int32_t exponent = static_cast<int32_t>((bits >> 23) & 0xFF) - 127 + 15;
  if (exponent <= 0) return static_cast<uint16_t>(sign);  // small values flush to zero
  if (exponent >= 31) return static_cast<uint16_t>(sign | 0x7C00u);
  return static_cast<uint16_t>(sign | (static_cast<uint32_t>(exponent) << 10) | ((bits >> 13) & 0x3FFu));
}

// 8-bit values as components of the precision, in the version's byte
// order (big-endian from version 12); floats now and then beyond [0, 1].
Bytes Encode(Random& random, const Bytes& values, const Components& c) {
  if (c.bytes == 1) return values;
  Bytes out;
  out.reserve(values.size() * c.bytes);
  for (uint8_t v : values) {
    uint64_t word;
    if (!c.floats) {
      word = c.bytes == 2 ? v * 257ull : v * 16843009ull;
    } else {
      float f = v / 255.0f;
      if (random.Chance(3)) f = random.Chance(50) ? -0.25f : 1.5f;
      if (c.bytes == 2) {
        word = HalfOf(f);
      } else if (c.bytes == 4) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        word = bits;
      } else {
        const double d = f;
        std::memcpy(&word, &d, 8);
      }
    }
    for (uint32_t k = 0; k < c.bytes; ++k) {
      const uint32_t shift = 8 * (c.version >= 12 ? c.bytes - 1 - k : k);
      out.push_back(static_cast<uint8_t>(word >> shift));
    }
  }
  return out;
}

Property I32Prop(uint32_t id, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  return PropRaw(id, {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
                      static_cast<uint8_t>(u)});
}

// GIMP's blending properties: its modes, pass-through for a group, the
// spaces and composite modes (negative: "auto" standing for one), a float
// opacity; now and then a number GIMP does not have.
void GimpBlending(Random& random, bool group, Layer* layer) {
  if (random.Chance(70)) {
    uint32_t mode = random.Chance(40) ? 28 : random.Below(64);
    if (group && random.Chance(30)) mode = 61;
    if (random.Chance(2)) mode = 64 + random.Below(10);
    layer->props.push_back(PropMode(mode));
  }
  if (random.Chance(25)) layer->props.push_back(I32Prop(35, random.Between(-4, 4)));
  if (random.Chance(25)) layer->props.push_back(I32Prop(36, random.Between(-4, 4)));
  if (random.Chance(25)) layer->props.push_back(I32Prop(37, random.Between(-4, 4)));
  if (random.Chance(20)) {
    static const float kOpacities[] = {1.0f, 0.5f, 0.25f, 0.0f, 0.999f, 1.25f, -0.5f};
    ByteWriter w;
    w.F32(random.Pick(kOpacities));
    layer->props.push_back(PropRaw(33, w.bytes()));
  }
  if (layer->mask && random.Chance(30)) layer->props.push_back(PropApplyMask(random.Below(2)));
}

// Sizes and offsets of a tree: mostly a few pixels, now and then a few tile
// rows and columns, so that bands cut layers' tile rows and threads share them.
struct Scale {
  int32_t size;
  int32_t offset;
};

// Offsets are the image's; a child's are drawn near its parent's, so that
// children lie partly inside their groups and partly out.
Layer RandomLayer(Random& random, uint32_t baseType, bool group, bool nested, const Scale& scale, int32_t x, int32_t y,
                  const Components* gimp) {
  Layer layer;
  layer.width = static_cast<uint32_t>(random.Between(1, (group ? 12 : 8) * scale.size));
  layer.height = static_cast<uint32_t>(random.Between(1, (group ? 10 : 7) * scale.size));
  // Layer types of the image's kind mostly, now and then another kind.
  static const uint32_t kTypes[3][2] = {{0, 1}, {2, 3}, {4, 5}};
  layer.type = random.Chance(90) ? kTypes[baseType][random.Below(2)] : random.Below(6);
  if (!nested) {
    x += random.Between(-7 * scale.offset, 12 * scale.offset);
    y += random.Between(-6 * scale.offset, 10 * scale.offset);
  } else {
    x += random.Between(-4 * scale.offset, 6 * scale.offset);
    y += random.Between(-3 * scale.offset, 5 * scale.offset);
  }
  layer.props.push_back(PropOffsets(x, y));
  if (random.Chance(15)) layer.props.push_back(PropVisible(0));
  static const uint32_t kOpacities[] = {255, 255, 255, 200, 230, 128, 127, 100, 1, 0, 256, 1000};
  if (random.Chance(60)) layer.props.push_back(PropOpacity(random.Pick(kOpacities)));
  if (random.Chance(50) && gimp == nullptr) {
    static const uint32_t kModes[] = {0, 0, 0, 3, 4, 5, 11, 13, 15, 18, 19, 21, 1, 2, 22, 24, 25, 26, 27, 30};
    layer.props.push_back(PropMode(random.Pick(kModes)));
  }
  if (random.Chance(35)) {
    static const uint32_t kMaskOpacities[] = {255, 255, 128, 1, 100, 254, 200, 0, 300};
    Mask mask{layer.width, layer.height, {}, RandomPixels(random, layer.width * layer.height)};
    if (random.Chance(80)) mask.props.push_back(PropOpacity(random.Pick(kMaskOpacities)));
    if (gimp != nullptr) {
      mask.pixels = Encode(random, mask.pixels, *gimp);
      mask.bpp = gimp->bytes;
    }
    layer.mask = mask;
  }
  if (gimp != nullptr) GimpBlending(random, group, &layer);
  if (group) {
    layer.props.push_back(PropGroupItem());
  } else {
    layer.pixels = RandomPixels(random, layer.width * layer.height * tessel::XcfBytesPerPixel(layer.type));
    if (gimp != nullptr && layer.type != 4 && layer.type != 5) layer.pixels = Encode(random, layer.pixels, *gimp);
  }
  return layer;
}

// A layer read so far, as the reader links it.
struct Placed {
  std::vector<int32_t> path;  // the top-level position, then the child positions
  bool group;
  bool hidden;
  int32_t x, y;
  uint32_t children;
};

bool Hidden(const Layer& layer) {
  for (const Property& p : layer.props)
    if (p.id == 8 && p.payload == Bytes{0, 0, 0, 0}) return true;
  return false;
}

// A version of GIMP's and one of the precisions it knows (8-bit gamma for
// an indexed picture, as GIMP keeps those).
void GimpFormat(Random& random, Image* image) {
  const int version = random.Between(4, 26);
  char tag[8];
  std::snprintf(tag, sizeof tag, "v%03d", version);
  image->tag = tag;
  static const uint32_t kVersion4[] = {0, 1, 2, 3, 4};
  static const uint32_t kVersion5[] = {100, 150, 150, 200, 250, 300, 350, 400, 450, 500, 550};
  static const uint32_t kVersion7[] = {100, 150, 150, 200, 250, 300, 350, 500, 550, 600, 650, 700, 750};
  if (image->baseType == 2) {
    image->precision = version == 4 ? 0 : 150;
  } else {
    image->precision = version == 4   ? random.Pick(kVersion4)
                       : version <= 6 ? random.Pick(kVersion5)
                                      : random.Pick(kVersion7);
  }
  image->compression = static_cast<uint8_t>(random.Below(3));
}

}  // namespace

// Layers in file order, each placed by a random item path: most at the top
// level or under a layer read before them (a group mostly, but any layer),
// now and then a path the reader must refuse.
Image RandomImage(Random& random, uint32_t* shapes, Era era) {
  const uint32_t baseType = random.Below(3);
  const Scale scale = random.Chance(10) ? Scale{18, 12} : Scale{1, 1};
  Image image{static_cast<uint32_t>(random.Between(1, 10 * scale.size)),
              static_cast<uint32_t>(random.Between(1, 8 * scale.size)), baseType};
  image.compression = static_cast<uint8_t>(random.Below(2));
  Components components{};
  const Components* gimp = nullptr;
  if (era == Era::Gimp) {
    GimpFormat(random, &image);
    components = ComponentsOf(std::atoi(image.tag.c_str() + 1), image.precision);
    gimp = &components;
  }
  if (baseType == 2) image.props.push_back(PropColormap(RandomPixels(random, 3 * 6)));
  const uint32_t layers = 1 + random.Below(9);
  std::vector<Placed> placed;
  int32_t topLevel = 0;
  for (uint32_t i = 0; i < layers; ++i) {
    Shape shape = kTopLevel;
    const uint32_t roll = random.Below(100);
    if (i == 0) {
      shape = roll < 2 ? kFirstLayer : kTopLevel;
    } else if (roll < 4) {
      shape = static_cast<Shape>(kMissing + random.Below(kFirstLayer - kMissing));
    } else if (roll >= 35) {
      shape = kUnderGroup;
    }
    // The parent: a group three times in four, when there is one.
    const Placed* parent = nullptr;
    if (shape == kUnderGroup || shape == kTooDeep) {
      std::vector<const Placed*> groups, any;
      for (const Placed& p : placed) {
        if (p.path.empty() || p.path.size() > 4) continue;
        any.push_back(&p);
        if (p.group) groups.push_back(&p);
      }
      const auto& from = !groups.empty() && random.Chance(75) ? groups : any;
      parent = from.empty() ? nullptr : from[random.Below(static_cast<uint32_t>(from.size()))];
      if (parent == nullptr) shape = kTopLevel;
    }
    std::vector<int32_t> path;
    bool hasPath = true;
    Bytes raw;
    bool useRaw = false;
    switch (shape) {
      case kTopLevel: hasPath = false; break;
      case kFirstLayer: path = {0, 0}; break;
      case kMissing: path = {topLevel + static_cast<int32_t>(random.Below(3)), 0}; break;
      case kLater: path = {topLevel, 0}; break;
      case kNegative: path = {random.Chance(50) ? -1 : 0, -1 - static_cast<int32_t>(random.Below(3)), 0}; break;
      case kEmpty:
        useRaw = true;
        raw = random.Chance(50) ? Bytes{} : Bytes{0, 0};
        break;
      case kTooDeep:
        path = parent->path;
        path.push_back(static_cast<int32_t>(parent->children + random.Below(3)));
        path.push_back(0);
        break;
      default: {
        path = parent->path;
        if (parent->path.size() == 1 && random.Chance(20)) {
          shape = kOneElement;
        } else {
          // The last element is the layer's own position, which the reader
          // does not consult: now and then that of a sibling read before.
          const bool repeat = parent->children > 0 && random.Chance(25);
          path.push_back(static_cast<int32_t>(repeat ? random.Below(parent->children) : parent->children));
          if (repeat) shape = kRepeated;
        }
        if (shape == kUnderGroup && parent->hidden) shape = kUnderHidden;
        if (shape == kUnderGroup && !parent->group) shape = kUnderLayer;
        break;
      }
    }
    ++shapes[shape];
    const bool group = parent == nullptr || parent->path.size() < 4 ? random.Chance(35) : false;
    Layer layer = RandomLayer(random, baseType, group, parent != nullptr, scale, parent ? parent->x : 0,
                              parent ? parent->y : 0, gimp);
    if (useRaw) layer.props.push_back(PropRaw(30, raw));
    else if (hasPath) layer.props.push_back(PropItemPath(path));
    Placed self{{}, group, Hidden(layer) || (parent != nullptr && parent->hidden), 0, 0, 0};
    for (const Property& p : layer.props)
      if (p.id == 15) {
        self.x = static_cast<int32_t>(tessel::LoadU32BE(p.payload.data()));
        self.y = static_cast<int32_t>(tessel::LoadU32BE(p.payload.data() + 4));
      }
    if (!hasPath) {
      self.path = {topLevel++};
    } else if (shape == kUnderGroup || shape == kUnderLayer || shape == kUnderHidden || shape == kOneElement ||
               shape == kRepeated) {
      Placed& p = placed[static_cast<size_t>(parent - placed.data())];
      self.path = p.path;
      self.path.push_back(static_cast<int32_t>(p.children++));
    } else {
      self.path = {};  // refused: the tree is never built
    }
    image.layers.push_back(layer);
    placed.push_back(self);
  }
  return image;
}

}  // namespace xcftest
