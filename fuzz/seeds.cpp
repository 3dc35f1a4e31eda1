// Writes the seed corpora of the fuzz targets, made by the test-support
// writer: every base type and layer type, groups, masks, every mode, raw and
// RLE tiles, plain, gzip, bzip2 and xz; the structures of GIMP 2.10 and 3.
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "tests/support/samples.h"
#include "tests/support/test_files.h"

using namespace xcftest;

namespace {

void Put(const std::string& dir, const std::string& name, const Bytes& bytes) { WriteFile(dir + "/" + name, bytes); }

// A small image of each base type with a layer of each type it can hold,
// a group with a masked child, in RLE or raw tiles.
Image Small(uint32_t baseType, uint8_t compression, uint32_t mode) {
  Image image{20, 12, baseType};
  image.compression = compression;
  if (baseType == 2) image.props.push_back(PropColormap({0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255}));
  image.props.push_back(PropResolution(300.0f, 300.0f));
  const uint32_t plain = baseType == 0 ? 0 : baseType == 1 ? 2 : 4;
  image.layers.push_back(Layer{16, 8, plain + 1, "group", {PropGroupItem(), PropOffsets(2, 2)}});
  Layer child{9, 7, plain + 1, "child", {PropItemPath({0, 0}), PropMode(mode), PropOffsets(4, 3)}};
  child.pixels = Pattern(9, 7, plain == 0 ? 4 : 2, mode);
  if (baseType == 2)
    for (size_t i = 0; i < child.pixels.size(); i += 2) child.pixels[i] %= 4;
  child.mask = Mask{9, 7, {PropOpacity(200)}, Pattern(9, 7, 1, 3)};
  image.layers.push_back(child);
  Layer top{70, 5, plain, "wide", {PropMode(mode), PropOpacity(180), PropOffsets(-3, 6)}};
  top.pixels = Pattern(70, 5, plain == 0 ? 3 : 1, 5);
  if (baseType == 2)
    for (auto& b : top.pixels) b %= 4;
  image.layers.push_back(top);
  Layer back{20, 12, plain, "back"};
  back.pixels = Pattern(20, 12, plain == 0 ? 3 : 1, 8);
  if (baseType == 2)
    for (auto& b : back.pixels) b %= 4;
  image.layers.push_back(back);
  return image;
}

// The same of XCF version 11 on, as GIMP 2.10 stores it: a precision of
// `bytes` a component, 8-byte pointers, tiles raw, RLE or zlib, one of
// GIMP's modes, the group masked from version 13.
Image Modern(const std::string& tag, uint32_t precision, uint32_t bytes, uint8_t compression, uint32_t mode) {
  Image image{20, 12, 0, tag};
  image.precision = precision;
  image.compression = compression;
  Layer group{16, 8, 1, "group", {PropGroupItem(), PropOffsets(2, 2), PropMode(mode == 61 ? 61 : 28)}};
  if (tag >= std::string("v013")) group.mask = Mask{16, 8, {}, Pattern(16, 8, bytes, 4), bytes};
  image.layers.push_back(group);
  Layer child{9, 7, 1, "child", {PropItemPath({0, 0}), PropMode(mode), PropOffsets(4, 3)}};
  child.pixels = Pattern(9, 7, 4 * bytes, mode);
  child.mask = Mask{9, 7, {}, Pattern(9, 7, bytes, 3), bytes};
  image.layers.push_back(child);
  Layer top{70, 5, 1, "wide", {PropMode(mode), PropOpacity(180), PropOffsets(-3, 6)}};
  top.pixels = Pattern(70, 5, 4 * bytes, 5);
  image.layers.push_back(top);
  Layer back{20, 12, 0, "back", {PropMode(28)}};
  back.pixels = Pattern(20, 12, 3 * bytes, 8);
  image.layers.push_back(back);
  return image;
}

// GIMP 3's structures on the same picture: the path list (version 18),
// filters on layers (20; their operations' versions from 22) and on masks
// (26).
Image Gimp3(int version) {
  char tag[8];
  std::snprintf(tag, sizeof tag, "v%03d", version);
  Image image = Modern(tag, 150, 1, static_cast<uint8_t>(version % 3), 30 + version % 30);
  image.paths = static_cast<uint32_t>(version % 3);
  for (Layer& layer : image.layers) {
    if (layer.name == "back") continue;
    layer.filters = {{"Blur", "gegl:gaussian-blur"}, {"Levels", "gegl:levels"}};
    if (layer.mask) layer.mask->filters = {{"Noise", "gegl:noise-hsv"}};
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
    return 2;
  }
  const std::string root = argv[1];
  for (const char* sub : {"", "/exports", "/rle", "/containers", "/pixbuf"}) mkdir((root + sub).c_str(), 0755);

  int count = 0;
  for (uint32_t baseType = 0; baseType < 3; ++baseType)
    for (uint8_t compression = 0; compression < 2; ++compression)
      for (uint32_t mode = 0; mode < 26; mode += (baseType == 0 ? 1 : 5)) {
        Bytes xcf = WriteXcf(Small(baseType, compression, mode));
        std::string name = "small-" + std::to_string(baseType) + "-" + std::to_string(compression) + "-" +
                           std::to_string(mode);
        Put(root + "/exports", name + ".xcf", xcf);
        // The pixbuf loader's: how to cut the data and what size to ask, then the file.
        Bytes cut = {static_cast<uint8_t>(mode), 1, 0, 0, static_cast<uint8_t>(mode * 37 + baseType * 90)};
        cut.insert(cut.end(), xcf.begin(), xcf.end());
        Put(root + "/pixbuf", name + ".cut", cut);
        if (mode == 0) {
          Put(root + "/exports", name + ".xcf.gz", Gzip(xcf));
          Put(root + "/exports", name + ".xcf.bz2", Bzip2(xcf));
          Put(root + "/containers", name + ".xcf.gz", Gzip(xcf));
          Put(root + "/containers", name + ".xcf.bz2", Bzip2(xcf));
          Put(root + "/containers", name + ".xcf", xcf);
        }
        ++count;
      }
  // GIMP 2.10's versions: every mode once, every precision, every compression.
  for (uint32_t mode = 23; mode < 64; ++mode, ++count)
    Put(root + "/exports", "modern-mode-" + std::to_string(mode) + ".xcf",
        WriteXcf(Modern(mode % 3 == 0 ? "v013" : "v011", 150, 1, static_cast<uint8_t>(mode % 3), mode)));
  const struct {
    uint32_t precision, bytes;
  } kPrecisions[] = {{100, 1}, {250, 2}, {200, 2}, {300, 4}, {350, 4}, {500, 2}, {550, 2}, {600, 4}, {650, 4},
                     {700, 8}, {750, 8}};
  for (const auto& p : kPrecisions)
    for (uint8_t compression = 0; compression < 3; ++compression, ++count)
      Put(root + "/exports", "precision-" + std::to_string(p.precision) + "-" + std::to_string(compression) + ".xcf",
          WriteXcf(Modern("v012", p.precision, p.bytes, compression, 30 + p.precision % 27)));
  for (int version = 14; version <= 26; ++version, ++count)
    Put(root + "/exports", "gimp3-" + std::to_string(version) + ".xcf", WriteXcf(Gimp3(version)));
  const Bytes gimp3 = WriteXcf(Gimp3(26));
#ifdef TESSEL_HAVE_LZMA
  Put(root + "/exports", "gimp3-26.xcf.xz", Xz(gimp3));
  Put(root + "/containers", "gimp3-26.xcf.xz", Xz(gimp3));
#endif
  Put(root + "/containers", "gimp3-26.xcf.gz", Gzip(gimp3));
  Put(root + "/exports", "indexed-groups.xcf", WriteXcf(IndexedGroupsImage(true)));
  Put(root + "/exports", "example.xcf.gz", Gzip(WriteXcf(ExampleImage())));

  // RLE tiles: width, height and bytes per pixel, then the planes.
  for (uint32_t seed = 0; seed < 24; ++seed) {
    const uint32_t tw = 1 + seed * 11 % 64, th = 1 + seed * 7 % 64, bpp = 1 + seed % 4;
    Bytes tile = {static_cast<uint8_t>(tw - 1), static_cast<uint8_t>(th - 1), static_cast<uint8_t>(bpp - 1)};
    Bytes pixels = Pattern(tw, th, bpp, seed);
    for (auto& b : pixels) b = static_cast<uint8_t>(b % (seed % 7 + 1));
    Bytes plane(static_cast<size_t>(tw) * th);
    for (uint32_t k = 0; k < bpp; ++k) {
      for (size_t i = 0; i < plane.size(); ++i) plane[i] = pixels[i * bpp + k];
      Bytes encoded = RleEncodePlane(plane.data(), plane.size());
      tile.insert(tile.end(), encoded.begin(), encoded.end());
    }
    Put(root + "/rle", "tile-" + std::to_string(seed), tile);
  }
  std::printf("wrote seeds for %d images\n", count);
  return 0;
}
