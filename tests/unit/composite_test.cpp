// Flattening whole documents: clipping, groups, masks, progress, and the
// bitmap the host receives.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include <chrono>

#include "composite/mask_step.h"
#include "composite/blend.h"
#include "composite/composite.h"
#include "plugin/bitmap.h"
#include "tests/support/document.h"
#include "tests/support/local_handles.h"
#include "tests/support/picture.h"
#include "xcf/layer_tree.h"

using namespace tessel;
using namespace xcftest;

namespace {

Layer Solid(uint32_t w, uint32_t h, Bytes pixel, std::vector<Property> props = {}) {
  uint32_t type = pixel.size() == 1 ? 2 : pixel.size() == 2 ? 3 : pixel.size() == 3 ? 0 : 1;
  Layer layer{w, h, type, "solid", props};
  layer.pixels = xcftest::Solid(w, h, pixel);
  return layer;
}

Image Canvas(uint32_t w, uint32_t h, std::vector<Layer> layers, uint32_t baseType = 0) {
  Image image{w, h, baseType};
  image.layers = std::move(layers);
  return image;
}

// Each pixel of a row as one string, e.g. "..X" with marks per colour.
std::string Row(const Picture& p, uint32_t y) {
  std::string out;
  for (uint32_t x = 0; x < p.width; ++x) {
    Bytes px = p.At(x, y);
    out += px == Bytes{0, 0, 0} ? '.' : px == Bytes{255, 0, 0} ? 'R' : px == Bytes{0, 0, 255} ? 'B' : '?';
  }
  return out;
}

class Composite : public ::testing::Test {
 protected:
  void SetUp() override { before_ = LiveLocalHandles(); }
  void TearDown() override { EXPECT_EQ(LiveLocalHandles(), before_); }

 private:
  int64_t before_ = 0;
};

TEST_F(Composite, ClipsOnEverySideAndSkipsWhatLiesOutside) {
  Layer big = Solid(7, 7, {255, 0, 0}, {PropOffsets(-2, -1)});
  Picture p = Decode(Canvas(4, 3, {big}));
  ASSERT_EQ(p.code, 0);
  for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(Row(p, y), "RRRR");
  // Partly outside on the right and bottom, wholly outside, and negative.
  Picture q = Decode(Canvas(4, 3,
                            {Solid(3, 3, {255, 0, 0}, {PropOffsets(2, 1)}), Solid(2, 2, {0, 0, 255}, {PropOffsets(4, 0)}),
                             Solid(2, 2, {0, 0, 255}, {PropOffsets(0, -2)}), Solid(2, 2, {0, 0, 255}, {PropOffsets(-3, 1)})}));
  ASSERT_EQ(q.code, 0);
  EXPECT_EQ(Row(q, 0), "....");
  EXPECT_EQ(Row(q, 1), "..RR");
  EXPECT_EQ(Row(q, 2), "..RR");
}

TEST_F(Composite, NegativeOffsetsSkipTheFirstColumnsAndRows) {
  Layer layer{3, 3, 0, "ramp"};
  for (uint8_t i = 0; i < 9; ++i) layer.pixels.insert(layer.pixels.end(), {static_cast<uint8_t>(i * 10), 0, 0});
  layer.props = {PropOffsets(-1, -2)};
  Picture p = Decode(Canvas(3, 2, {layer}));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.At(0, 0), (Bytes{70, 0, 0}));
  EXPECT_EQ(p.At(1, 0), (Bytes{80, 0, 0}));
  EXPECT_EQ(p.At(2, 0), (Bytes{0, 0, 0}));
  EXPECT_EQ(p.At(0, 1), (Bytes{0, 0, 0}));
}

TEST_F(Composite, SemiTransparentLayersDarkenTowardsBlack) {
  Picture p = Decode(Canvas(1, 1, {Solid(1, 1, {200, 100, 50, 128})}));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.At(0, 0), (Bytes{100, 50, 25}));
}

