// Layer records, their drawing parameters, masks, the tree of groups and
// the list of what a drawing loads.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include <chrono>
#include <string>

#include "tests/support/document.h"
#include "xcf/layer_tree.h"

using namespace tessel;
using xcftest::Bytes;
using xcftest::Document;
using xcftest::Layer;

namespace {

Layer Named(const std::string& name, std::vector<xcftest::Property> props = {}) {
  Layer layer{2, 2, 1, name, props};
  layer.pixels = xcftest::Solid(2, 2, {1, 2, 3, 255});
  return layer;
}

Bytes File(std::vector<Layer> layers, uint32_t baseType = 0) {
  xcftest::Image image{8, 8, baseType};
  image.layers = std::move(layers);
  return xcftest::WriteXcf(image);
}

std::string Names(const XcfLayer* layer) {
  std::string out;
  for (; layer != nullptr; layer = layer->next) {
    if (!out.empty()) out += ", ";
    out += layer->name;
    if (layer->firstChild != nullptr) out += "(" + Names(layer->firstChild) + ")";
  }
  return out;
}

ResultCode Build(Document& doc) { return XcfBuildLayerTree(doc.image); }

TEST(LayerTree, LinksChildrenByTheirItemPaths) {
  Document doc(File({Named("A", {xcftest::PropGroupItem()}), Named("B", {xcftest::PropItemPath({0, 0})}),
                     Named("C", {xcftest::PropItemPath({0, 1})}), Named("D")}));
  ASSERT_EQ(Build(doc), ResultCode::Ok);
  EXPECT_EQ(Names(doc.image->layers), "A(B, C), D");
  EXPECT_EQ(doc.image->layers->firstChild->prev, nullptr);
  EXPECT_EQ(XcfLayerLastSibling(doc.image->layers)->name, std::string("D"));
  EXPECT_EQ(XcfLayerSiblingAt(doc.image->layers->next, -1), doc.image->layers);
  EXPECT_EQ(XcfLayerSiblingAt(doc.image->layers, 2), nullptr);
  EXPECT_EQ(Build(doc), ResultCode::Ok);  // built once
}

TEST(LayerTree, FollowsNestedPathsThroughEveryLevel) {
  // [0, 2, 0]: the third child of the first top-level layer is the parent.
  Document doc(File({Named("G", {xcftest::PropGroupItem()}), Named("a", {xcftest::PropItemPath({0, 0})}),
                     Named("b", {xcftest::PropItemPath({0, 1})}),
                     Named("H", {xcftest::PropGroupItem(), xcftest::PropItemPath({0, 2})}),
                     Named("x", {xcftest::PropItemPath({0, 2, 0})}), Named("y", {xcftest::PropItemPath({0, 2, 1})}),
                     Named("c", {xcftest::PropItemPath({0, 3})}), Named("bottom")}));
  ASSERT_EQ(Build(doc), ResultCode::Ok);
  EXPECT_EQ(Names(doc.image->layers), "G(a, b, H(x, y), c), bottom");
}

TEST(LayerTree, RefusesPathsThatNameNoParent) {
  EXPECT_EQ(Build(*std::make_unique<Document>(File({Named("A"), Named("B", {xcftest::PropItemPath({1, 0})})}))),
            ResultCode::CorruptData);
  EXPECT_EQ(Build(*std::make_unique<Document>(File({Named("A"), Named("B", {xcftest::PropItemPath({-1, 0})})}))),
            ResultCode::CorruptData);
  EXPECT_EQ(Build(*std::make_unique<Document>(
                File({Named("A"), Named("B", {xcftest::PropItemPath({0, 0})}), Named("C", {xcftest::PropItemPath({0, 0, -1, 0})})}))),
            ResultCode::CorruptData);
  EXPECT_EQ(Build(*std::make_unique<Document>(File({Named("A"), Named("B", {xcftest::PropRaw(30, {0, 0})})}))),
            ResultCode::CorruptData);
  Document first(File({Named("A", {xcftest::PropItemPath({0})}), Named("B")}));
  EXPECT_EQ(Build(first), ResultCode::CorruptData);
  EXPECT_EQ(first.image->layers, nullptr);
}

// A chain of groups, each the only child of the one above, `depth` deep.
Bytes Chain(uint32_t depth) {
  std::vector<Layer> layers = {Named("g0", {xcftest::PropGroupItem()})};
  std::vector<int32_t> path = {0};
  for (uint32_t d = 1; d <= depth; ++d) {
    path.push_back(0);
    layers.push_back(Named("g" + std::to_string(d), {xcftest::PropGroupItem(), xcftest::PropItemPath(path)}));
  }
  return File(layers);
}

TEST(LayerTree, NestsGroupsToTheLimitAndNoDeeper) {
  Document deep(Chain(kDefaultLimits.groupDepth));
  ASSERT_EQ(Build(deep), ResultCode::Ok);
  uint32_t depth = 0;
  for (XcfLayer* l = deep.image->layers; l->firstChild != nullptr; l = l->firstChild) ++depth;
  EXPECT_EQ(depth, kDefaultLimits.groupDepth);
  Document tooDeep(Chain(kDefaultLimits.groupDepth + 1));
  EXPECT_EQ(Build(tooDeep), ResultCode::CorruptData);
  EXPECT_EQ(tooDeep.image->layers, nullptr);
}

TEST(LayerTree, LinksManyLayersInLinearTime) {
  // 100 000 offsets at one child record under one group: a quadratic walk
  // would take minutes.
  xcftest::ByteWriter w;
  Bytes head = File({Named("G", {xcftest::PropGroupItem()})});
  const uint32_t count = 100000;
  // Rebuild the file with a long layer offset list: header and properties,
  // then the offsets, then the two records.
  xcftest::Document probe(head);
  ASSERT_EQ(XcfLoad(probe.image), ResultCode::Ok);
  uint32_t listAt = 26;
  while (!(head[listAt] == 0 && head[listAt + 1] == 0 && head[listAt + 2] == 0 && head[listAt + 3] == 0)) {
    uint32_t length = (head[listAt + 4] << 24) | (head[listAt + 5] << 16) | (head[listAt + 6] << 8) | head[listAt + 7];
    listAt += 8 + length;
  }
  listAt += 8;
  w.Raw(head.data(), listAt);
  size_t offsets = w.Size();
  for (uint32_t i = 0; i < count; ++i) w.U32(0);
  w.U32(0);
  w.U32(0);
  auto record = [&](std::vector<xcftest::Property> props) {
    w.U32(2);
    w.U32(2);
    w.U32(1);
    w.Str("G");
    for (auto& p : props) {
      w.U32(p.id);
      w.U32(static_cast<uint32_t>(p.payload.size()));
      w.Raw(p.payload);
    }
    w.U32(0);
    w.U32(0);
    w.U32(0);
    w.U32(0);
  };
  w.PatchU32(offsets, static_cast<uint32_t>(w.Size()));
  record({xcftest::PropGroupItem()});
  uint32_t child = static_cast<uint32_t>(w.Size());
  for (uint32_t i = 1; i < count; ++i) w.PatchU32(offsets + 4 * i, child);
  record({xcftest::PropItemPath({0, 0})});
  Document doc(w.bytes());
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Build(doc), ResultCode::Ok);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  uint32_t children = 0;
  for (XcfLayer* l = doc.image->layers->firstChild; l != nullptr; l = l->next) ++children;
  EXPECT_EQ(children, count - 1);
  EXPECT_LT(seconds, 10.0);
}

