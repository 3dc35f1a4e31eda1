// gzip, bzip2 and xz containers: header checks, decoding, the header prefix.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tests/support/print.h"
#include "plugin/bitmap.h"
#include "stream/container_reader.h"
#include "stream/decompress.h"
#include "stream/input.h"
#include "stream/memory_source.h"
#include "plugin/exports.h"
#include "tests/support/allocation_watch.h"
#include "tests/support/picture.h"
#include "tests/support/test_files.h"

using namespace tessel;
using xcftest::Bytes;

namespace {

Bytes SmallXcf(uint32_t baseType = 0) {
  xcftest::Image image{5, 4, baseType};
  if (baseType == 2) image.props.push_back(xcftest::PropColormap({255, 0, 0, 0, 0, 255}));
  uint32_t type = baseType == 0 ? 0 : (baseType == 1 ? 2 : 4);
  uint32_t bpp = baseType == 0 ? 3 : 1;
  image.layers.push_back({5, 4, type, "bg", {}, xcftest::Pattern(5, 4, bpp, 1)});
  return xcftest::WriteXcf(image);
}

struct Input {
  ByteStream* stream = nullptr;
  MemorySink* sink = nullptr;
  ~Input() { CloseInput(&stream, &sink); }
  ResultCode Open(const Bytes& bytes, int headerOnly = 0, const Limits& limits = kDefaultLimits) {
    CloseInput(&stream, &sink);
    return OpenInputWith(reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), 1, &stream,
                         &sink, headerOnly, limits, nullptr);
  }
  Bytes Data() const { return sink ? Bytes(sink->data, sink->data + sink->size) : Bytes(); }
};

TEST(GzipContainer, RefusesHeaderChecksumAndReservedFlags) {
  Bytes xcf = SmallXcf();
  Input in;
  EXPECT_EQ(in.Open(xcftest::GzipWithHeader(xcf, "a.xcf", true)), ResultCode::UnsupportedVersion);
  Bytes reserved = xcftest::Gzip(xcf);
  reserved[3] |= 0x20;
  EXPECT_EQ(in.Open(reserved), ResultCode::UnsupportedVersion);
  Bytes method = xcftest::Gzip(xcf);
  method[2] = 7;
  EXPECT_EQ(in.Open(method), ResultCode::UnsupportedVersion);
}

TEST(GzipContainer, AcceptsAFileNameAndReadsOnlyTheFirstMember) {
  Bytes xcf = SmallXcf();
  Input in;
  ASSERT_EQ(in.Open(xcftest::GzipWithHeader(xcf, "picture.xcf", false)), ResultCode::Ok);
  EXPECT_EQ(in.Data(), xcf);
  Bytes two = xcftest::Gzip(xcf);
  Bytes second = xcftest::Gzip(Bytes(5000, 'q'));
  two.insert(two.end(), second.begin(), second.end());
  ASSERT_EQ(in.Open(two), ResultCode::Ok);
  EXPECT_EQ(in.Data(), xcf);
}

TEST(GzipContainer, DamagedDataIsCorruptAndTruncatedDataIsShort) {
  Bytes xcf = SmallXcf();
  xcf.resize(200000, 0);  // enough compressed data to damage
  for (size_t i = 26; i < xcf.size(); ++i) xcf[i] = static_cast<uint8_t>(i * 13 ^ (i >> 7));
  Bytes gz = xcftest::Gzip(xcf);
  Bytes damaged = gz;
  for (size_t i = 20; i < 60; ++i) damaged[i] ^= 0xA5;
  Input in;
  EXPECT_EQ(in.Open(damaged), ResultCode::CorruptData);
  Bytes truncated(gz.begin(), gz.begin() + static_cast<long>(gz.size() / 2));
  ASSERT_EQ(in.Open(truncated), ResultCode::Ok);
  EXPECT_GT(in.sink->size, 0u);
  EXPECT_LT(in.sink->size, xcf.size());
  EXPECT_TRUE(std::equal(in.sink->data, in.sink->data + in.sink->size, xcf.begin()));
}

TEST(Bzip2Container, ABadBlockSizeDigitIsNotRecognised) {
  Bytes bz = xcftest::Bzip2(SmallXcf());
  bz[3] = 'x';
  Input in;
  EXPECT_EQ(in.Open(bz), ResultCode::NotRecognised);
  bz[3] = '9';
  for (size_t i = 10; i < 30 && i < bz.size(); ++i) bz[i] ^= 0x5A;
  EXPECT_EQ(in.Open(bz), ResultCode::CorruptData);
}

