#include "tests/support/samples.h"

#include <algorithm>
#include <string>

namespace xcftest {

namespace {

// A smooth diagonal gradient with a tint per channel.
Bytes Gradient(uint32_t width, uint32_t height, uint32_t bpp, uint32_t tint) {
  Bytes out;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (uint32_t c = 0; c < bpp; ++c)
        out.push_back(c == 3 ? 255
                             : static_cast<uint8_t>(std::min<uint32_t>(
                                   255, (x * 255 / width * (c + 1) + y * 255 / height * (3 - c)) / 6 + tint * 40 * c) &
                                   ~3u));  // in steps of 4, so that RLE finds runs
  return out;
}

// A disc of the given radius in a square mask, soft at its edge.
Bytes Disc(uint32_t size) {
  Bytes out;
  const int r = static_cast<int>(size) / 2;
  for (int y = 0; y < static_cast<int>(size); ++y)
    for (int x = 0; x < static_cast<int>(size); ++x) {
      int d2 = (x - r) * (x - r) + (y - r) * (y - r);
      int inner = (r - 8) * (r - 8);
      out.push_back(d2 <= inner ? 255 : (d2 >= r * r ? 0 : static_cast<uint8_t>(255 - (d2 - inner) * 255 / (r * r - inner))));
    }
  return out;
}

}  // namespace

Image ExampleImage() {
  Image image{320, 240, 0};
  image.props.push_back(PropResolution(72.0f, 72.0f));
  // Top of the stack first.
  Layer title{140, 60, 1, "title", {PropOffsets(170, 165), PropMode(5), PropOpacity(220)}};
  title.pixels = Pattern(140, 60, 4, 7);
  Layer group{220, 170, 1, "group", {PropGroupItem(), PropOffsets(20, 20)}};
  // Inside the group: a masked disc in screen mode over a layer that sticks
  // out of the group and is cut at its edge.
  Layer spot{100, 100, 1, "spot", {PropItemPath({1, 0}), PropOffsets(60, 30), PropMode(4)}};
  spot.pixels = Solid(100, 100, {250, 200, 40, 255});
  spot.mask = Mask{100, 100, {}, Disc(100)};
  Layer shade{260, 150, 0, "shade", {PropItemPath({1, 1}), PropOffsets(-10, 40)}};
  shade.pixels = Gradient(260, 150, 3, 2);
  Layer hidden{320, 240, 0, "hidden", {PropVisible(0)}};
  hidden.pixels = Solid(320, 240, {255, 0, 0});
  Layer dark{320, 240, 1, "dark", {PropMode(3), PropOpacity(128)}};
  dark.pixels = Gradient(320, 240, 4, 1);
  Layer background{320, 240, 0, "background"};
  background.pixels = Gradient(320, 240, 3, 0);
  image.layers = {title, group, spot, shade, hidden, dark, background};
  return image;
}

Image IndexedGroupsImage(bool groupVisible) {
  Image image{48, 32, 2};
  std::vector<uint8_t> colours;
  for (uint32_t i = 0; i < 16; ++i)
    colours.insert(colours.end(), {static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 16),
                                   static_cast<uint8_t>(i * 40 % 256)});
  image.props.push_back(PropColormap(colours));
  Layer outer{40, 24, 1, "outer", {PropGroupItem(), PropOffsets(4, 4), PropVisible(groupVisible ? 1 : 0)}};
  outer.pixels = Solid(40, 24, {0, 0, 0, 0});
  Layer stripes{30, 10, 5, "stripes", {PropItemPath({0, 0}), PropOffsets(10, 6)}};
  for (uint32_t y = 0; y < 10; ++y)
    for (uint32_t x = 0; x < 30; ++x) stripes.pixels.insert(stripes.pixels.end(), {static_cast<uint8_t>(x % 16), static_cast<uint8_t>(x * 9)});
  Layer inner{20, 20, 1, "inner", {PropGroupItem(), PropItemPath({0, 1}), PropOffsets(20, 8), PropOpacity(200)}};
  inner.pixels = Solid(20, 20, {0, 0, 0, 0});
  Layer block{12, 12, 4, "block", {PropItemPath({0, 1, 0}), PropOffsets(24, 12)}};
  block.pixels = Solid(12, 12, {7});
  Layer background{48, 32, 4, "background"};
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 48; ++x) background.pixels.push_back(static_cast<uint8_t>((x / 8 + y / 8) % 16));
  image.layers = {outer, stripes, inner, block, background};
  return image;
}

