// Lengths that a damaged file declares: a property payload, a colour map,
// a name, an item path or an offset list longer than the input itself is
// the short read it would be (ReadError, host code 6; in a mask's record
// the mask is dropped as unreadable, host code 8), in every build, and
// nothing is asked of the allocator beyond the input's size for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "plugin/exports.h"
#include "tests/support/allocation_watch.h"
#include "tests/support/local_handles.h"
#include "tests/support/test_files.h"

using namespace xcftest;

namespace {

// A valid file of a few kilobytes in which every kind of variable-length
// record appears once, each marked so that its length field can be found.
Image Carrier() {
  Image image{8, 6, 2};
  image.props.push_back(PropColormap({10, 20, 30, 40, 50, 60, 70, 80, 90}));
  image.props.push_back(PropRaw(21, Bytes(1500, 'p')));  // a parasite of the image
  Layer group{8, 6, 1, "GROUPNAME", {PropGroupItem()}};
  Layer child{4, 4, 5, "CHILDNAME", {PropItemPath({0, 0}), PropRaw(21, Bytes(40, 'q'))}};
  child.pixels = Bytes(4 * 4 * 2, 1);
  child.mask = Mask{4, 4, {PropRaw(21, Bytes(30, 'm'))}, Bytes(16, 200)};
  image.layers = {group, child};
  return image;
}

// The position of the 4-byte length field just before `marker`.
size_t LengthFieldBefore(const Bytes& file, const Bytes& marker) {
  auto at = std::search(file.begin(), file.end(), marker.begin(), marker.end());
  EXPECT_NE(at, file.end());
  return static_cast<size_t>(at - file.begin()) - 4;
}

size_t LengthFieldBefore(const Bytes& file, const std::string& marker) {
  return LengthFieldBefore(file, Bytes(marker.begin(), marker.end()));
}

void SetU32(Bytes& file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

struct Damaged {
  std::string field;
  Bytes file;
  int code;  // the short read's
  Bytes cut;  // the file cut short right after the length
};

// Every declared length set to 0xFFFFFFF0 and to the file's size plus one.
std::vector<Damaged> DamagedFiles() {
  const Bytes file = WriteXcf(Carrier());
  struct Field {
    const char* name;
    size_t at;
    int code;
    size_t before = 0;  // bytes between the length and the data it counts
  };
  const Bytes parasite(8, 'p');
  const Bytes childParasite(8, 'q');
  const Bytes maskParasite(8, 'm');
  // The colour map: its length field sits before its count (0, 0, 0, 3).
  const Bytes colours = {0, 0, 0, 3, 10, 20, 30};
  // The item path property: id 30, then the length, then the path (0, 0).
  const Bytes itemPath = {0, 0, 0, 30, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0};
  const Field fields[] = {
      {"image property", LengthFieldBefore(file, parasite), 6},
      {"colour map", LengthFieldBefore(file, colours), 6, 4},  // the count comes first
      {"layer name", LengthFieldBefore(file, "GROUPNAME"), 6},
      {"layer property", LengthFieldBefore(file, childParasite), 6},
      {"item path", LengthFieldBefore(file, itemPath) + 8, 6},
      {"mask name", LengthFieldBefore(file, "mask"), 8},
      {"mask property", LengthFieldBefore(file, maskParasite), 8},
  };
  std::vector<Damaged> out;
  for (const Field& field : fields) {
    for (uint32_t length : {0xFFFFFFF0u, static_cast<uint32_t>(file.size() + 1)}) {
      Damaged d{std::string(field.name) + " of length " + std::to_string(length), file, field.code,
                Bytes(file.begin(), file.begin() + static_cast<long>(field.at + 4 + field.before))};
      SetU32(d.file, field.at, length);
      out.push_back(d);
    }
  }
  // Layer offsets that run to the end of the file without their zero.
  Damaged offsets{"offset list without its end", Bytes(file.begin(), file.begin() + 26), 6, {}};
  for (const uint8_t b : {0, 0, 0, 0, 0, 0, 0, 0}) offsets.file.push_back(b);  // no image properties
  offsets.file.resize(4000, 0x11);
  offsets.cut = offsets.file;
  out.push_back(offsets);
  return out;
}

// GetPicture from memory, or from the file at path when one is given; the
// largest allocation it makes goes to *largest.
int Picture(const Bytes& file, const std::string& path = {}, size_t* largest = nullptr) {
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  int code;
  {
    AllocationWatch watch;
    code = path.empty() ? GetPicture(reinterpret_cast<const char*>(file.data()), static_cast<int32_t>(file.size()), 1,
                                     &info, &bits, nullptr, 0)
                        : GetPicture(path.c_str(), 0, 0, &info, &bits, nullptr, 0);
    if (largest != nullptr) *largest = watch.Largest();
  }
  if (code == 0) {
    LocalFree(info);
    LocalFree(bits);
  }
  return code;
}

TEST(DeclaredLengths, BeyondTheInputAreAShortReadAndAskForNothing) {
  const Bytes good = WriteXcf(Carrier());
  ASSERT_EQ(Picture(good), 0);
  const int64_t handles = LiveLocalHandles();
  const std::string path = ScratchPath("declared.xcf");
  for (const Damaged& d : DamagedFiles()) {
    WriteFile(path, d.file);
    for (const std::string& from : {std::string(), path}) {
      size_t largest = 0;
      EXPECT_EQ(Picture(d.file, from, &largest), d.code) << d.field << (from.empty() ? " (memory)" : " (file)");
      if (AllocationWatch::Available()) {
        EXPECT_LE(largest, d.file.size()) << d.field << (from.empty() ? " (memory)" : " (file)");
      }
    }
    // The same answer as the file cut short where its data would begin.
    EXPECT_EQ(Picture(d.cut), d.code) << d.field << " (cut)";
    // Compressed, the lengths meet the decompressed data's size.
    for (const Bytes& packed : {Gzip(d.file), Bzip2(d.file)}) EXPECT_EQ(Picture(packed), d.code) << d.field;
  }
  EXPECT_EQ(LiveLocalHandles(), handles);
  if (!AllocationWatch::Available()) std::printf("allocations are not watched in this build\n");
}

// The header summary reads the image's own records only; it too refuses
// what they declare beyond the input, through every container.
TEST(DeclaredLengths, OfTheImageAreAShortReadForTheSummaryToo) {
  for (const Damaged& d : DamagedFiles()) {
    if (d.field.rfind("image property", 0) != 0 && d.field.rfind("colour map", 0) != 0 &&
        d.field.rfind("offset list", 0) != 0)
      continue;
    for (const Bytes& file : {d.file, Gzip(d.file), Bzip2(d.file)}) {
      PictureInfo info;
      EXPECT_EQ(GetPictureInfo(reinterpret_cast<const char*>(file.data()), static_cast<int32_t>(file.size()), 1, &info),
                6)
          << d.field;
    }
  }
}

}  // namespace