#ifdef TESSEL_HAVE_LZMA
// xz, for the tool: read as gzip and bzip2 are, with the same kinds of
// answer for damage; the plug-in's limits never read it.
TEST(XzContainer, IsReadWhereAskedForAndDamageIsAnsweredAsForTheOthers) {
  Bytes xcf = SmallXcf();
  xcf.resize(200000, 0);
  for (size_t i = 26; i < xcf.size(); ++i) xcf[i] = static_cast<uint8_t>(i * 13 ^ (i >> 7));
  const Bytes xz = xcftest::Xz(xcf);
  Input in;
  ASSERT_EQ(in.Open(xz, 0, kEveryVersion), ResultCode::Ok);
  EXPECT_EQ(in.Data(), xcf);
  EXPECT_EQ(in.Open(xz), ResultCode::NotRecognised);
  // The header prefix, for the picture's information.
  ASSERT_EQ(in.Open(xcftest::Xz(SmallXcf()), 1, kEveryVersion), ResultCode::Ok);
  EXPECT_GT(in.sink->size, 26u);
  Bytes damaged = xz;
  for (size_t i = 40; i < 80; ++i) damaged[i] ^= 0xA5;
  EXPECT_EQ(in.Open(damaged, 0, kEveryVersion), ResultCode::CorruptData);
  Bytes options = xz;
  options[7] = 0x0F;  // a check type xz does not define, with the header's CRC broken too
  EXPECT_NE(in.Open(options, 0, kEveryVersion), ResultCode::Ok);
  Bytes truncated(xz.begin(), xz.begin() + static_cast<long>(xz.size() / 2));
  ASSERT_EQ(in.Open(truncated, 0, kEveryVersion), ResultCode::Ok);
  EXPECT_LT(in.sink->size, xcf.size());
  EXPECT_TRUE(std::equal(in.sink->data, in.sink->data + in.sink->size, xcf.begin()));
}
#endif

TEST(Containers, DataOfAnExactMultipleOf64KiBDecodesWhole) {
  Bytes xcf = SmallXcf();
  xcf.resize(2 * 65536, 0x11);
  for (const Bytes& packed : {xcftest::Gzip(xcf), xcftest::Bzip2(xcf)}) {
    Input in;
    ASSERT_EQ(in.Open(packed), ResultCode::Ok);
    EXPECT_EQ(in.Data(), xcf);
  }
}

// Points the user's temporary folder at a directory of the test's own.
void SetTemporaryFolder(const std::string& folder) {
#ifdef _WIN32
  SetEnvironmentVariableA("TMP", folder.c_str());
  SetEnvironmentVariableA("TEMP", folder.c_str());
#else
  setenv("TMPDIR", folder.c_str(), 1);
#endif
}

size_t FilesIn(const std::filesystem::path& folder) {
  size_t count = 0;
  for (auto it = std::filesystem::directory_iterator(folder); it != std::filesystem::directory_iterator(); ++it) ++count;
  return count;
}

TEST(Containers, DataThatMemoryCannotHoldIsReadFromATemporaryFileThatGoesWithIt) {
  if (!xcftest::AllocationWatch::Available()) GTEST_SKIP() << "allocations are not watched in this build";
  xcftest::Image image{1300, 900, 0};
  image.compression = 0;  // 8 MB of XCF data
  image.layers.push_back({1300, 900, 1, "top", {xcftest::PropOffsets(-20, 30)}, xcftest::Pattern(1300, 900, 4, 3)});
  image.layers.push_back({1300, 900, 0, "base", {}, xcftest::Pattern(1300, 900, 3, 4)});
  const Bytes xcf = xcftest::WriteXcf(image);
  const xcftest::Picture expected = xcftest::Decode(xcf);
  ASSERT_EQ(expected.code, 0);

  const std::filesystem::path folder = std::filesystem::absolute("spill-temporary");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before != nullptr ? before : "";
  SetTemporaryFolder(folder.string() + "/");
  std::vector<Bytes> containers{xcftest::Gzip(xcf), xcftest::Bzip2(xcf)};
#ifdef TESSEL_HAVE_LZMA
  containers.push_back(xcftest::Xz(xcf));
#endif
  for (const Bytes& packed : containers) {
    Input in;
    {
      // Memory for the decompressors' own needs (libbzip2's are 3.6 MB)
      // and 4 MiB of decompressed data, not for 5.
      xcftest::AllocationWatch watch;
      watch.RefuseAbove(4u << 20);
      ASSERT_EQ(in.Open(packed, 0, kEveryVersion), ResultCode::Ok);
    }
    EXPECT_EQ(in.sink, nullptr);
    // The picture from the temporary file is the picture.
    XcfImage* document = nullptr;
    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
    ASSERT_EQ(XcfImageCreate(in.stream, &document), ResultCode::Ok);
    ASSERT_EQ(BuildBitmap(document, &info, &bits, nullptr, 0), ResultCode::Ok);
    XcfImageDestroy(&document);
    EXPECT_EQ(xcftest::TakeHandle(info), expected.header);
    EXPECT_EQ(xcftest::TakeHandle(bits), expected.bits);
    CloseInput(&in.stream, &in.sink);
    EXPECT_EQ(FilesIn(folder), 0u);
  }
  // Neither memory nor a temporary folder: out of memory, nothing left open.
  std::filesystem::remove_all(folder);
  {
    const Bytes gz = xcftest::Gzip(xcf);
    Input in;
    xcftest::AllocationWatch watch;
    watch.RefuseAbove(4u << 20);
    EXPECT_EQ(in.Open(gz), ResultCode::OutOfMemory);
    EXPECT_EQ(in.stream, nullptr);
  }
  SetTemporaryFolder(saved);
}

