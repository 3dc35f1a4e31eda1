// Why a call failed: every refusal says so, the first reason is the one
// kept, and text taken from the file is made safe to show.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "composite/plan.h"
#include "plugin/entry.h"
#include "plugin/reason.h"
#include "stream/memory_source.h"
#include "tests/support/document.h"
#include "tests/support/picture.h"
#include "tests/support/test_files.h"
#include "xcf/hierarchy.h"
#include "tools/host.h"
#include "xcf/layer_tree.h"

using namespace xcftest;

namespace {

// After every test of the program, the pictures it decoded that failed
// must each have said why.
class EveryFailureExplained : public testing::EmptyTestEventListener {
  void OnTestStart(const testing::TestInfo&) override { before_ = UnexplainedFailures(); }
  void OnTestEnd(const testing::TestInfo& test) override {
    if (UnexplainedFailures() != before_)
      ADD_FAILURE() << test.test_suite_name() << "." << test.name() << ": " << UnexplainedFailures() - before_
                    << " failed decodes without a reason";
  }
  uint32_t before_ = 0;
};

const bool kListening = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new EveryFailureExplained);
  return true;
}();

TEST(Reason, KeepsTheFirstAndPutsWhereBeforeIt) {
  tessel::Reason reason{};
  EXPECT_FALSE(tessel::ReasonKept(&reason));
  tessel::ReasonPrefix(&reason, "nothing to put this before: ");
  EXPECT_STREQ(reason.text, "");
  tessel::ReasonNote(&reason, "tile %d of %d: RLE data ends early", 17, 96);
  tessel::ReasonNote(&reason, "a later failure");
  tessel::ReasonPrefix(&reason, "layer %d: ", 3);
  EXPECT_STREQ(reason.text, "layer 3: tile 17 of 96: RLE data ends early");
  // A prefix never overruns the record.
  for (int i = 0; i < 40; ++i) tessel::ReasonPrefix(&reason, "0123456789");
  EXPECT_LT(std::string(reason.text).size(), sizeof reason.text);
  EXPECT_EQ(std::string(reason.text).substr(0, 10), "0123456789");
}

TEST(Reason, QuotesTextFromTheFileSafely) {
  EXPECT_STREQ(tessel::Quote("Shadow").text, "Shadow");
  EXPECT_STREQ(tessel::Quote("a\x01\"b\\\xff").text, "a\\x01\\x22b\\x5C\\xFF");
  const std::string longName(100, 'x');
  EXPECT_EQ(std::string(tessel::Quote(longName.c_str()).text), std::string(40, 'x') + "...");
}

// A file of four layers whose tiles and records can be damaged one by one.
Image FourLayers() {
  Image image{70, 70, 0};
  for (int i = 0; i < 4; ++i) {
    Layer layer{70, 70, 1, "layer " + std::string(1, static_cast<char>('A' + i)), {PropOpacity(200)}};
    layer.pixels = Pattern(70, 70, 4, static_cast<uint32_t>(i));
    image.layers.push_back(layer);
  }
  image.layers[0].name = "Sh\x01" "adow";
  return image;
}

// Where the tile offsets of a layer's level lie, found by reading the file.
uint32_t TileTable(const Bytes& file, uint32_t layer) {
  tessel::ByteStream* stream = nullptr;
  tessel::XcfImage* image = nullptr;
  tessel::MemoryStreamOpen(static_cast<uint32_t>(file.size()), &stream, file.data());
  tessel::XcfImageCreate(stream, &image);
  uint32_t at = 0;
  if (tessel::XcfBuildLayerTree(image) == tessel::ResultCode::Ok) {
    tessel::XcfLayer* node = tessel::XcfLayerSiblingAt(image->layers, layer);
    if (tessel::XcfLayerPreparePixels(stream, node, 1) == tessel::ResultCode::Ok)
      at = node->hierarchy->levelOffset + 8;
  }
  tessel::XcfImageDestroy(&image);
  tessel::StreamDestroy(&stream);
  return at;
}

void Store(Bytes* file, uint32_t at, uint32_t value) { tessel::StoreU32BE(file->data() + at, value); }