TEST(LayerRecord, KeepsTheNameWithOneMoreNul) {
  Document doc(File({Named("abcd"), Named("")}));
  ASSERT_EQ(Build(doc), ResultCode::Ok);
  EXPECT_EQ(std::string(doc.image->layers->name, 5), std::string("abcd\0", 5));
  EXPECT_EQ(doc.image->layers->name[5], '\0');
  EXPECT_EQ(doc.image->layers->next->name, nullptr);
}

TEST(LayerRecord, RefusesTypesAndSizesBeyondTheFormat) {
  Layer six = Named("six");
  six.type = 6;
  six.pixels.clear();
  EXPECT_EQ(Build(*std::make_unique<Document>(File({six}))), ResultCode::UnsupportedVersion);
  Layer wide{32768, 1, 1, "wide"};
  EXPECT_EQ(Build(*std::make_unique<Document>(File({wide}))), ResultCode::TooLarge);
  Layer empty{0, 1, 1, "empty"};
  EXPECT_EQ(Build(*std::make_unique<Document>(File({Named("ok"), empty}))), ResultCode::CorruptData);
  Bytes cut = File({Named("cut")});
  Document whole(cut);
  ASSERT_EQ(XcfLoad(whole.image), ResultCode::Ok);
  cut.resize(whole.image->layerOffsets.offsets[0] + 20);  // inside the record
  EXPECT_EQ(Build(*std::make_unique<Document>(cut)), ResultCode::ReadError);
}