// A group at `offset` holding `children`, and the layers with their paths.
std::vector<Layer> Group(std::vector<int32_t> path, int32_t x, int32_t y, uint32_t w, uint32_t h,
                         std::vector<Property> extra = {}) {
  std::vector<Property> props = {PropGroupItem(), PropOffsets(x, y)};
  if (!path.empty()) props.push_back(PropItemPath(path));
  props.insert(props.end(), extra.begin(), extra.end());
  return {Layer{w, h, 1, "group", props}};
}

TEST_F(Composite, NestedGroupsSubtractOnlyTheirOwnOffsets) {
  // A layer at (3, 0) in a group at (3, 0) in a group at (2, 0): column 3.
  std::vector<Layer> layers = Group({}, 2, 0, 8, 1);
  layers.push_back(Group({0, 0}, 3, 0, 6, 1)[0]);
  layers.push_back(Solid(1, 1, {255, 0, 0}, {PropItemPath({0, 0, 0}), PropOffsets(3, 0)}));
  Picture p = Decode(Canvas(8, 1, layers));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(Row(p, 0), "...R....");
}

TEST_F(Composite, ChildrenAreCutAtTheGroupEdgeAndTheUpperOneCovers) {
  std::vector<Layer> layers = Group({}, 1, 0, 3, 2);
  layers.push_back(Solid(1, 2, {0, 0, 255}, {PropItemPath({0, 0}), PropOffsets(2, 0)}));
  layers.push_back(Solid(6, 1, {255, 0, 0}, {PropItemPath({0, 1}), PropOffsets(0, 0)}));
  Picture p = Decode(Canvas(6, 2, layers));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(Row(p, 0), ".RBR..");
  EXPECT_EQ(Row(p, 1), "..B...");
}

TEST_F(Composite, InvisibleAndEmptyGroupsDrawNothing) {
  std::vector<Layer> layers = Group({}, 0, 0, 2, 1, {PropVisible(0)});
  layers.push_back(Solid(2, 1, {255, 0, 0}, {PropItemPath({0, 0})}));
  layers.push_back(Group({}, 0, 0, 2, 1)[0]);  // no children
  Picture p = Decode(Canvas(2, 1, layers));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(Row(p, 0), "..");
}

// A 4 x 1 layer of the given pixel with a mask of values 0, 85, 170, 255.
Layer MaskedLayer(Bytes pixel, uint32_t maskOpacity) {
  Layer layer = Solid(4, 1, pixel);
  layer.mask = xcftest::Mask{4, 1, {PropOpacity(maskOpacity)}, {0, 85, 170, 255}};
  return layer;
}

TEST_F(Composite, MasksFoldIntoAlphaByTheirOpacity) {
  Picture full = Decode(Canvas(4, 1, {MaskedLayer({200, 200, 200, 200}, 255)}));
  ASSERT_EQ(full.code, 0);
  // Alpha = D(m * 200): 0, 66, 133, 200; over black the colour becomes D(200 * alpha).
  EXPECT_EQ(full.At(0, 0)[0], 0);
  EXPECT_EQ(full.At(1, 0)[0], 51);
  EXPECT_EQ(full.At(2, 0)[0], 104);
  EXPECT_EQ(full.At(3, 0)[0], 156);
  Picture off = Decode(Canvas(4, 1, {MaskedLayer({200, 200, 200, 200}, 0)}));
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(off.At(x, 0)[0], 156);  // as if unmasked
  Picture half = Decode(Canvas(4, 1, {MaskedLayer({200, 200, 200, 200}, 128)}));
  // Alpha = D(200 * 127 + m * 128): 99 for m = 0, 227 for m = 255.
  EXPECT_EQ(half.At(0, 0)[0], 77);
  EXPECT_EQ(half.At(3, 0)[0], 178);
}

