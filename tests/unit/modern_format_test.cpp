// Files of XCF version 4 on, as the tool reads them: every precision word
// of every version, both widths of pointers, zlib tiles; the plug-in's
// exports refuse them; damage in the new structures is refused with a code
// and a reason, and asks the allocator for nothing beyond the input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/entry.h"
#include "xcf/layer.h"
#include "tests/support/allocation_watch.h"
#include "tests/support/picture.h"
#include "tests/support/test_files.h"

using namespace xcftest;

namespace {

// A 70 x 3 picture (two tile columns) of one opaque layer of the given
// precision: every pixel the colour (r, g, b) stored as that precision's
// full scale times value / 255 on the linear scale.
Image OfPrecision(const std::string& tag, uint32_t precision, uint32_t componentBytes, uint8_t compression) {
  Image image{70, 3, 0, tag};
  image.precision = precision;
  image.compression = compression;
  Layer layer{70, 3, 0, "layer", {PropMode(28)}};
  for (uint32_t i = 0; i < 70 * 3 * 3; ++i) {
    // Full scale of every integer width: all bits set.
    for (uint32_t b = 0; b < componentBytes; ++b) layer.pixels.push_back(0xFF);
  }
  image.layers = {layer};
  return image;
}

int Code(const Bytes& file, std::string* reason = nullptr, const tessel::Limits& limits = tessel::kEveryVersion) {
  const Picture p = Decode(file, nullptr, 0, limits);
  if (reason != nullptr) *reason = p.reason;
  return p.code;
}

TEST(ModernFormat, EveryIntegerPrecisionOfEveryVersionReadsItsFullScaleAsWhite) {
  struct Case {
    const char* tag;
    uint32_t precision;
    uint32_t bytes;
  } cases[] = {{"v004", 0, 1},   {"v004", 1, 2},   {"v004", 2, 4},   {"v005", 100, 1}, {"v006", 250, 2},
               {"v006", 350, 4}, {"v007", 150, 1}, {"v009", 200, 2}, {"v011", 300, 4}, {"v011", 150, 1},
               {"v012", 250, 2}, {"v013", 350, 4}, {"v012", 100, 1}};
  for (const Case& c : cases)
    for (uint8_t compression : {0, 1, 2}) {
      const Bytes file = WriteXcf(OfPrecision(c.tag, c.precision, c.bytes, compression));
      const Picture p = Decode(file, nullptr, 0, tessel::kEveryVersion);
      ASSERT_EQ(p.code, 0) << c.tag << " " << c.precision << ": " << p.reason;
      for (uint32_t x : {0u, 63u, 64u, 69u}) EXPECT_EQ(p.At(x, 2), (Bytes{255, 255, 255})) << c.tag << " " << x;
      // The plug-in reads versions 0 to 3 alone.
      std::string reason;
      EXPECT_EQ(Code(file, &reason, tessel::kDefaultLimits), 2) << c.tag;
      EXPECT_NE(reason.find("is none of file, v001, v002, v003"), std::string::npos) << reason;
    }
}

TEST(ModernFormat, FloatPrecisionsReadTheirValues) {
  // Half 0.5 (0x3800), float 0.25, double 1.0: linear light, so 0.5 is 188
  // and 0.25 is 137 on the sRGB curve.
  struct Case {
    uint32_t precision;
    Bytes component;
    uint8_t expected;
  } cases[] = {{500, {0x38, 0x00}, 188}, {600, {0x3E, 0x80, 0x00, 0x00}, 137},
               {700, {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 255}, {550, {0x38, 0x00}, 128}};
  for (const Case& c : cases) {
    Image image{2, 2, 1, "v012"};
    image.precision = c.precision;
    Layer layer{2, 2, 2, "gray", {PropMode(28)}};
    for (int i = 0; i < 4; ++i) layer.pixels.insert(layer.pixels.end(), c.component.begin(), c.component.end());
    image.layers = {layer};
    const Picture p = Decode(WriteXcf(image), nullptr, 0, tessel::kEveryVersion);
    ASSERT_EQ(p.code, 0) << c.precision << ": " << p.reason;
    EXPECT_EQ(p.At(1, 1), Bytes{c.expected}) << c.precision;
  }
}

TEST(ModernFormat, DamageInTheNewStructuresIsRefusedWithItsReason) {
  const Bytes good = WriteXcf(OfPrecision("v011", 150, 1, 2));
  ASSERT_EQ(Code(good), 0);
  struct Case {
    std::string what;
    Bytes file;
    int code;
    std::string reason;
  };
  std::vector<Case> cases;
  // A version past those read, and a tag that names none.
  Bytes newer = good;
  std::memcpy(newer.data() + 9, "v027", 4);
  cases.push_back({"newer", newer, 2, "XCF version 27 (tag \"v027\") is newer than the versions read here (up to 26)"});
  Bytes odd = good;
  std::memcpy(odd.data() + 9, "vx11", 4);
  cases.push_back({"odd tag", odd, 2, "is none of file, v001 to v026"});
  // A precision word no version has.
  Bytes precision = good;
  precision[29] = 151;
  cases.push_back({"precision", precision, 2, "precision 151 is none that XCF version 11 knows"});
  // A layer pointer past 4 GiB: its high word set. The list starts after
  // the header (30 bytes with the precision) and the image's properties
  // (compression: 9 bytes; the end: 8).
  Bytes beyond = good;
  beyond[30 + 9 + 8 + 3] = 1;
  cases.push_back({"far", beyond, 8, "lies past 4 GiB"});
  // zlib tiles cut short, damaged, and holding more than their pixels.
  Bytes cut(good.begin(), good.end() - 20);
  cases.push_back({"zlib cut", cut, 6, "zlib data ends early"});
  Bytes damaged = good;
  damaged[damaged.size() - 2] ^= 0x5A;  // the last tile's checksum
  cases.push_back({"zlib damaged", damaged, 3, "zlib data"});
  Image longer = OfPrecision("v011", 150, 1, 2);
  longer.layers[0].pixels.clear();
  longer.layers[0].uniformPixel = {9, 9, 9};  // one tile for all: the second tile's data lies before the first's end
  cases.push_back({"zlib overlap", WriteXcf(longer), 3, "zlib data"});
  for (const Case& c : cases) {
    std::string reason;
    size_t largest = 0;
    int code;
    {
      AllocationWatch watch;
      code = Code(c.file, &reason);
      largest = watch.Largest();
    }
    EXPECT_EQ(code, c.code) << c.what << ": " << reason;
    EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
    if (AllocationWatch::Available()) {
      EXPECT_LE(largest, std::max<size_t>(c.file.size(), 1 << 16)) << c.what;
    }
  }
}

// GIMP 3's picture: an opaque base and a half-clear layer above it with a
// mask, two filters on the layer, one on its mask, a hidden layer with a
// filter, and two paths; the filters are written from versions 20 and 26,
// the paths from 18, the rest as in version 11.
Image Gimp3Picture(const std::string& tag) {
  Image image{20, 10, 0, tag};
  Layer top{12, 8, 1, "Sky", {PropMode(30), PropOffsets(4, 1)}};
  top.pixels = Pattern(12, 8, 4, 7);
  top.mask = Mask{12, 8, {}, Pattern(12, 8, 1, 3), 1, {{"Blur", "gegl:gaussian-blur"}}};
  top.filters = {{"Levels", "gegl:levels"}, {"Blur", "gegl:gaussian-blur"}};
  Layer hidden{20, 10, 1, "hidden", {PropMode(28), PropVisible(0)}};
  hidden.pixels = Pattern(20, 10, 4, 5);
  hidden.filters = {{"Noise", "gegl:noise-hsv"}};
  Layer base{20, 10, 0, "base", {PropMode(28)}};
  base.pixels = Pattern(20, 10, 3, 1);
  image.layers = {top, hidden, base};
  image.paths = 2;
  return image;
}

TEST(ModernFormat, EveryVersionTagIsReadAndGimp3sStructuresLeaveThePictureAlone) {
  for (int version = 0; version <= 26; ++version) {
    char tag[8];
    std::snprintf(tag, sizeof tag, version == 0 ? "file" : "v%03d", version);
    Image plain{4, 4, 0, tag};
    plain.precision = version == 4 ? 0 : 150;
    Layer layer{4, 4, 0, "layer", {}};
    layer.pixels = Pattern(4, 4, 3, 2);
    plain.layers = {layer};
    EXPECT_EQ(Code(WriteXcf(plain)), 0) << tag;
  }
  const Picture first = Decode(WriteXcf(Gimp3Picture("v011")), nullptr, 0, tessel::kEveryVersion);
  ASSERT_EQ(first.code, 0) << first.reason;
  for (int version = 11; version <= 26; ++version) {
    const std::string tag = "v0" + std::to_string(version);
    const Bytes file = WriteXcf(Gimp3Picture(tag));
    const Picture p = Decode(file, nullptr, 0, tessel::kEveryVersion);
    ASSERT_EQ(p.code, 0) << tag << ": " << p.reason;
    EXPECT_TRUE(p.bits == first.bits) << tag;
    std::vector<std::string> expected;
    if (version >= 20) expected.push_back("layer 1 \"Sky\": 2 gegl:levels, gegl:gaussian-blur");
    if (version >= 26) expected.push_back("layer 1 \"Sky\"'s mask: 1 gegl:gaussian-blur");
    if (version >= 20) expected.push_back("layer 2 \"hidden\" (hidden): 1 gegl:noise-hsv");
    EXPECT_EQ(FiltersOf(file), expected) << tag;
  }
}

// Where the version 26 file's lists lie: the header (30 bytes), the
// compression property and the end (17), three layer pointers and the end
// (32), the empty channel list (8); then the two paths and the end.
constexpr size_t kPathTable = 30 + 17 + 32 + 8;

TEST(ModernFormat, DamagedGimp3StructuresAreRefusedOrDrawnButNeverReadPastTheInput) {
  const Bytes good = WriteXcf(Gimp3Picture("v026"));
  ASSERT_EQ(Code(good), 0);
  ASSERT_EQ(tessel::LoadU32BE(good.data() + kPathTable + 16 + 4), 0u);  // the path list's end
  std::string reason;
  // A path past 4 GiB; a path list cut short.
  Bytes distant = good;
  distant[kPathTable + 3] = 1;
  EXPECT_EQ(Code(distant, &reason), 8);
  EXPECT_NE(reason.find("path offsets: offset 1 of a list lies past 4 GiB"), std::string::npos) << reason;
  const Bytes cut(good.begin(), good.begin() + kPathTable + 12);
  EXPECT_EQ(Code(cut, &reason), 6);
  EXPECT_NE(reason.find("path offsets: a list of offsets ends early"), std::string::npos) << reason;
  // A filter record out of the file is no refusal: the picture is the
  // stored pixels either way, and the filter is named "?".
  Bytes lost = good;
  const uint32_t sky = tessel::LoadU32BE(good.data() + 30 + 17 + 4);
  // Sky's record: size, type, name "Sky", its two properties and the end,
  // then its pixels' and mask's pointers and the first filter pointer.
  const size_t firstFilter = sky + 12 + 4 + 4 + (8 + 4) + (8 + 8) + 8 + 8 + 8;
  ASSERT_NE(tessel::LoadU32BE(good.data() + firstFilter + 4), 0u);
  tessel::StoreU32BE(lost.data() + firstFilter + 4, static_cast<uint32_t>(good.size() + 1000));
  EXPECT_EQ(Code(lost, &reason), 0) << reason;
  EXPECT_EQ(FiltersOf(lost)[0], "layer 1 \"Sky\": 2 ?, gegl:gaussian-blur");
  // Every prefix: refused or drawn, never an allocation beyond the input.
  for (size_t n = 0; n < good.size(); ++n) {
    const Bytes prefix(good.begin(), good.begin() + n);
    size_t largest = 0;
    {
      AllocationWatch watch;
      Code(prefix);
      FiltersOf(prefix);
      largest = watch.Largest();
    }
    if (AllocationWatch::Available()) {
      EXPECT_LE(largest, std::max<size_t>(good.size(), 1 << 16)) << n;
    }
  }
}

// A filter record whose name is a megabyte long, pointed at by a hundred
// thousand pointers: each is read in a few steps, not by reading past its
// name, so the list takes no time whatever the lengths say.
TEST(ModernFormat, FilterRecordsCostFewReadsHoweverLongTheirNames) {
  ByteWriter w;
  w.U32(1 << 20);
  w.Raw(Bytes(1 << 20, 'n'));
  w.Str("icon");
  w.Str("gegl:x");
  const Bytes record = w.bytes();
  CountingStream counting(record);
  std::vector<uint32_t> offsets(100000, 0);
  const tessel::XcfOffsetList list{offsets.data(), static_cast<uint32_t>(offsets.size())};
  tessel::XcfFilterList filters{};
  EXPECT_EQ(tessel::XcfReadFilters(counting.stream, &list, &filters), tessel::ResultCode::Ok);
  // Three lengths and the operation a record.
  EXPECT_LE(counting.bytesRead, 100000u * 32);
  EXPECT_EQ(filters.count, 100000u);
  EXPECT_EQ(std::string(filters.operations).rfind("gegl:x, gegl:x, ", 0), 0u) << filters.operations;
  EXPECT_NE(std::string(filters.operations).find("..."), std::string::npos);
}

}  // namespace
