// The host's output files: BMP as delivered, PNG read back with libpng.
#include <gtest/gtest.h>

#ifdef TESSEL_READS_PNG
#include <png.h>

#include "tests/unit/png_rgba.h"
#endif

#include <algorithm>

#include "tests/support/picture.h"
#include "tests/support/test_files.h"
#include "tools/host.h"
#include "tools/image_writer.h"
#include "tools/png_writer.h"

using namespace xcftest;

namespace {

Dib DibOf(const Picture& p) { return Dib{p.header.data(), p.header.size(), p.bits.data(), p.bits.size()}; }

Picture Sample(uint32_t baseType) {
  Image image{5, 3, baseType};
  uint32_t type = baseType == 0 ? 1 : baseType == 1 ? 3 : 5;
  uint32_t bpp = baseType == 0 ? 4 : 2;
  Layer layer{5, 3, type, "l"};
  layer.pixels = Pattern(5, 3, bpp, 4);
  for (size_t i = bpp - 1; i < layer.pixels.size(); i += bpp) layer.pixels[i] = 255;
  if (baseType == 2) {
    for (size_t i = 0; i < layer.pixels.size(); i += 2) layer.pixels[i] %= 3;
    image.props.push_back(PropColormap({10, 20, 30, 40, 50, 60, 70, 80, 90}));
  }
  image.layers.push_back(layer);
  return Decode(image);
}

TEST(BmpWriter, WritesTheBitmapBehindAFileHeader) {
  Picture p = Sample(0);
  ASSERT_EQ(p.code, 0);
  std::string path = ScratchPath("out.bmp");
  std::string error;
  ASSERT_TRUE(WriteBmp(path, DibOf(p), &error)) << error;
  Bytes file = ReadFile(path);
  ASSERT_EQ(file.size(), 14 + 40 + p.bits.size());
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[10], 54);  // pixels start after the two headers
  EXPECT_TRUE(std::equal(p.bits.begin(), p.bits.end(), file.begin() + 54));
  Dib broken = DibOf(p);
  broken.bitsSize = 3;
  EXPECT_FALSE(WriteBmp(path, broken, &error));
}

#ifdef TESSEL_READS_PNG
// Reads a PNG back as top-down rows of its own channels.
Bytes ReadPng(const std::string& path, int* colourType, std::vector<png_color>* palette) {
  FILE* f = std::fopen(path.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  *colourType = png_get_color_type(png, info);
  png_colorp colours = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &colours, &count)) palette->assign(colours, colours + count);
  png_bytepp rows = png_get_rows(png, info);
  size_t rowBytes = png_get_rowbytes(png, info);
  Bytes out;
  for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y) out.insert(out.end(), rows[y], rows[y] + rowBytes);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return out;
}

TEST(PngWriter, KeepsThePixelsOfEachKindOfBitmap) {
  for (uint32_t baseType : {0u, 1u, 2u})
  for (PngEffort effort : {PngEffort::Fast, PngEffort::Small}) {
    Picture p = Sample(baseType);
    ASSERT_EQ(p.code, 0);
    std::string path = ScratchPath("out-" + std::to_string(baseType) + ".png");
    std::string error;
    ASSERT_TRUE(WritePng(path, DibOf(p), &error, 1, effort)) << error;
    int colourType = -1;
    std::vector<png_color> palette;
    Bytes rows = ReadPng(path, &colourType, &palette);
    Bytes expected;
    for (uint32_t y = 0; y < p.height; ++y)
      for (uint32_t x = 0; x < p.width; ++x) {
        Bytes px = p.At(x, y);
        expected.insert(expected.end(), px.begin(), px.end());
      }
    EXPECT_EQ(rows, expected) << baseType;
    EXPECT_EQ(colourType, baseType == 0 ? PNG_COLOR_TYPE_RGB
                                        : baseType == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE);
    if (baseType == 2) {
      ASSERT_EQ(palette.size(), 256u);
      EXPECT_EQ(palette[1].red, 40);
      EXPECT_EQ(palette[1].blue, 60);
      EXPECT_EQ(palette[3].red, 0);
    }
  }
}

// A PNG read back as RGBA; nothing where libpng cannot read it.
Bytes ReadPngRgba(const std::string& path) {
  uint32_t width = 0, height = 0;
  Bytes rgba;
  return xcftest::ReadPngRgba(path, &width, &height, &rgba) ? rgba : Bytes{};
}

