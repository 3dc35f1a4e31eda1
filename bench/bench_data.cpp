#include "bench/bench_data.h"

#include <cmath>

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

}  // namespace tesselbench
