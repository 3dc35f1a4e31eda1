// The blend dispatch, normal mode, the indexed path and the channel modes.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include <algorithm>
#include <functional>

#include "composite/blend.h"

using namespace tessel;
using Px = std::vector<uint8_t>;

namespace {

// Layer types by bytes per pixel (colour types; indexed ones are separate).
uint32_t TypeOf(size_t bytes) { return bytes == 1 ? 2 : bytes == 2 ? 3 : bytes == 3 ? 0 : 1; }

// Blends one source pixel into one target pixel and returns the target.
Px Blend(uint32_t mode, Px source, Px target, uint32_t opacity, ResultCode* result = nullptr) {
  ResultCode r = BlendRow(TypeOf(source.size()), 1, source.data(), opacity, target.data(),
                          static_cast<uint32_t>(target.size()), mode);
  if (result != nullptr) *result = r;
  EXPECT_EQ(r, ResultCode::Ok);
  return target;
}

TEST(Div255, IsExactOnMultiplesAndNeverAbove255) {
  for (uint32_t k = 0; k <= 255; ++k) EXPECT_EQ(Div255(255 * k), k);
  for (uint32_t x = 0; x <= 65025; ++x) ASSERT_LE(Div255(x), 255u) << x;
}

TEST(BlendRow, RefusesWhatItCannotBlend) {
  uint8_t s[4] = {1, 2, 3, 4}, t[4] = {5, 6, 7, 8};
  EXPECT_EQ(BlendRow(1, 1, s, 256, t, 4, 0), ResultCode::InvalidArgument);
  EXPECT_EQ(BlendRow(1, 0, s, 255, t, 4, 0), ResultCode::InvalidArgument);
  EXPECT_EQ(BlendRow(1, 1, nullptr, 255, t, 4, 0), ResultCode::InvalidArgument);
  EXPECT_EQ(BlendRow(1, 1, s, 255, nullptr, 4, 0), ResultCode::InvalidArgument);
  EXPECT_EQ(BlendRow(6, 1, s, 255, t, 4, 0), ResultCode::InvalidArgument);
  EXPECT_EQ(BlendRow(1, 1, s, 255, t, 4, 26), ResultCode::InvalidArgument);
  EXPECT_EQ(Px(t, t + 4), (Px{5, 6, 7, 8}));
}

TEST(BlendRow, OpacityZeroAndTheSilentModesLeaveTheTarget) {
  for (uint32_t mode = 0; mode < 26; ++mode) {
    EXPECT_EQ(Blend(mode, {200, 100, 50, 255}, {1, 2, 3, 4}, 0), (Px{1, 2, 3, 4})) << mode;
  }
  for (uint32_t mode : {1u, 2u, 22u, 23u, 24u, 25u}) {
    EXPECT_EQ(Blend(mode, {200, 100, 50, 255}, {1, 2, 3, 4}, 255), (Px{1, 2, 3, 4})) << mode;
  }
}

TEST(NormalMode, WorkedExamples) {
  EXPECT_EQ(Blend(0, {10, 20, 30, 128}, {0, 0, 0, 0}, 200), (Px{10, 20, 30, 100}));
  EXPECT_EQ(Blend(0, {77}, {0, 0}, 128), (Px{77, 128}));
  EXPECT_EQ(Blend(0, {9, 8, 7, 255}, {1, 2, 3}, 255), (Px{9, 8, 7}));
  EXPECT_EQ(Blend(0, {100, 150, 200, 128}, {200, 100, 50, 64}, 255), (Px{119, 140, 170, 159}));
  EXPECT_EQ(Blend(0, {100, 150, 200}, {0, 0, 0, 10}, 255), (Px{100, 150, 200, 255}));
  EXPECT_EQ(Blend(0, {255}, {0}, 128), (Px{128}));
  // A gray layer onto an RGB target, and the reverse, write nothing.
  EXPECT_EQ(Blend(0, {200}, {1, 2, 3}, 255), (Px{1, 2, 3}));
  EXPECT_EQ(Blend(3, {200, 100, 50}, {9}, 255), (Px{9}));
}

TEST(NormalMode, AlphaNeverPassesOpaque) {
  for (uint32_t sa = 0; sa < 256; sa += 3)
    for (uint32_t da = 0; da < 256; da += 5)
      for (uint32_t o = 1; o < 256; o += 7) {
        Px out = Blend(0, {255, 0, 0, static_cast<uint8_t>(sa)}, {0, 255, 0, static_cast<uint8_t>(da)}, o);
        ASSERT_GE(out[3], da);
        ASSERT_LE(out[0] + out[1], 256);  // a mix of two colours, not more
      }
}

TEST(NormalMode, AlphaTargetsMatchTheDefinitionEverywhere) {
  // The weighted means of the alpha targets, with a true division, for every
  // pair of alphas at a spread of opacities and colours.
  for (uint32_t o : {1u, 2u, 100u, 128u, 254u, 255u})
    for (uint32_t sa = 0; sa < 256; ++sa)
      for (uint32_t da = 0; da < 256; ++da)
        for (uint32_t s : {0u, 1u, 77u, 254u, 255u}) {
          const uint32_t d = 255 - s / 2;
          uint32_t a = Div255(sa * o), h = Div255((255 - a) * da);
          Px want = {static_cast<uint8_t>(d), static_cast<uint8_t>(da)};
          if (a + h != 0) {
            want[0] = static_cast<uint8_t>((s * a + d * h) / (a + h));
            want[1] = static_cast<uint8_t>(da + Div255((255 - da) * a));
          }
          Px got = {static_cast<uint8_t>(d), static_cast<uint8_t>(da)};
          uint8_t source[2] = {static_cast<uint8_t>(s), static_cast<uint8_t>(sa)};
          BlendRow(3, 1, source, o, got.data(), 2, kModeNormal);
          ASSERT_EQ(got, want) << "o " << o << " sa " << sa << " da " << da << " s " << s;
          // Without source alpha: weight o against D(da * (255 - o)).
          h = Div255(da * (255 - o));
          want = {static_cast<uint8_t>(o == 255 ? s : (s * o + d * h) / (o + h)),
                  static_cast<uint8_t>(o == 255 ? 255 : da + Div255((255 - da) * o))};
          got = {static_cast<uint8_t>(d), static_cast<uint8_t>(da)};
          BlendRow(2, 1, source, o, got.data(), 2, kModeNormal);
          ASSERT_EQ(got, want) << "o " << o << " da " << da << " s " << s;
        }
}

TEST(BlendRow, WideRowsMatchPixelByPixel) {
  // Long rows into RGB take vector paths; one pixel at a time takes the
  // plain loops. Every drawn mode, both source formats, every kind of alpha.
  for (uint32_t mode = 0; mode < 22; ++mode) {
    for (uint32_t bs : {3u, 4u}) {
      for (uint32_t o : {1u, 2u, 50u, 127u, 128u, 200u, 254u, 255u}) {
        for (uint32_t n : {5u, 6u, 7u, 64u, 101u}) {
          Px source(bs * n), target(3 * n);
          for (uint32_t i = 0; i < bs * n; ++i)
            source[i] = static_cast<uint8_t>(i * 97 + o * 31 + (i >> 2) * 13 + mode);
          for (uint32_t i = 0; i < 3 * n; ++i) target[i] = static_cast<uint8_t>(i * 53 + o * 7);
          if (bs == 4) {
            source[3] = 255;
            source[7] = 0;
          }
          const uint32_t type = bs == 4 ? 1 : 0;
          Px wide = target;
          ASSERT_EQ(BlendRow(type, n, source.data(), o, wide.data(), 3, mode), ResultCode::Ok);
          for (uint32_t i = 0; i < n; ++i) {
            Px one(target.begin() + 3 * i, target.begin() + 3 * i + 3);
            ASSERT_EQ(BlendRow(type, 1, &source[bs * i], o, one.data(), 3, mode), ResultCode::Ok);
            ASSERT_EQ(Px(wide.begin() + 3 * i, wide.begin() + 3 * i + 3), one)
                << "mode " << mode << " bs " << bs << " o " << o << " n " << n << " i " << i;
          }
        }
      }
    }
  }
}

TEST(ArithmeticModes, WorkedExamples) {
  EXPECT_EQ(Blend(3, {255, 255, 255}, {12, 34, 56}, 255), (Px{12, 34, 56}));  // multiply by white
  EXPECT_EQ(Blend(4, {0, 0, 0}, {12, 34, 56}, 255), (Px{12, 34, 56}));        // screen with black
  EXPECT_EQ(Blend(7, {100}, {200}, 255), (Px{255}));
  EXPECT_EQ(Blend(8, {100}, {200}, 255), (Px{100}));
  EXPECT_EQ(Blend(8, {30}, {20}, 255), (Px{0}));
  EXPECT_EQ(Blend(5, {255}, {128}, 255), (Px{191}));
  EXPECT_EQ(Blend(5, {0}, {128}, 255), (Px{64}));
  EXPECT_EQ(Blend(6, {10}, {200}, 255), (Px{190}));
  EXPECT_EQ(Blend(9, {10}, {200}, 255), (Px{10}));
  EXPECT_EQ(Blend(10, {10}, {200}, 255), (Px{200}));
  // The frame's weights: (4, 4), (4, 3) and (3, 4).
  EXPECT_EQ(Blend(3, {100, 150, 200, 128}, {200, 100, 50, 64}, 255), (Px{151, 83, 45, 64}));
  EXPECT_EQ(Blend(3, {100, 150, 200}, {200, 100, 50, 100}, 200), (Px{152, 83, 45, 100}));
  EXPECT_EQ(Blend(3, {100, 150, 200}, {200, 100, 50, 255}, 200), (Px{104, 67, 41, 255}));
}

TEST(ArithmeticModes, LeaveATransparentTargetAlone) {
  for (uint32_t mode = 3; mode < 22; ++mode) {
    if (mode >= 11 && mode <= 14) continue;  // their gray form is another path
    EXPECT_EQ(Blend(mode, {90, 120, 200, 255}, {10, 20, 30, 0}, 255), (Px{10, 20, 30, 0})) << mode;
    EXPECT_EQ(Blend(mode, {90, 255}, {10, 0}, 255), (Px{10, 0})) << mode;
  }
}

// The channel value B of each per-channel mode, from its definition.
uint32_t Reference(uint32_t mode, int s, int d) {
  auto D = [](int x) { return static_cast<int>(Div255(static_cast<uint32_t>(x))); };
  auto clamp = [](int x) { return std::clamp(x, 0, 255); };
  switch (mode) {
    case 3: return D(s * d);
    case 4: return 255 - D((255 - s) * (255 - d));
    case 5: return D(d * (d + D(2 * s * (255 - d))));
    case 6: return std::abs(s - d);
    case 7: return std::min(s + d, 255);
    case 8: return std::max(d - s, 0);
    case 9: return std::min(s, d);
    case 10: return std::max(s, d);
    case 15: return std::min(255, (d * 256) / (s + 1));
    case 16: return std::min(255, (d * 256) / (256 - s));
    case 17: return clamp(255 - ((255 - d) * 256) / (s + 1));
    case 18: return s <= 128 ? (2 * s * d) >> 8 : 255 - (((511 - 2 * s) * (255 - d)) >> 8);
    case 19: return D(d * (255 - D((255 - s) * (255 - d)))) + D(D(s * d) * (255 - d));
    case 20: return clamp(d - s + 128);
    case 21: return clamp(d + s - 128);
  }
  return 0;
}

TEST(ChannelModes, MatchTheirDefinitionForEveryPair) {
  const uint32_t modes[] = {3, 4, 5, 6, 7, 8, 9, 10, 15, 16, 17, 18, 19, 20, 21};
  for (uint32_t mode : modes) {
    Px source(256 * 256), target(256 * 256);
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d) {
        source[s * 256 + d] = static_cast<uint8_t>(s);
        target[s * 256 + d] = static_cast<uint8_t>(d);
      }
    // The same pairs as RGB pixels (s, s, s) over (d, d, d), with and
    // without an opaque alpha: the rows of colour targets take other paths.
    Px rgb(3 * 65536), rgba(4 * 65536), rgbTarget(3 * 65536);
    for (size_t i = 0; i < 65536; ++i) {
      for (int c = 0; c < 3; ++c) {
        rgb[3 * i + c] = rgba[4 * i + c] = source[i];
        rgbTarget[3 * i + c] = target[i];
      }
      rgba[4 * i + 3] = 255;
    }
    Px fromRgb = rgbTarget, fromRgba = rgbTarget;
    ASSERT_EQ(BlendRow(2, 65536, source.data(), 255, target.data(), 1, mode), ResultCode::Ok);
    ASSERT_EQ(BlendRow(0, 65536, rgb.data(), 255, fromRgb.data(), 3, mode), ResultCode::Ok);
    ASSERT_EQ(BlendRow(1, 65536, rgba.data(), 255, fromRgba.data(), 3, mode), ResultCode::Ok);
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d) {
        const uint32_t want = Reference(mode, s, d);
        const size_t i = static_cast<size_t>(s) * 256 + d;
        ASSERT_LE(want, 255u) << "mode " << mode << " s " << s << " d " << d;
        ASSERT_EQ(target[i], want) << "mode " << mode << " s " << s << " d " << d;
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(fromRgb[3 * i + c], want) << "RGB, mode " << mode << " s " << s << " d " << d;
          ASSERT_EQ(fromRgba[3 * i + c], want) << "RGBA, mode " << mode << " s " << s << " d " << d;
        }
      }
  }
}