// Two layers damaged: the first in list order (the top of the stack) is the
// answer and its reason, though the bands meet the other first.
TEST(Reason, TheFirstFailingLayerGivesTheReasonOnAnyThreadCount) {
  const Bytes file = WriteXcf(FourLayers());
  Bytes damaged = file;
  Store(&damaged, TileTable(file, 0) + 4 * 3, static_cast<uint32_t>(file.size()) - 2);  // its last tile
  Store(&damaged, TileTable(file, 2), static_cast<uint32_t>(file.size()) + 5);          // its first tile
  const Picture picture = Decode(damaged);
  EXPECT_EQ(picture.code, 6);
  EXPECT_EQ(picture.reason.rfind("layer 1 \"Sh\\x01adow\": tile 4 of 4: RLE data ends early at byte ", 0), 0u)
      << picture.reason;
}

// Damaged files and what they must say, one line each.
TEST(Reason, DamagedFilesSayWhatIsWrongAndWhere) {
  const Bytes good = WriteXcf(FourLayers());
  struct Case {
    std::string what;
    Bytes file;
    int code;
    std::string reason;  // the text, or its start when it ends with "*"
  };
  std::vector<Case> cases;
  auto edit = [&](const std::string& what, int code, const std::string& reason, auto change) {
    Bytes file = good;
    change(file);
    cases.push_back({what, file, code, reason});
  };
  Image wide{40000, 300, 0};
  wide.layers.push_back(Layer{1, 1, 1, "dot", {}, Bytes{1, 2, 3, 4}});
  cases.push_back({"a canvas too wide", WriteXcf(wide), 8, "canvas 40000 x 300 is wider than 32767"});
  edit("an unknown base type", 2, "base type 7 is none of RGB (0), grayscale (1) and indexed (2)",
       [](Bytes& f) { Store(&f, 22, 7); });
  edit("an unknown version tag", 2, "version tag \"v004\" (then byte 0x00) is none of file, v001, v002, v003",
       [](Bytes& f) { f[12] = '4'; });
  cases.push_back({"no memory block", Bytes{}, 8, "no file name or memory block"});
  cases.push_back({"eight bytes", Bytes(good.begin(), good.begin() + 8), 6, "fewer than the 9 bytes of a signature"});
  cases.push_back({"cut in a tile", Bytes(good.begin(), good.end() - 100), 6,
                   "layer 4 \"layer D\": tile 4 of 4: RLE data ends early at byte *"});
  Bytes gz = Gzip(good);
  for (size_t i = 20; i < 60; ++i) gz[i] ^= 0x55;
  cases.push_back({"damaged deflate data", gz, 3, "gzip: *"});
  // The type comes before the name in the record: the layer is named by its place.
  edit("a layer type beyond the six", 2, "layer 2: layer type 9 is none of the six (0 to 5)",
       [&](Bytes& f) {
         tessel::ByteStream* s = nullptr;
         tessel::MemoryStreamOpen(static_cast<uint32_t>(good.size()), &s, good.data());
         tessel::XcfImage* image = nullptr;
         tessel::XcfImageCreate(s, &image);
         tessel::XcfLoad(image);
         Store(&f, image->layerOffsets.offsets[1] + 8, 9);
         tessel::XcfImageDestroy(&image);
         tessel::StreamDestroy(&s);
       });
  edit("a tile offset past the end", 6, "layer 3 \"layer C\": tile 2 of 4: its offset * lies past the end of the data",
       [&](Bytes& f) { Store(&f, TileTable(good, 2) + 4, static_cast<uint32_t>(good.size()) + 9); });
  Image deep{8, 8, 0};
  std::vector<int32_t> path;
  for (int i = 0; i <= 513; ++i) {
    path.push_back(0);
    Layer group{8, 8, 1, "g", {PropGroupItem()}};
    if (i > 0) group.props.push_back(PropItemPath(path));
    deep.layers.push_back(group);
  }
  cases.push_back({"groups nested too deep", WriteXcf(deep), 3, "layer 514 \"g\": groups nested deeper than 512"});
  Image mode{8, 8, 0};
  mode.layers.push_back(Layer{8, 8, 1, "odd", {PropMode(30)}, Pattern(8, 8, 4, 1)});
  cases.push_back({"an unknown layer mode", WriteXcf(mode), 8,
                   "layer 1 \"odd\": its layer mode is none of the 26 (0 to 25) (type 1, mode 30, opacity 255, into 3 "
                   "bytes per pixel)"});

  for (const Case& c : cases) {
    const Picture picture = Decode(c.file);
    std::printf("%-28s code %d: %s\n", c.what.c_str(), picture.code, picture.reason.c_str());
    EXPECT_EQ(picture.code, c.code) << c.what;
    const std::string& expected = c.reason;
    const size_t star = expected.find('*');
    if (star == std::string::npos) {
      EXPECT_EQ(picture.reason, expected) << c.what;
    } else {
      EXPECT_EQ(picture.reason.substr(0, star), expected.substr(0, star)) << c.what;
      const std::string tail = expected.substr(star + 1);
      EXPECT_EQ(picture.reason.substr(picture.reason.size() - std::min(tail.size(), picture.reason.size())), tail)
          << c.what;
    }
  }
}