TEST_F(Composite, AMaskActsAsTheAlphaOfALayerWithoutOne) {
  Picture rgb = Decode(Canvas(4, 1, {MaskedLayer({200, 100, 50}, 255)}));
  ASSERT_EQ(rgb.code, 0);
  EXPECT_EQ(rgb.At(0, 0), (Bytes{0, 0, 0}));
  EXPECT_EQ(rgb.At(1, 0), (Bytes{66, 33, 16}));  // alpha 85: D(c * 85)
  EXPECT_EQ(rgb.At(3, 0), (Bytes{200, 100, 50}));
  Image gray = Canvas(4, 1, {MaskedLayer({200}, 255)}, 1);
  Picture g = Decode(gray);
  ASSERT_EQ(g.code, 0);
  EXPECT_EQ(g.At(0, 0), Bytes{0});
  EXPECT_EQ(g.At(2, 0), Bytes{133});
  EXPECT_EQ(g.At(3, 0), Bytes{200});
  // Indexed: the mask decides by the threshold, like an indexed+alpha layer.
  Image indexed = Canvas(4, 1, {MaskedLayer({3}, 255)}, 2);
  indexed.layers[0].type = 4;
  indexed.props.push_back(PropColormap({0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3}));
  Picture i = Decode(indexed);
  ASSERT_EQ(i.code, 0);
  EXPECT_EQ(i.At(0, 0), Bytes{0});
  EXPECT_EQ(i.At(1, 0), Bytes{0});
  EXPECT_EQ(i.At(2, 0), Bytes{3});
  EXPECT_EQ(i.At(3, 0), Bytes{3});
}

TEST_F(Composite, AnIndexedLayerWithAZeroMaskKeepsTheIndexBelow) {
  Image image = Canvas(4, 1, {MaskedLayer({9, 255}, 255), Solid(4, 1, {4})}, 2);
  image.layers[0].type = 5;
  image.layers[1].type = 4;
  Picture p = Decode(image);
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.At(0, 0), Bytes{4});
  EXPECT_EQ(p.At(1, 0), Bytes{4});
  EXPECT_EQ(p.At(2, 0), Bytes{9});
}

// What the host's callback saw.
struct Progress {
  std::vector<std::pair<int32_t, int32_t>> calls;
  int stopAt = -1;  // answer nonzero on this call
};

int TESSEL_CALL Record(int32_t current, int32_t total, intptr_t userData) {
  auto* progress = reinterpret_cast<Progress*>(userData);
  progress->calls.emplace_back(current, total);
  return static_cast<int>(progress->calls.size()) - 1 == progress->stopAt ? 1 : 0;
}

TEST_F(Composite, AnAllInvisibleImageIsBlackAndReportsNothing) {
  Image image = Canvas(5, 2, {Solid(5, 2, {255, 0, 0}, {PropVisible(0)}), Solid(5, 2, {0, 0, 255}, {PropOpacity(0)})});
  Progress progress;
  Picture p = Decode(WriteXcf(image), Record, reinterpret_cast<intptr_t>(&progress));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.bits, Bytes(16 * 2, 0));
  EXPECT_TRUE(progress.calls.empty());
}

TEST_F(Composite, ReportsEachLoadedLayerAndStopsWhenAsked) {
  Image image = Canvas(3, 3, {Solid(2, 2, {255, 0, 0}), Solid(3, 3, {0, 0, 255}), Solid(1, 1, {1, 1, 1})});
  Progress progress;
  Picture p = Decode(WriteXcf(image), Record, reinterpret_cast<intptr_t>(&progress));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(progress.calls, (std::vector<std::pair<int32_t, int32_t>>{{0, 2}, {1, 2}, {2, 2}}));
  Progress stop;
  stop.stopAt = 0;
  EXPECT_EQ(Decode(WriteXcf(image), Record, reinterpret_cast<intptr_t>(&stop)).code, 1);
  EXPECT_EQ(stop.calls.size(), 1u);
  // A single entry: the host is never asked (the last index is 0).
  Progress single;
  EXPECT_EQ(Decode(WriteXcf(Canvas(3, 3, {Solid(3, 3, {1, 2, 3})})), Record, reinterpret_cast<intptr_t>(&single)).code,
            0);
  EXPECT_TRUE(single.calls.empty());
}

