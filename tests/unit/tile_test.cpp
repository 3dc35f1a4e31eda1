// Hierarchies, levels and tiles: raw and run-length encoded pixels.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include "stream/memory_source.h"
#include "tests/support/document.h"
#include "xcf/hierarchy.h"
#include "xcf/layer_tree.h"
#include "xcf/tile.h"

using namespace tessel;
using xcftest::Bytes;
using xcftest::Document;
using xcftest::Layer;

namespace {

// Decodes one RLE tile from the given bytes.
ResultCode Decode(const Bytes& data, uint32_t tw, uint32_t th, uint32_t bpp, Bytes* out) {
  ByteStream* stream = nullptr;
  EXPECT_EQ(MemoryStreamOpen(static_cast<uint32_t>(data.size()), &stream, data.data()), ResultCode::Ok);
  out->assign(static_cast<size_t>(tw) * th * bpp, 0xEE);
  ResultCode result = XcfReadTile(stream, out->data(), kCompressionRle, tw, th, bpp);
  StreamDestroy(&stream);
  return result;
}

TEST(RleTile, DecodesEveryOpcodeKind) {
  Bytes out;
  // Repeat 3, literal 3, long repeat 5, long literal 2, and a repeat of 0.
  ASSERT_EQ(Decode({0x02, 0x07, 0xFD, 0x01, 0x02, 0x03, 0x7F, 0x00, 0x05, 0x09, 0x7F, 0x00, 0x00, 0x33, 0x80, 0x00,
                    0x02, 0x0A, 0x0B, 0x80, 0x00, 0x00},
                   13, 1, 1, &out),
            ResultCode::Ok);
  EXPECT_EQ(out, (Bytes{7, 7, 7, 1, 2, 3, 9, 9, 9, 9, 9, 10, 11}));
}

TEST(RleTile, RunsStopAtTheEndOfTheirPlane) {
  Bytes out;
  // Plane 0 (2 pixels) gets a repeat of 5: cut to 2, its value consumed.
  // Plane 1 gets a literal of 3: only 2 bytes are taken, the third is read
  // as nothing more since the plane is full.
  ASSERT_EQ(Decode({0x04, 0x11, 0xFD, 0x21, 0x22}, 2, 1, 2, &out), ResultCode::Ok);
  EXPECT_EQ(out, (Bytes{0x11, 0x21, 0x11, 0x22}));
  // A literal longer than plane 0: the byte after what it writes is plane 1's opcode.
  ASSERT_EQ(Decode({0xFD, 0x01, 0x02, 0x01, 0x44}, 2, 1, 2, &out), ResultCode::Ok);
  EXPECT_EQ(out, (Bytes{0x01, 0x44, 0x02, 0x44}));
}

TEST(RleTile, DataEndingInARunIsAReadError) {
  Bytes out;
  EXPECT_EQ(Decode({0x05}, 4, 1, 1, &out), ResultCode::ReadError);
  EXPECT_EQ(Decode({0xFC, 1, 2}, 4, 1, 1, &out), ResultCode::ReadError);
  EXPECT_EQ(Decode({0x7F, 0x00}, 4, 1, 1, &out), ResultCode::ReadError);
  EXPECT_EQ(Decode({0x01, 0x05}, 4, 1, 1, &out), ResultCode::ReadError);  // 2 of 4 pixels
}

TEST(RleTile, TheEncoderRoundTripsThroughTheDecoder) {
  for (uint32_t seed = 0; seed < 300; ++seed) {
    uint32_t tw = 1 + seed % 64, th = 1 + (seed * 7) % 64;
    Bytes plane = xcftest::Pattern(tw, th, 1, seed);
    for (auto& b : plane) b = static_cast<uint8_t>(b % (seed % 6 + 1));  // runs of every length
    Bytes out;
    ASSERT_EQ(Decode(xcftest::RleEncodePlane(plane.data(), plane.size()), tw, th, 1, &out), ResultCode::Ok);
    ASSERT_EQ(out, plane) << seed;
  }
}

Bytes LayerFile(uint32_t width, uint32_t height, uint32_t type, const Bytes& pixels, uint8_t compression,
                int32_t extraTiles = 0, uint32_t hierarchyBpp = 0) {
  xcftest::Image image{width, height, type >= 4 ? 2u : (type >= 2 ? 1u : 0u)};
  image.compression = compression;
  Layer layer{width, height, type, "l"};
  layer.pixels = pixels;
  layer.extraTileOffsets = extraTiles;
  layer.hierarchyBpp = hierarchyBpp;
  image.layers.push_back(layer);
  return xcftest::WriteXcf(image);
}

ResultCode LoadFirst(Document& doc, uint32_t compression) {
  ResultCode result = XcfBuildLayerTree(doc.image);
  return result != ResultCode::Ok ? result : XcfLayerLoadPixels(doc.counting.stream, doc.image->layers, compression);
}

Bytes Pixels(const XcfLayer* layer) {
  const XcfLevel* level = layer->hierarchy->level;
  return Bytes(level->pixels, level->pixels + static_cast<size_t>(level->width) * level->height * level->bpp);
}

TEST(TileLoop, PlacesEdgeTilesOfBothCompressions) {
  const Bytes pixels = xcftest::Pattern(65, 65, 3, 4);
  for (uint8_t compression : {0, 1}) {
    Document doc(LayerFile(65, 65, 0, pixels, compression));
    ASSERT_EQ(LoadFirst(doc, compression), ResultCode::Ok);
    EXPECT_EQ(doc.image->layers->hierarchy->level->tileOffsets.count, 4u);
    EXPECT_EQ(Pixels(doc.image->layers), pixels);
    EXPECT_EQ(XcfHierarchyRow(doc.image->layers->hierarchy, 64)[3 * 64], pixels[(64 * 65 + 64) * 3]);
    EXPECT_EQ(XcfHierarchyRow(doc.image->layers->hierarchy, 65), nullptr);
    EXPECT_EQ(XcfLayerHasPixels(doc.image->layers), 1);
  }
}

TEST(TileLoop, ToleratesMoreTileOffsetsButNotFewer) {
  const Bytes pixels = xcftest::Pattern(130, 70, 4, 2);
  Document more(LayerFile(130, 70, 1, pixels, 1, 3));
  ASSERT_EQ(LoadFirst(more, 1), ResultCode::Ok);
  EXPECT_EQ(Pixels(more.image->layers), pixels);
  Document fewer(LayerFile(130, 70, 1, pixels, 1, -1));
  EXPECT_EQ(LoadFirst(fewer, 1), ResultCode::CorruptData);
  EXPECT_EQ(fewer.image->layers->hierarchy, nullptr);
  EXPECT_EQ(XcfLayerHasPixels(fewer.image->layers), 0);
}

TEST(TileLoop, RefusesOtherCompressions) {
  Document doc(LayerFile(8, 8, 0, xcftest::Pattern(8, 8, 3, 1), 1));
  EXPECT_EQ(LoadFirst(doc, 2), ResultCode::InvalidArgument);
  EXPECT_EQ(XcfLayerLoadPixels(doc.counting.stream, doc.image->layers, 1), ResultCode::Ok);
}

TEST(Hierarchy, MustAgreeWithItsLayer) {
  Document doc(LayerFile(8, 8, 2, xcftest::Pattern(8, 8, 1, 1), 1, 0, 3));
  EXPECT_EQ(LoadFirst(doc, 1), ResultCode::CorruptData);
}

TEST(Hierarchy, LoadsOnceAndThenReadsNothing) {
  Document doc(LayerFile(70, 10, 1, xcftest::Pattern(70, 10, 4, 3), 1));
  ASSERT_EQ(LoadFirst(doc, 1), ResultCode::Ok);
  uint32_t reads = doc.counting.reads;
  uint32_t seeks = doc.counting.seeks;
  EXPECT_EQ(XcfLayerLoadPixels(doc.counting.stream, doc.image->layers, 1), ResultCode::Ok);
  EXPECT_EQ(doc.counting.reads, reads);
  EXPECT_EQ(doc.counting.seeks, seeks);
}

TEST(Hierarchy, ReadsRawTilesWithOneReadEach) {
  Document doc(LayerFile(130, 130, 0, xcftest::Pattern(130, 130, 3, 3), 0));
  ASSERT_EQ(XcfBuildLayerTree(doc.image), ResultCode::Ok);
  uint32_t reads = doc.counting.reads;
  ASSERT_EQ(XcfLayerLoadPixels(doc.counting.stream, doc.image->layers, 0), ResultCode::Ok);
  // Four words of hierarchy, two of level, ten offsets with the zero, nine tiles.
  EXPECT_EQ(doc.counting.reads - reads, 4u + 2 + 10 + 9);
}

TEST(Hierarchy, DamagedPixelDataFailsCleanly) {
  Bytes file = LayerFile(64, 64, 1, xcftest::Pattern(64, 64, 4, 8), 1);
  Bytes cut(file.begin(), file.end() - 100);
  Document truncated(cut);
  EXPECT_EQ(LoadFirst(truncated, 1), ResultCode::ReadError);
  EXPECT_EQ(truncated.image->layers->hierarchy, nullptr);
  // The layer's hierarchy offset pointed past the end.
  Document doc(file);
  ASSERT_EQ(XcfBuildLayerTree(doc.image), ResultCode::Ok);
  doc.image->layers->hierarchyOffset = static_cast<uint32_t>(file.size() + 1);
  EXPECT_EQ(XcfLayerLoadPixels(doc.counting.stream, doc.image->layers, 1), ResultCode::SeekError);
  // Raw tile data that ends early.
  Bytes raw = LayerFile(64, 64, 1, xcftest::Pattern(64, 64, 4, 8), 0);
  raw.resize(raw.size() - 1);
  EXPECT_EQ(LoadFirst(*std::make_unique<Document>(raw), 0), ResultCode::ReadError);
}

// A layer of `size` with a mask whose hierarchy states bpp bytes per pixel.
Bytes MaskFile(uint32_t size, uint32_t maskBpp) {
  xcftest::Image image{size, size, 0};
  Layer layer{size, size, 1, "m"};
  layer.pixels = xcftest::Solid(size, size, {1, 2, 3, 255});
  layer.mask = xcftest::Mask{size, size, {}, xcftest::Pattern(size, size, maskBpp, 2), maskBpp};
  image.layers.push_back(layer);
  return xcftest::WriteXcf(image);
}

TEST(MaskPixels, LoadWithTheirStoredBytesPerPixel) {
  for (uint32_t bpp : {1u, 2u}) {
    Document doc(MaskFile(20, bpp));
    ASSERT_EQ(XcfBuildLayerTree(doc.image), ResultCode::Ok);
    XcfLayer* layer = doc.image->layers;
    ASSERT_EQ(XcfLayerLoadMaskPixels(layer, doc.counting.stream, 1), ResultCode::Ok);
    ASSERT_NE(XcfChannelRow(layer->mask, 19), nullptr);
    EXPECT_EQ(XcfChannelRow(layer->mask, 20), nullptr);
    EXPECT_EQ(XcfChannelRow(layer->mask, 1) - XcfChannelRow(layer->mask, 0), 20 * static_cast<long>(bpp));
  }
}

TEST(MaskPixels, AHostileBytesPerPixelIsRefusedNotWrapped) {
  Document doc(MaskFile(64, 1));
  ASSERT_EQ(XcfBuildLayerTree(doc.image), ResultCode::Ok);
  XcfLayer* layer = doc.image->layers;
  ASSERT_EQ(XcfLayerReadMask(doc.counting.stream, layer), ResultCode::Ok);
  // Rewrite the mask hierarchy's bytes per pixel so that 64 * 64 * bpp
  // exceeds 32 bits (and wraps to a small number in 32-bit arithmetic).
  Bytes& bytes = doc.bytes;
  uint32_t at = layer->mask->hierarchyOffset + 8;
  uint32_t bpp = 0x00100001;  // 64 * 64 * bpp = 2^32 + 4096
  bytes[at] = static_cast<uint8_t>(bpp >> 24);
  bytes[at + 1] = static_cast<uint8_t>(bpp >> 16);
  bytes[at + 2] = static_cast<uint8_t>(bpp >> 8);
  bytes[at + 3] = static_cast<uint8_t>(bpp);
  EXPECT_EQ(XcfLayerLoadMaskPixels(layer, doc.counting.stream, 1), ResultCode::OutOfMemory);
  EXPECT_EQ(layer->mask->hierarchy, nullptr);
}

}  // namespace