TEST(ContainerReader, ChecksTheHeaderOnceAndBeforeReading) {
  Bytes gz = xcftest::Gzip(SmallXcf());
  xcftest::CountingStream source(gz);
  ContainerReader* reader = nullptr;
  ASSERT_EQ(ContainerReaderOpen(ContainerKind::Gzip, source.stream, &reader), ResultCode::Ok);
  uint8_t buffer[14];
  uint32_t count = sizeof buffer;
  EXPECT_EQ(ContainerReaderRead(reader, buffer, &count), ResultCode::NotReady);
  EXPECT_EQ(ContainerReaderCheckHeader(reader), ResultCode::Ok);
  EXPECT_EQ(ContainerReaderCheckHeader(reader), ResultCode::NotReady);
  EXPECT_EQ(ContainerReaderRead(reader, buffer, &count), ResultCode::Ok);
  EXPECT_EQ(count, 14u);
  count = 0;
  EXPECT_EQ(ContainerReaderRead(reader, buffer, &count), ResultCode::InvalidArgument);
  EXPECT_EQ(ContainerReaderClose(&reader), ResultCode::Ok);
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(ContainerReaderOpen(static_cast<ContainerKind>(4), source.stream, &reader), ResultCode::InvalidArgument);
}

// Where the channel offset list of a plain XCF file ends.
size_t PrefixLength(const Bytes& xcf) {
  xcftest::CountingStream counting(xcf);
  size_t at = 26;
  for (;;) {  // properties
    uint32_t id = (xcf[at] << 24) | (xcf[at + 1] << 16) | (xcf[at + 2] << 8) | xcf[at + 3];
    uint32_t length = (xcf[at + 4] << 24) | (xcf[at + 5] << 16) | (xcf[at + 6] << 8) | xcf[at + 7];
    at += 8;
    if (id == 0) break;
    at += length;
  }
  for (int list = 0; list < 2; ++list) {
    for (;;) {
      bool zero = xcf[at] == 0 && xcf[at + 1] == 0 && xcf[at + 2] == 0 && xcf[at + 3] == 0;
      at += 4;
      if (zero) break;
    }
  }
  return at;
}

TEST(HeaderPrefix, CopiesExactlyWhatTheHeaderReaderNeeds) {
  Bytes xcf = SmallXcf(2);
  size_t prefix = PrefixLength(xcf);
  for (const Bytes& packed : {xcftest::Gzip(xcf), xcftest::Bzip2(xcf)}) {
    Input in;
    ASSERT_EQ(in.Open(packed, 1), ResultCode::Ok);
    EXPECT_EQ(in.Data(), Bytes(xcf.begin(), xcf.begin() + static_cast<long>(prefix)));
  }
}

