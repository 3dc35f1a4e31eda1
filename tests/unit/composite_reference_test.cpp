// The composition driver against a drawing path that follows the design to
// the letter: every group composited into a buffer of its full size,
// cleared, its children drawn into it through the mask step and BlendRow,
// and the buffer drawn like any layer. The driver draws groups into buffers
// that cover only what their children can mark; over thousands of small
// random layer trees the two must give the same pixels and the same codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "composite/blend.h"
#include "composite/composite.h"
#include "stream/memory_source.h"
#include "tests/support/picture.h"
#include "tests/support/print.h"
#include "tests/support/random.h"
#include "xcf/hierarchy.h"
#include "xcf/layer_tree.h"

using namespace tessel;
using xcftest::Bytes;

namespace {

// ---- The reference: the driver's steps as the design states them. -------

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

ResultCode ReferenceImage(XcfImage* image, PixelBuffer* canvas) {
  ResultCode result = XcfBuildLayerTree(image);
  if (result != ResultCode::Ok) return result;
  std::vector<LayerLoadEntry> entries(image->layerOffsets.count);
  uint32_t count = 0;
  for (XcfLayer* layer = image->layers; layer != nullptr; layer = layer->next) {
    result = XcfCollectLoadList(layer, image, entries.data(), &count);
    if (result != ResultCode::Ok) return result;
  }
  result = PixelBufferClear(canvas);
  if (result != ResultCode::Ok || count == 0) return result;
  uint32_t compression = 0;
  XcfGetCompression(image, &compression);
  for (uint32_t i = 0; i < count; ++i) {
    if (entries[i].loadPixels) result = XcfLayerLoadPixels(image->stream, entries[i].layer, compression);
    if (result == ResultCode::Ok && entries[i].loadMask)
      result = XcfLayerLoadMaskPixels(entries[i].layer, image->stream, compression);
    if (result != ResultCode::Ok) return result;
  }
  for (XcfLayer* layer = XcfLayerLastSibling(image->layers); layer != nullptr; layer = layer->prev) {
    if (!XcfLayerIsGroup(layer) && !XcfLayerHasPixels(layer)) continue;
    result = ReferenceLayer(layer, canvas, nullptr, image->baseType);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

// ---- Random layer trees. --------------------------------------------------

using xcftest::Random;

struct Node {
  xcftest::Layer layer;
  std::vector<Node> children;
};

Bytes RandomPixels(Random& random, uint32_t count) {
  Bytes out(count);
  // Few distinct values, so that alpha and indices land on both sides of
  // their thresholds and RLE finds runs.
  static const uint8_t kValues[] = {0, 0, 1, 2, 3, 64, 127, 128, 129, 200, 254, 255, 255};
  for (uint8_t& b : out) b = random.Pick(kValues);
  return out;
}

Node RandomNode(Random& random, uint32_t baseType, uint32_t depth, uint32_t* budget) {
  Node node;
  xcftest::Layer& layer = node.layer;
  const bool group = depth < 3 && random.Chance(35);
  layer.width = static_cast<uint32_t>(random.Between(1, group ? 12 : 8));
  layer.height = static_cast<uint32_t>(random.Between(1, group ? 10 : 7));
  // Layer types of the image's kind mostly, now and then another kind.
  static const uint32_t kTypes[3][2] = {{0, 1}, {2, 3}, {4, 5}};
  layer.type = random.Chance(90) ? kTypes[baseType][random.Below(2)] : random.Below(6);
  layer.props.push_back(xcftest::PropOffsets(random.Between(-7, 12), random.Between(-6, 10)));
  if (random.Chance(15)) layer.props.push_back(xcftest::PropVisible(0));
  static const uint32_t kOpacities[] = {255, 255, 255, 200, 128, 127, 100, 1, 0, 256, 300, 1000};
  if (random.Chance(60)) layer.props.push_back(xcftest::PropOpacity(random.Pick(kOpacities)));
  if (random.Chance(50)) {
    static const uint32_t kModes[] = {0, 0, 0, 3, 4, 5, 11, 13, 15, 18, 19, 21, 1, 2, 22, 24, 25, 26, 27, 30};
    layer.props.push_back(xcftest::PropMode(random.Pick(kModes)));
  }
  if (random.Chance(35)) {
    static const uint32_t kMaskOpacities[] = {255, 255, 128, 1, 100, 254, 200, 0, 300};
    xcftest::Mask mask{layer.width, layer.height, {}, RandomPixels(random, layer.width * layer.height)};
    if (random.Chance(80)) mask.props.push_back(xcftest::PropOpacity(random.Pick(kMaskOpacities)));
    layer.mask = mask;
  }
  if (group) {
    layer.props.push_back(xcftest::PropGroupItem());
    const uint32_t children = random.Below(4);
    for (uint32_t i = 0; i < children && *budget > 0; ++i) {
      --*budget;
      node.children.push_back(RandomNode(random, baseType, depth + 1, budget));
    }
  } else {
    layer.pixels = RandomPixels(random, layer.width * layer.height * XcfBytesPerPixel(layer.type));
  }
  return node;
}

// Pre-order, each child with the item path of its place.
void Flatten(Node& node, std::vector<int32_t> path, std::vector<xcftest::Layer>* out) {
  if (path.size() > 1) node.layer.props.push_back(xcftest::PropItemPath(path));
  out->push_back(node.layer);
  for (size_t i = 0; i < node.children.size(); ++i) {
    std::vector<int32_t> childPath = path;
    childPath.push_back(static_cast<int32_t>(i));
    Flatten(node.children[i], childPath, out);
  }
}

xcftest::Image RandomImage(Random& random) {
  const uint32_t baseType = random.Below(3);
  xcftest::Image image{static_cast<uint32_t>(random.Between(1, 10)), static_cast<uint32_t>(random.Between(1, 8)),
                       baseType};
  image.compression = static_cast<uint8_t>(random.Below(2));
  if (baseType == 2) image.props.push_back(xcftest::PropColormap(RandomPixels(random, 3 * 6)));
  uint32_t budget = 9;
  const uint32_t topLevel = 1 + random.Below(3);
  for (uint32_t i = 0; i < topLevel && budget > 0; ++i) {
    --budget;
    Node node = RandomNode(random, baseType, 0, &budget);
    Flatten(node, {static_cast<int32_t>(i)}, &image.layers);
  }
  return image;
}

struct Drawn {
  ResultCode code;
  Bytes pixels;
};

using Driver = ResultCode (*)(XcfImage*, PixelBuffer*);

Drawn Draw(const Bytes& file, uint32_t width, uint32_t height, uint32_t bytesPerPixel, Driver driver) {
  Drawn drawn{ResultCode::Ok, Bytes(static_cast<size_t>(width) * height * bytesPerPixel, 0xA5)};
  ByteStream* stream = nullptr;
  XcfImage* image = nullptr;
  PixelBuffer* canvas = nullptr;
  EXPECT_EQ(MemoryStreamOpen(static_cast<uint32_t>(file.size()), &stream, file.data()), ResultCode::Ok);
  EXPECT_EQ(XcfImageCreate(stream, &image), ResultCode::Ok);
  EXPECT_EQ(PixelBufferNew(&canvas), ResultCode::Ok);
  EXPECT_EQ(PixelBufferWrap(canvas, width, bytesPerPixel, height, static_cast<int32_t>(width * bytesPerPixel),
                            drawn.pixels.data()),
            ResultCode::Ok);
  drawn.code = driver(image, canvas);
  PixelBufferRelease(&canvas);
  XcfImageDestroy(&image);
  StreamDestroy(&stream);
  return drawn;
}

ResultCode Product(XcfImage* image, PixelBuffer* canvas) { return CompositeImage(image, canvas, nullptr); }

TEST(CompositeReference, RandomLayerTreesDrawAsTheDesignDrawsThem) {
  Random random{0x9E3779B97F4A7C15ull};
  const int kTrees = 3000;
  int drawn = 0, refused = 0, partialGroupMasks = 0;
  for (int tree = 0; tree < kTrees; ++tree) {
    const xcftest::Image image = RandomImage(random);
    const Bytes file = xcftest::WriteXcf(image);
    const uint32_t bpp = image.baseType == 0 ? 3 : 1;
    const Drawn expected = Draw(file, image.width, image.height, bpp, ReferenceImage);
    const Drawn actual = Draw(file, image.width, image.height, bpp, Product);
    ASSERT_EQ(actual.code, expected.code) << "tree " << tree;
    if (expected.code == ResultCode::Ok) {
      ASSERT_EQ(actual.pixels, expected.pixels) << "tree " << tree;
      ++drawn;
    } else {
      ++refused;
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
  std::printf("%d trees: %d drawn alike, %d refused alike; %d groups with a mask between 0 and 255\n", kTrees,
              drawn, refused, partialGroupMasks);
  // The trees cover what the two paths could differ on.
  EXPECT_GT(drawn, kTrees / 2);
  EXPECT_GT(refused, kTrees / 20);
  EXPECT_GT(partialGroupMasks, kTrees / 10);
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
