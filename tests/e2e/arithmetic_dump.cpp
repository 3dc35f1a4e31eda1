// Runs every colour conversion and every hue, saturation, color and value
// row function over a dense sample of inputs. Prints, per function, how
// many inputs it saw and a hash of every output, and writes the row outputs
// to a file, so that two builds (the native one and tessel.spi's under
// Wine) can be compared byte for byte. With --curves, also GIMP's
// arithmetic: its sRGB curve both ways over every 5th float of [0, 1] and
// values outside it, and every layer mode in every composite mode over
// random rows, for the SSE2 build against the plain loops (the curve's
// tables come from the C library's pow, which need not agree to the bit
// between systems).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "composite/blend.h"
#include "composite/color_space.h"
#include "composite/gimp_modes.h"
#include "composite/linear_pixels.h"

namespace {

// FNV-1a over the outputs, in the order they are produced.
struct Digest {
  uint64_t hash = 1469598103934665603ull;
  uint64_t inputs = 0;
  void Add(int64_t value) {
    for (int i = 0; i < 8; ++i) {
      hash ^= static_cast<uint8_t>(value >> (8 * i));
      hash *= 1099511628211ull;
    }
  }
  void Print(const char* name) const {
    std::printf("%-16s %12llu inputs  %016llx\n", name, static_cast<unsigned long long>(inputs),
                static_cast<unsigned long long>(hash));
  }
};

void Conversions() {
  Digest hsv, saturation, hsl, back, backHsl, component;
  for (int32_t r = 0; r < 256; ++r)
    for (int32_t g = 0; g < 256; ++g)
      for (int32_t b = 0; b < 256; ++b) {
        int32_t x = r, y = g, z = b;
        tessel::RgbToHsv(x, y, z);
        hsv.Add(x), hsv.Add(y), hsv.Add(z), ++hsv.inputs;
        saturation.Add(tessel::RgbSaturation(r, g, b)), ++saturation.inputs;
        x = r, y = g, z = b;
        tessel::RgbToHsl(x, y, z);
        hsl.Add(x), hsl.Add(y), hsl.Add(z), ++hsl.inputs;
        x = r, y = g, z = b;  // as hue, saturation, lightness
        tessel::HslToRgb(x, y, z);
        backHsl.Add(x), backHsl.Add(y), backHsl.Add(z), ++backHsl.inputs;
      }
  for (int32_t h = 0; h <= 360; ++h)
    for (int32_t s = 0; s < 256; ++s)
      for (int32_t v = 0; v < 256; ++v) {
        int32_t x = h, y = s, z = v;
        tessel::HsvToRgb(x, y, z);
        back.Add(x), back.Add(y), back.Add(z), ++back.inputs;
      }
  for (int i = 0; i <= 128; ++i)
    for (int j = 0; j <= 128; ++j)
      for (int k = -340; k <= 1360; ++k) {
        component.Add(tessel::HslComponent(i / 128.0, j / 128.0, k / 4.0));
        ++component.inputs;
      }
  hsv.Print("RgbToHsv");
  saturation.Print("RgbSaturation");
  hsl.Print("RgbToHsl");
  back.Print("HsvToRgb");
  backHsl.Print("HslToRgb");
  component.Print("HslComponent");
}

void Rows(FILE* out) {
  const uint32_t n = 4096;
  uint32_t state = 12345;
  auto next = [&]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
  };
  const char* names[] = {"BlendHue", "BlendSaturation", "BlendColor", "BlendValue"};
  for (uint32_t mode = tessel::kModeHue; mode <= tessel::kModeValue; ++mode) {
    Digest digest;
    for (uint32_t bt = 1; bt <= 4; ++bt)
      for (uint32_t bs = 1; bs <= 4; ++bs)
        for (uint32_t opacity : {1u, 77u, 128u, 200u, 255u}) {
          std::vector<uint8_t> source(n * bs), target(n * bt);
          for (auto& b : source) b = next();
          for (auto& b : target) b = next();
          uint32_t type = bs == 1 ? 2 : bs == 2 ? 3 : bs == 3 ? 0 : 1;
          tessel::BlendRow(type, n, source.data(), opacity, target.data(), bt, mode);
          for (uint8_t b : target) digest.Add(b);
          digest.inputs += n;
          std::fwrite(target.data(), 1, target.size(), out);
        }
    digest.Print(names[mode - tessel::kModeHue]);
  }
}