TEST(HeaderPrefix, RepairsAColormapLengthThatCountsColoursAsBytes) {
  xcftest::Image image{2, 1, 2};
  // Three colours, stored length n + 4 = 7 although 13 bytes follow.
  image.props.push_back(xcftest::PropRaw(1, {0, 0, 0, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  image.layers.push_back({2, 1, 4, "i", {}, {0, 1}});
  Bytes xcf = xcftest::WriteXcf(image);
  xcf[26 + 7] = 7;  // the stored length
  Input in;
  ASSERT_EQ(in.Open(xcftest::Gzip(xcf), 1), ResultCode::Ok);
  EXPECT_EQ(in.Data(), Bytes(xcf.begin(), xcf.begin() + static_cast<long>(in.sink->size)));
  // Header, colormap and compression properties, end record, one layer offset and
  // its zero, an empty channel list.
  EXPECT_EQ(in.sink->size, 26u + (8 + 13) + (8 + 1) + 8 + (4 + 4) + 4);
}

TEST(HeaderPrefix, RefusesWhatTheHeaderCannotBe) {
  Bytes xcf = SmallXcf();
  Input in;
  Bytes zeroWidth = xcf;
  zeroWidth[14] = zeroWidth[15] = zeroWidth[16] = zeroWidth[17] = 0;
  EXPECT_EQ(in.Open(xcftest::Gzip(zeroWidth), 1), ResultCode::CorruptData);
  Bytes baseType = xcf;
  baseType[25] = 3;
  EXPECT_EQ(in.Open(xcftest::Bzip2(baseType), 1), ResultCode::UnsupportedVersion);
  Bytes tag = xcf;
  tag[12] = '9';
  EXPECT_EQ(in.Open(xcftest::Gzip(tag), 1), ResultCode::UnsupportedVersion);
  Bytes cut(xcf.begin(), xcf.begin() + 30);
  EXPECT_EQ(in.Open(xcftest::Gzip(cut), 1), ResultCode::ReadError);
}

TEST(HeaderPrefix, ReadsOnlyTheStartOfABomb) {
  // 48 MiB of zeros behind the header compress to a few kilobytes.
  Bytes xcf = SmallXcf();
  xcf.resize(48u << 20, 0);
  Bytes bomb = xcftest::Bzip2(xcf);
  ASSERT_LT(bomb.size(), 64u * 1024);
  xcftest::CountingStream source(bomb);
  MemorySink* sink = nullptr;
  ASSERT_EQ(MemorySinkCreate(&sink), ResultCode::Ok);
  EXPECT_EQ(DecompressHeaderPrefix(source.stream, sink->sink), ResultCode::Ok);
  EXPECT_EQ(sink->size, PrefixLength(xcf));
  EXPECT_LE(sink->capacity, 1u << 20);
  MemorySinkDestroy(&sink);
}

}  // namespace

// The header summary of a compressed file goes through the prefix copy and
// then the reader; a plain file through the reader alone. Both apply the
// same canvas and colormap rules, so they agree on every edge of them.
TEST(HeaderPrefix, AgreesWithThePlainReaderOnEveryRule) {
  auto summary = [](const Bytes& bytes, int compressed) {
    PictureInfo info;
    const Bytes file = compressed == 0 ? bytes : compressed == 1 ? xcftest::Gzip(bytes) : xcftest::Bzip2(bytes);
    return GetPictureInfo(reinterpret_cast<const char*>(file.data()), static_cast<int32_t>(file.size()), 1, &info);
  };
  auto withColormap = [](const Bytes& payload) {
    xcftest::Image image{4, 2, 2};
    image.props.push_back(xcftest::PropRaw(1, payload));
    image.layers.push_back({4, 2, 4, "i", {}, Bytes(8, 0)});
    return xcftest::WriteXcf(image);
  };
  auto colours = [](uint32_t n, uint32_t tripleBytes) {
    Bytes payload = {0, 0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    payload.resize(4 + tripleBytes, 9);
    return payload;
  };
  auto canvas = [](uint32_t width, uint32_t height, uint32_t baseType) {
    Bytes xcf = SmallXcf();
    for (int i = 0; i < 4; ++i) {
      xcf[14 + i] = static_cast<uint8_t>(width >> (24 - 8 * i));
      xcf[18 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
      xcf[22 + i] = static_cast<uint8_t>(baseType >> (24 - 8 * i));
    }
    return xcf;
  };
  struct Case {
    const char* name;
    Bytes xcf;
    int code;  // the host code both must give
  };
  Bytes colourBytes = withColormap(colours(3, 9));
  colourBytes[26 + 7] = 7;  // a stored length of n + 4: repaired to 3n + 4
  Bytes cut = withColormap(colours(300, 900));
  cut.resize(26 + 8 + 4 + 100);  // more than 256 colours, and cut short inside them
  const std::vector<Case> cases = {
      {"no colours", withColormap(colours(0, 0)), 0},
      {"256 colours", withColormap(colours(256, 768)), 0},
      {"257 colours", withColormap(colours(257, 771)), 3},
      {"longer than its colours", withColormap(colours(2, 10)), 0},
      {"shorter than its colours", withColormap(colours(3, 5)), 3},
      {"a length below the count", withColormap({0, 0}), 3},
      {"colours counted as bytes", colourBytes, 0},
      {"cut inside the colours", {}, 6},  // made below
      {"too many colours, cut short", cut, 3},
      {"zero width", canvas(0, 5, 0), 3},
      {"the largest canvas", canvas(32767, 32766, 0), 0},
      {"too tall", canvas(5, 32767, 0), 8},
      {"too wide and of no base type", canvas(32768, 5, 3), 8},
      {"base type 3", canvas(5, 5, 3), 2},
  };
  for (Case c : cases) {
    if (c.xcf.empty()) {
      c.xcf = withColormap(colours(3, 9));
      c.xcf.resize(26 + 8 + 4 + 4);  // four bytes into the triples
    }
    const int plain = summary(c.xcf, 0);
    EXPECT_EQ(plain, c.code) << c.name;
    EXPECT_EQ(summary(c.xcf, 1), plain) << c.name << " (gzip)";
    EXPECT_EQ(summary(c.xcf, 2), plain) << c.name << " (bzip2)";
  }
}
