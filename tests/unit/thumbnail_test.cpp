// The thumbnail scaler against the definition of an area average, computed
// the slow way: every source pixel weighted by its exact overlap with the
// output pixel, for pictures of every shape up to a few hundred pixels, and
// the size it picks against the aspect rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "plugin/dib.h"
#include "tests/support/random.h"
#include "tools/thumbnail.h"

namespace {

// A bitmap as the plug-in delivers it: bottom-up rows padded to 4 bytes.
struct Source {
  uint32_t width, height, bitCount;
  std::vector<uint8_t> info, bits;
  Dib View() const { return {info.data(), info.size(), bits.data(), bits.size()}; }
  // Top-down (x, y) as blue, green, red (a palette entry's, or gray thrice).
  const uint8_t* Pixel(uint32_t x, uint32_t y) const {
    const uint8_t* row = bits.data() + static_cast<size_t>(height - 1 - y) * tessel::BitmapRowSize(bitCount, width);
    return bitCount == 24 ? row + 3 * x : bitCount == 32 ? row + 4 * x : info.data() + 40 + 4 * row[x];
  }
};

enum class Kind { Rgb, Gray, Palette, Alpha };

Source MakeSource(xcftest::Random& r, uint32_t width, uint32_t height, Kind kind) {
  const bool table = kind == Kind::Gray || kind == Kind::Palette;
  Source s{width, height, kind == Kind::Rgb ? 24u : kind == Kind::Alpha ? 32u : 8u,
           std::vector<uint8_t>(table ? 40 + 1024 : 40), {}};
  auto put = [&](size_t at, uint32_t v) { std::memcpy(s.info.data() + at, &v, 4); };
  put(0, 40);
  put(4, width);
  put(8, height);
  s.info[12] = 1;
  s.info[14] = static_cast<uint8_t>(s.bitCount);
  for (uint32_t i = 0; table && i < 256; ++i)
    for (uint32_t k = 0; k < 3; ++k)
      s.info[40 + 4 * i + k] = static_cast<uint8_t>(kind == Kind::Gray ? i : r.Below(256));
  s.bits.resize(size_t{tessel::BitmapRowSize(s.bitCount, width)} * height);
  // Extremes often, so that sums that could overflow are reached.
  for (uint8_t& b : s.bits) b = static_cast<uint8_t>(r.Chance(30) ? 255 : r.Chance(10) ? 0 : r.Below(256));
  return s;
}

// The output pixel (i, j), channel k, by the definition.
uint8_t Expected(const Source& s, uint32_t w, uint32_t h, uint32_t i, uint32_t j, uint32_t k) {
  auto overlap = [](uint64_t a0, uint64_t a1, uint64_t b0, uint64_t b1) {
    return std::min(a1, b1) > std::max(a0, b0) ? std::min(a1, b1) - std::max(a0, b0) : 0;
  };
  uint64_t sum = 0;
  for (uint32_t y = 0; y < s.height; ++y) {
    const uint64_t wy = overlap(uint64_t{y} * h, uint64_t{y + 1} * h, uint64_t{j} * s.height, uint64_t{j + 1} * s.height);
    for (uint32_t x = 0; wy != 0 && x < s.width; ++x)
      sum += wy * overlap(uint64_t{x} * w, uint64_t{x + 1} * w, uint64_t{i} * s.width, uint64_t{i + 1} * s.width) *
             s.Pixel(x, y)[k];
  }
  const uint64_t area = uint64_t{s.width} * s.height;
  return static_cast<uint8_t>((sum + area / 2) / area);
}

// The output pixel (i, j) of a picture with alpha by the definition: its
// alpha the area's mean, its colour the mean weighed by alpha.
std::vector<uint8_t> ExpectedAlpha(const Source& s, uint32_t w, uint32_t h, uint32_t i, uint32_t j) {
  auto overlap = [](uint64_t a0, uint64_t a1, uint64_t b0, uint64_t b1) {
    return std::min(a1, b1) > std::max(a0, b0) ? std::min(a1, b1) - std::max(a0, b0) : 0;
  };
  uint64_t colour[3] = {}, alpha = 0;
  for (uint32_t y = 0; y < s.height; ++y) {
    const uint64_t wy = overlap(uint64_t{y} * h, uint64_t{y + 1} * h, uint64_t{j} * s.height, uint64_t{j + 1} * s.height);
    for (uint32_t x = 0; wy != 0 && x < s.width; ++x) {
      const uint64_t weight =
          wy * overlap(uint64_t{x} * w, uint64_t{x + 1} * w, uint64_t{i} * s.width, uint64_t{i + 1} * s.width);
      const uint8_t* p = s.Pixel(x, y);
      alpha += weight * p[3];
      for (int k = 0; k < 3; ++k) colour[k] += weight * p[k] * p[3];
    }
  }
  const uint64_t area = uint64_t{s.width} * s.height;
  std::vector<uint8_t> out(4);
  out[3] = static_cast<uint8_t>((alpha + area / 2) / area);
  for (int k = 0; k < 3; ++k) out[k] = out[3] == 0 ? 0 : static_cast<uint8_t>((colour[k] + alpha / 2) / alpha);
  return out;
}

// A picture with alpha: a clear pixel's colour counts for nothing, so a
// bright colour under alpha 0 never tints its neighbours.
TEST(Thumbnail, ColourIsAveragedWeighedByAlpha) {
  xcftest::Random r{0xa1fa};
  for (int round = 0; round < 200; ++round) {
    const uint32_t width = 1 + r.Below(round < 150 ? 40 : 200), height = 1 + r.Below(round < 150 ? 40 : 200);
    const uint32_t size = 1 + r.Below(32);
    const Source s = MakeSource(r, width, height, Kind::Alpha);
    OwnedDib out;
    ASSERT_TRUE(ScaleToFit(s.View(), size, 1 + round % 3, &out));
    const Dib view = out.View();
    ASSERT_EQ(view.info[14], 32);
    uint32_t w, h;
    std::memcpy(&w, view.info + 4, 4);
    std::memcpy(&h, view.info + 8, 4);
    for (uint32_t j = 0; j < h; ++j)
      for (uint32_t i = 0; i < w; ++i) {
        const uint8_t* got = view.bits + size_t{h - 1 - j} * 4 * w + 4 * i;
        ASSERT_EQ(std::vector<uint8_t>(got, got + 4), ExpectedAlpha(s, w, h, i, j))
            << width << "x" << height << " into " << size << " at " << i << "," << j;
      }
  }
  // White under alpha 0 beside opaque black: the average is black.
  Source s = MakeSource(r, 2, 1, Kind::Alpha);
  const uint8_t pixels[8] = {255, 255, 255, 0, 0, 0, 0, 255};
  std::memcpy(s.bits.data(), pixels, 8);
  OwnedDib out;
  ASSERT_TRUE(ScaleToFit(s.View(), 1, 1, &out));
  EXPECT_EQ(std::vector<uint8_t>(out.bits.begin(), out.bits.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 128}));
}

