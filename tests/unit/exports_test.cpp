// The five entry points as a host calls them, and what they leave behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#ifndef _WIN32
#include <sys/mman.h>
#endif

#include "plugin/exports.h"
#include "plugin/result.h"
#include "tests/support/local_handles.h"
#include "tests/support/test_files.h"

using xcftest::Bytes;

namespace {

Bytes RgbImage(uint32_t width, uint32_t height, std::vector<xcftest::Property> props = {}) {
  xcftest::Image image{width, height, 0, "v003", props};
  image.layers.push_back({width, height, 0, "bg", {}, xcftest::Pattern(width, height, 3, 5)});
  image.layers.push_back({width / 2 + 1, height / 2 + 1, 1, "top", {xcftest::PropOffsets(3, 2)},
                          xcftest::Pattern(width / 2 + 1, height / 2 + 1, 4, 9)});
  return xcftest::WriteXcf(image);
}

int InfoFromMemory(const Bytes& bytes, PictureInfo* info, uint32_t flag = 1) {
  return GetPictureInfo(reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), flag, info);
}

int PictureFromMemory(const Bytes& bytes, HLOCAL* info, HLOCAL* bits, ProgressCallback cb = nullptr,
                      intptr_t user = 0) {
  return GetPicture(reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), 1, info, bits,
                    cb, user);
}

// Every call must leave as many local-memory handles alive as it found.
class Exports : public ::testing::Test {
 protected:
  void SetUp() override { before_ = xcftest::LiveLocalHandles(); }
  void TearDown() override { EXPECT_EQ(xcftest::LiveLocalHandles(), before_); }

 private:
  int64_t before_ = 0;
};

// The count that the fixture relies on sees a handle left alive: a picture
// whose pixel handle is not freed stays counted until it is.
TEST(LocalHandleCount, SeesAHandleThatIsNotFreed) {
  const int64_t before = xcftest::LiveLocalHandles();
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  ASSERT_EQ(PictureFromMemory(RgbImage(8, 8), &info, &bits), 0);
  EXPECT_EQ(xcftest::LiveLocalHandles(), before + 2);
  LocalFree(info);
  EXPECT_EQ(xcftest::LiveLocalHandles(), before + 1);
  LocalFree(bits);
  EXPECT_EQ(xcftest::LiveLocalHandles(), before);
}