// Tighter limits reach every reader: the canvas, the layers, the nesting
// and what a compressed file may decompress to.
TEST(Reason, TighterLimitsAreAppliedAndSaid) {
  const Bytes file = WriteXcf(FourLayers());
  auto decode = [](const Bytes& bytes, const tessel::Limits& limits, tessel::Reason* reason) {
    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
    const int code = tessel::GetPictureWith(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<int32_t>(bytes.size()), 1, &info, &bits, nullptr, 0, limits,
                                            reason);
    if (code == 0) {
      LocalFree(info);
      LocalFree(bits);
    }
    return code;
  };
  tessel::Limits limits = tessel::kDefaultLimits;
  tessel::Reason reason{};
  limits.canvasHeight = 69;
  EXPECT_EQ(decode(file, limits, &reason), 8);
  EXPECT_STREQ(reason.text, "canvas 70 x 70 is taller than 69");
  limits = tessel::kDefaultLimits;
  limits.layerSize = 64;
  reason = tessel::Reason{};
  EXPECT_EQ(decode(file, limits, &reason), 8);
  EXPECT_STREQ(reason.text, "layer 1: a layer of 70 x 70 is larger than 64 x 64");
  limits = tessel::kDefaultLimits;
  limits.decompressedBytes = file.size() - 1;
  reason = tessel::Reason{};
  EXPECT_EQ(decode(Gzip(file), limits, &reason), 8);
  EXPECT_EQ(std::string(reason.text), "the data decompresses to more than " + std::to_string(file.size() - 1) + " bytes");
  limits.decompressedBytes = file.size();
  EXPECT_EQ(decode(Gzip(file), limits, nullptr), 0);
}

}  // namespace

namespace {

// A load list whose entries do not follow the tree, as a broken loader
// would hand the plan: a child before its parent, a child drawn under a
// layer that is not a group.
TEST(Reason, TheReaderDisagreeingWithItselfIsItsOwnFault) {
  Image image{8, 8, 0};
  image.layers = {{8, 8, 0, "plain", {}, Solid(8, 8, {1, 2, 3})},
                  {4, 4, 0, "under", {PropItemPath({0, 0})}, Solid(4, 4, {4, 5, 6})}};
  Document doc(WriteXcf(image));
  tessel::Reason reason{};
  doc.counting.stream->reason = &reason;
  ASSERT_EQ(tessel::XcfBuildLayerTree(doc.image), tessel::ResultCode::Ok);
  tessel::XcfLayer* plain = doc.image->layers;
  const std::vector<std::vector<tessel::LayerLoadEntry>> broken = {
      {{plain, 1, 0, 1, 0, 1}, {plain->firstChild, 1, 0, tessel::kNoEntry, 0, 1}},
      {{plain, 1, 0, tessel::kNoEntry, 0, 1}, {plain->firstChild, 1, 0, 0, 1, 1}},
  };
  for (const auto& entries : broken) {
    tessel::DrawPlan plan{};
    tessel::ResultCode result = tessel::ResultCode::Ok;
    // A debug build stops at the fault, where it happens.
    EXPECT_DEBUG_DEATH(result = tessel::DrawPlanBuild(doc.image, entries.data(), 2, tessel::ViewerRequest(doc.image->format), 3, false, &plan), "internal fault");
#ifdef NDEBUG
    EXPECT_EQ(result, tessel::ResultCode::InvalidArgument);
    EXPECT_EQ(std::string(reason.text).rfind("internal fault: load list entry", 0), 0u) << reason.text;
    EXPECT_EQ(FailureText("a.xcf", 8, reason.text).rfind("tessel: a.xcf: internal fault: ", 0), 0u);
#endif
    tessel::DrawPlanFree(&plan);
    reason = tessel::Reason{};
  }
  // The same tree as the loader lists it draws the plain layer alone.
  Picture p = Decode(image);
  ASSERT_EQ(p.code, 0);
  EXPECT_EQ(p.At(2, 2), (Bytes{1, 2, 3}));
}

}  // namespace
