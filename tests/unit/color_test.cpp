// Hue, saturation, color and value: the conversions and the four modes.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "composite/blend.h"
#include "composite/color_space.h"

using namespace tessel;
using Px = std::vector<uint8_t>;
using Triple = std::array<int32_t, 3>;

namespace {

Triple Hsv(int32_t r, int32_t g, int32_t b) {
  RgbToHsv(r, g, b);
  return {r, g, b};
}
Triple Rgb(int32_t h, int32_t s, int32_t v) {
  HsvToRgb(h, s, v);
  return {h, s, v};
}
Triple Hsl(int32_t r, int32_t g, int32_t b) {
  RgbToHsl(r, g, b);
  return {r, g, b};
}
Triple RgbFromHsl(int32_t h, int32_t s, int32_t l) {
  HslToRgb(h, s, l);
  return {h, s, l};
}

Px Blend(uint32_t mode, Px source, Px target, uint32_t opacity) {
  uint32_t type = source.size() == 1 ? 2 : source.size() == 2 ? 3 : source.size() == 3 ? 0 : 1;
  EXPECT_EQ(BlendRow(type, 1, source.data(), opacity, target.data(), static_cast<uint32_t>(target.size()), mode),
            ResultCode::Ok);
  return target;
}

TEST(Conversions, WorkedExamples) {
  EXPECT_EQ(Hsv(10, 20, 30), (Triple{210, 170, 30}));
  EXPECT_EQ(Hsv(255, 0, 10), (Triple{358, 255, 255}));  // truncated before the wrap
  EXPECT_EQ(Hsv(255, 0, 1), (Triple{0, 255, 255}));
  EXPECT_EQ(Hsv(0, 0, 0), (Triple{0, 0, 0}));
  EXPECT_EQ(Hsv(90, 90, 90), (Triple{0, 0, 90}));
  EXPECT_EQ(Rgb(210, 170, 30), (Triple{10, 20, 30}));
  EXPECT_EQ(Rgb(360, 255, 255), (Triple{255, 0, 0}));
  EXPECT_EQ(Rgb(77, 0, 99), (Triple{99, 99, 99}));
  EXPECT_EQ(Hsl(255, 255, 255), (Triple{0, 0, 255}));
  EXPECT_EQ(Hsl(0, 0, 255), (Triple{170, 255, 128}));
  EXPECT_EQ(Hsl(255, 0, 1), (Triple{255, 255, 128}));  // a hue just below 255 becomes 255
  EXPECT_EQ(Hsl(255, 0, 0), (Triple{0, 255, 128}));
  EXPECT_EQ(RgbFromHsl(0, 255, 128), (Triple{255, 1, 1}));
  EXPECT_EQ(RgbFromHsl(5, 0, 40), (Triple{40, 40, 40}));
  EXPECT_EQ(HslComponent(0.25, 0.75, 300.0), HslComponent(0.25, 0.75, 45.0));
  EXPECT_EQ(HslComponent(0.25, 0.75, -10.0), HslComponent(0.25, 0.75, 245.0));
}

TEST(Conversions, TiesTakeRedBeforeGreenBeforeBlue) {
  EXPECT_EQ(Hsv(200, 200, 100)[0], 60);   // red and green share the maximum: red's formula
  EXPECT_EQ(Hsv(100, 200, 200)[0], 180);  // green and blue: green's
  EXPECT_EQ(Hsv(200, 100, 200)[0], 300);  // red and blue: red's, wrapped
}

TEST(Conversions, SaturationAloneAgreesWithTheFullConversion) {
  for (int32_t r = 0; r < 256; ++r)
    for (int32_t g = 0; g < 256; ++g)
      for (int32_t b = 0; b < 256; ++b) {
        int32_t h = r, s = g, v = b;
        RgbToHsv(h, s, v);
        ASSERT_EQ(RgbSaturation(r, g, b), s) << r << "," << g << "," << b;
      }
}

// The HSV conversions written plainly, with the divisions as divisions.
Triple PlainHsv(int32_t r, int32_t g, int32_t b) {
  int32_t max = r > g ? std::max(r, b) : std::max(g, b);
  int32_t min = r > g ? std::min(g, b) : std::min(r, b);
  int32_t s = max == 0 ? 0 : (max - min) * 255 / max, h = 0;
  if (s != 0) {
    int32_t delta = max - min;
    h = r == max ? (g - b) * 60 / delta : g == max ? (b - r) * 60 / delta + 120 : (r - g) * 60 / delta + 240;
    if (h < 0) h += 360;
  }
  return {h, s, max};
}

Triple PlainRgb(int32_t hue, int32_t saturation, int32_t value) {
  if (saturation == 0) return {value, value, value};
  double s = saturation / 255.0, v = value / 255.0, h = (hue == 360 ? 0 : hue) / 60.0;
  int i = static_cast<int>(std::floor(h));
  double f = h - i, p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  double c[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
  return {static_cast<int32_t>(255 * c[i][0] + 0.5), static_cast<int32_t>(255 * c[i][1] + 0.5),
          static_cast<int32_t>(255 * c[i][2] + 0.5)};
}

TEST(Conversions, HsvAgreesWithItsPlainFormulaForEveryInput) {
  for (int32_t r = 0; r < 256; ++r)
    for (int32_t g = 0; g < 256; ++g)
      for (int32_t b = 0; b < 256; ++b) ASSERT_EQ(Hsv(r, g, b), PlainHsv(r, g, b)) << r << "," << g << "," << b;
  for (int32_t h = 0; h <= 360; ++h)
    for (int32_t s = 0; s < 256; ++s)
      for (int32_t v = 0; v < 256; ++v) ASSERT_EQ(Rgb(h, s, v), PlainRgb(h, s, v)) << h << "," << s << "," << v;
  // Out of the pixel range the conversions still divide correctly.
  EXPECT_EQ(Hsv(1000, 0, 500), PlainHsv(1000, 0, 500));
  EXPECT_EQ(Rgb(90, 300, 260), PlainRgb(90, 300, 260));
}

TEST(Conversions, StayInRangeAndRoundTripCloseBy) {
  for (int32_t r = 0; r < 256; r += 5)
    for (int32_t g = 0; g < 256; g += 3)
      for (int32_t b = 0; b < 256; b += 7) {
        Triple hsv = Hsv(r, g, b);
        ASSERT_TRUE(hsv[0] >= 0 && hsv[0] < 360 && hsv[1] >= 0 && hsv[1] <= 255 && hsv[2] == std::max({r, g, b}));
        Triple back = Rgb(hsv[0], hsv[1], hsv[2]);
        for (int c = 0; c < 3; ++c) ASSERT_NEAR(back[c], (Triple{r, g, b})[c], 6) << r << "," << g << "," << b;
        Triple hsl = Hsl(r, g, b);
        for (int c = 0; c < 3; ++c) ASSERT_TRUE(hsl[c] >= 0 && hsl[c] <= 255);
        Triple fromHsl = RgbFromHsl(hsl[0], hsl[1], hsl[2]);
        for (int c = 0; c < 3; ++c) ASSERT_TRUE(fromHsl[c] >= 0 && fromHsl[c] <= 255);
      }
}

TEST(ColourModes, WorkedExamples) {
  // Hue: a gray layer pixel leaves the target as it was.
  EXPECT_EQ(Blend(11, {80, 80, 80}, {10, 200, 30}, 255), (Px{10, 200, 30}));
  EXPECT_EQ(Blend(11, {80, 80, 80, 255}, {10, 200, 30, 255}, 100), (Px{10, 200, 30, 255}));
  // Saturation over a gray target takes the red hue.
  EXPECT_EQ(Blend(12, {0, 0, 255}, {128, 128, 128}, 255), (Px{128, 0, 0}));
  EXPECT_EQ(Blend(12, {70, 70, 70}, {10, 200, 30}, 255), (Px{200, 200, 200}));
  // Value: a black layer pixel turns the target black.
  EXPECT_EQ(Blend(14, {0, 0, 0}, {3, 3, 3}, 255), (Px{0, 0, 0}));
  EXPECT_EQ(Blend(14, {0, 0, 0}, {30, 200, 90}, 255), (Px{0, 0, 0}));
  // Color: gray stays gray at the target's lightness; pure red gives (255, 1, 1).
  EXPECT_EQ(Blend(13, {50, 50, 50}, {0, 0, 255}, 255), (Px{128, 128, 128}));
  EXPECT_EQ(Blend(13, {255, 0, 0}, {128, 128, 128}, 255), (Px{255, 1, 1}));
  EXPECT_EQ(Blend(11, {255, 0, 0}, {0, 128, 0}, 255), (Px{128, 0, 0}));
}

TEST(ColourModes, GrayTargetsMixTheLayerInLikeNormalMode) {
  for (uint32_t mode = 11; mode <= 14; ++mode) {
    EXPECT_EQ(Blend(mode, {200}, {100}, 128), Blend(0, {200}, {100}, 128)) << mode;
    EXPECT_EQ(Blend(mode, {200}, {100, 40}, 128), (Px{150, 40})) << mode;
    // A transparent gray target takes the layer's value but keeps alpha 0.
    EXPECT_EQ(Blend(mode, {90, 255}, {10, 0}, 255), (Px{90, 0})) << mode;
    EXPECT_EQ(Blend(mode, {90, 0}, {10, 60}, 255), (Px{10, 60})) << mode;
    // a = 200, n = 120 + D(135 * 200) = 225, r = 200 * 255 / 225 = 226.
    EXPECT_EQ(Blend(mode, {90, 200}, {10, 120}, 255), (Px{80, 120})) << mode;
    EXPECT_EQ(Blend(mode, {1, 2, 3}, {10, 120}, 255), (Px{10, 120})) << mode;
  }
}

TEST(ColourModes, NeverChangeTargetAlpha) {
  for (uint32_t mode = 11; mode <= 14; ++mode)
    for (uint32_t bs = 1; bs <= 4; ++bs)
      for (uint32_t bt = 1; bt <= 4; ++bt) {
        Px source, target;
        for (int i = 0; i < 1024; ++i) {
          for (uint32_t c = 0; c < bs; ++c) source.push_back(static_cast<uint8_t>(i * (c + 3) * 29));
          for (uint32_t c = 0; c < bt; ++c) target.push_back(static_cast<uint8_t>(i * (c + 1) * 17));
        }
        Px t = target;
        uint32_t type = bs == 1 ? 2 : bs == 2 ? 3 : bs == 3 ? 0 : 1;
        ASSERT_EQ(BlendRow(type, 1024, source.data(), 180, t.data(), bt, mode), ResultCode::Ok);
        if (bt == 2 || bt == 4) {
          for (size_t i = bt - 1; i < t.size(); i += bt) ASSERT_EQ(t[i], target[i]) << mode << bs << bt;
        }
        if (bt >= 3 && bs <= 2) {
          ASSERT_EQ(t, target);  // a gray layer onto colour writes nothing
        }
      }
}

}  // namespace

namespace {

// The four modes take four pixels at a time in vector lanes on long rows
// and one at a time in the plain loop: the same bytes either way. Every
// source colour once, against every target colour once (in another
// order), into RGB at full opacity; then 131072 pixels of every
// format pair, alpha and opacity.
TEST(ColourModes, RowsMatchPixelByPixelForEveryColour) {
  auto compare = [](uint32_t mode, uint32_t bt, uint32_t bs, uint32_t o, const Px& source, const Px& target) {
    const uint32_t n = static_cast<uint32_t>(source.size() / bs);
    const uint32_t type = bs == 3 ? 0 : 1;
    Px row = target;
    ASSERT_EQ(BlendRow(type, n, source.data(), o, row.data(), bt, mode), ResultCode::Ok);
    Px one = target;
    for (uint32_t i = 0; i < n; ++i)
      ASSERT_EQ(BlendRow(type, 1, &source[static_cast<size_t>(i) * bs], o, &one[static_cast<size_t>(i) * bt], bt, mode),
                ResultCode::Ok);
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t c = 0; c < bt; ++c)
        ASSERT_EQ(row[static_cast<size_t>(i) * bt + c], one[static_cast<size_t>(i) * bt + c])
            << "mode " << mode << " (" << bt << ", " << bs << ") o " << o << " pixel " << i;
  };
  const uint32_t all = 1u << 24;
  Px source(3 * static_cast<size_t>(all)), target(3 * static_cast<size_t>(all));
  for (uint32_t i = 0; i < all; ++i) {
    const uint32_t j = (i * 2654435761u) & (all - 1);  // odd multiplier: a permutation
    for (int c = 0; c < 3; ++c) {
      source[3 * static_cast<size_t>(i) + c] = static_cast<uint8_t>(i >> (8 * c));
      target[3 * static_cast<size_t>(i) + c] = static_cast<uint8_t>(j >> (8 * c));
    }
  }
  for (uint32_t mode = 11; mode <= 14; ++mode) compare(mode, 3, 3, 255, source, target);

  uint64_t state = 7;
  auto next = [&] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint8_t>(state >> 56);
  };
  const uint32_t n = 1u << 17;
  for (uint32_t bt : {3u, 4u})
    for (uint32_t bs : {3u, 4u}) {
      Px s(static_cast<size_t>(n) * bs), t(static_cast<size_t>(n) * bt);
      for (uint8_t& b : s) b = next();
      for (uint8_t& b : t) b = next();
      // Alpha at and near its ends as well as between.
      for (uint32_t i = 0; i < n; i += 5) {
        if (bs == 4) s[4 * static_cast<size_t>(i) + 3] = i % 3 == 0 ? 0 : 255;
        if (bt == 4) t[4 * static_cast<size_t>(i) + 3] = i % 7 == 0 ? 0 : 255;
      }
      for (uint32_t mode = 11; mode <= 14; ++mode)
        for (uint32_t o : {1u, 128u, 200u, 255u}) compare(mode, bt, bs, o, s, t);
    }
}

}  // namespace