TEST(ChannelModes, NeverChangeTargetAlpha) {
  for (uint32_t mode = 3; mode < 22; ++mode) {
    Px source, target;
    for (int i = 0; i < 4096; ++i) {
      source.insert(source.end(), {static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i * 11),
                                   static_cast<uint8_t>(i * 5), static_cast<uint8_t>(i * 3)});
      target.insert(target.end(), {static_cast<uint8_t>(i * 13), static_cast<uint8_t>(i * 7),
                                   static_cast<uint8_t>(i), static_cast<uint8_t>(i * 29)});
    }
    for (uint32_t bs : {3u, 4u})
      for (uint32_t bt : {2u, 4u}) {
        Px t = target;
        Px s = source;
        ASSERT_EQ(BlendRow(TypeOf(bs), 4096 * 4 / std::max(bs, bt), s.data(), 200, t.data(), bt, mode),
                  ResultCode::Ok);
        for (size_t i = bt - 1; i + bt <= t.size(); i += bt) ASSERT_EQ(t[i], target[i]) << mode;
      }
  }
}

TEST(LightModes, WorkedExamples) {
  auto B = [](uint32_t mode, uint8_t s, uint8_t d) { return Blend(mode, {s}, {d}, 255)[0]; };
  for (int d = 0; d < 256; ++d) {
    uint8_t v = static_cast<uint8_t>(d);
    EXPECT_EQ(B(15, 255, v), v);
    EXPECT_EQ(B(16, 0, v), v);
    EXPECT_EQ(B(17, 255, v), v);
    EXPECT_EQ(B(15, 0, v), d == 0 ? 0 : 255);
    EXPECT_EQ(B(16, 255, v), d == 0 ? 0 : 255);
    EXPECT_EQ(B(17, 0, v), d == 255 ? 255 : 0);
    EXPECT_EQ(B(18, 0, v), 0);
    EXPECT_EQ(B(18, 255, v), 255);
    EXPECT_EQ(B(18, 128, v), v);
    EXPECT_EQ(B(21, 128, v), v);
    EXPECT_EQ(B(20, v, v), 128);
  }
  EXPECT_EQ(B(17, 1, 200), 0);
  EXPECT_EQ(B(15, 20, 10), 121);
  for (uint8_t s : {0, 77, 255}) {
    EXPECT_EQ(B(19, s, 0), 0);
    EXPECT_EQ(B(19, s, 255), 255);
  }
  EXPECT_EQ(B(19, 0, 128), 64);
  EXPECT_EQ(B(19, 255, 128), 191);
  EXPECT_EQ(B(19, 128, 128), 127);
  EXPECT_EQ(B(20, 0, 255), 255);
  EXPECT_EQ(B(20, 255, 0), 0);
  EXPECT_EQ(B(20, 0, 127), 255);
  EXPECT_EQ(B(20, 1, 0), 127);
  EXPECT_EQ(B(21, 255, 255), 255);
  for (uint8_t d = 0; d <= 128; ++d) EXPECT_EQ(B(21, 0, d), 0);
  // Divide by white leaves every pair unchanged, at any opacity.
  EXPECT_EQ(Blend(15, {255, 255, 255, 200}, {10, 20, 30, 40}, 99), (Px{10, 20, 30, 40}));
}

