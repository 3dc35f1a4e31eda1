#include "tools/thumbnail.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>


// Source and output are laid on one scale of "units": source pixel x spans
// [x*w, (x+1)*w) and output pixel i spans [i*W, (i+1)*W), for a source W
// wide and an output w wide, so every overlap is a whole number and an
// output pixel's weights add up to exactly W (and H down the columns).

namespace {

// The source pixels an output pixel covers along one axis: [first, end),
// the first and last only in part (by their weights), the ones between
// whole (by `inner`, the source pixel's length in units).
struct Span {
  uint32_t first;
  uint32_t end;
  uint32_t firstWeight;
  uint32_t lastWeight;  // of end - 1, when it is not `first`
};

Span SpanOf(uint32_t i, uint32_t from, uint32_t to) {
  const uint64_t lo = uint64_t{i} * from;
  const uint64_t hi = lo + from;
  Span s;
  s.first = static_cast<uint32_t>(lo / to);
  s.end = static_cast<uint32_t>((hi + to - 1) / to);
  s.firstWeight = static_cast<uint32_t>(std::min<uint64_t>(hi, uint64_t{s.first + 1} * to) - lo);
  s.lastWeight = static_cast<uint32_t>(hi - std::max<uint64_t>(lo, uint64_t{s.end - 1} * to));
  return s;
}

struct Scaler {
  const uint8_t* bits;  // the source's
  DibLayout in;
  const uint8_t* table;  // the colour table of a palette picture to expand, else null
  // 3 (blue, green, red), 1 (gray), or 4 (blue, green, red weighed by
  // alpha, then alpha): a transparent pixel's colour counts for nothing.
  uint32_t channels;
  DibLayout out;
  uint8_t* outBits;
  std::vector<Span> columns;

  const uint8_t* Source(uint32_t y) const { return bits + static_cast<size_t>(in.height - 1 - y) * in.rowSize; }

  // Source row y, top-down, as `channels` bytes per pixel.
  const uint8_t* Row(uint32_t y, std::vector<uint8_t>* expanded) const {
    const uint8_t* src = Source(y);
    if (table == nullptr) return src;
    uint8_t* o = expanded->data();
    for (uint32_t x = 0; x < in.width; ++x, o += 3) std::memcpy(o, table + 4 * src[x], 3);
    return expanded->data();
  }

  // Source row y of a 32-bit picture, its colour weighed by its alpha.
  const uint16_t* Premultiplied(uint32_t y, std::vector<uint16_t>* expanded) const {
    const uint8_t* src = Source(y);
    uint16_t* o = expanded->data();
    for (uint32_t x = 0; x < in.width; ++x, src += 4, o += 4) {
      for (int c = 0; c < 3; ++c) o[c] = static_cast<uint16_t>(src[c] * src[3]);
      o[3] = src[3];
    }
    return expanded->data();
  }

  // One source row's weighted sums per output column: at most 255 * W each
  // (255 * 255 * W, below 2^32, for colour weighed by alpha).
  template <uint32_t C, typename T>
  void SumRow(const T* row, uint32_t* sums) const {
    for (uint32_t i = 0; i < out.width; ++i) {
      const Span& s = columns[i];
      for (uint32_t k = 0; k < C; ++k) {
        const T* p = row + size_t{s.first} * C + k;
        uint32_t inner = 0;
        for (uint32_t x = s.first + 1; x + 1 < s.end; ++x) inner += p[(x - s.first) * C];
        uint32_t sum = s.firstWeight * p[0] + inner * out.width;
        if (s.end - s.first > 1) sum += s.lastWeight * p[(s.end - 1 - s.first) * C];
        sums[i * C + k] = sum;
      }
    }
  }

  // What one thread works in, had before any thread starts.
  struct Scratch {
    std::vector<uint8_t> expanded;
    std::vector<uint16_t> premultiplied;
    std::vector<uint32_t> sums;
    std::vector<uint64_t> total;
  };
  Scratch MakeScratch() const {
    return {std::vector<uint8_t>(table != nullptr ? size_t{in.width} * 3 : 0),
            std::vector<uint16_t>(channels == 4 ? size_t{in.width} * 4 : 0),
            std::vector<uint32_t>(size_t{out.width} * channels), std::vector<uint64_t>(size_t{out.width} * channels)};
  }

  // An output pixel of a 32-bit picture: its alpha the area's mean, its
  // colour the mean weighed by alpha (none where nothing shows).
  static void PutPremultiplied(const uint64_t* total, uint64_t area, uint8_t* o) {
    const uint64_t alpha = total[3];
    o[3] = static_cast<uint8_t>((alpha + area / 2) / area);
    for (int c = 0; c < 3; ++c) o[c] = alpha == 0 || o[3] == 0 ? 0 : static_cast<uint8_t>((total[c] + alpha / 2) / alpha);
  }