TEST(Thumbnail, EveryPixelIsTheExactAverageOfTheAreaItCovers) {
  xcftest::Random r{0x7e55e1};
  for (int round = 0; round < 400; ++round) {
    const Kind kind = round % 3 == 0 ? Kind::Rgb : round % 3 == 1 ? Kind::Gray : Kind::Palette;
    const uint32_t width = 1 + r.Below(round < 300 ? 40 : 300), height = 1 + r.Below(round < 300 ? 40 : 300);
    const uint32_t size = 1 + r.Below(48);
    const Source s = MakeSource(r, width, height, kind);
    OwnedDib out;
    ASSERT_TRUE(ScaleToFit(s.View(), size, 1 + round % 4, &out));
    const Dib view = out.View();
    std::string error;
    ASSERT_TRUE(DibValid(view, &error)) << error;

    uint32_t w, h;
    std::memcpy(&w, view.info + 4, 4);
    std::memcpy(&h, view.info + 8, 4);
    // Never enlarged; else the longer side is the size and the shorter the
    // nearest whole number to its share, at least one pixel.
    const uint64_t longSide = std::max(width, height), shortSide = std::min(width, height);
    if (longSide <= size) {
      ASSERT_EQ(w, width);
      ASSERT_EQ(h, height);
    } else {
      ASSERT_EQ(width >= height ? w : h, size);
      const uint64_t got = width >= height ? h : w;
      const uint64_t error = got * longSide > shortSide * size ? got * longSide - shortSide * size
                                                               : shortSide * size - got * longSide;
      ASSERT_TRUE(got == 1 || 2 * error <= longSide) << width << "x" << height << " into " << size;
    }
    // Gray stays gray; a palette is averaged in colour.
    const uint32_t channels = kind == Kind::Gray ? 1 : 3;
    ASSERT_EQ(view.info[14], 8 * channels);
    const size_t rowSize = tessel::BitmapRowSize(8 * channels, w);
    for (uint32_t j = 0; j < h; ++j)
      for (uint32_t i = 0; i < w; ++i)
        for (uint32_t k = 0; k < channels; ++k)
          ASSERT_EQ(view.bits[(h - 1 - j) * rowSize + i * channels + k], Expected(s, w, h, i, j, k))
              << width << "x" << height << " into " << size << " at " << i << "," << j << " channel " << k;
  }
}

}  // namespace
