// A picture is the same whatever the number of threads it is made on: the
// same bitmap, the same result code, the same progress calls in the same
// order, for good files and damaged ones; a stop asked at any progress call
// stops it and leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "composite/workers.h"
#include "plugin/bitmap.h"
#include "platform/processors.h"
#include "stream/input.h"
#include "stream/memory_source.h"
#include "tests/support/local_handles.h"
#include "tests/support/picture.h"
#include "plugin/bitmap.h"
#include "tests/support/product_hooks.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

using namespace xcftest;

namespace {

// What a host sees of one call.
struct Outcome {
  int code = -1;
  Bytes header;
  Bytes bits;
  std::vector<std::pair<int32_t, int32_t>> progress;
  bool operator==(const Outcome& o) const {
    return code == o.code && header == o.header && bits == o.bits && progress == o.progress;
  }
};

struct Listener {
  Outcome* outcome;
  int stopAt;  // the progress call that answers "stop"; -1 for none
};

int TESSEL_CALL Listen(int32_t current, int32_t total, intptr_t userData) {
  auto* listener = reinterpret_cast<Listener*>(userData);
  listener->outcome->progress.emplace_back(current, total);
  return static_cast<int>(listener->outcome->progress.size()) - 1 == listener->stopAt ? 1 : 0;
}

// GetPicture from memory, with `threads` threads.
Outcome Render(const Bytes& file, uint32_t threads, int stopAt = -1) {
  Outcome outcome;
  Listener listener{&outcome, stopAt};
  tessel::ByteStream* stream = nullptr;
  tessel::MemorySink* sink = nullptr;
  tessel::XcfImage* image = nullptr;
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  tessel::ResultCode result = tessel::OpenInput(reinterpret_cast<const char*>(file.data()),
                                                static_cast<int32_t>(file.size()), 1, &stream, &sink, 0);
  if (result == tessel::ResultCode::Ok) result = tessel::XcfImageCreate(stream, &image);
  if (result == tessel::ResultCode::Ok) result = tessel::XcfLoad(image);
  if (result == tessel::ResultCode::Ok)
    result = tessel::BuildBitmapWith(image, &info, &bits, Listen, reinterpret_cast<intptr_t>(&listener),
                                     tessel::CompositeOptions{tessel::ViewerRequest(image->format), threads, true,
                                                              nullptr},
                                     nullptr);
  tessel::XcfImageDestroy(&image);
  tessel::CloseInput(&stream, &sink);
  outcome.code = tessel::MapResultToHost(result);
  if (result == tessel::ResultCode::Ok) {
    outcome.header = TakeHandle(info);
    outcome.bits = TakeHandle(bits);
  }
  return outcome;
}

// Pictures large enough for many bands and tile-row units: an opaque base
// decoded straight into the canvas (or, indexed, a base with alpha, which
// is not), a group of masked children in several modes, layers across the
// edges and across band boundaries.
Image Layered(uint32_t baseType) {
  const uint32_t width = 1300, height = 400;
  Image image{width, height, baseType};
  const uint32_t plain = baseType == 0 ? 0 : baseType == 1 ? 2 : 4;
  const uint32_t alpha = plain + 1;
  const uint32_t bpp = tessel::XcfBytesPerPixel(alpha);
  if (baseType == 2) {
    Bytes colours;
    for (int i = 0; i < 40; ++i) colours.insert(colours.end(), {uint8_t(i * 6), uint8_t(255 - i * 6), uint8_t(i * 3)});
    image.props.push_back(PropColormap(colours));
  }
  Layer group{900, 300, alpha, "group", {PropGroupItem(), PropOffsets(150, 37), PropOpacity(220)}};
  group.mask = Mask{900, 300, {PropOpacity(180)}, Pattern(900, 300, 1, 5)};
  Layer a{700, 250, alpha, "a", {PropItemPath({0, 0}), PropOffsets(100, 50), PropMode(3)}};
  a.pixels = Pattern(700, 250, bpp, 1);
  a.mask = Mask{700, 250, {}, Pattern(700, 250, 1, 2)};
  Layer b{1000, 200, alpha, "b", {PropItemPath({0, 1}), PropOffsets(-50, 120), PropMode(5), PropOpacity(150)}};
  b.pixels = Pattern(1000, 200, bpp, 3);
  Layer edge{500, 300, plain, "edge", {PropOffsets(1000, -60), PropMode(18)}};
  edge.pixels = Pattern(500, 300, tessel::XcfBytesPerPixel(plain), 4);
  Layer base{width, height, baseType == 2 ? alpha : plain, "base"};
  base.pixels = Pattern(width, height, tessel::XcfBytesPerPixel(base.type), 6);
  if (baseType == 2)
    for (size_t i = 1; i < base.pixels.size(); i += 2) base.pixels[i] = 255;
  image.layers = {group, a, b, edge, base};
  for (Layer& layer : image.layers)
    if (baseType == 2)
      for (size_t i = 0; i < layer.pixels.size(); i += tessel::XcfBytesPerPixel(layer.type)) layer.pixels[i] %= 40;
  return image;
}

std::vector<Sample> Files() {
  std::vector<Sample> files = Samples();
  for (const Sample& s : StressSamples())
    if (s.name.rfind("beyond-32-bit", 0) != 0) files.push_back(s);  // a 3 GiB bitmap natively
  for (uint32_t baseType : {0u, 1u, 2u}) {
    const Bytes xcf = WriteXcf(Layered(baseType));
    files.push_back({"layered-" + std::to_string(baseType) + ".xcf", xcf});
    files.push_back({"layered-" + std::to_string(baseType) + ".xcf.gz", Gzip(xcf)});
  }
  return files;
}

TEST(Threads, EveryCountMakesTheSamePicture) {
  const int64_t handles = LiveLocalHandles();
  int drawn = 0;
  for (const Sample& file : Files()) {
    const Outcome one = Render(file.bytes, 1);
    drawn += one.code == 0;
    for (uint32_t threads : {2u, 3u, 8u}) EXPECT_TRUE(Render(file.bytes, threads) == one) << file.name << ", " << threads;
  }
  EXPECT_GT(drawn, 20);
  EXPECT_EQ(LiveLocalHandles(), handles);
}

// Cut short or damaged anywhere, a file fails on many threads with the
// code and after the progress calls that one thread gives.
TEST(Threads, DamagedFilesFailAlikeOnEveryCount) {
  const Bytes xcf = WriteXcf(Layered(0));
  uint64_t state = 99;
  for (int i = 0; i < 40; ++i) {
    Bytes damaged = xcf;
    if (i % 2 == 0) {
      damaged.resize(xcf.size() * (i + 1) / 42);
    } else {
      for (int k = 0; k < 6; ++k) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        damaged[(state >> 33) % damaged.size()] ^= static_cast<uint8_t>(1 + (state >> 13) % 255);
      }
    }
    const Outcome one = Render(damaged, 1);
    for (uint32_t threads : {2u, 8u}) EXPECT_TRUE(Render(damaged, threads) == one) << "variant " << i << ", " << threads;
  }
}

