// The XCF files that GIMP itself saved (tests/gimp, made by
// scripts/gimp-files.sh; tests/gimp3, by scripts/gimp3.sh): a second
// reading of the format beside the test writer's. Those of versions 0 to 3
// must decode to the picture reviewed and kept beside them; those of GIMP
// 2.10 (versions 11 to 13) and GIMP 3 (14 on) to within one level of that
// GIMP's own flatten of them.
#include <gtest/gtest.h>

#ifdef TESSEL_READS_PNG
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>


#include "plugin/entry.h"
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

std::filesystem::path Folder(const char* name = "gimp") {
  return std::filesystem::path(TESSEL_SOURCE_DIR) / "tests" / name;
}

// The XCF version of a file, in any container, as its header says; -1
// when the header cannot be read.
int VersionOf(const Bytes& file) {
  tessel::XcfFormat format{};
  tessel::Reason reason{};
  const int code = tessel::GetPictureFormatWith(reinterpret_cast<const char*>(file.data()),
                                                static_cast<int32_t>(file.size()), 1, &format, tessel::kEveryVersion,
                                                &reason);
  return code == 0 ? format.version : -1;
}

// The picture's pixel (x, y) as RGB, through the colour table of 8 bits.
Bytes RgbAt(const Picture& p, uint32_t x, uint32_t y) {
  Bytes px = p.At(x, y);
  if (p.bitCount != 8) return px;
  const Bytes entry = p.Entry(px[0]);
  return {entry[2], entry[1], entry[0]};
}

// How close a picture is to a GIMP's: the largest difference of a channel,
// and the pixels off at all and by more than one level; printed a line a
// file.
struct Agreement {
  bool read = false;
  int largest = 0;
  uint64_t off = 0;
  uint64_t offMore = 0;
};

Agreement Compare(const std::string& name, const Bytes& file, const Picture& p, const std::string& png,
                  Bytes* expected) {
  Agreement a;
  uint32_t width = 0, height = 0;
  if (!ReadPngRgb(png, &width, &height, expected) || p.width != width || p.height != height) return a;
  a.read = true;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const Bytes px = RgbAt(p, x, y);
      int difference = 0;
      for (int c = 0; c < 3; ++c)
        difference = std::max(difference, std::abs(px[c] - (*expected)[(size_t{y} * width + x) * 3 + c]));
      a.largest = std::max(a.largest, difference);
      a.off += difference > 0;
      a.offMore += difference > 1;
    }
  std::printf("%-40s v%03d %4u x %-4u largest difference %d, %.2f %% of pixels one level off\n", name.c_str(),
              VersionOf(file), width, height, a.largest,
              100.0 * static_cast<double>(a.off) / (static_cast<double>(width) * height));
  return a;
}

TEST(GimpFiles, DecodeToTheirReviewedPictures) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
    const std::string name = entry.path().filename().string();
    if (name.find(".xcf") == std::string::npos) continue;
    const Bytes file = ReadFile(entry.path().string());
    if (VersionOf(file) > 3) continue;
    ++files;
    const Picture p = Decode(file);
    ASSERT_EQ(p.code, 0) << name << ": " << p.reason;
    uint32_t width = 0, height = 0;
    Bytes expected;
    ASSERT_TRUE(ReadPngRgb((Folder() / "expected" / (name + ".png")).string(), &width, &height, &expected)) << name;
    ASSERT_EQ(p.width, width) << name;
    ASSERT_EQ(p.height, height) << name;
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) {
        const size_t at = (size_t{y} * width + x) * 3;
        ASSERT_EQ(RgbAt(p, x, y), Bytes(expected.begin() + at, expected.begin() + at + 3))
            << name << " at " << x << ", " << y;
      }
  }
  // groups (plain and .gz), masks (plain and .bz2), offsets, legacy modes, indexed, gray.
  EXPECT_EQ(files, 8);
}

