// Benchmarks of the hot paths: the header summary of compressed files, tile
// decoding, the blend row functions and a whole GetPicture.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>

#include "bench/bench_data.h"
#include "composite/blend.h"
#include "plugin/exports.h"
#include "stream/memory_source.h"
#include "xcf/hierarchy.h"
#include "xcf/image.h"
#include "xcf/layer_tree.h"

using xcftest::Bytes;

namespace {

// Inputs are built once per process: some take seconds.
const Bytes& Cached(const std::string& key, Bytes (*make)()) {
  static std::map<std::string, Bytes> cache;
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, make()).first;
  return it->second;
}

// One RGBA layer of the given size and compression.
Bytes SingleLayer(uint32_t size, uint8_t compression) {
  xcftest::Image image{size, size, 0};
  image.compression = compression;
  xcftest::Layer layer{size, size, 1, "photo"};
  layer.pixels = tesselbench::PhotoLike(size, size, 4, 7);
  image.layers.push_back(layer);
  return xcftest::WriteXcf(image);
}

template <uint32_t Size, uint8_t Compression>
Bytes MakeSingle() {
  return SingleLayer(Size, Compression);
}

// GetPictureInfo of a compressed file: its time must not grow with the pixels.
void BM_PictureInfo(benchmark::State& state) {
  const bool bzip2 = state.range(0) != 0;
  const uint32_t size = static_cast<uint32_t>(state.range(1));
  std::string key = std::string(bzip2 ? "bz2-" : "gz-") + std::to_string(size);
  static std::map<std::string, Bytes> files;
  if (files.find(key) == files.end()) {
    Bytes plain = SingleLayer(size, 1);
    files[key] = bzip2 ? xcftest::Bzip2(plain) : xcftest::Gzip(plain);
  }
  const Bytes& file = files[key];
  for (auto _ : state) {
    PictureInfo info;
    int code = GetPictureInfo(reinterpret_cast<const char*>(file.data()), static_cast<int32_t>(file.size()), 1, &info);
    if (code != 0) state.SkipWithError("GetPictureInfo failed");
    benchmark::DoNotOptimize(info);
  }
  state.counters["file_MB"] = file.size() / 1e6;
}
BENCHMARK(BM_PictureInfo)
    ->ArgsProduct({{0, 1}, {256, 1024, 4096}})
    ->ArgNames({"bzip2", "size"})
    ->Unit(benchmark::kMicrosecond);

// The 4096 x 4096 RGBA layer, raw or RLE, read from memory as far as its
// layer tree.
struct LayerDocument {
  explicit LayerDocument(benchmark::State& state) : compression(static_cast<uint8_t>(state.range(0))) {
    const Bytes& file =
        Cached(compression ? "rle-4096" : "raw-4096", compression ? MakeSingle<4096, 1> : MakeSingle<4096, 0>);
    tessel::MemoryStreamOpen(static_cast<uint32_t>(file.size()), &stream, file.data());
    tessel::XcfImageCreate(stream, &image);
    if (tessel::XcfBuildLayerTree(image) != tessel::ResultCode::Ok) state.SkipWithError("tree");
  }
  ~LayerDocument() {
    tessel::XcfImageDestroy(&image);
    tessel::StreamDestroy(&stream);
  }
  uint8_t compression;
  tessel::ByteStream* stream = nullptr;
  tessel::XcfImage* image = nullptr;
};

// Decoding every tile of the layer.
void BM_DecodeTiles(benchmark::State& state) {
  LayerDocument doc(state);
  tessel::XcfLayer* layer = doc.image->layers;
  for (auto _ : state) {
    if (tessel::XcfLayerLoadPixels(doc.stream, layer, doc.compression) != tessel::ResultCode::Ok)
      state.SkipWithError("decode failed");
    state.PauseTiming();
    tessel::XcfHierarchyDestroy(&layer->hierarchy);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096 * 4096 * 4);
}
BENCHMARK(BM_DecodeTiles)->Arg(0)->Arg(1)->ArgName("rle")->Unit(benchmark::kMillisecond);

// Checking every tile of the layer without decoding it, as a picture does
// before it draws: the runs followed, the bytes they copy skipped.
void BM_CheckTiles(benchmark::State& state) {
  LayerDocument doc(state);
  if (tessel::XcfLayerPreparePixels(doc.stream, doc.image->layers, doc.compression) != tessel::ResultCode::Ok) {
    state.SkipWithError("prepare");
    return;
  }
  const tessel::XcfLevel* level = doc.image->layers->hierarchy->level;
  for (auto _ : state) {
    if (tessel::XcfLevelCheckRows(doc.stream, level, 0, UINT32_MAX) != tessel::ResultCode::Ok)
      state.SkipWithError("check");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096 * 4096 * 4);
}
BENCHMARK(BM_CheckTiles)->Arg(0)->Arg(1)->ArgName("rle")->Unit(benchmark::kMillisecond);

