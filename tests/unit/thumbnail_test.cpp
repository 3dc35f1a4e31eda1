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

// The output pixel (i, j) by the definition: every source pixel weighed by
// its exact overlap with it. With alpha, the alpha is the area's mean and
// the colour the mean weighed by alpha, so a clear pixel's colour counts for
// nothing and never tints its neighbours.
std::vector<uint8_t> Expected(const Source& s, uint32_t w, uint32_t h, uint32_t i, uint32_t j, uint32_t channels) {
  auto overlap = [](uint64_t a0, uint64_t a1, uint64_t b0, uint64_t b1) {
    return std::min(a1, b1) > std::max(a0, b0) ? std::min(a1, b1) - std::max(a0, b0) : 0;
  };
  const bool alpha = channels == 4;
  uint64_t sum[4] = {};
  for (uint32_t y = 0; y < s.height; ++y) {
    const uint64_t wy = overlap(uint64_t{y} * h, uint64_t{y + 1} * h, uint64_t{j} * s.height, uint64_t{j + 1} * s.height);
    for (uint32_t x = 0; wy != 0 && x < s.width; ++x) {
      const uint64_t weight =
          wy * overlap(uint64_t{x} * w, uint64_t{x + 1} * w, uint64_t{i} * s.width, uint64_t{i + 1} * s.width);
      const uint8_t* p = s.Pixel(x, y);
      for (uint32_t k = 0; k < channels; ++k) sum[k] += weight * p[k] * (alpha && k < 3 ? p[3] : 1u);
    }
  }
  const uint64_t area = uint64_t{s.width} * s.height;
  std::vector<uint8_t> out(channels);
  if (!alpha) {
    for (uint32_t k = 0; k < channels; ++k) out[k] = static_cast<uint8_t>((sum[k] + area / 2) / area);
    return out;
  }
  out[3] = static_cast<uint8_t>((sum[3] + area / 2) / area);
  for (uint32_t k = 0; k < 3; ++k) out[k] = out[3] == 0 ? 0 : static_cast<uint8_t>((sum[k] + sum[3] / 2) / sum[3]);
  return out;
}

TEST(Thumbnail, EveryPixelIsTheExactAverageOfTheAreaItCovers) {
  xcftest::Random r{0x7e55e1};
  const Kind kinds[] = {Kind::Rgb, Kind::Gray, Kind::Palette, Kind::Alpha};
  for (int round = 0; round < 480; ++round) {
    const Kind kind = kinds[round % 4];
    const uint32_t width = 1 + r.Below(round < 360 ? 40 : 300), height = 1 + r.Below(round < 360 ? 40 : 300);
    const uint32_t size = 1 + r.Below(48);
    const Source s = MakeSource(r, width, height, kind);
    OwnedDib out;
    ASSERT_TRUE(ScaleToFit(s.View(), size, 1 + (round / 4) % 4, &out));
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
    // Gray stays gray; a palette is averaged in colour; alpha is kept.
    const uint32_t channels = kind == Kind::Gray ? 1 : kind == Kind::Alpha ? 4 : 3;
    ASSERT_EQ(view.info[14], 8 * channels);
    const size_t rowSize = tessel::BitmapRowSize(8 * channels, w);
    for (uint32_t j = 0; j < h; ++j)
      for (uint32_t i = 0; i < w; ++i) {
        const uint8_t* got = view.bits + (h - 1 - j) * rowSize + i * channels;
        ASSERT_EQ(std::vector<uint8_t>(got, got + channels), Expected(s, w, h, i, j, channels))
            << width << "x" << height << " into " << size << " at " << i << "," << j;
      }
  }
}

}  // namespace