// Pictures with their transparency, written as PNG: RGBA, gray and alpha,
// an indexed one as a palette with a transparent entry where its alpha is
// all or nothing and as RGBA where it is not; libpng reads back every
// pixel, streamed as drawn or written whole.
TEST(PngWriter, KeepsTheAlphaOfEachKindOfPicture) {
  struct Case {
    uint32_t baseType;
    uint32_t opacity;  // of the layer that leaves the rest clear
    int colourType;
    bool transparentEntry;
  };
  const Case kCases[] = {{0, 255, PNG_COLOR_TYPE_RGB_ALPHA, false},
                         {1, 200, PNG_COLOR_TYPE_GRAY_ALPHA, false},
                         {2, 255, PNG_COLOR_TYPE_PALETTE, true},
                         {2, 100, PNG_COLOR_TYPE_RGB_ALPHA, false}};
  PluginApi api;
  std::string error;
  ASSERT_TRUE(PluginLoad("", &api, &error)) << error;
  api.limits = &tessel::kEveryVersion;
  for (const Case& c : kCases) {
    // A layer with alpha over a part of the canvas, at an opacity.
    Image image{7, 5, c.baseType};
    const uint32_t type = c.baseType == 0 ? 1 : c.baseType == 1 ? 3 : 5;
    const uint32_t bpp = c.baseType == 0 ? 4 : 2;
    Layer layer{4, 3, type, "l", {PropOffsets(2, 1), PropOpacity(c.opacity)}};
    layer.pixels = Pattern(4, 3, bpp, 9);
    for (size_t i = 0; i < layer.pixels.size(); i += bpp) {
      if (c.baseType == 2) layer.pixels[i] %= 3;
      layer.pixels[i + bpp - 1] = i % 3 == 0 ? 0 : 255;
    }
    if (c.baseType == 2) image.props.push_back(PropColormap({10, 20, 30, 40, 50, 60, 70, 80, 90}));
    image.layers.push_back(layer);
    const Bytes file = WriteXcf(image);
    Picture p = Decode(file, nullptr, 0, tessel::kEveryVersion, tessel::PictureChoice{tessel::PictureKind::Transparent, {0, 0, 0}});
    ASSERT_EQ(p.code, 0) << p.reason;
    ASSERT_EQ(p.bitCount, 32u);
    Bytes expected;
    for (uint32_t y = 0; y < p.height; ++y)
      for (uint32_t x = 0; x < p.width; ++x) {
        const Bytes px = p.Rgba(x, y);
        expected.insert(expected.end(), px.begin(), px.end());
      }
    const std::string whole = ScratchPath("alpha-whole.png"), streamed = ScratchPath("alpha-streamed.png");
    ASSERT_TRUE(WritePng(whole, DibOf(p), &error)) << error;
    HostInput in;
    in.bytes.assign(file.begin(), file.end());
    in.buffer = in.bytes.data();
    in.offsetOrSize = static_cast<int32_t>(in.bytes.size());
    in.flag = 1;
    HostPicture picture;
    std::string reason;
    {
      PictureOutput output(api, streamed);
      ASSERT_EQ(DecodePicture(api, in, nullptr, 0, &picture, &reason, output.Sink(), nullptr,
                              tessel::PictureChoice{tessel::PictureKind::Transparent, {0, 0, 0}}),
                0)
          << reason;
      ASSERT_TRUE(output.Write(picture, &error)) << error;
    }
    for (const std::string& path : {whole, streamed}) {
      EXPECT_EQ(ReadPngRgba(path), expected) << path << ", base type " << c.baseType;
      const Bytes bytes = ReadFile(path);
      EXPECT_EQ(bytes[25], c.colourType) << path << ", base type " << c.baseType;
      const bool entry = std::search(bytes.begin(), bytes.end(), std::begin("tRNS"), std::end("tRNS") - 1) != bytes.end();
      EXPECT_EQ(entry, c.transparentEntry) << path << ", base type " << c.baseType;
    }
  }
}

// A picture of several megabytes goes out in pieces compressed on several
// threads, with flat areas and noise; libpng reads back every pixel.
TEST(PngWriter, WritesLargePicturesInPiecesOnThreads) {
  const uint32_t width = 1001, height = 1500;
  Image image{width, height, 0};
  Layer layer{width, height, 0, "l"};
  layer.pixels = Pattern(width, height, 3, 11);
  for (size_t i = 0; i < layer.pixels.size() / 3; ++i) layer.pixels[i] = 200;  // a flat third
  image.layers.push_back(layer);
  Picture p = Decode(image);
  ASSERT_EQ(p.code, 0);
  Bytes expected;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const Bytes px = p.At(x, y);
      expected.insert(expected.end(), px.begin(), px.end());
    }
  // In pieces on one and three threads, and in one piece by every row's
  // best filter, where each of the five meets flat areas and noise.
  const struct {
    uint32_t threads;
    PngEffort effort;
  } kWays[] = {{1, PngEffort::Fast}, {3, PngEffort::Fast}, {1, PngEffort::Small}};
  for (const auto& way : kWays) {
    const std::string path = ScratchPath("large.png");
    std::string error;
    ASSERT_TRUE(WritePng(path, DibOf(p), &error, way.threads, way.effort)) << error;
    int colourType = -1;
    std::vector<png_color> palette;
    ASSERT_TRUE(ReadPng(path, &colourType, &palette) == expected) << way.threads << " threads";
  }
  // Written while it is drawn: the bands come on the drawing threads, in
  // any order, and the file is only the picture once it is whole; a
  // decode that fails leaves no file behind.
  PluginApi api;
  std::string error;
  ASSERT_TRUE(PluginLoad("", &api, &error)) << error;
  const Bytes file = WriteXcf(image);
  const Bytes cut(file.begin(), file.begin() + static_cast<long>(file.size() / 2));
  for (const Bytes* input : {&file, &cut}) {
    HostInput in;
    in.bytes.assign(input->begin(), input->end());
    in.buffer = in.bytes.data();
    in.offsetOrSize = static_cast<int32_t>(in.bytes.size());
    in.flag = 1;
    const std::string path = ScratchPath("streamed.png");
    std::filesystem::remove(path);
    HostPicture picture;
    std::string reason;
    {
      PictureOutput output(api, path);
      ASSERT_NE(output.Sink(), nullptr);
      const int code = DecodePicture(api, in, nullptr, 0, &picture, &reason, output.Sink());
      ASSERT_EQ(code == 0, input == &file) << reason;
      if (code == 0) {
        ASSERT_TRUE(output.Write(picture, &error)) << error;
      }
    }
    if (input == &cut) {
      EXPECT_FALSE(std::filesystem::exists(path));
      EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
      continue;
    }
    int colourType = -1;
    std::vector<png_color> palette;
    ASSERT_TRUE(ReadPng(path, &colourType, &palette) == expected) << "streamed";
  }
}
#endif

}  // namespace