void Curves() {
  Digest toCurve, toLinear;
  const uint32_t pixels = 4096;
  std::vector<float> row(4 * pixels), out(4 * pixels);
  uint32_t filled = 0;
  auto flush = [&]() {
    for (uint32_t k = 4 * filled; k < row.size(); ++k) row[k] = 0.5f;
    for (int way = 0; way < 2; ++way) {
      Digest& digest = way == 0 ? toCurve : toLinear;
      if (way == 0) tessel::RowToCurve(row.data(), out.data(), pixels);
      else tessel::RowToLinear(row.data(), out.data(), pixels);
      for (float v : out) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        digest.Add(bits);
      }
      digest.inputs += 3 * filled;
    }
    filled = 0;
  };
  // Three values a pixel, its alpha the fourth; a pixel with one value
  // outside [0, 1] goes the plain way for all three.
  uint32_t lane = 0;
  auto add = [&](float v) {
    row[4 * filled + lane] = v;
    if (++lane == 3) {
      row[4 * filled + 3] = v;
      lane = 0;
      if (++filled == pixels) flush();
    }
  };
  const float one = 1.0f;
  uint32_t last;
  std::memcpy(&last, &one, sizeof last);
  for (uint32_t bits = 0; bits <= last; bits += 5) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    add(v);
  }
  add(1.0f);
  for (int i = -2000; i <= 4000; ++i) add(static_cast<float>(i) / 1000.0f);
  while (lane != 0) add(0.25f);
  flush();
  toCurve.Print("RowToCurve");
  toLinear.Print("RowToLinear");
}

// Every mode GIMP has, in every composite mode, at two opacities, with and
// without a mask, over rows of random colours (a little outside [0, 1])
// and alphas (some none, some full).
void LayerModes() {
  Digest digest;
  const uint32_t n = 1024;
  uint32_t state = 777;
  auto next = [&]() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 16777216.0f;
  };
  auto alpha = [&]() {
    const float v = next();
    return v < 0.1f ? 0.0f : v > 0.8f ? 1.0f : v;
  };
  std::vector<float> target(4 * n), layer(4 * n), curve(4 * n), mask(n), scratch(tessel::kGimpModeScratchPerPixel * n);
  for (uint32_t mode = 0; mode < tessel::kGimpModeCount; ++mode)
    for (uint32_t composite = 0; composite <= 4; ++composite)
      for (float opacity : {1.0f, 0.6f})
        for (bool masked : {false, true}) {
          tessel::XcfLayerBlending blending{opacity, mode, 0, 0, composite, true};
          tessel::GimpModeOp op{};
          const char* why = nullptr;
          if (!tessel::GimpModeOpChoose(blending, false, &op, &why)) continue;
          for (uint32_t i = 0; i < 4 * n; i += 4) {
            for (int c = 0; c < 3; ++c) target[i + c] = next() * 1.2f - 0.1f, layer[i + c] = next() * 1.2f - 0.1f;
            target[i + 3] = alpha();
            layer[i + 3] = alpha();
          }
          for (float& m : mask) m = next();
          tessel::RowToCurve(layer.data(), curve.data(), n);
          tessel::GimpModeOpRun(op, target.data(), layer.data(), curve.data(), masked ? mask.data() : nullptr, n, 0,
                                mode, scratch.data());
          for (float v : target) {
            uint32_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            digest.Add(bits);
          }
          digest.inputs += n;
        }
  digest.Print("GimpModeOpRun");
}

}  // namespace

int main(int argc, char** argv) {
  const bool curves = argc == 3 && std::strcmp(argv[2], "--curves") == 0;
  if (argc != 2 && !curves) {
    std::fprintf(stderr, "usage: arithmetic_dump ROWS.bin [--curves]\n");
    return 2;
  }
  FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  Conversions();
  Rows(out);
  if (curves) {
    Curves();
    LayerModes();
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