struct Hook {
  ProgressHook hook;
  std::vector<std::pair<int32_t, int32_t>> calls;
};

int RecordHook(ProgressHook* hook, int32_t index, int32_t last) {
  reinterpret_cast<Hook*>(hook)->calls.emplace_back(index, last);
  return 1;
}

TEST_F(Composite, TheDriverCallsItsHookOncePerEntry) {
  Document doc(WriteXcf(Canvas(2, 2, {Solid(2, 2, {9, 9, 9})})));
  PixelBuffer canvas{};
  std::vector<uint8_t> memory(8 * 2);
  ASSERT_EQ(PixelBufferWrap(&canvas, 2, 3, 2, -8, memory.data()), ResultCode::Ok);
  Hook hook{{RecordHook}, {}};
  ASSERT_EQ(CompositeImage(doc.image, &canvas, &hook.hook), ResultCode::Ok);
  EXPECT_EQ(hook.calls, (std::vector<std::pair<int32_t, int32_t>>{{0, 0}}));
  EXPECT_EQ(memory[8], 9);  // the first row in memory is the bottom row
}

TEST_F(Composite, TheCanvasMustFitTheImage) {
  Document doc(WriteXcf(Canvas(2, 2, {Solid(2, 2, {9, 9, 9})})));
  std::vector<uint8_t> memory(64);
  PixelBuffer canvas{};
  ASSERT_EQ(PixelBufferWrap(&canvas, 3, 3, 2, 12, memory.data()), ResultCode::Ok);
  EXPECT_EQ(CompositeImage(doc.image, &canvas, nullptr), ResultCode::InvalidArgument);
  ASSERT_EQ(PixelBufferWrap(&canvas, 2, 1, 2, 4, memory.data()), ResultCode::Ok);
  EXPECT_EQ(CompositeImage(doc.image, &canvas, nullptr), ResultCode::InvalidArgument);
  EXPECT_EQ(CompositeImage(nullptr, &canvas, nullptr), ResultCode::InvalidArgument);
  PixelBuffer empty{};
  EXPECT_EQ(CompositeImage(doc.image, &empty, nullptr), ResultCode::NotReady);
}

TEST_F(Composite, AMaskOfAnotherSizeFailsThePicture) {
  Layer layer = Solid(100, 99, {1, 2, 3, 255});
  layer.mask = xcftest::Mask{100, 100, {}, Bytes(100 * 100, 255)};
  EXPECT_EQ(Decode(Canvas(100, 99, {layer})).code, 8);
}

TEST_F(Composite, AnOpacityBeyond255FailsThePicture) {
  EXPECT_EQ(Decode(Canvas(2, 2, {Solid(2, 2, {1, 2, 3}, {PropOpacity(300)})})).code, 8);
  EXPECT_EQ(Decode(Canvas(2, 2, {Solid(2, 2, {1, 2, 3}, {PropMode(26)})})).code, 8);
}

TEST_F(Composite, BitmapRowsAreBottomUpAndPadded) {
  Layer dot = Solid(1, 1, {10, 20, 30}, {PropOffsets(0, 0)});
  Picture one = Decode(Canvas(1, 2, {dot}));
  ASSERT_EQ(one.code, 0);
  EXPECT_EQ(one.rowSize, 4u);
  EXPECT_EQ(one.bits, (Bytes{0, 0, 0, 0, 30, 20, 10, 0}));  // top-left pixel in the last row, blue first
  Picture five = Decode(Canvas(5, 1, {Solid(5, 1, {1, 2, 3})}));
  ASSERT_EQ(five.code, 0);
  EXPECT_EQ(five.rowSize, 16u);
  EXPECT_EQ(five.bits[15], 0);
  EXPECT_EQ(five.header.size(), 40u);
  EXPECT_EQ(five.bitCount, 24u);
  EXPECT_EQ(BitmapRowSize(8, 3), 4u);
  EXPECT_EQ(BitmapRowSize(24, 5), 16u);
}