TEST(Threads, AStopAtAnyProgressCallStopsAndLeavesNothing) {
  const Bytes xcf = WriteXcf(Layered(0));
  const Outcome whole = Render(xcf, 4);
  ASSERT_EQ(whole.code, 0);
  ASSERT_GT(whole.progress.size(), 3u);
  const int64_t handles = LiveLocalHandles();
  for (size_t stop = 0; stop < whole.progress.size(); ++stop) {
    const Outcome stopped = Render(xcf, 4, static_cast<int>(stop));
    EXPECT_EQ(stopped.code, 1) << stop;
    // The host heard of the entries up to its answer, and no more.
    EXPECT_EQ(stopped.progress, decltype(whole.progress)(whole.progress.begin(), whole.progress.begin() + stop + 1));
    EXPECT_EQ(LiveLocalHandles(), handles) << stop;
  }
}

// The processors are shared by every call at once: a call takes what the
// others leave (its own thread always), and gives it back when it ends.
TEST(Threads, CallsAtOnceShareTheProcessors) {
  const uint32_t processors = tessel::ProcessorsOfProcess();
  {
    const tessel::ThreadShare first(tessel::kMaxThreads, false);
    EXPECT_EQ(first.Threads(), std::min(processors, tessel::kMaxThreads));
    const tessel::ThreadShare second(tessel::kMaxThreads, false);
    EXPECT_EQ(second.Threads(), 1u);
    // A count of the caller's own is taken as it is, and counted.
    const tessel::ThreadShare exact(3, true);
    EXPECT_EQ(exact.Threads(), 3u);
  }
  const tessel::ThreadShare again(2, false);
  EXPECT_EQ(again.Threads(), std::min(processors, 2u));
}

// The host hears of the entries as the picture's rows are drawn, not all
// at the end: call i once (i + 1) / n of them are.
TEST(Threads, ProgressFollowsTheRowsDrawn) {
  Image image{200, 640, 0};
  for (uint8_t i = 0; i < 4; ++i) {
    Layer layer{200, 640, 0, "layer", {PropOpacity(200 + i)}};
    layer.pixels = Solid(200, 640, {uint8_t(10 + i), 20, 30});
    image.layers.push_back(layer);
  }
  const Bytes file = WriteXcf(image);
  struct Watch {
    tessel::ProgressHook hook;
    const Bytes* bits;
    uint32_t rowSize;
    std::vector<uint32_t> drawnAtCall;
  };
  Bytes bits(static_cast<size_t>(600) * 640, 0xA5);
  Watch watch{{[](tessel::ProgressHook* hook, int32_t, int32_t) {
                 auto* w = reinterpret_cast<Watch*>(hook);
                 uint32_t drawn = 0;
                 for (size_t row = 0; row < 640; ++row) drawn += (*w->bits)[row * w->rowSize] != 0xA5;
                 w->drawnAtCall.push_back(drawn);
                 return 1;
               }},
              &bits, 600, {}};
  tessel::ByteStream* stream = nullptr;
  tessel::XcfImage* document = nullptr;
  tessel::PixelBuffer* canvas = nullptr;
  ASSERT_EQ(tessel::MemoryStreamOpen(static_cast<uint32_t>(file.size()), &stream, file.data()), tessel::ResultCode::Ok);
  ASSERT_EQ(tessel::XcfImageCreate(stream, &document), tessel::ResultCode::Ok);
  ASSERT_EQ(tessel::PixelBufferNew(&canvas), tessel::ResultCode::Ok);
  ASSERT_EQ(tessel::PixelBufferWrap(canvas, 200, 3, 640, 600, bits.data()), tessel::ResultCode::Ok);
  ASSERT_EQ(tessel::XcfLoad(document), tessel::ResultCode::Ok);
  EXPECT_EQ(tessel::CompositeImageWith(document, canvas, &watch.hook,
                                       tessel::CompositeOptions{tessel::ViewerRequest(document->format), 1, false, nullptr}),
            tessel::ResultCode::Ok);
  tessel::PixelBufferRelease(&canvas);
  tessel::XcfImageDestroy(&document);
  tessel::StreamDestroy(&stream);
  ASSERT_EQ(watch.drawnAtCall.size(), 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_GE(watch.drawnAtCall[i] * 4, (i + 1) * 640u) << i;
    if (i < 3) {
      EXPECT_LT(watch.drawnAtCall[i], 640u) << i;
    }
  }
}

}  // namespace
