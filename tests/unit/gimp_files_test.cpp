// The XCF files that GIMP itself saved (tests/gimp, made by
// scripts/gimp-files.sh): a second reading of the format beside the test
// writer's. Each must decode to the picture reviewed and kept beside it.
#include <gtest/gtest.h>

#ifdef TESSEL_READS_PNG
#include <png.h>

#include <filesystem>

#include "tests/support/picture.h"
#include "tests/support/test_files.h"

using namespace xcftest;

namespace {

// A PNG's pixels as RGB triples, top-down, whatever its colour type.
bool ReadPngRgb(const std::string& path, uint32_t* width, uint32_t* height, Bytes* rgb) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_GRAY_TO_RGB | PNG_TRANSFORM_STRIP_ALPHA, nullptr);
  *width = png_get_image_width(png, info);
  *height = png_get_image_height(png, info);
  png_bytepp rows = png_get_rows(png, info);
  rgb->clear();
  for (uint32_t y = 0; y < *height; ++y) rgb->insert(rgb->end(), rows[y], rows[y] + 3 * size_t{*width});
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return true;
}

TEST(GimpFiles, DecodeToTheirReviewedPictures) {
  const std::filesystem::path folder = std::filesystem::path(TESSEL_SOURCE_DIR) / "tests" / "gimp";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".xcf") == std::string::npos) continue;
    ++files;
    const Picture p = Decode(ReadFile(entry.path().string()));
    ASSERT_EQ(p.code, 0) << name << ": " << p.reason;
    uint32_t width = 0, height = 0;
    Bytes expected;
    ASSERT_TRUE(ReadPngRgb((folder / "expected" / (name + ".png")).string(), &width, &height, &expected)) << name;
    ASSERT_EQ(p.width, width) << name;
    ASSERT_EQ(p.height, height) << name;
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) {
        Bytes px = p.At(x, y);
        if (p.bitCount == 8) {
          const Bytes entry = p.Entry(px[0]);
          px = {entry[2], entry[1], entry[0]};
        }
        const size_t at = (size_t{y} * width + x) * 3;
        ASSERT_EQ(px, Bytes(expected.begin() + at, expected.begin() + at + 3)) << name << " at " << x << ", " << y;
      }
  }
  // groups (plain and .gz), masks (plain and .bz2), offsets, legacy modes, indexed, gray.
  EXPECT_EQ(files, 8);
}

}  // namespace
#endif