TEST_F(Composite, GrayAndIndexedPicturesCarryTheirColourTables) {
  Picture gray = Decode(Canvas(3, 1, {Solid(3, 1, {200})}, 1));
  ASSERT_EQ(gray.code, 0);
  EXPECT_EQ(gray.rowSize, 4u);
  EXPECT_EQ(gray.bitCount, 8u);
  EXPECT_EQ(gray.Entry(200), (Bytes{200, 200, 200, 0}));
  EXPECT_EQ(gray.At(2, 0), Bytes{200});

  Image indexed = Canvas(2, 1, {Solid(2, 1, {1})}, 2);
  indexed.layers[0].type = 4;
  indexed.props.push_back(PropColormap({255, 0, 0, 0, 0, 255}));
  Picture p = Decode(indexed);
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.Entry(0), (Bytes{0, 0, 255, 0}));
  EXPECT_EQ(p.Entry(1), (Bytes{255, 0, 0, 0}));
  for (uint32_t i = 2; i < 256; ++i) ASSERT_EQ(p.Entry(i), (Bytes{0, 0, 0, 0})) << i;
  EXPECT_EQ(p.At(1, 0), Bytes{1});

  indexed.props.clear();
  Picture none = Decode(indexed);
  ASSERT_EQ(none.code, 0);
  for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(none.Entry(i), (Bytes{0, 0, 0, 0})) << i;
}

// The mask step for every pair of alpha and mask value, in every pixel
// format, against its definition; long rows take a vector path.
TEST(ApplyMaskRow, FoldsEveryMaskValueIntoEveryAlpha) {
  for (uint32_t bs = 1; bs <= 4; ++bs) {
    for (uint32_t mo : {1u, 100u, 128u, 254u, 255u, 300u}) {
      std::vector<uint8_t> source(65536 * bs), mask(65536), out(65536 * bs, 0xEE);
      for (uint32_t i = 0; i < 65536; ++i) {
        for (uint32_t c = 0; c < bs; ++c) source[i * bs + c] = static_cast<uint8_t>(i * 7 + c * 31);
        source[i * bs + bs - 1] = static_cast<uint8_t>(i >> 8);  // the alpha
        mask[i] = static_cast<uint8_t>(i);
      }
      // An odd count leaves a tail to the plain loop.
      ASSERT_EQ(ApplyMaskRow(bs, source.data(), out.data(), mask.data(), mo, 65535), ResultCode::Ok);
      const uint32_t m255 = mo > 255 ? 255 : mo;
      for (uint32_t i = 0; i < 65535; ++i) {
        const uint32_t s = i >> 8, m = i & 255;
        const uint32_t want = m255 == 255 ? Div255(m * s) : Div255(s * (255 - m255) + m * m255);
        for (uint32_t c = 0; c + 1 < bs; ++c) ASSERT_EQ(out[i * bs + c], source[i * bs + c]) << bs << " " << i;
        ASSERT_EQ(out[i * bs + bs - 1], want) << "bs " << bs << " mo " << mo << " s " << s << " m " << m;
      }
      ASSERT_EQ(out[65535 * bs], 0xEE);  // nothing past the count
    }
  }
}

TEST(SwapRedBlue, ExchangesTheOuterBytesOfWidePixelsOnly) {
  std::vector<uint8_t> memory = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  PixelBuffer buffer{};
  ASSERT_EQ(PixelBufferWrap(&buffer, 2, 3, 2, -8, memory.data()), ResultCode::Ok);
  ASSERT_EQ(SwapRedBlue(&buffer), ResultCode::Ok);
  EXPECT_EQ(memory, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 0, 0, 9, 8, 7, 12, 11, 10, 0, 0}));
  ASSERT_EQ(PixelBufferWrap(&buffer, 4, 1, 2, 8, memory.data()), ResultCode::Ok);
  EXPECT_EQ(SwapRedBlue(&buffer), ResultCode::NotReady);
  EXPECT_EQ(SwapRedBlue(nullptr), ResultCode::InvalidArgument);
  // Wide rows go sixteen pixels at a time; padding stays as it is.
  for (uint32_t width : {15u, 16u, 17u, 33u, 100u}) {
    const uint32_t stride = (3 * width + 3) & ~3u;
    std::vector<uint8_t> rows(3 * stride);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 31 + 7);
    std::vector<uint8_t> want = rows;
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < width; ++x) std::swap(want[y * stride + 3 * x], want[y * stride + 3 * x + 2]);
    ASSERT_EQ(PixelBufferWrap(&buffer, width, 3, 3, -static_cast<int32_t>(stride), rows.data()), ResultCode::Ok);
    ASSERT_EQ(SwapRedBlue(&buffer), ResultCode::Ok);
    EXPECT_EQ(rows, want) << width;
  }
}

