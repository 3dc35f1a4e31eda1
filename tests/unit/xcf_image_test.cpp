// The XCF header, the image properties and the generic list readers.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include <cmath>
#include <cstring>

#include "tests/support/document.h"
#include "xcf/image.h"
#include "xcf/layer_tree.h"

using namespace tessel;
using xcftest::Bytes;

namespace {

using Doc = xcftest::Document;

Bytes Header(uint32_t width, uint32_t height, uint32_t baseType, const char* tag = "v001") {
  xcftest::ByteWriter w;
  w.Raw("gimp xcf ", 9);
  w.Raw(tag, 5);
  w.U32(width);
  w.U32(height);
  w.U32(baseType);
  return w.bytes();
}

Bytes WithProps(const std::vector<xcftest::Property>& props, uint32_t baseType = 0) {
  xcftest::Image image{8, 8, baseType, "v002", props};
  return xcftest::WriteXcf(image);
}

TEST(XcfHeader, AcceptsTheLargestSizesAndRefusesBeyond) {
  EXPECT_EQ(XcfReadHeader(Doc(Header(32767, 32766, 0)).image), ResultCode::Ok);
  EXPECT_EQ(XcfReadHeader(Doc(Header(32767, 32767, 0)).image), ResultCode::TooLarge);
  EXPECT_EQ(XcfReadHeader(Doc(Header(32768, 1, 0)).image), ResultCode::TooLarge);
  EXPECT_EQ(XcfReadHeader(Doc(Header(0, 5, 0)).image), ResultCode::CorruptData);
  EXPECT_EQ(XcfReadHeader(Doc(Header(5, 0, 1)).image), ResultCode::CorruptData);
  EXPECT_EQ(XcfReadHeader(Doc(Header(5, 5, 3)).image), ResultCode::UnsupportedVersion);
  Bytes blank = Header(5, 5, 0, "v003");
  blank[13] = ' ';
  EXPECT_EQ(XcfReadHeader(Doc(blank).image), ResultCode::UnsupportedVersion);
  Bytes foreign = Header(5, 5, 0);
  foreign[0] = 'G';
  EXPECT_EQ(XcfReadHeader(Doc(foreign).image), ResultCode::NotRecognised);
  Bytes cut = Header(5, 5, 0);
  cut.resize(24);
  EXPECT_EQ(XcfReadHeader(Doc(cut).image), ResultCode::ReadError);
}

TEST(XcfHeader, EachReadRunsOnce) {
  Doc good(Header(10, 20, 2, "file"));
  ASSERT_EQ(XcfReadHeader(good.image), ResultCode::Ok);
  uint32_t reads = good.counting.reads;
  EXPECT_EQ(XcfReadHeader(good.image), ResultCode::Ok);
  XcfHeaderInfo info;
  ASSERT_EQ(XcfGetHeaderInfo(good.image, &info), ResultCode::Ok);
  EXPECT_EQ(info.version, 0u);
  EXPECT_EQ(info.width, 10u);
  EXPECT_EQ(info.height, 20u);
  EXPECT_EQ(info.baseType, 2u);
  EXPECT_EQ(good.counting.reads, reads);

  Doc bad(Header(0, 20, 2));
  EXPECT_EQ(XcfLoad(bad.image), ResultCode::CorruptData);
  reads = bad.counting.reads;
  EXPECT_EQ(XcfReadHeader(bad.image), ResultCode::NotReady);
  EXPECT_EQ(XcfLoad(bad.image), ResultCode::NotReady);
  EXPECT_EQ(XcfGetHeaderInfo(bad.image, &info), ResultCode::NotReady);
  float x, y;
  EXPECT_EQ(XcfGetResolution(bad.image, &x, &y), ResultCode::NotReady);
  EXPECT_EQ(bad.counting.reads, reads);
}

TEST(XcfProperties, RepairAColormapLengthThatCountsColoursAsBytes) {
  // Three colours with the stored length n + 4 = 7: read as 3 n + 4 = 13.
  Bytes xcf = WithProps({xcftest::PropRaw(1, {0, 0, 0, 3, 10, 11, 12, 20, 21, 22, 30, 31, 32}),
                         xcftest::PropOpacity(99)},
                        2);
  xcf[26 + 7] = 7;
  Doc doc(xcf);
  ASSERT_EQ(XcfLoad(doc.image), ResultCode::Ok);
  uint8_t triples[768] = {};
  uint32_t count = 256;
  ASSERT_EQ(XcfGetColormap(doc.image, &count, triples), ResultCode::Ok);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(triples[8], 32);
  EXPECT_TRUE(XcfHasProperty(doc.image->properties, 6));  // the next property was found
}

TEST(XcfProperties, KeepsTheWholeOfALongerColormap) {
  Bytes payload = {0, 0, 0, 2, 1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0};  // 3 n + 10
  Doc doc(WithProps({xcftest::PropRaw(1, payload), xcftest::PropResolution(300, 150)}, 2));
  ASSERT_EQ(XcfLoad(doc.image), ResultCode::Ok);
  XcfProperty colormap;
  ASSERT_TRUE(XcfFindProperty(doc.image->properties, 1, &colormap));
  EXPECT_EQ(colormap.length, 16u);
  float x, y;
  ASSERT_EQ(XcfGetResolution(doc.image, &x, &y), ResultCode::Ok);
  EXPECT_EQ(x, 300.0f);
  EXPECT_EQ(y, 150.0f);
}

TEST(XcfProperties, LimitTheColormap) {
  std::vector<uint8_t> colours(256 * 3, 7);
  EXPECT_EQ(XcfLoad(Doc(WithProps({xcftest::PropColormap(colours)}, 2)).image), ResultCode::Ok);
  colours.resize(257 * 3, 7);
  EXPECT_EQ(XcfLoad(Doc(WithProps({xcftest::PropColormap(colours)}, 2)).image), ResultCode::CorruptData);
  EXPECT_EQ(XcfLoad(Doc(WithProps({xcftest::PropRaw(1, {0, 0, 0, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9})}, 2)).image),
            ResultCode::CorruptData);  // too short for its count
  EXPECT_EQ(XcfLoad(Doc(WithProps({xcftest::PropRaw(1, {0, 0})}, 2)).image), ResultCode::CorruptData);
}

TEST(XcfProperties, ColormapExtractionHonoursTheCapacity) {
  std::vector<uint8_t> colours;
  for (int i = 0; i < 16 * 3; ++i) colours.push_back(static_cast<uint8_t>(i));
  Doc doc(WithProps({xcftest::PropColormap(colours)}, 2));
  ASSERT_EQ(XcfLoad(doc.image), ResultCode::Ok);
  uint8_t triples[768];
  uint32_t count = 256;
  ASSERT_EQ(XcfGetColormap(doc.image, &count, triples), ResultCode::Ok);
  EXPECT_EQ(count, 16u);
  count = 8;
  std::memset(triples, 0xEE, sizeof triples);
  ASSERT_EQ(XcfGetColormap(doc.image, &count, triples), ResultCode::Ok);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(triples[23], 23);
  EXPECT_EQ(triples[24], 0xEE);
  Doc none(WithProps({}, 2));
  ASSERT_EQ(XcfLoad(none.image), ResultCode::Ok);
  EXPECT_EQ(XcfGetColormap(none.image, &count, triples), ResultCode::CorruptData);
}

TEST(XcfProperties, ARepeatedIdKeepsTheLastPayload) {
  Doc doc(WithProps({xcftest::PropOpacity(1), xcftest::PropMode(3), xcftest::PropOpacity(2)}));
  ASSERT_EQ(XcfLoad(doc.image), ResultCode::Ok);
  XcfProperty opacity;
  ASSERT_TRUE(XcfFindProperty(doc.image->properties, 6, &opacity));
  EXPECT_EQ(XcfPropertyU32(&opacity, 0), 2u);
  EXPECT_EQ(doc.image->properties->items[0].id, 6u);  // same position
}

TEST(XcfProperties, AccessorsTreatOtherLengthsAsAbsent) {
  Doc doc(WithProps({xcftest::PropRaw(17, {1, 0, 0, 0}), xcftest::PropRaw(19, {0x42, 0x90, 0, 0})}));
  ASSERT_EQ(XcfLoad(doc.image), ResultCode::Ok);
  uint32_t compression = 9;
  ASSERT_EQ(XcfGetCompression(doc.image, &compression), ResultCode::Ok);
  EXPECT_EQ(compression, 0u);
  float x = 1, y = 1;
  ASSERT_EQ(XcfGetResolution(doc.image, &x, &y), ResultCode::Ok);
  EXPECT_EQ(x, 0.0f);
  EXPECT_EQ(y, 0.0f);
  xcftest::Image plain{4, 4, 0};
  plain.props.push_back(xcftest::PropCompression(1));
  Doc rle(xcftest::WriteXcf(plain));
  ASSERT_EQ(XcfLoad(rle.image), ResultCode::Ok);
  ASSERT_EQ(XcfGetCompression(rle.image, &compression), ResultCode::Ok);
  EXPECT_EQ(compression, 1u);
}

TEST(XcfProperties, AnEndRecordWithALengthIsCorrupt) {
  Bytes xcf = Header(4, 4, 0);
  xcftest::ByteWriter w;
  w.U32(0);
  w.U32(4);
  xcf.insert(xcf.end(), w.bytes().begin(), w.bytes().end());
  EXPECT_EQ(XcfLoad(Doc(xcf).image), ResultCode::CorruptData);
}

TEST(XcfOffsetList, ReadsManyBatchesAndAnEmptyList) {
  xcftest::ByteWriter w;
  for (uint32_t i = 1; i <= 100; ++i) w.U32(i * 1000);
  w.U32(0);
  w.U32(0);
  xcftest::CountingStream counting(w.bytes());
  XcfOffsetList list{};
  ASSERT_EQ(XcfReadOffsetList(&list, counting.stream), ResultCode::Ok);
  ASSERT_EQ(list.count, 100u);
  EXPECT_EQ(list.offsets[0], 1000u);
  EXPECT_EQ(list.offsets[99], 100000u);
  ASSERT_EQ(XcfReadOffsetList(&list, counting.stream), ResultCode::Ok);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.offsets, nullptr);
  EXPECT_EQ(XcfReadOffsetList(&list, counting.stream), ResultCode::ReadError);
  XcfOffsetListFree(&list);
}

TEST(XcfLoad, AnEmptyLayerListLoadsButBuildsNoTree) {
  xcftest::Image image{4, 4, 1};
  Doc doc(xcftest::WriteXcf(image));
  ASSERT_EQ(XcfLoad(doc.image), ResultCode::Ok);
  EXPECT_EQ(doc.image->layerOffsets.count, 0u);
  EXPECT_EQ(XcfBuildLayerTree(doc.image), ResultCode::CorruptData);
}

}  // namespace