// Every file GIMP 2.10 saved within one level of GIMP's own picture of it,
// per channel, on every pixel; the plug-in's exports refuse them all.
TEST(GimpFiles, DrawWithinOneLevelOfGimpsOwnFlatten) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
    const std::string name = entry.path().filename().string();
    if (name.find(".xcf") == std::string::npos) continue;
    const Bytes file = ReadFile(entry.path().string());
    if (VersionOf(file) <= 3) continue;
    ++files;
    EXPECT_EQ(Decode(file).code, 2) << name << ": the plug-in reads versions 0 to 3 only";
    const Picture p = Decode(file, nullptr, 0, tessel::kEveryVersion);
    ASSERT_EQ(p.code, 0) << name << ": " << p.reason;
    Bytes expected;
    const Agreement a = Compare(name, file, p, (Folder() / "expected" / (name + ".png")).string(), &expected);
    ASSERT_TRUE(a.read) << name;
    const int largest = a.largest;
    const uint64_t offMore = a.offMore;
    uint32_t width = 0, height = 0;
    // The one pixel that is not: dodge where the layer's colour is near
    // white and its alpha near none, so that the quotient is large and the
    // last bits of its curve conversions count.
    const bool dodgeEdge = name.rfind("modern-modes", 0) == 0 && name.find("opacity") == std::string::npos &&
                           name.find("transparent") == std::string::npos;
    if (dodgeEdge) {
      EXPECT_LE(largest, 2) << name;
      EXPECT_LE(offMore, 1u) << name;
    } else {
      EXPECT_LE(largest, 1) << name;
    }
    // GIMP draws a file whose tiles are zlib streams as it draws the same
    // file with RLE tiles.
    const size_t zlib = name.find("-zlib.xcf");
    if (zlib != std::string::npos) {
      Bytes rle;
      ASSERT_TRUE(ReadPngRgb((Folder() / "expected" / (name.substr(0, zlib) + ".xcf.png")).string(), &width, &height,
                             &rle));
      EXPECT_TRUE(rle == expected) << name;
    }
  }
  EXPECT_GE(files, 24);
}

// Every file GIMP 3 saved (versions 14 to 23, and one .xcf.xz) within one
// level of GIMP 3's own picture of it; the layer with filters drawn as GIMP
// 3 draws it with the filters taken off, and the filters told.
TEST(GimpFiles, Gimp3FilesDrawWithinOneLevelOfGimp3sFlatten) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Folder("gimp3"))) {
    std::string name = entry.path().filename().string();
    if (name.find(".xcf") == std::string::npos) continue;
    const Bytes file = ReadFile(entry.path().string());
    ++files;
    const bool xz = name.size() > 3 && name.compare(name.size() - 3, 3, ".xz") == 0;
    EXPECT_GE(VersionOf(file), 14) << name;
    // The plug-in reads neither versions past 3 nor xz, and says which.
    const Picture refused = Decode(file);
    EXPECT_EQ(refused.code, 2) << name;
    EXPECT_NE(refused.reason.find(xz ? "no XCF, gzip or bzip2 signature" : "is none of file, v001, v002, v003"),
              std::string::npos)
        << name << ": " << refused.reason;
    const Picture p = Decode(file, nullptr, 0, tessel::kEveryVersion);
    ASSERT_EQ(p.code, 0) << name << ": " << p.reason;
    const std::string picture = xz ? name.substr(0, name.size() - 3) : name;
    Bytes expected;
    const Agreement a = Compare(name, file, p, (Folder("gimp3") / "expected" / (picture + ".png")).string(), &expected);
    ASSERT_TRUE(a.read) << name;
    EXPECT_LE(a.largest, 1) << name;

    const std::vector<std::string> filters = FiltersOf(file);
    if (name == "gimp3-filters.xcf") {
      // Stored top first: levels was added after the blur.
      EXPECT_EQ(filters, std::vector<std::string>{"layer 1 \"Sky\": 2 gegl:levels, gegl:gaussian-blur"});
      // GIMP's picture with the filters is far from the stored pixels.
      Bytes applied;
      const Agreement withFilters =
          Compare("  (GIMP 3 with its filters)", file, p,
                  (Folder("gimp3") / "expected" / "gimp3-filters-applied.xcf.png").string(), &applied);
      ASSERT_TRUE(withFilters.read);
      EXPECT_GT(withFilters.largest, 16);
    } else {
      EXPECT_TRUE(filters.empty()) << name << ": " << filters.front();
    }
  }
  EXPECT_GE(files, 12);
}

}  // namespace
#endif