  // Output rows [first, end).
  void Rows(uint32_t first, uint32_t end, Scratch* scratch) const {
    const uint32_t c = channels;
    std::vector<uint8_t>& expanded = scratch->expanded;
    std::vector<uint32_t>& sums = scratch->sums;
    std::vector<uint64_t>& total = scratch->total;
    const uint64_t area = uint64_t{in.width} * in.height;
    for (uint32_t j = first; j < end; ++j) {
      std::fill(total.begin(), total.end(), 0);
      const Span s = SpanOf(j, in.height, out.height);
      for (uint32_t y = s.first; y < s.end; ++y) {
        const uint32_t weight = y == s.first ? s.firstWeight : y + 1 == s.end ? s.lastWeight : out.height;
        if (c == 4) {
          SumRow<4>(Premultiplied(y, &scratch->premultiplied), sums.data());
        } else {
          const uint8_t* row = Row(y, &expanded);
          if (c == 3) SumRow<3>(row, sums.data()); else SumRow<1>(row, sums.data());
        }
        for (size_t n = 0; n < sums.size(); ++n) total[n] += uint64_t{weight} * sums[n];
      }
      uint8_t* o = outBits + static_cast<size_t>(out.height - 1 - j) * out.rowSize;  // bottom-up
      if (c == 4) {
        for (size_t n = 0; n < total.size(); n += 4) PutPremultiplied(total.data() + n, area, o + n);
        continue;
      }
      for (size_t n = 0; n < total.size(); ++n) o[n] = static_cast<uint8_t>((total[n] + area / 2) / area);
    }
  }
};

// The size of a W x H picture fitted into size x size: never enlarged, the
// aspect kept to the nearest pixel, at least one pixel each way.
struct ThumbnailSize {
  uint32_t width;
  uint32_t height;
};
ThumbnailSize FitInto(uint32_t width, uint32_t height, uint32_t size) {
  if (width <= size && height <= size) return {width, height};
  // The longer side becomes `size`, the other its share of it, rounded.
  if (width >= height)
    return {size, static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{height} * size + width / 2) / width))};
  return {static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{width} * size + height / 2) / height)), size};
}

}  // namespace


bool ScaleToFit(const ::Dib& dib, uint32_t size, uint32_t threads, OwnedDib* out) {
  std::string error;
  if (size == 0 || !DibValid(dib, &error)) return false;
  const DibLayout in = LayoutOf(dib);
  const ThumbnailSize fit = FitInto(in.width, in.height, size);
  return ScaleTo(dib, fit.width, fit.height, threads, out);
}

bool ScaleTo(const ::Dib& dib, uint32_t width, uint32_t height, uint32_t threads, OwnedDib* out) {
  std::string error;
  if (width == 0 || height == 0 || !DibValid(dib, &error)) return false;
  const DibLayout in = LayoutOf(dib);
  const bool gray = GrayTable(dib);
  const ThumbnailSize fit{width, height};
  try {
    // A 32-bit picture stays one, with its colour table (what it says of
    // the picture's kind).
    const bool alpha = in.bitCount == 32;
    OwnedDib result = alpha ? NewDibLike(dib, fit.width, fit.height) : NewDib(fit.width, fit.height, gray ? 8 : 24);
    Scaler scaler{dib.bits, in, in.bitCount == 8 && !gray ? dib.info + 40 : nullptr, alpha ? 4u : gray ? 1u : 3u,
                  LayoutOf(result.View()), result.bits.data(), {}};
    scaler.columns.resize(fit.width);
    for (uint32_t i = 0; i < fit.width; ++i) scaler.columns[i] = SpanOf(i, in.width, fit.width);

    // Output rows in equal shares, one per thread; each thread reads the
    // source rows its own rows cover.
    const uint32_t parts = std::max(1u, std::min(threads, fit.height));
    std::vector<Scaler::Scratch> scratch;
    for (uint32_t p = 0; p < parts; ++p) scratch.push_back(scaler.MakeScratch());
    std::vector<std::thread> workers;
    auto share = [&](uint32_t p) {
      scaler.Rows(static_cast<uint32_t>(uint64_t{fit.height} * p / parts),
                  static_cast<uint32_t>(uint64_t{fit.height} * (p + 1) / parts), &scratch[p]);
    };
    uint32_t p = 1;
    try {
      for (; p < parts; ++p) workers.emplace_back(share, p);
    } catch (const std::system_error&) {
      // Fewer threads: this one takes the shares not started.
    }
    share(0);
    for (uint32_t rest = p; rest < parts; ++rest) share(rest);
    for (std::thread& w : workers) w.join();
    *out = std::move(result);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}