TEST(PixelBuffer, AddressesRowsInBothDirections) {
  std::vector<uint8_t> memory(3 * 8);
  PixelBuffer buffer{};
  ASSERT_EQ(PixelBufferWrap(&buffer, 2, 3, 3, -8, memory.data()), ResultCode::Ok);
  EXPECT_EQ(PixelBufferRow(&buffer, 0), memory.data() + 16);
  EXPECT_EQ(PixelBufferRow(&buffer, 2), memory.data());
  EXPECT_EQ(PixelBufferRow(&buffer, 3), nullptr);
  EXPECT_EQ(PixelBufferWrap(&buffer, 3, 3, 3, -8, memory.data()), ResultCode::InvalidArgument);
  PixelBuffer* owned = nullptr;
  ASSERT_EQ(PixelBufferNew(&owned), ResultCode::Ok);
  ASSERT_EQ(PixelBufferCreate(owned, 4, 3, 2), ResultCode::Ok);
  EXPECT_EQ(owned->stride, 12);
  EXPECT_EQ(PixelBufferRow(owned, 1), owned->pixels + 12);
  EXPECT_EQ(PixelBufferCreate(owned, 0, 3, 2), ResultCode::InvalidArgument);
  PixelBufferRelease(&owned);
  EXPECT_EQ(owned, nullptr);
}

}  // namespace

namespace {

// An indexed image shaped as GIMP writes it: its groups are RGBA records
// (type 1, a 4-byte hierarchy) over indexed children.
Image IndexedWithGroups(uint32_t outerOpacity, bool outerVisible = true) {
  Image image = Canvas(4, 2, {}, 2);
  image.props.push_back(PropColormap({0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}));
  Layer outer{4, 2, 1, "outer", {PropGroupItem(), PropOpacity(outerOpacity), PropVisible(outerVisible ? 1 : 0)}};
  outer.pixels = xcftest::Solid(4, 2, {9, 9, 9, 255});  // GIMP's stored projection, never read
  Layer top{2, 1, 5, "top", {PropItemPath({0, 0}), PropOffsets(2, 0)}};
  top.pixels = {2, 255, 3, 100};  // index 2 opaque, index 3 below the threshold
  Layer inner{4, 2, 1, "inner", {PropGroupItem(), PropItemPath({0, 1}), PropOffsets(0, 1)}};
  inner.pixels = xcftest::Solid(4, 2, {9, 9, 9, 255});
  Layer deep{1, 1, 4, "deep", {PropItemPath({0, 1, 0}), PropOffsets(1, 1)}};
  deep.pixels = {4};
  Layer under{4, 1, 4, "under", {PropItemPath({0, 2})}};
  under.pixels = {1, 1, 1, 1};
  Layer background{4, 2, 4, "background"};
  background.pixels = {3, 3, 3, 3, 3, 3, 3, 3};
  image.layers = {outer, top, inner, deep, under, background};
  return image;
}

std::string Indices(const Picture& p) {
  std::string out;
  for (uint32_t y = 0; y < p.height; ++y) {
    if (y) out += "/";
    for (uint32_t x = 0; x < p.width; ++x) out += static_cast<char>('0' + p.At(x, y)[0]);
  }
  return out;
}

TEST_F(Composite, IndexedImagesDrawTheirGroupsAsIndexedWithAlpha) {
  Picture p = Decode(IndexedWithGroups(255));
  ASSERT_EQ(p.code, 0);
  // Row 0: under (1) with top's opaque index 2 at x = 2; index 3 of top is
  // too transparent. Row 1: the inner group's child at x = 1, background elsewhere.
  EXPECT_EQ(Indices(p), "1121/3433");
  EXPECT_EQ(p.Entry(4), (Bytes{255, 255, 255, 0}));
  // A group below the threshold draws nothing; one above it draws whole.
  EXPECT_EQ(Indices(Decode(IndexedWithGroups(127))), "3333/3333");
  EXPECT_EQ(Indices(Decode(IndexedWithGroups(128))), "1121/3433");
  EXPECT_EQ(Indices(Decode(IndexedWithGroups(255, false))), "3333/3333");
}

TEST_F(Composite, RgbAndGrayGroupsKeepTheirRecordedType) {
  // An RGB image's group stored as RGBA, a gray image's as gray with alpha.
  Image rgb = Canvas(2, 1, {Layer{2, 1, 1, "g", {PropGroupItem()}}, Solid(1, 1, {255, 0, 0}, {PropItemPath({0, 0})})});
  EXPECT_EQ(Row(Decode(rgb), 0), "R.");
  Image gray = Canvas(2, 1, {Layer{2, 1, 3, "g", {PropGroupItem(), PropOpacity(128)}},
                             Solid(1, 1, {200}, {PropItemPath({0, 0}), PropOffsets(1, 0)})}, 1);
  Picture p = Decode(gray);
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.At(0, 0), Bytes{0});
  EXPECT_EQ(p.At(1, 0), Bytes{100});  // D(200 * 128) over black
}

}  // namespace

