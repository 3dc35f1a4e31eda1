// Dissolve: the layer shown or not, pixel by pixel, by GIMP's own noise.
#include <cstdint>

#include "composite/gimp_mode_parts.h"

namespace tessel {

namespace {

// GLib's random numbers (the Mersenne twister), which dissolve's noise
// is made of: the same seeds give GIMP's pattern.
class Twister {
 public:
  explicit Twister(uint32_t seed) {
    state_[0] = seed;
    for (index_ = 1; index_ < 624; ++index_)
      state_[index_] = 1812433253u * (state_[index_ - 1] ^ (state_[index_ - 1] >> 30)) + index_;
  }
  uint32_t Next() {
    if (index_ >= 624) {
      for (int k = 0; k < 624; ++k) {
        const uint32_t y = (state_[k] & 0x80000000u) | (state_[(k + 1) % 624] & 0x7FFFFFFFu);
        state_[k] = state_[(k + 397) % 624] ^ (y >> 1) ^ ((y & 1u) != 0 ? 0x9908B0DFu : 0u);
      }
      index_ = 0;
    }
    uint32_t y = state_[index_++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
  }
  // A number in [0, range), as GLib draws one: without bias, by rejection.
  uint32_t Below(uint32_t range) {
    uint32_t leftover = (0x80000000u % range) * 2;
    if (leftover >= range) leftover -= range;
    const uint32_t most = 0xFFFFFFFFu - leftover;
    uint32_t value;
    do value = Next();
    while (value > most);
    return value % range;
  }

 private:
  uint32_t state_[624];
  uint32_t index_;
};

// Dissolve: a pixel of the layer shows where a number drawn for its place
// falls below its coverage. Each row draws from its own seed, one number a
// column from column 0 on.
template <GimpComposite mode>
void DissolveRow(float* in, const float* layer, const float*, const float* mask, float opacity, uint32_t n, int64_t x,
                 int64_t y) {
  float* out = in;
  static const auto* seeds = [] {
    static uint32_t table[4096];
    Twister twister(314159265u);
    for (uint32_t& s : table) s = twister.Next();
    return table;
  }();
  Twister row(seeds[((y % 4096) + 4096) % 4096]);
  for (int64_t skip = 0; skip < x; ++skip) row.Next();
  for (uint32_t i = 0; i < n; ++i, in += 4, layer += 4, out += 4) {
    float value = layer[3] * opacity * 255.0f;
    if (mask != nullptr) value *= mask[i];
    if (static_cast<float>(row.Below(255)) >= value) {
      CopyColour(out, in);
      out[3] = mode == GimpComposite::Union || mode == GimpComposite::ClipToBackdrop ? in[3] : 0.0f;
    } else {
      CopyColour(out, layer);
      out[3] = mode == GimpComposite::Union || mode == GimpComposite::ClipToLayer ? 1.0f : in[3];
    }
  }
}

// By composite mode; "auto" composites by union.
constexpr GimpCompositeRowFn kDissolveRows[5] = {
    DissolveRow<GimpComposite::Union>, DissolveRow<GimpComposite::Union>, DissolveRow<GimpComposite::ClipToBackdrop>,
    DissolveRow<GimpComposite::ClipToLayer>, DissolveRow<GimpComposite::Intersection>};

}  // namespace

GimpCompositeRowFn GimpDissolveRowFor(GimpComposite mode) { return kDissolveRows[static_cast<uint32_t>(mode)]; }

}  // namespace tessel
