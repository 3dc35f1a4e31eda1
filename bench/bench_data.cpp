#include "bench/bench_data.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tesselbench {

using xcftest::Bytes;

Bytes PhotoLike(uint32_t width, uint32_t height, uint32_t bpp, uint32_t seed) {
  Bytes out(static_cast<size_t>(width) * height * bpp);
  uint32_t state = seed * 747796405u + 2891336453u;
  const double fx = 6.2831853 / width, fy = 6.2831853 / height;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &out[(static_cast<size_t>(y) * width + x) * bpp];
      for (uint32_t c = 0; c < bpp; ++c) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        if (bpp >= 2 && c == bpp - 1) {
          double r = std::hypot(x - width * 0.6, y - height * 0.4) / (width * 0.1);
          p[c] = r < 1.0 ? 0 : (r < 1.2 ? static_cast<uint8_t>((r - 1.0) * 5 * 255) : 255);
          continue;
        }
        double v = 128 + 60 * std::sin(x * fx * (1 + c + seed % 3) + seed) + 50 * std::cos(y * fy * (2 + c) - seed);
        int noisy = static_cast<int>(v) + static_cast<int>(state % 9) - 4;
        p[c] = static_cast<uint8_t>(noisy < 0 ? 0 : noisy > 255 ? 255 : noisy);
      }
    }
  }
  return out;
}

xcftest::Image LargeDocument(uint32_t size) {
  using namespace xcftest;
  Image image{size, size, 0};
  image.compression = 1;
  // Top of the stack first: a group of three, then five more, the last one
  // an opaque normal background.
  image.layers.push_back(Layer{size, size, 1, "group", {PropGroupItem(), PropOpacity(230)}});
  const uint32_t modes[8] = {0, 3, 0, 4, 0, 5, 0, 0};
  for (uint32_t i = 0; i < 8; ++i) {
    Layer layer{size, size, 1, "layer " + std::to_string(i), {PropMode(modes[i]), PropOpacity(i == 7 ? 255 : 200)}};
    if (i < 3) layer.props.push_back(PropItemPath({0, static_cast<int32_t>(i)}));
    layer.pixels = PhotoLike(size, size, 4, i + 1);
    if (i == 1 || i == 5) layer.mask = Mask{size, size, {}, PhotoLike(size, size, 1, 40 + i)};
    image.layers.push_back(layer);
  }
  return image;
}

namespace {

// 8-bit components as a precision of version 12 on stores them, big-endian:
// 16-bit integers (x 257) or 32-bit floats (x / 255); others as they are.
Bytes Widen(const Bytes& bytes, uint32_t precision) {
  const uint32_t kind = precision / 100;
  if (kind != 2 && kind != 6) return bytes;
  Bytes out(bytes.size() * (kind == 2 ? 2 : 4));
  uint8_t* o = out.data();
  for (uint8_t v : bytes) {
    if (kind == 2) {
      *o++ = v;
      *o++ = v;
      continue;
    }
    const float f = v / 255.0f;
    uint32_t u;
    std::memcpy(&u, &f, 4);
    for (int i = 3; i >= 0; --i) *o++ = static_cast<uint8_t>(u >> (8 * i));
  }
  return out;
}

}  // namespace

xcftest::Image ViewerDocument(const char* tag, bool hole, uint32_t precision) {
  using namespace xcftest;
  Image image{6000, 4000, 0, tag};
  image.compression = 1;
  image.precision = precision;
  struct Part {
    uint32_t width, height, type, mode, opacity;
    int32_t x, y;
    bool mask;
  };
  // Top of the stack first.
  const Part parts[] = {
      {3000, 2000, 1, 18, 255, 2500, 1600, true},   // hard light
      {4500, 2666, 0, 5, 128, 1200, 900, false},    // overlay, no alpha
      {3000, 2000, 1, 4, 255, 300, 250, false},     // screen
      {4000, 3000, 1, 3, 255, 1800, 700, true},     // multiply
      {5000, 3500, 1, 0, 204, 400, 300, true},      // normal at 80 %
      {6000, 4000, hole ? 1u : 0u, 0, 255, 0, 0, false},  // the base
  };
  uint32_t seed = 1;
  for (const Part& part : parts) {
    Layer layer{part.width, part.height, part.type, "layer " + std::to_string(seed),
                {PropMode(part.mode), PropOpacity(part.opacity), PropOffsets(part.x, part.y)}};
    layer.pixels = Widen(PhotoLike(part.width, part.height, part.type == 0 ? 3u : 4u, seed), precision);
    if (part.mask) {
      layer.mask = Mask{part.width, part.height, {}, Widen(PhotoLike(part.width, part.height, 1, 40 + seed), precision)};
      layer.mask->bpp = ComponentBytes(std::atoi(tag + 1), precision);
    }
    image.layers.push_back(layer);
    ++seed;
  }
  return image;
}

xcftest::Image SmallDocument() {
  using namespace xcftest;
  Image image{1000, 800, 0};
  image.compression = 1;
  Layer top{600, 500, 1, "top", {PropMode(3), PropOffsets(300, 200)}};
  top.pixels = PhotoLike(600, 500, 4, 3);
  Layer middle{800, 600, 1, "middle", {PropOpacity(180), PropOffsets(50, 50)}};
  middle.pixels = PhotoLike(800, 600, 4, 2);
  Layer base{1000, 800, 0, "base"};
  base.pixels = PhotoLike(1000, 800, 3, 1);
  image.layers = {top, middle, base};
  return image;
}

xcftest::Image ManyLayers(uint32_t count, uint32_t width, uint32_t height) {
  using namespace xcftest;
  Image image{width, height, 0};
  for (uint32_t i = 0; i < count; ++i) {
    Layer layer{width, height, 1, "layer " + std::to_string(i), {PropOpacity(230)}};
    layer.uniformPixel = {static_cast<uint8_t>(10 + i), static_cast<uint8_t>(20 + 2 * i), static_cast<uint8_t>(30 + 3 * i), 255};
    layer.colourPerTile = true;
    image.layers.push_back(layer);
  }
  return image;
}

xcftest::Image NestedGroups(uint32_t count, uint32_t width, uint32_t height) {
  using namespace xcftest;
  Image image{width, height, 0};
  std::vector<int32_t> path;
  for (uint32_t i = 0; i <= count; ++i) {
    Layer layer{i < count ? width : 8u, height, 1, i < count ? "group " + std::to_string(i) : "layer"};
    path.push_back(0);
    if (i > 0) layer.props.push_back(PropItemPath(path));
    if (i < count) {
      layer.props.push_back(PropGroupItem());
    } else {
      layer.uniformPixel = {200, 100, 50, 255};
      layer.colourPerTile = true;
    }
    image.layers.push_back(layer);
  }
  return image;
}

}  // namespace tesselbench