namespace {

TEST_F(Composite, AGroupStoredWithoutAlphaStillLeavesUntouchedPixelsAlone) {
  // GIMP always stores groups with alpha; a group record of type RGB is
  // composited with alpha all the same, so its empty part is transparent.
  Image image = Canvas(3, 1, {Layer{3, 1, 0, "g", {PropGroupItem()}}, Solid(1, 1, {0, 0, 255}, {PropItemPath({0, 0})}),
                              Solid(3, 1, {255, 0, 0})});
  Picture p = Decode(image);
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(Row(p, 0), "BRR");
}

TEST_F(Composite, GroupsCostWhatTheirChildrenCoverNotTheirSize) {
  // Thousands of canvas-sized groups, each holding one pixel: buffers the
  // size of the groups would take minutes.
  Image image = Canvas(2048, 2048, {});
  const int32_t groups = 3000;
  for (int32_t i = 0; i < groups; ++i) {
    image.layers.push_back(Layer{2048, 2048, 1, "g", {PropGroupItem()}});
    image.layers.push_back(Solid(1, 1, {255, 0, 0, 255}, {PropItemPath({i, 0}), PropOffsets(i % 2048, i / 2048)}));
  }
  auto start = std::chrono::steady_clock::now();
  Picture p = Decode(image);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.At(5, 0), (Bytes{255, 0, 0}));
  EXPECT_EQ(p.At(5, 2), (Bytes{0, 0, 0}));
  EXPECT_LT(seconds, 20.0);
}

TEST_F(Composite, DrawsThroughGroupsNestedToTheLimit) {
  std::vector<Layer> layers = {Layer{4, 4, 1, "g0", {PropGroupItem()}}};
  std::vector<int32_t> path = {0};
  for (uint32_t d = 1; d < kDefaultLimits.groupDepth; ++d) {
    path.push_back(0);
    layers.push_back(Layer{4, 4, 1, "g", {PropGroupItem(), PropItemPath(path)}});
  }
  path.push_back(0);
  layers.push_back(Solid(2, 2, {0, 0, 255}, {PropItemPath(path), PropOffsets(1, 1)}));
  Picture p = Decode(Canvas(4, 4, layers));
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(Row(p, 0), "....");
  EXPECT_EQ(Row(p, 1), ".BB.");
  EXPECT_EQ(Row(p, 2), ".BB.");
}

}  // namespace
