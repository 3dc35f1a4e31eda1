// The conversions of GIMP's arithmetic against babl, GIMP's own
// pixel-format library: every stored value of every precision into RGBA
// floats in linear light, and floats back into 8-bit gamma, over every
// 16-bit half and integer, every 8-bit value and a dense run of floats.
#include <gtest/gtest.h>

#ifdef TESSEL_HAS_BABL
#include <babl/babl.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "composite/linear_pixels.h"

using namespace tessel;

namespace {

// babl is set up once for the process: it cannot be set up again.
void UseBabl() {
  static const bool ready = [] {
    babl_init();
    return true;
  }();
  (void)ready;
}

// n gray-alpha pixels of a precision, stored as a version 12 file has
// them (big-endian), and as babl takes them (this machine's order).
template <typename T>
void Store(const std::vector<T>& values, std::vector<uint8_t>* big, std::vector<uint8_t>* native) {
  big->clear();
  native->assign(values.size() * sizeof(T), 0);
  std::memcpy(native->data(), values.data(), native->size());
  for (T v : values) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) big->push_back(bytes[sizeof(T) - 1 - i]);
  }
}

// Our RGBA floats of the stored gray-alpha values against babl's own
// conversion of the same format into "RGBA float"; the largest difference.
double Largest(const char* format, XcfComponent component, bool linear, const std::vector<uint8_t>& big,
               const std::vector<uint8_t>& native, uint32_t n) {
  std::vector<float> ours(4 * n), theirs(4 * n);
  const XcfFormat xcf{12, 8, {component, linear}};
  ReadLinearRgba(PixelReaderFor(xcf, 3, nullptr), big.data(), ours.data(), n);
  babl_process(babl_fish(babl_format(format), babl_format("RGBA float")), native.data(), theirs.data(), n);
  double largest = 0.0;
  for (size_t i = 0; i < ours.size(); ++i) {
    if (std::isnan(theirs[i]) && std::isnan(ours[i])) continue;
    if (std::isinf(theirs[i]) && theirs[i] == ours[i]) continue;
    largest = std::max(largest, std::fabs(static_cast<double>(ours[i]) - theirs[i]));
  }
  return largest;
}

TEST(BablConversions, EveryStoredValueOfEveryPrecisionIsBablsLinearRgba) {
  UseBabl();
  std::vector<uint8_t> big, native;
  std::vector<uint8_t> u8;
  for (int v = 0; v < 256; ++v) u8.insert(u8.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(255 - v)});
  Store(u8, &big, &native);
  EXPECT_LT(Largest("Y'A u8", XcfComponent::U8, false, big, native, 256), 1e-6);
  EXPECT_LT(Largest("YA u8", XcfComponent::U8, true, big, native, 256), 1e-6);
  std::vector<uint16_t> u16;
  for (uint32_t v = 0; v < 65536; ++v) u16.insert(u16.end(), {static_cast<uint16_t>(v), static_cast<uint16_t>(65535 - v)});
  Store(u16, &big, &native);
  EXPECT_LT(Largest("Y'A u16", XcfComponent::U16, false, big, native, 65536), 1e-6);
  EXPECT_LT(Largest("YA u16", XcfComponent::U16, true, big, native, 65536), 1e-6);
  // Every half that is a number, as gray and alpha.
  std::vector<uint16_t> halves;
  for (uint32_t v = 0; v < 65536; ++v)
    if (((v >> 10) & 0x1F) != 0x1F) halves.insert(halves.end(), {static_cast<uint16_t>(v), static_cast<uint16_t>(v)});
  Store(halves, &big, &native);
  const auto halfCount = static_cast<uint32_t>(halves.size() / 2);
  EXPECT_LT(Largest("YA half", XcfComponent::Half, true, big, native, halfCount), 1e-6);
  std::vector<float> floats;
  std::vector<uint32_t> u32;
  std::vector<double> doubles;
  for (int i = -20000; i <= 120000; ++i) {
    const float v = static_cast<float>(i) / 100000.0f;
    floats.insert(floats.end(), {v, 1.0f - v});
    doubles.insert(doubles.end(), {v, 1.0 - v});
    if (i >= 0 && i <= 100000) {
      const auto w = static_cast<uint32_t>(static_cast<double>(i) / 100000.0 * 4294967295.0);
      u32.insert(u32.end(), {w, ~w});
    }
  }
  Store(floats, &big, &native);
  EXPECT_LT(Largest("YA float", XcfComponent::Float, true, big, native, static_cast<uint32_t>(floats.size() / 2)), 1e-6);
  EXPECT_LT(Largest("Y'A float", XcfComponent::Float, false, big, native, static_cast<uint32_t>(floats.size() / 2)),
            1e-5);
  Store(doubles, &big, &native);
  EXPECT_LT(Largest("Y'A double", XcfComponent::Double, false, big, native, static_cast<uint32_t>(doubles.size() / 2)),
            1e-5);
  Store(u32, &big, &native);
  EXPECT_LT(Largest("YA u32", XcfComponent::U32, true, big, native, static_cast<uint32_t>(u32.size() / 2)), 1e-6);
}

TEST(BablConversions, LinearFloatsBackToEightBitGammaAsBablRoundsThem) {
  UseBabl();
  // A dense run over [-0.1, 1.1] in linear light.
  std::vector<float> values;
  for (int i = -100000; i <= 1100000; ++i) values.push_back(static_cast<float>(i) / 1000000.0f);
  std::vector<uint8_t> theirs(values.size());
  babl_process(babl_fish(babl_format("Y float"), babl_format("Y' u8")), values.data(), theirs.data(),
               static_cast<long>(values.size()));
  size_t off = 0;
  int largest = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    const int d = std::abs(FloatToU8(LinearToSrgb(values[i])) - theirs[i]);
    largest = std::max(largest, d);
    off += d != 0;
  }
  std::printf("%zu linear floats into 8-bit gamma: %zu differ from babl's, by at most %d\n", values.size(), off,
              largest);
  EXPECT_LE(largest, 1);
  EXPECT_LT(off, values.size() / 1000);
}

}  // namespace
#endif
