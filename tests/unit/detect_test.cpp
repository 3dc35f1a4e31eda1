// Signatures, the probe behind IsSupported, and opening the host's input.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include <cstring>

#include "stream/detect.h"
#include "stream/input.h"
#include "stream/memory_source.h"
#include "tests/support/test_files.h"

using namespace tessel;
using xcftest::Bytes;

namespace {

// The 14-byte signature with a four-character tag and its NUL.
Bytes Header(const char* tag) {
  std::string s = std::string("gimp xcf ") + tag;
  Bytes b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

Bytes SmallXcf() {
  xcftest::Image image{4, 3, 0};
  image.layers.push_back({4, 3, 0, "bg", {}, xcftest::Solid(4, 3, {10, 20, 30})});
  return xcftest::WriteXcf(image);
}

ResultCode Probe(const Bytes& bytes, int32_t* version) {
  ByteStream* stream = nullptr;
  EXPECT_EQ(MemoryStreamOpen(static_cast<uint32_t>(bytes.size()), &stream, bytes.data()), ResultCode::Ok);
  ResultCode result = ProbeXcf(stream, version);
  StreamDestroy(&stream);
  return result;
}

TEST(DetectContainer, TestsTheSignaturesInOrder) {
  Bytes plain = Header("v003");
  EXPECT_EQ(DetectContainer(plain.data()), ContainerKind::Plain);
  const uint8_t gzip[9] = {0x1F, 0x8B, 0xFF};
  EXPECT_EQ(DetectContainer(gzip), ContainerKind::Gzip);
  const uint8_t bzip2[9] = {'B', 'Z', 'h', 'x'};
  EXPECT_EQ(DetectContainer(bzip2), ContainerKind::Bzip2);
  const uint8_t bz[9] = {'B', 'Z', 'x'};
  EXPECT_EQ(DetectContainer(bz), ContainerKind::Unknown);
  const uint8_t upper[9] = {'G', 'I', 'M', 'P', ' ', 'X', 'C', 'F', ' '};
  EXPECT_EQ(DetectContainer(upper), ContainerKind::Unknown);
  EXPECT_EQ(DetectContainer(nullptr), ContainerKind::Unknown);
}

TEST(XcfParseSignature, KnowsTheFourTagsWithTheirNul) {
  EXPECT_EQ(XcfParseSignature(Header("file").data()), 0);
  EXPECT_EQ(XcfParseSignature(Header("v001").data()), 1);
  EXPECT_EQ(XcfParseSignature(Header("v002").data()), 2);
  EXPECT_EQ(XcfParseSignature(Header("v003").data()), 3);
  EXPECT_EQ(XcfParseSignature(Header("v004").data()), -2);
  EXPECT_EQ(XcfParseSignature(Header("V003").data()), -2);
  Bytes blank = Header("v003");
  blank[13] = ' ';
  EXPECT_EQ(XcfParseSignature(blank.data()), -2);
  Bytes wrong = Header("v003");
  wrong[8] = '_';
  EXPECT_EQ(XcfParseSignature(wrong.data()), -1);
  EXPECT_EQ(XcfParseSignature(nullptr), -1);
}

TEST(ProbeXcf, ReportsTheVersionThroughEveryContainer) {
  Bytes xcf = SmallXcf();
  for (const Bytes& bytes : {xcf, xcftest::Gzip(xcf), xcftest::Bzip2(xcf)}) {
    int32_t version = -7;
    EXPECT_EQ(Probe(bytes, &version), ResultCode::Ok);
    EXPECT_EQ(version, 1);
  }
  Bytes v004 = Header("v004");
  int32_t version = 0;
  EXPECT_EQ(Probe(v004, &version), ResultCode::Ok);
  EXPECT_EQ(version, -2);
  EXPECT_EQ(Probe(v004, nullptr), ResultCode::UnsupportedVersion);
}

TEST(ProbeXcf, RefusesWhatItCannotRead) {
  int32_t version = 5;
  EXPECT_EQ(Probe(Bytes{'g', 'i', 'm', 'p', ' ', 'x', 'c', 'f'}, &version), ResultCode::ReadError);
  EXPECT_EQ(version, -1);
  EXPECT_EQ(Probe(Bytes(20, 'x'), &version), ResultCode::NotRecognised);
  // Ten bytes of plain XCF: the 14-byte signature cannot be had.
  Bytes shortPlain = Header("v001");
  shortPlain.resize(10);
  EXPECT_EQ(Probe(shortPlain, &version), ResultCode::NotRecognised);
  // A gzip stream cut before it yields 14 bytes of XCF data.
  Bytes gz = xcftest::Gzip(SmallXcf());
  gz.resize(12);
  EXPECT_EQ(Probe(gz, &version), ResultCode::NotRecognised);
  EXPECT_EQ(ProbeXcf(nullptr, &version), ResultCode::InvalidArgument);
}

struct InputHolder {
  ByteStream* stream = nullptr;
  MemorySink* sink = nullptr;
  ~InputHolder() { CloseInput(&stream, &sink); }
};

ResultCode OpenMemory(const Bytes& bytes, InputHolder* h, int headerOnly = 0) {
  return OpenInput(reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), 1, &h->stream,
                   &h->sink, headerOnly);
}

TEST(OpenInput, DeliversXcfBytesFromPositionZero) {
  Bytes xcf = SmallXcf();
  for (const Bytes& bytes : {xcf, xcftest::Gzip(xcf), xcftest::Bzip2(xcf)}) {
    InputHolder h;
    ASSERT_EQ(OpenMemory(bytes, &h), ResultCode::Ok);
    Bytes got(xcf.size() + 1);
    EXPECT_EQ(StreamRead(h.stream, static_cast<uint32_t>(got.size()), got.data()), xcf.size());
    got.resize(xcf.size());
    EXPECT_EQ(got, xcf);
    EXPECT_EQ(h.sink != nullptr, bytes != xcf);
  }
}

TEST(OpenInput, OpensAFileAtItsStartOffset) {
  Bytes xcf = SmallXcf();
  Bytes file(500, 0xEE);
  Bytes gz = xcftest::Gzip(xcf);
  file.insert(file.end(), gz.begin(), gz.end());
  std::string path = xcftest::ScratchPath("at-offset.bin");
  xcftest::WriteFile(path, file);
  InputHolder h;
  ASSERT_EQ(OpenInput(path.c_str(), 500, 0, &h.stream, &h.sink, 0), ResultCode::Ok);
  uint8_t signature[14];
  ASSERT_EQ(StreamRead(h.stream, 14, signature), 14u);
  EXPECT_EQ(XcfParseSignature(signature), 1);
}

TEST(OpenInput, RefusesBadInputAndLeavesNothingOpen) {
  InputHolder h;
  Bytes eight = Header("v001");
  eight.resize(8);
  EXPECT_EQ(OpenMemory(eight, &h), ResultCode::ReadError);
  EXPECT_EQ(OpenMemory(Bytes(64, 'z'), &h), ResultCode::NotRecognised);
  std::string path = xcftest::ScratchPath("short.xcf");
  xcftest::WriteFile(path, SmallXcf());
  EXPECT_EQ(OpenInput(path.c_str(), 1 << 20, 0, &h.stream, &h.sink, 0), ResultCode::ReadError);
  EXPECT_EQ(OpenInput("scratch/missing.xcf", 0, 0, &h.stream, &h.sink, 0), ResultCode::ReadError);
  EXPECT_EQ(OpenInput("scratch", 0, 0, &h.stream, &h.sink, 0), ResultCode::ReadError);
  EXPECT_EQ(OpenInput(reinterpret_cast<const char*>(eight.data()), 0, 1, &h.stream, &h.sink, 0),
            ResultCode::InvalidArgument);
  EXPECT_EQ(OpenInput(path.c_str(), 0, 2, &h.stream, &h.sink, 0), ResultCode::InvalidArgument);
  // gzip signature followed by garbage: taken as gzip, refused by its reader.
  Bytes garbage = {0x1F, 0x8B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(OpenMemory(garbage, &h), ResultCode::UnsupportedVersion);
  // Compressed data that decodes to nothing.
  EXPECT_EQ(OpenMemory(xcftest::Gzip({}), &h), ResultCode::NotReady);
  EXPECT_EQ(h.stream, nullptr);
  EXPECT_EQ(h.sink, nullptr);
}

}  // namespace