// The same bytes copied with memcpy, the ceiling for raw tiles.
void BM_Memcpy(benchmark::State& state) {
  const size_t bytes = 4096u * 4096 * 4;
  std::unique_ptr<uint8_t[]> a(new uint8_t[bytes]), b(new uint8_t[bytes]);
  std::memset(a.get(), 1, bytes);
  std::memset(b.get(), 2, bytes);
  for (auto _ : state) {
    std::memcpy(b.get(), a.get(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// memcpy into freshly allocated memory, as a decode must: the page faults of
// a new 64 MiB buffer are part of every layer's cost.
void BM_MemcpyFresh(benchmark::State& state) {
  const size_t bytes = 4096u * 4096 * 4;
  std::unique_ptr<uint8_t[]> a(new uint8_t[bytes]);
  std::memset(a.get(), 1, bytes);
  for (auto _ : state) {
    void* b = std::malloc(bytes);
    std::memcpy(b, a.get(), bytes);
    benchmark::DoNotOptimize(b);
    std::free(b);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}
BENCHMARK(BM_MemcpyFresh)->Unit(benchmark::kMillisecond);

// One row function over 4096 pixels: mode, target bytes, source bytes.
void BM_BlendRow(benchmark::State& state) {
  const uint32_t mode = static_cast<uint32_t>(state.range(0));
  const uint32_t bt = static_cast<uint32_t>(state.range(1));
  const uint32_t bs = static_cast<uint32_t>(state.range(2));
  const uint32_t n = 4096;
  const uint32_t type = bs == 1 ? 2 : bs == 2 ? 3 : bs == 3 ? 0 : 1;
  Bytes source = tesselbench::PhotoLike(n, 1, bs, 3);
  Bytes target = tesselbench::PhotoLike(n, 1, bt, 5);
  // Alphas all over the range, as in a soft-edged layer.
  for (uint32_t i = 0; i < n; ++i) {
    if (bs == 2 || bs == 4) source[i * bs + bs - 1] = static_cast<uint8_t>(i * 7);
    if (bt == 2 || bt == 4) target[i * bt + bt - 1] = static_cast<uint8_t>(255 - i % 64);
  }
  Bytes work = target;
  for (auto _ : state) {
    tessel::BlendRow(type, n, source.data(), 200, work.data(), bt, mode);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}

void BlendArguments(benchmark::internal::Benchmark* b) {
  const int pairs[8][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {3, 3}, {3, 4}, {4, 3}, {4, 4}};
  for (int mode = 0; mode < 22; ++mode) {
    if (mode == 1 || mode == 2) continue;
    for (auto& p : pairs) b->Args({mode, p[0], p[1]});
  }
  b->ArgNames({"mode", "bt", "bs"});
}
BENCHMARK(BM_BlendRow)->Apply(BlendArguments);

// Normal mode, RGBA over RGB, the common case of a picture: by opacity, and
// with alpha varying pixel by pixel or an opaque layer.
void BM_NormalOverRgb(benchmark::State& state) {
  const uint32_t opacity = static_cast<uint32_t>(state.range(0));
  const bool opaque = state.range(1) != 0;
  const uint32_t n = 4096;
  Bytes source = tesselbench::PhotoLike(n, 1, 4, 3);
  for (uint32_t i = 0; i < n; ++i) source[i * 4 + 3] = opaque ? 255 : static_cast<uint8_t>(i * 7);
  Bytes target = tesselbench::PhotoLike(n, 1, 3, 5);
  for (auto _ : state) {
    tessel::BlendRow(1, n, source.data(), opacity, target.data(), 3, tessel::kModeNormal);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_NormalOverRgb)->ArgsProduct({{200, 255}, {0, 1}})->ArgNames({"opacity", "opaque"});

// A whole GetPicture: 4096 x 4096, eight RLE RGBA layers, two masks, a group.
Bytes MakeLarge() { return xcftest::WriteXcf(tesselbench::LargeDocument()); }

void BM_GetPicture(benchmark::State& state) {
  const Bytes& file = Cached("large", MakeLarge);
  for (auto _ : state) {
    HLOCAL info = nullptr, bits = nullptr;
    int code = GetPicture(reinterpret_cast<const char*>(file.data()), static_cast<int32_t>(file.size()), 1, &info,
                          &bits, nullptr, 0);
    if (code != 0) state.SkipWithError("GetPicture failed");
    state.PauseTiming();
    LocalFree(info);
    LocalFree(bits);
    state.ResumeTiming();
  }
  state.counters["file_MB"] = file.size() / 1e6;
}
BENCHMARK(BM_GetPicture)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
