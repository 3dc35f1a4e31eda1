// The composition driver against a literal path: the load list walked as
// the tree holds it (every layer's children, visible ones, in pre-order),
// every entry's pixels and mask loaded whole, one after another, the host
// told after each; then every group composited into a buffer of its full
// size, cleared, its children drawn into it through the mask step and
// BlendRow, and the buffer drawn like any layer (an ordinary layer draws
// its own pixels alone, whatever lies under it in the tree). The driver
// checks the tiles first and then decodes, band by band, only the rows
// each band shows, into group buffers that cover the band and only what
// the children can mark. Over thousands of layer trees made from random
// item paths (of every shape the paths can take), whole and damaged, on
// one thread and on several, and stopped at every progress call, the two
// must give the same pixels, the same codes and the same progress calls.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "composite/mask_step.h"
#include "composite/blend.h"
#include "composite/composite.h"
#include "stream/memory_source.h"
#include "tests/support/picture.h"
#include "tests/support/print.h"
#include "tests/support/random.h"
#include "tests/support/random_tree.h"
#include "xcf/hierarchy.h"
#include "xcf/layer_tree.h"

using namespace tessel;
using xcftest::Bytes;

namespace {

// ---- The reference: the driver's steps, literally. ------------------------

struct Origin {
  int64_t x, y;
};

bool MaskInMemory(const XcfChannel* mask) {
  return mask != nullptr && mask->hierarchy != nullptr && mask->hierarchy->level != nullptr &&
         mask->hierarchy->level->pixels != nullptr;
}

ResultCode ReferenceLayer(XcfLayer* layer, PixelBuffer* target, const Origin* origin, int32_t baseType) {
  const bool group = XcfLayerIsGroup(layer) != 0;
  if (group && layer->firstChild == nullptr) return ResultCode::Ok;
  if (!group && layer->hierarchy == nullptr) return ResultCode::NotReady;
  XcfLayerInfo info;
  ResultCode result = XcfLayerGetInfo(layer, &info);
  if (result != ResultCode::Ok) return result;
  int64_t x = info.offsetX;
  int64_t y = info.offsetY;
  if (origin != nullptr) {
    x -= origin->x;
    y -= origin->y;
  }
  uint32_t W, H, bt;
  result = PixelBufferGetSize(target, &W, &H, &bt);
  if (result != ResultCode::Ok) return result;
  const int64_t w = info.width, h = info.height;
  if ((info.flags & kLayerVisible) == 0 || info.opacity == 0 || x >= W || y >= H || x + w <= 0 || y + h <= 0)
    return ResultCode::Ok;
  const int64_t skipX = x < 0 ? -x : 0, dstX = x < 0 ? 0 : x;
  const int64_t skipY = y < 0 ? -y : 0, dstY = y < 0 ? 0 : y;
  const auto columns = static_cast<uint32_t>(std::min<int64_t>(x + w, W) - dstX);
  const auto rows = static_cast<uint32_t>(std::min<int64_t>(y + h, H) - dstY);

  // Groups are composited with alpha (indexed with alpha in an indexed
  // image), as the driver does.
  uint32_t type = info.type;
  if (group) type = baseType == kBaseIndexed ? kLayerIndexedA : (type | 1u);
  const uint32_t bs = XcfBytesPerPixel(type);
  if (bs == 0) return ResultCode::InvalidArgument;
  PixelBuffer* buffer = nullptr;
  struct Release {
    PixelBuffer** b;
    ~Release() { PixelBufferRelease(b); }
  } release{&buffer};
  if (group) {
    result = PixelBufferNew(&buffer);
    if (result == ResultCode::Ok) result = PixelBufferCreate(buffer, bs, info.width, info.height);
    if (result == ResultCode::Ok) result = PixelBufferClear(buffer);
    if (result != ResultCode::Ok) return result;
    const Origin own{info.offsetX, info.offsetY};
    for (XcfLayer* child = XcfLayerLastSibling(layer->firstChild); child != nullptr; child = child->prev) {
      if (!XcfLayerIsGroup(child) && !XcfLayerHasPixels(child)) continue;
      result = ReferenceLayer(child, buffer, &own, baseType);
      if (result != ResultCode::Ok) return result;
    }
  }
  const XcfChannel* mask = layer->mask;
  XcfChannelInfo maskInfo{};
  const bool masked = mask != nullptr && (info.flags & kLayerApplyMask) != 0 && MaskInMemory(mask) &&
                      XcfChannelGetInfo(mask, &maskInfo) == ResultCode::Ok && maskInfo.opacity > 0;
  // A mask on a layer without alpha acts on the type with alpha, as in the driver.
  const bool widen = masked && bs != 2 && bs != 4;
  const uint32_t maskedBytes = widen ? bs + 1 : bs;
  std::vector<uint8_t> widened(static_cast<size_t>(maskedBytes) * columns);
  std::vector<uint8_t> scratch(static_cast<size_t>(maskedBytes) * columns);
  for (uint32_t i = 0; i < rows; ++i) {
    const auto r = static_cast<uint32_t>(skipY + i);
    const uint8_t* source = group ? PixelBufferRow(buffer, r) : XcfHierarchyRow(layer->hierarchy, r);
    uint8_t* row = PixelBufferRow(target, static_cast<uint32_t>(dstY + i));
    if (source == nullptr || row == nullptr) return ResultCode::Unsupported;
    source += static_cast<size_t>(bs) * static_cast<size_t>(skipX);
    if (masked) {
      const uint8_t* maskRow = XcfChannelRow(mask, r);
      if (maskRow == nullptr) return ResultCode::Unsupported;
      if (widen) {
        for (uint32_t c = 0; c < columns; ++c) {
          std::copy(source + c * bs, source + (c + 1) * bs, &widened[c * maskedBytes]);
          widened[c * maskedBytes + bs] = 255;
        }
        source = widened.data();
      }
      result = ApplyMaskRow(maskedBytes, source, scratch.data(), maskRow + skipX, maskInfo.opacity, columns);
      if (result != ResultCode::Ok) return result;
      source = scratch.data();
    }
    result = BlendRow(widen ? type + 1 : type, columns, source, info.opacity, row + static_cast<size_t>(bt) * dstX, bt,
                      info.mode);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

// The load list: a visible layer with opacity, then its children, whatever
// kind of layer it is; its mask read and its size checked.
ResultCode ReferenceCollect(XcfLayer* layer, XcfImage* image, std::vector<LayerLoadEntry>* entries) {
  XcfLayerInfo info;
  ResultCode result = XcfLayerGetInfo(layer, &info);
  if (result != ResultCode::Ok) return result;
  if ((info.flags & kLayerVisible) == 0 || info.opacity == 0) return ResultCode::Ok;
  LayerLoadEntry entry{layer, (info.flags & kLayerGroup) ? 0u : 1u, 0, kNoEntry, 0, 1};
  if ((info.flags & kLayerHasMask) && (info.flags & kLayerApplyMask)) {
    result = XcfLayerReadMask(image->stream, layer);
    if (result != ResultCode::Ok) return result;
    if (layer->mask == nullptr) return ResultCode::NotReady;
    XcfChannelInfo maskInfo;
    result = XcfChannelGetInfo(layer->mask, &maskInfo);
    if (result != ResultCode::Ok) return result;
    entry.loadMask = maskInfo.opacity > 0 ? 1 : 0;
  }
  entries->push_back(entry);
  for (XcfLayer* child = layer->firstChild; child != nullptr; child = child->next) {
    result = ReferenceCollect(child, image, entries);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

ResultCode ReferenceImage(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress) {
  ResultCode result = XcfBuildLayerTree(image);
  if (result != ResultCode::Ok) return result;
  std::vector<LayerLoadEntry> entries;
  for (XcfLayer* layer = image->layers; layer != nullptr; layer = layer->next) {
    result = ReferenceCollect(layer, image, &entries);
    if (result != ResultCode::Ok) return result;
  }
  const auto count = static_cast<uint32_t>(entries.size());
  result = PixelBufferClear(canvas);
  if (result != ResultCode::Ok || count == 0) return result;
  uint32_t compression = 0;
  XcfGetCompression(image, &compression);
  for (uint32_t i = 0; i < count; ++i) {
    if (entries[i].loadPixels) result = XcfLayerLoadPixels(image->stream, entries[i].layer, compression);
    if (result == ResultCode::Ok && entries[i].loadMask)
      result = XcfLayerLoadMaskPixels(entries[i].layer, image->stream, compression);
    if (result != ResultCode::Ok) return result;
    if (progress != nullptr && progress->function(progress, static_cast<int32_t>(i), static_cast<int32_t>(count - 1)) == 0)
      return ResultCode::Cancelled;
  }
  for (XcfLayer* layer = XcfLayerLastSibling(image->layers); layer != nullptr; layer = layer->prev) {
    if (!XcfLayerIsGroup(layer) && !XcfLayerHasPixels(layer)) continue;
    result = ReferenceLayer(layer, canvas, nullptr, image->baseType);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

using xcftest::kShapeNames;
using xcftest::kShapes;
using xcftest::kUnderLayer;
using xcftest::Random;
using xcftest::RandomImage;

// What a host sees of one composition.
struct Drawn {
  ResultCode code;
  Bytes pixels;
  std::vector<std::pair<int32_t, int32_t>> calls;
  bool operator==(const Drawn& o) const {
    return code == o.code && calls == o.calls && (code != ResultCode::Ok || pixels == o.pixels);
  }
};

std::string Describe(const Drawn& drawn) {
  return "code " + std::to_string(static_cast<int>(drawn.code)) + ", " + std::to_string(drawn.calls.size()) +
         " progress calls";
}

// A progress hook that records its calls and answers "stop" at one of them.
struct Recorder {
  ProgressHook hook;
  Drawn* drawn;
  int stopAt;  // -1: never
};

int Record(ProgressHook* hook, int32_t index, int32_t last) {
  auto* recorder = reinterpret_cast<Recorder*>(hook);
  recorder->drawn->calls.emplace_back(index, last);
  return static_cast<int>(recorder->drawn->calls.size()) - 1 == recorder->stopAt ? 0 : 1;
}

using Driver = ResultCode (*)(XcfImage*, PixelBuffer*, ProgressHook*, uint32_t threads);

ResultCode Reference(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress, uint32_t) {
  return ReferenceImage(image, canvas, progress);
}

ResultCode Product(XcfImage* image, PixelBuffer* canvas, ProgressHook* progress, uint32_t threads) {
  ResultCode result = XcfLoad(image);
  if (result != ResultCode::Ok) return result;
  return CompositeImageWith(image, canvas, progress, CompositeOptions{ViewerRequest(image->format), threads, false, nullptr});
}

Drawn Draw(const Bytes& file, const xcftest::Image& shape, Driver driver, uint32_t threads = 1, int stopAt = -1) {
  const uint32_t bpp = shape.baseType == 0 ? 3 : 1;
  Drawn drawn{ResultCode::Ok, Bytes(static_cast<size_t>(shape.width) * shape.height * bpp, 0xA5), {}};
  Recorder recorder{{Record}, &drawn, stopAt};
  ByteStream* stream = nullptr;
  XcfImage* image = nullptr;
  PixelBuffer* canvas = nullptr;
  EXPECT_EQ(MemoryStreamOpen(static_cast<uint32_t>(file.size()), &stream, file.data()), ResultCode::Ok);
  EXPECT_EQ(XcfImageCreate(stream, &image), ResultCode::Ok);
  EXPECT_EQ(PixelBufferNew(&canvas), ResultCode::Ok);
  EXPECT_EQ(PixelBufferWrap(canvas, shape.width, bpp, shape.height, static_cast<int32_t>(shape.width * bpp),
                            drawn.pixels.data()),
            ResultCode::Ok);
  Reason reason{};
  stream->reason = &reason;
  drawn.code = driver(image, canvas, &recorder.hook, threads);
  // Every refusal of the product says why.
  if (driver == Product) {
    EXPECT_TRUE(drawn.code == ResultCode::Ok || ReasonKept(&reason)) << static_cast<int>(drawn.code);
  }
  PixelBufferRelease(&canvas);
  XcfImageDestroy(&image);
  StreamDestroy(&stream);
  return drawn;
}

// ---- Damage where it matters: in the pixels' records. ---------------------

// Where a level's records lie in a file: the hierarchy's bytes per pixel
// and the level's first tile offset, by their positions in the file.
struct LevelRecords {
  uint32_t bppAt;
  uint32_t firstTileAt;
  uint32_t tiles;
};

void StoreU32(Bytes* bytes, uint32_t at, uint32_t value) {
  if (at + 4 <= bytes->size()) StoreU32BE(bytes->data() + at, value);
}

// The levels of every layer and mask of a sound file, found by reading it.
std::vector<LevelRecords> FindLevels(const Bytes& file) {
  std::vector<LevelRecords> levels;
  ByteStream* stream = nullptr;
  XcfImage* image = nullptr;
  MemoryStreamOpen(static_cast<uint32_t>(file.size()), &stream, file.data());
  XcfImageCreate(stream, &image);
  if (XcfBuildLayerTree(image) == ResultCode::Ok) {
    std::vector<XcfLayer*> pending{image->layers};
    while (!pending.empty()) {
      XcfLayer* layer = pending.back();
      pending.pop_back();
      for (; layer != nullptr; layer = layer->next) {
        pending.push_back(layer->firstChild);
        auto note = [&](const XcfHierarchy* h, uint32_t at) {
          const uint32_t tiles = ((h->width + 63) / 64) * ((h->height + 63) / 64);
          levels.push_back(LevelRecords{at + 8, h->levelOffset + 8, tiles});
        };
        if (layer->hierarchyOffset != 0 && XcfLayerPreparePixels(stream, layer, 0) == ResultCode::Ok)
          note(layer->hierarchy, layer->hierarchyOffset);
        if (layer->maskOffset != 0 && XcfLayerPrepareMaskPixels(layer, stream, 0) == ResultCode::Ok)
          note(layer->mask->hierarchy, layer->mask->hierarchyOffset);
      }
    }
  }
  XcfImageDestroy(&image);
  StreamDestroy(&stream);
  return levels;
}

// A tile that runs off the end of the data, or lies beyond it.
void DamageTile(Random& random, const LevelRecords& level, Bytes* file) {
  const uint32_t tile = random.Below(level.tiles);
  const auto size = static_cast<uint32_t>(file->size());
  StoreU32(file, level.firstTileAt + 4 * tile, random.Chance(20) ? size + 1 : size - random.Below(4));
}

// A hierarchy that disagrees with its layer, or a level whose tile list
// ends before its tiles do.
void DamageRecord(Random& random, const LevelRecords& level, Bytes* file) {
  if (random.Chance(50)) {
    StoreU32(file, level.bppAt, 5 + random.Below(3));
  } else {
    StoreU32(file, level.firstTileAt + 4 * random.Below(level.tiles), 0);
  }
}

// Damaged variants of a file: cut short; a damaged tile in one level; in
// two levels (in either order of the file and of the drawing); a damaged
// tile in one level and a damaged record in another.
std::vector<Bytes> Damaged(Random& random, const Bytes& file) {
  std::vector<Bytes> out;
  Bytes cut(file.begin(), file.begin() + static_cast<long>(file.size() / 4 + random.Below(static_cast<uint32_t>(file.size() * 3 / 4))));
  out.push_back(cut);
  const std::vector<LevelRecords> levels = FindLevels(file);
  if (levels.empty()) return out;
  auto any = [&]() -> const LevelRecords& { return levels[random.Below(static_cast<uint32_t>(levels.size()))]; };
  Bytes one = file;
  DamageTile(random, any(), &one);
  out.push_back(one);
  Bytes two = file;
  DamageTile(random, any(), &two);
  DamageTile(random, any(), &two);
  out.push_back(two);
  Bytes record = file;
  DamageTile(random, any(), &record);
  DamageRecord(random, any(), &record);
  out.push_back(record);
  return out;
}

TEST(CompositeReference, RandomItemPathTreesDrawAsTheLiteralPathDraws) {
  Random random{0x9E3779B97F4A7C15ull};
  const int kTrees = 3000;
  int drawn = 0, refused = 0, partialGroupMasks = 0, damaged = 0, damagedRefused = 0, cancels = 0, large = 0;
  uint32_t shapes[kShapes] = {};
  for (int tree = 0; tree < kTrees; ++tree) {
    const xcftest::Image image = RandomImage(random, shapes);
    const Bytes file = xcftest::WriteXcf(image);
    large += image.width > 64 || image.height > 64;
    const Drawn expected = Draw(file, image, Reference);
    for (uint32_t threads : {1u, 3u}) {
      const Drawn product = Draw(file, image, Product, threads);
      ASSERT_TRUE(product == expected) << "tree " << tree << ", " << threads << " threads: " << Describe(product)
                                       << ", literally " << Describe(expected);
    }
    if (expected.code == ResultCode::Ok) {
      ++drawn;
    } else {
      ++refused;
    }
    // Stopped at each progress call in turn.
    for (int stop = 0; stop < static_cast<int>(expected.calls.size()); ++stop, ++cancels)
      ASSERT_TRUE(Draw(file, image, Product, 2, stop) == Draw(file, image, Reference, 1, stop))
          << "tree " << tree << ", stop at " << stop;
    for (const Bytes& variant : Damaged(random, file)) {
      const Drawn reference = Draw(variant, image, Reference);
      const Drawn product = Draw(variant, image, Product, 1 + tree % 3);
      ASSERT_TRUE(product == reference) << "tree " << tree << ", damaged " << damaged << ": " << Describe(product)
                                        << ", literally " << Describe(reference);
      ++damaged;
      damagedRefused += reference.code != ResultCode::Ok;
    }
    for (const xcftest::Layer& layer : image.layers) {
      bool groupItem = false;
      for (const xcftest::Property& p : layer.props) groupItem |= p.id == 29;
      if (!groupItem || !layer.mask || layer.mask->props.empty()) continue;
      const Bytes& opacity = layer.mask->props[0].payload;
      const uint32_t value = (opacity[0] << 24) | (opacity[1] << 16) | (opacity[2] << 8) | opacity[3];
      if (value > 0 && value < 255) ++partialGroupMasks;
    }
  }
  std::printf(
      "%d trees (%d of several tile rows): %d drawn alike, %d refused alike; %d damaged variants, %d of them refused, "
      "all alike; %d stops at a progress call, all alike; %d groups with a mask between 0 and 255\nlayers by the "
      "shape of their item path:",
      kTrees, large, drawn, refused, damaged, damagedRefused, cancels, partialGroupMasks);
  for (int shape = 0; shape < kShapes; ++shape) std::printf("%s %s %u", shape ? "," : "", kShapeNames[shape], shapes[shape]);
  std::printf("\n");
  // The trees cover what the two paths could differ on.
  EXPECT_GT(drawn, kTrees / 2);
  EXPECT_GT(refused, kTrees / 20);
  EXPECT_GT(large, kTrees / 20);
  EXPECT_GT(damagedRefused, damaged / 2);
  EXPECT_GT(cancels, kTrees);
  EXPECT_GT(partialGroupMasks, kTrees / 10);
  // Every shape a path can take, drawn or refused, many times over.
  for (int shape = 0; shape < kShapes; ++shape) EXPECT_GT(shapes[shape], 20u) << kShapeNames[shape];
  EXPECT_GT(shapes[kUnderLayer], static_cast<uint32_t>(kTrees / 10));
}

// The cases that showed the difference first, through GetPicture.
TEST(CompositeReference, AGroupMaskBetweenNoneAndFullTintsTheEmptyPartOfTheGroup) {
  xcftest::Image image{4, 1, 0};
  xcftest::Layer red{1, 1, 1, "red", {xcftest::PropItemPath({0, 0})}, {255, 0, 0, 255}};
  xcftest::Layer group{4, 1, 1, "group", {xcftest::PropGroupItem()}};
  group.mask = xcftest::Mask{4, 1, {xcftest::PropOpacity(128)}, Bytes(4, 255)};
  xcftest::Layer white{4, 1, 0, "white", {}, xcftest::Solid(4, 1, {255, 255, 255})};
  image.layers = {group, red, white};
  xcftest::Picture p = xcftest::Decode(image);
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.At(0, 0), (Bytes{255, 0, 0}));
  for (uint32_t x = 1; x < 4; ++x) EXPECT_EQ(p.At(x, 0), (Bytes{127, 127, 127})) << x;

  // Indexed: the empty part of the group becomes index 0 where the masked
  // alpha passes the threshold.
  xcftest::Image indexed{4, 1, 2, "v001", {xcftest::PropColormap({0, 0, 0, 9, 9, 9, 200, 0, 0})}};
  xcftest::Layer one{1, 1, 4, "one", {xcftest::PropItemPath({0, 0})}, {1}};
  xcftest::Layer indexedGroup{4, 1, 1, "group", {xcftest::PropGroupItem()}};
  indexedGroup.mask = xcftest::Mask{4, 1, {xcftest::PropOpacity(200)}, Bytes(4, 255)};
  xcftest::Layer two{4, 1, 4, "two", {}, Bytes(4, 2)};
  indexed.layers = {indexedGroup, one, two};
  xcftest::Picture q = xcftest::Decode(indexed);
  ASSERT_EQ(q.code, 0);
  EXPECT_EQ(q.At(0, 0), Bytes{1});
  for (uint32_t x = 1; x < 4; ++x) EXPECT_EQ(q.At(x, 0), Bytes{0}) << x;
}

TEST(CompositeReference, AGroupOrChildThatCannotBeBlendedIsRefusedWhereverItLies) {
  // A group of mode 30 whose only child is hidden.
  xcftest::Image hidden{4, 4, 0};
  hidden.layers = {{4, 4, 1, "group", {xcftest::PropGroupItem(), xcftest::PropMode(30)}},
                   {2, 2, 0, "child", {xcftest::PropItemPath({0, 0}), xcftest::PropVisible(0)}, Bytes(12, 9)}};
  EXPECT_EQ(xcftest::Decode(hidden).code, 8);
  // A 10-wide group on a 4-wide canvas whose child, of opacity 300, lies in
  // the group beyond the canvas.
  xcftest::Image wide{4, 2, 0};
  wide.layers = {{10, 2, 1, "group", {xcftest::PropGroupItem()}},
                 {2, 2, 0, "child", {xcftest::PropItemPath({0, 0}), xcftest::PropOffsets(7, 0),
                                     xcftest::PropOpacity(300)}, Bytes(12, 9)}};
  EXPECT_EQ(xcftest::Decode(wide).code, 8);
  // The same child beyond the group's own edge is never drawn: no refusal.
  wide.layers[1].props[1] = xcftest::PropOffsets(11, 0);
  EXPECT_EQ(xcftest::Decode(wide).code, 0);
}

}  // namespace