Image ModesImage(bool gray) {
  const uint32_t width = 96, strip = 6, height = 26 * strip + 4;
  const uint32_t bpp = gray ? 2 : 4;
  Image image{width, height, gray ? 1u : 0u};
  for (uint32_t mode = 0; mode < 26; ++mode) {
    // Each strip sticks out of the canvas on the left, to be clipped too.
    Layer layer{width, strip + 2, gray ? 3u : 1u, "mode " + std::to_string(mode),
                {PropMode(mode), PropOffsets(-4, static_cast<int32_t>(mode * strip)), PropOpacity(mode % 3 ? 255 : 180)}};
    layer.pixels = Pattern(width, strip + 2, bpp, 100 + mode);
    // Alpha from opaque through translucent to clear along the strip.
    for (uint32_t y = 0; y < strip + 2; ++y)
      for (uint32_t x = 0; x < width; ++x)
        layer.pixels[(y * width + x) * bpp + bpp - 1] = static_cast<uint8_t>(x < 60 ? 255 : 255 - (x - 60) * 7);
    image.layers.push_back(layer);
  }
  Layer background{width, height, gray ? 2u : 0u, "texture"};
  background.pixels = Gradient(width, height, gray ? 1 : 3, 1);
  Bytes noise = Pattern(width, height, gray ? 1 : 3, 9);
  for (size_t i = 0; i < background.pixels.size(); ++i)
    background.pixels[i] = static_cast<uint8_t>((background.pixels[i] + noise[i] / 4) & 0xFF);
  image.layers.push_back(background);
  return image;
}

// The shapes item paths can give the tree, each in a small file: a layer
// under a layer that is not a group (loaded, its damage answered, never
// drawn), two layers of the same path, a child of a hidden group, and the
// paths the reader refuses (a parent missing, later in the file, a path
// deeper than the tree, an empty path).
std::vector<Sample> TreeShapeSamples() {
  const auto red = Solid(6, 6, {255, 0, 0, 255});
  const auto blue = Solid(8, 8, {0, 0, 255, 255});
  Layer background{16, 16, 0, "background"};
  background.pixels = Gradient(16, 16, 3, 0);
  Layer base{8, 8, 1, "base", {PropOffsets(2, 2)}, blue};
  Layer group{12, 12, 1, "group", {PropGroupItem(), PropOffsets(1, 1)}};
  auto child = [&](const std::string& name, std::vector<int32_t> path, int32_t x) {
    return Layer{6, 6, 1, name, {PropItemPath(path), PropOffsets(x, 4)}, red};
  };
  std::vector<Sample> samples;
  Image image{16, 16, 0};
  image.layers = {base, child("child", {0, 0}, 4), background};
  samples.push_back({"tree-under-layer.xcf", WriteXcf(image)});
  image.layers[1].hierarchyBpp = 7;
  samples.push_back({"tree-under-layer-damaged.xcf", WriteXcf(image)});
  image.layers = {group, child("left", {0, 0}, 1), child("right", {0, 0}, 8), background};
  samples.push_back({"tree-repeated-path.xcf", WriteXcf(image)});
  Layer hidden = group;
  hidden.props.push_back(PropVisible(0));
  image.layers = {hidden, child("child", {0, 0}, 4), background};
  samples.push_back({"tree-hidden-parent.xcf", WriteXcf(image)});
  image.layers = {group, child("child", {3, 0}, 4), background};
  samples.push_back({"tree-missing-parent.xcf", WriteXcf(image)});
  image.layers = {base, child("child", {1, 0}, 4), group, background};
  samples.push_back({"tree-parent-later.xcf", WriteXcf(image)});
  image.layers = {group, child("child", {0, 0, 0}, 4), background};
  samples.push_back({"tree-deeper-than-tree.xcf", WriteXcf(image)});
  Layer empty = child("child", {0}, 4);
  empty.props[0] = PropRaw(30, {});
  image.layers = {group, empty, background};
  samples.push_back({"tree-empty-path.xcf", WriteXcf(image)});
  return samples;
}

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  Bytes example = WriteXcf(ExampleImage());
  samples.push_back({"example.xcf", example});
  samples.push_back({"example.xcf.gz", Gzip(example)});
  samples.push_back({"example.xcf.bz2", Bzip2(example)});

  Bytes indexed = WriteXcf(IndexedGroupsImage(true));
  samples.push_back({"indexed-groups.xcf", indexed});
  samples.push_back({"indexed-groups.xcf.bz2", Bzip2(indexed)});
  samples.push_back({"indexed-groups-hidden.xcf", WriteXcf(IndexedGroupsImage(false))});

  samples.push_back({"modes.xcf", WriteXcf(ModesImage(false))});
  samples.push_back({"modes-gray.xcf", WriteXcf(ModesImage(true))});

  // Damaged and foreign input.
  samples.push_back({"eight-bytes.xcf", Bytes(example.begin(), example.begin() + 8)});
  samples.push_back({"empty.xcf", {}});
  samples.push_back({"not-xcf.bin", Bytes(4096, 'x')});
  Bytes v004 = example;
  v004[12] = '4';
  samples.push_back({"v004.xcf", v004});
  samples.push_back({"truncated.xcf", Bytes(example.begin(), example.begin() + example.size() / 2)});
  samples.push_back({"header-checksum.xcf.gz", GzipWithHeader(example, "example.xcf", true)});
  // A file name longer than the 2048-byte block: only the name decides.
  Bytes longName = GzipWithHeader(example, std::string(3000, 'n'), false);
  samples.push_back({"long-name.xcf.gz", longName});
  samples.push_back({"long-name.bin", longName});
  // Lengths declared beyond the file's end: a layer name of 0xFFFFFFF0
  // bytes, and the resolution property one byte longer than the file.
  auto setLength = [](Bytes file, const std::string& after, uint32_t length) {
    auto at = std::search(file.begin(), file.end(), after.begin(), after.end()) - 4;
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    return file;
  };
  samples.push_back({"declared-name.xcf", setLength(example, "title", 0xFFFFFFF0u)});
  const Bytes resolution = {0, 0, 0, 19};  // the property's id; its length follows
  Bytes declared = example;
  auto id = std::search(declared.begin(), declared.end(), resolution.begin(), resolution.end());
  for (int i = 0; i < 4; ++i) id[4 + i] = static_cast<uint8_t>((declared.size() + 1) >> (24 - 8 * i));
  samples.push_back({"declared-property.xcf", declared});
  samples.push_back({"declared-property.xcf.gz", Gzip(declared)});
  // The example behind 1000 bytes of something else.
  Bytes padded(1000 + example.size(), 0xEE);
  std::copy(example.begin(), example.end(), padded.begin() + 1000);
  samples.push_back({"at-1000.bin", padded});
  for (Sample& sample : TreeShapeSamples()) samples.push_back(std::move(sample));
  return samples;
}