TEST(LayerInfo, ReadsTheDrawingParametersWithTheirDefaults) {
  Document doc(File({Named("p", {xcftest::PropMode(19), xcftest::PropOpacity(300), xcftest::PropOffsets(-5, 7),
                                 xcftest::PropVisible(0)}),
                     Named("d"), Named("v", {xcftest::PropRaw(8, {0, 0})})}));
  ASSERT_EQ(Build(doc), ResultCode::Ok);
  XcfLayerInfo info;
  ASSERT_EQ(XcfLayerGetInfo(doc.image->layers, &info), ResultCode::Ok);
  EXPECT_EQ(info.mode, 19u);
  EXPECT_EQ(info.opacity, 300u);  // passed on; the blend refuses it
  EXPECT_EQ(info.offsetX, -5);
  EXPECT_EQ(info.offsetY, 7);
  EXPECT_EQ(info.flags, 0u);
  ASSERT_EQ(XcfLayerGetInfo(doc.image->layers->next, &info), ResultCode::Ok);
  EXPECT_EQ(info.mode, 0u);
  EXPECT_EQ(info.opacity, 255u);
  EXPECT_EQ(info.flags, kLayerVisible);
  ASSERT_EQ(XcfLayerGetInfo(doc.image->layers->next->next, &info), ResultCode::Ok);
  EXPECT_EQ(info.flags, kLayerVisible);  // a visibility of another length counts as visible
}

// The load list of a file, as the names of its entries with their flags.
std::string LoadList(Document& doc, ResultCode* result) {
  *result = Build(doc);
  if (*result != ResultCode::Ok) return "";
  std::vector<LayerLoadEntry> entries(doc.image->layerOffsets.count);
  uint32_t count = 0;
  for (XcfLayer* l = doc.image->layers; l != nullptr && *result == ResultCode::Ok; l = l->next)
    *result = XcfCollectLoadList(l, doc.image, entries.data(), &count);
  std::string out;
  for (uint32_t i = 0; i < count; ++i) {
    out += (i ? " " : "") + std::string(entries[i].layer->name);
    if (!entries[i].loadPixels) out += "[g]";
    if (entries[i].loadMask) out += "[m]";
  }
  return out;
}

Layer Masked(const std::string& name, uint32_t maskHeight, std::vector<xcftest::Property> props = {},
             uint32_t maskOpacity = 255) {
  Layer layer = Named(name, props);
  layer.mask = xcftest::Mask{2, maskHeight, {xcftest::PropOpacity(maskOpacity)}, Bytes(2 * maskHeight, 200)};
  return layer;
}

TEST(LoadList, TakesVisibleLayersInPreOrderWithTheirMasks) {
  Document doc(File({Named("G", {xcftest::PropGroupItem()}), Named("a", {xcftest::PropItemPath({0, 0})}),
                     Masked("b", 2, {xcftest::PropItemPath({0, 1}), xcftest::PropApplyMask(0)}),
                     Named("hidden", {xcftest::PropGroupItem(), xcftest::PropVisible(0)}),
                     Named("h1", {xcftest::PropItemPath({1, 0})}),
                     Named("clear", {xcftest::PropGroupItem(), xcftest::PropOpacity(0)}),
                     Named("c1", {xcftest::PropItemPath({2, 0})}), Masked("m0", 2, {}, 0), Named("z")}));
  ResultCode result;
  EXPECT_EQ(LoadList(doc, &result), "G[g] a b[m] m0 z");
  EXPECT_EQ(result, ResultCode::Ok);
}

TEST(LoadList, AMaskOfAnotherSizeFailsTheWalk) {
  Document doc(File({Masked("odd", 3)}));
  ResultCode result;
  LoadList(doc, &result);
  EXPECT_EQ(result, ResultCode::NotReady);
  EXPECT_EQ(doc.image->layers->mask, nullptr);
}

}  // namespace

namespace {

TEST(SiblingHelpers, AppendAndWalkTheLists) {
  XcfLayer a{}, b{}, c{}, group{}, x{}, y{};
  ASSERT_EQ(XcfLayerAppendSibling(&a, &b), ResultCode::Ok);
  ASSERT_EQ(XcfLayerAppendSibling(&b, &c), ResultCode::Ok);  // from any node, after the last
  EXPECT_EQ(XcfLayerLastSibling(&a), &c);
  EXPECT_EQ(XcfLayerSiblingAt(&a, 2), &c);
  EXPECT_EQ(XcfLayerSiblingAt(&c, -2), &a);
  EXPECT_EQ(XcfLayerSiblingAt(&b, 0), &b);
  EXPECT_EQ(XcfLayerSiblingAt(&b, 2), nullptr);
  EXPECT_EQ(XcfLayerLastSibling(nullptr), nullptr);
  ASSERT_EQ(XcfLayerAppendChild(&x, &group), ResultCode::Ok);
  ASSERT_EQ(XcfLayerAppendChild(&y, &group), ResultCode::Ok);
  EXPECT_EQ(group.firstChild, &x);
  EXPECT_EQ(x.next, &y);
  EXPECT_EQ(y.prev, &x);
  EXPECT_EQ(XcfLayerAppendChild(nullptr, &group), ResultCode::InvalidArgument);
}

}  // namespace