TEST(IndexedPath, CopiesIndicesAboveTheThreshold) {
  auto Indexed = [](Px source, Px target, uint32_t opacity, ResultCode expect = ResultCode::Ok) {
    uint32_t type = source.size() == 1 ? 4 : 5;
    EXPECT_EQ(BlendRow(type, 1, source.data(), opacity, target.data(), static_cast<uint32_t>(target.size()), 77),
              expect);
    return target;
  };
  EXPECT_EQ(Indexed({5}, {1}, 127), (Px{1}));
  EXPECT_EQ(Indexed({5}, {1}, 128), (Px{5}));
  EXPECT_EQ(Indexed({5, 127}, {1}, 255), (Px{1}));
  EXPECT_EQ(Indexed({5, 128}, {1}, 255), (Px{5}));
  EXPECT_EQ(Indexed({5}, {1, 0}, 200), (Px{5, 255}));
  EXPECT_EQ(Indexed({5, 255}, {1, 9}, 255), (Px{5, 255}));
  EXPECT_EQ(Indexed({5, 100}, {1, 9}, 255), (Px{1, 9}));
  EXPECT_EQ(Indexed({5}, {1, 2, 3}, 255, ResultCode::InvalidArgument), (Px{1, 2, 3}));
  EXPECT_EQ(Indexed({5}, {1, 2, 3}, 100), (Px{1, 2, 3}));  // below the threshold nothing is looked at
}

}  // namespace