std::vector<Sample> StressSamples() {
  std::vector<Sample> samples;
  const Bytes example = WriteXcf(ExampleImage());
  const Bytes indexed = WriteXcf(IndexedGroupsImage(true));
  const Bytes modes = WriteXcf(ModesImage(false));
  // The same layers as GIMP 2.10 stores them: version 11, zlib tiles, read
  // where the caller asks for every version.
  Image modernImage = ModesImage(false);
  modernImage.tag = "v011";
  modernImage.compression = 2;
  const Bytes modern = WriteXcf(modernImage);
  for (const auto& [name, xcf] : std::vector<std::pair<std::string, Bytes>>{
           {"example", example}, {"indexed", indexed}, {"modes", modes}, {"modern", modern}}) {
    for (const auto& [suffix, bytes] :
         std::vector<std::pair<std::string, Bytes>>{{".xcf", xcf}, {".xcf.gz", Gzip(xcf)}, {".xcf.bz2", Bzip2(xcf)}}) {
      samples.push_back({name + suffix, bytes});
      if (name != "example" && name != "modern") continue;
      for (int percent : {10, 50, 90}) {
        Bytes cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() * percent / 100));
        samples.push_back({name + "-cut" + std::to_string(percent) + suffix, cut});
      }
      for (uint32_t seed : {1u, 2u, 3u}) {
        Bytes damaged = bytes;
        for (uint32_t i = 0; i < 8; ++i) damaged[(seed * 7919 + i * 104729) % damaged.size()] ^= 0x5A;
        samples.push_back({name + "-damaged" + std::to_string(seed) + suffix, damaged});
      }
    }
  }
  // Three 16384 x 16384 RGBA layers on a small canvas: 3 GiB of pixels,
  // which the plug-in never holds, so that they render anywhere.
  Image huge{64, 64, 0};
  for (int i = 0; i < 3; ++i) {
    Layer layer{16384, 16384, 1, "huge"};
    layer.uniformPixel = {10, 20, 30, 255};
    huge.layers.push_back(layer);
  }
  samples.push_back({"big-layers.xcf", WriteXcf(huge)});
  // A canvas whose bitmap alone (3 GiB) is more than a 32-bit process can
  // have: out of memory there, a host that goes on.
  Image beyond{32767, 32766, 0};
  Layer small{64, 64, 1, "small"};
  small.uniformPixel = {10, 20, 30, 255};
  beyond.layers.push_back(small);
  samples.push_back({"beyond-32-bit.xcf", WriteXcf(beyond)});
  return samples;
}

Image WideGroup(uint32_t count, uint32_t width, uint32_t height, const std::string& tag) {
  Image image{width, height, 0, tag};
  Layer group{width, height, 1, "group", {PropGroupItem()}};
  image.layers.push_back(group);
  const uint32_t across = width / 8 > 0 ? width / 8 : 1;
  for (uint32_t i = 0; i < count; ++i) {
    Layer layer{8, 8, 1, "layer " + std::to_string(i)};
    const auto x = static_cast<int32_t>(8 * (i % across)), y = static_cast<int32_t>(8 * (i / across) % height);
    layer.props = {PropItemPath({0, static_cast<int32_t>(i)}), PropOffsets(x, y)};
    layer.uniformPixel = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 50, 200};
    image.layers.push_back(layer);
  }
  return image;
}

}  // namespace xcftest