TEST_F(Exports, GetPluginInfoCopiesAndCutsTheStrings) {
  char buffer[256];
  ASSERT_EQ(GetPluginInfo(0, buffer, sizeof buffer), 4);
  EXPECT_STREQ(buffer, "00IN");
  ASSERT_GT(GetPluginInfo(1, buffer, sizeof buffer), 9);
  std::string about = buffer;
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetPluginInfo(1, buffer, 10), 9);
  EXPECT_EQ(std::string(buffer), about.substr(0, 9));
  ASSERT_EQ(GetPluginInfo(2, buffer, sizeof buffer), 41);
  EXPECT_STREQ(buffer, "*.xcf;*.xcf.gz;*.xcfgz;*.xcf.bz2;*.xcfbz2");
  ASSERT_EQ(GetPluginInfo(3, buffer, sizeof buffer), 8);
  EXPECT_STREQ(buffer, "GIMP XCF");
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetPluginInfo(4, buffer, sizeof buffer), 0);
  EXPECT_EQ(GetPluginInfo(-1, buffer, sizeof buffer), 0);
  EXPECT_EQ(GetPluginInfo(0, buffer, 0), 0);
  EXPECT_EQ(GetPluginInfo(0, nullptr, 10), 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(GetPreview(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
}

// The host's 2048-byte block: the file's first bytes, zero-filled.
std::vector<char> Block(const Bytes& file) {
  std::vector<char> block(2048, 0);
  std::memcpy(block.data(), file.data(), std::min<size_t>(file.size(), block.size()));
  return block;
}

int SupportedBlock(const char* name, const std::vector<char>& block) {
  return IsSupported(name, reinterpret_cast<uintptr_t>(block.data()));
}

TEST_F(Exports, IsSupportedReadsTheSignatureAndVersion) {
  Bytes header = {'g', 'i', 'm', 'p', ' ', 'x', 'c', 'f', ' ', 'v', '0', '0', '3', 0};
  EXPECT_EQ(SupportedBlock("a.xcf", Block(header)), 1);
  header[12] = '4';
  EXPECT_EQ(SupportedBlock("a.xcf", Block(header)), 0);
  // A gzip header whose compressed XCF header decodes within the block.
  Bytes gz = xcftest::Gzip(RgbImage(8, 8));
  EXPECT_EQ(SupportedBlock("whatever.bin", Block(gz)), 1);
  EXPECT_EQ(SupportedBlock(nullptr, Block(xcftest::Bzip2(RgbImage(8, 8)))), 1);
}

TEST_F(Exports, IsSupportedFallsBackOnTheNameForTheBlockOnly) {
  std::vector<char> foreign(2048, 'q');
  EXPECT_EQ(SupportedBlock("picture.XCF.GZ", foreign), 1);
  EXPECT_EQ(SupportedBlock("dir.with.dots/picture.xcfbz2", foreign), 1);
  EXPECT_EQ(SupportedBlock("picture.xcf.bz2.bak", foreign), 0);
  EXPECT_EQ(SupportedBlock("picture.xcf", foreign), 0);
  EXPECT_EQ(SupportedBlock("", foreign), 0);
  EXPECT_EQ(SupportedBlock(nullptr, foreign), 0);
  // A compressed file whose header lies beyond the block: the name decides.
  Bytes longName = xcftest::GzipWithHeader(RgbImage(8, 8), std::string(3000, 'n'), false);
  EXPECT_EQ(SupportedBlock("picture.xcf.gz", Block(longName)), 1);
  EXPECT_EQ(SupportedBlock("picture.dat", Block(longName)), 0);

  std::string path = xcftest::ScratchPath("foreign.xcf.gz");
  xcftest::WriteFile(path, Bytes(foreign.begin(), foreign.end()));
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(IsSupported(path.c_str(), reinterpret_cast<uintptr_t>(file)), 0);
  CloseHandle(file);
}

TEST_F(Exports, IsSupportedReadsAHandleFromItsPositionAndLeavesItOpen) {
  Bytes gz = xcftest::GzipWithHeader(RgbImage(8, 8), std::string(3000, 'n'), false);
  std::string path = xcftest::ScratchPath("handle.xcf.gz");
  xcftest::WriteFile(path, gz);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_LT(reinterpret_cast<uintptr_t>(file), 0x10000u);
  EXPECT_EQ(IsSupported(nullptr, reinterpret_cast<uintptr_t>(file)), 1);
  // The handle is still open and usable.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  char first[2];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file, first, 2, &read, nullptr));
  EXPECT_EQ(read, 2u);
  CloseHandle(file);
}

TEST_F(Exports, IsSupportedAnswersNoForAHandleThatIsNoFile) {
  EXPECT_EQ(IsSupported("picture.xcf.gz", 0), 0);
  EXPECT_EQ(IsSupported("picture.xcf.gz", 0xFFF0), 0);
}

#ifdef _WIN32
// Under user-mode emulation (the Wine runner's emulated route) the page
// fault inside IsBadReadPtr reaches Wine without its trap number, and Wine
// raises an illegal instruction instead of the access violation that
// IsBadReadPtr catches. This handler puts back what the hardware reports,
// for faults inside IsBadReadPtr only.
LONG CALLBACK RestorePageFault(EXCEPTION_POINTERS* pointers) {
  static const auto* start = reinterpret_cast<const BYTE*>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsBadReadPtr")));
  EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const auto* at = static_cast<const BYTE*>(record->ExceptionAddress);
  if (record->ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION && at >= start && at < start + 0x400) {
    record->ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    record->NumberParameters = 2;
    record->ExceptionInformation[0] = 0;  // a read
    record->ExceptionInformation[1] = 0;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}
#endif

TEST_F(Exports, IsSupportedRefusesAnUnreadableBlock) {
#ifdef _WIN32
  void* handler = nullptr;
  const char* route = std::getenv("TESSEL_WINE_ROUTE");
  if (route != nullptr && std::string(route) == "emulated") {
    std::printf("emulated route: the emulator's page fault is handed to IsBadReadPtr as the hardware reports it\n");
    handler = AddVectoredExceptionHandler(1, RestorePageFault);
  }
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
#else
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
#endif
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(IsSupported("picture.xcf.gz", reinterpret_cast<uintptr_t>(page)), 0);
#ifdef _WIN32
  VirtualFree(page, 0, MEM_RELEASE);
  if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
#else
  munmap(page, 4096);
#endif
}

TEST_F(Exports, GetPictureInfoReportsSizeDepthAndDensities) {
  PictureInfo info;
  std::memset(&info, 0xCC, sizeof info);
  ASSERT_EQ(InfoFromMemory(RgbImage(300, 200, {xcftest::PropResolution(72.4f, 71.5f)}), &info), 0);
  EXPECT_EQ(+info.left, 0);
  EXPECT_EQ(+info.top, 0);
  EXPECT_EQ(+info.width, 300u);
  EXPECT_EQ(+info.height, 200u);
  EXPECT_EQ(+info.xDensity, 72);
  EXPECT_EQ(+info.yDensity, 72);
  EXPECT_EQ(+info.colorDepth, 24);
  EXPECT_EQ(+info.textInfo, 0u);

  xcftest::Image gray{7, 3, 1};
  gray.layers.push_back({7, 3, 2, "g", {}, xcftest::Solid(7, 3, {9})});
  ASSERT_EQ(InfoFromMemory(xcftest::WriteXcf(gray), &info), 0);
  EXPECT_EQ(+info.xDensity, 0);
  EXPECT_EQ(+info.yDensity, 0);
  EXPECT_EQ(+info.colorDepth, 8);
}

TEST_F(Exports, GetPictureInfoStoresASoundDensityForAnyResolution) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float x, y;
    uint16_t xd, yd;
  } cases[] = {{nan, -nan, 0, 0}, {inf, -inf, 65535, 0}, {-3.0f, -0.2f, 0, 0},
               {70000.0f, 65534.6f, 65535, 65535}, {65534.4f, 0.49f, 65534, 0}};
  for (const Case& c : cases) {
    PictureInfo info{};
    ASSERT_EQ(InfoFromMemory(RgbImage(4, 4, {xcftest::PropResolution(c.x, c.y)}), &info), 0);
    EXPECT_EQ(+info.xDensity, c.xd) << c.x;
    EXPECT_EQ(+info.yDensity, c.yd) << c.y;
  }
}

TEST_F(Exports, GetPictureInfoRefusesArgumentsWithoutTouchingTheRecord) {
  Bytes xcf = RgbImage(4, 4);
  PictureInfo info;
  std::memset(&info, 0xAB, sizeof info);
  PictureInfo untouched = info;
  EXPECT_EQ(InfoFromMemory(xcf, &info, 2), 8);
  EXPECT_EQ(InfoFromMemory(xcf, &info, 0x106), 8);
  EXPECT_EQ(GetPictureInfo("scratch/none.xcf", -1, 0, &info), 8);
  EXPECT_EQ(GetPictureInfo(nullptr, 0, 0, &info), 8);
  EXPECT_EQ(InfoFromMemory(xcf, nullptr), 8);
  EXPECT_EQ(InfoFromMemory(Bytes(100, 'z'), &info), 2);
  EXPECT_EQ(InfoFromMemory(Bytes(xcf.begin(), xcf.begin() + 8), &info), 6);
  EXPECT_EQ(GetPictureInfo("scratch/none.xcf", 0, 0, &info), 6);
  EXPECT_EQ(0, std::memcmp(&info, &untouched, sizeof info));
  // Only the low three bits of the flag name the input kind.
  EXPECT_EQ(InfoFromMemory(xcf, &info, 0x101), 0);
  EXPECT_EQ(+info.width, 4u);
}

TEST_F(Exports, GetPictureInfoReadsAFileAtAnOffset) {
  Bytes file(777, 0x42);
  Bytes bz = xcftest::Bzip2(RgbImage(40, 30));
  file.insert(file.end(), bz.begin(), bz.end());
  std::string path = xcftest::ScratchPath("info-offset.bin");
  xcftest::WriteFile(path, file);
  PictureInfo info{};
  ASSERT_EQ(GetPictureInfo(path.c_str(), 777, 0, &info), 0);
  EXPECT_EQ(+info.width, 40u);
  EXPECT_EQ(+info.height, 30u);
  EXPECT_EQ(GetPictureInfo(path.c_str(), 776, 0, &info), 2);
  EXPECT_EQ(GetPictureInfo(path.c_str(), 1 << 30, 0, &info), 6);
  EXPECT_EQ(GetPictureInfo("scratch", 0, 0, &info), 6);  // a directory
}

TEST_F(Exports, GetPictureRefusesAndLeavesNoHandle) {
  Bytes xcf = RgbImage(16, 16);
  HLOCAL info = reinterpret_cast<HLOCAL>(0x1);
  HLOCAL bits = reinterpret_cast<HLOCAL>(0x2);
  EXPECT_EQ(PictureFromMemory(xcf, nullptr, &bits), 8);
  EXPECT_EQ(PictureFromMemory(xcf, &info, nullptr), 8);
  EXPECT_EQ(GetPicture(reinterpret_cast<const char*>(xcf.data()), -4, 1, &info, &bits, nullptr, 0), 8);
  EXPECT_EQ(GetPicture(reinterpret_cast<const char*>(xcf.data()), 16, 3, &info, &bits, nullptr, 0), 8);
  EXPECT_EQ(PictureFromMemory(Bytes(64, 'x'), &info, &bits), 2);
  EXPECT_EQ(PictureFromMemory(Bytes(xcf.begin(), xcf.begin() + 8), &info, &bits), 6);
  int truncated = PictureFromMemory(Bytes(xcf.begin(), xcf.begin() + static_cast<long>(xcf.size() - 20)), &info, &bits);
  EXPECT_TRUE(truncated == 6 || truncated == 3) << truncated;
  EXPECT_EQ(GetPicture("scratch/none.xcf", 0, 0, &info, &bits, nullptr, 0), 6);
  // The out pointers are written only on success.
  EXPECT_EQ(info, reinterpret_cast<HLOCAL>(0x1));
  EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(0x2));
}

}  // namespace
