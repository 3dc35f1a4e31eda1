// Byte streams over memory and files, and the growable sink.
#include <gtest/gtest.h>

#include "tests/support/print.h"

#include <cstring>

#include "stream/byte_stream.h"
#include "stream/file_source.h"
#include "stream/memory_sink.h"
#include "stream/memory_source.h"
#include "tests/support/test_files.h"

using namespace tessel;

namespace {

constexpr uint32_t kMiB = 0x100000;

struct StreamHolder {
  ByteStream* stream = nullptr;
  ~StreamHolder() { StreamDestroy(&stream); }
};

TEST(MemoryStream, ReadsUpToTheEndAndSeeksWithinIt) {
  const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  StreamHolder h;
  ASSERT_EQ(MemoryStreamOpen(10, &h.stream, data), ResultCode::Ok);
  uint8_t buffer[16];
  EXPECT_EQ(StreamRead(h.stream, 4, buffer), 4u);
  EXPECT_EQ(StreamRead(h.stream, 8, buffer), 6u);
  EXPECT_EQ(buffer[0], 4);
  EXPECT_EQ(StreamRead(h.stream, 1, buffer), 0u);
  EXPECT_EQ(StreamSeek(h.stream, 10), ResultCode::Ok);
  EXPECT_EQ(StreamRead(h.stream, 1, buffer), 0u);
  EXPECT_EQ(StreamSeek(h.stream, 2), ResultCode::Ok);
  // A seek past the end fails and leaves the position where it was.
  EXPECT_EQ(StreamSeek(h.stream, 11), ResultCode::SeekError);
  EXPECT_EQ(StreamRead(h.stream, 1, buffer), 1u);
  EXPECT_EQ(buffer[0], 2);
}

TEST(MemoryStream, RefusesMissingArguments) {
  const uint8_t data[1] = {0};
  ByteStream* stream = nullptr;
  EXPECT_EQ(MemoryStreamOpen(0, &stream, data), ResultCode::InvalidArgument);
  EXPECT_EQ(MemoryStreamOpen(1, &stream, nullptr), ResultCode::InvalidArgument);
  EXPECT_EQ(MemoryStreamOpen(1, nullptr, data), ResultCode::InvalidArgument);
  EXPECT_EQ(stream, nullptr);
}

TEST(StreamReadU32, ReadsBigEndianAndFailsOnAShortRead) {
  const uint8_t data[7] = {0, 0, 1, 2, 0xAA, 0xBB, 0xCC};
  StreamHolder h;
  ASSERT_EQ(MemoryStreamOpen(7, &h.stream, data), ResultCode::Ok);
  uint32_t value = 0;
  ASSERT_EQ(StreamReadU32(h.stream, &value), 1);
  EXPECT_EQ(value, 258u);
  value = 77;
  EXPECT_EQ(StreamReadU32(h.stream, &value), 0);
  EXPECT_EQ(value, 77u);  // unchanged
  uint8_t byte;
  EXPECT_EQ(StreamRead(h.stream, 1, &byte), 0u);  // the three bytes were consumed
}

int closes = 0;
int CountClose(void*) { return ++closes; }
uint32_t NoRead(void*, void*, uint32_t) { return 0; }
ResultCode NoSeek(void*, uint32_t) { return ResultCode::SeekError; }

TEST(ByteStream, ClosesItsSourceOnlyWhenItOwnsIt) {
  closes = 0;
  ByteStream* stream = nullptr;
  ASSERT_EQ(StreamCreate(NoRead, NoSeek, nullptr, nullptr, &stream), ResultCode::Ok);
  EXPECT_EQ(StreamDestroy(&stream), ResultCode::Ok);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(closes, 0);
  ASSERT_EQ(StreamCreate(NoRead, NoSeek, nullptr, CountClose, &stream), ResultCode::Ok);
  StreamDestroy(&stream);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(StreamDestroy(&stream), ResultCode::Ok);  // empty holder
  EXPECT_EQ(StreamDestroy(nullptr), ResultCode::InvalidArgument);
  EXPECT_EQ(StreamCreate(nullptr, NoSeek, nullptr, nullptr, &stream), ResultCode::InvalidArgument);
  EXPECT_EQ(StreamCreate(NoRead, nullptr, nullptr, nullptr, &stream), ResultCode::InvalidArgument);
}

TEST(FileStream, PositionsCountFromTheStartOffset) {
  xcftest::Bytes bytes(1100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  std::string path = xcftest::ScratchPath("offset.bin");
  xcftest::WriteFile(path, bytes);
  StreamHolder h;
  ASSERT_EQ(FileStreamOpen(path.c_str(), 1000, &h.stream, nullptr), ResultCode::Ok);
  uint8_t buffer[14];
  ASSERT_EQ(StreamSeek(h.stream, 0), ResultCode::Ok);
  ASSERT_EQ(StreamRead(h.stream, 14, buffer), 14u);
  EXPECT_EQ(0, std::memcmp(buffer, bytes.data() + 1000, 14));
  ASSERT_EQ(StreamSeek(h.stream, 99), ResultCode::Ok);
  EXPECT_EQ(StreamRead(h.stream, 14, buffer), 1u);
}

TEST(FileStream, RefusesWhatCannotBeOpened) {
  ByteStream* stream = nullptr;
  EXPECT_EQ(FileStreamOpen("scratch/does-not-exist.xcf", 0, &stream, nullptr), ResultCode::ReadError);
  xcftest::ScratchPath("x");
  EXPECT_EQ(FileStreamOpen("scratch", 0, &stream, nullptr), ResultCode::ReadError);  // a directory
  EXPECT_EQ(stream, nullptr);
}

struct SinkHolder {
  MemorySink* sink = nullptr;
  ~SinkHolder() { MemorySinkDestroy(&sink); }
};

TEST(MemorySink, GrowsInWholeMebibytesThenByAQuarter) {
  SinkHolder h;
  ASSERT_EQ(MemorySinkCreate(&h.sink), ResultCode::Ok);
  std::vector<uint8_t> chunk(65536, 0x5A);
  ASSERT_EQ(SinkWrite(h.sink->sink, chunk.data(), 26), 26u);
  EXPECT_EQ(h.sink->capacity, kMiB);
  // 26 + 15 * 65536 stays below 1 MiB; the next chunk would pass it.
  for (int i = 0; i < 15; ++i) ASSERT_EQ(SinkWrite(h.sink->sink, chunk.data(), 65536), 65536u);
  EXPECT_EQ(h.sink->capacity, kMiB);
  ASSERT_EQ(SinkWrite(h.sink->sink, chunk.data(), 65536), 65536u);
  EXPECT_EQ(h.sink->capacity, 2 * kMiB);
  // Capacities seen while writing 64 KiB pieces up to 20 MiB.
  std::vector<uint32_t> seen;
  while (h.sink->size + 65536 <= 20 * kMiB) {
    uint32_t before = h.sink->capacity;
    ASSERT_EQ(SinkWrite(h.sink->sink, chunk.data(), 65536), 65536u);
    if (h.sink->capacity != before) seen.push_back(h.sink->capacity / kMiB);
  }
  std::vector<uint32_t> expected = {3, 4, 5, 6, 7, 8, 10, 12, 15, 18, 20};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(h.sink->data[h.sink->size - 1], 0x5A);
}

TEST(MemorySink, FitsExactlyBeforeGrowing) {
  SinkHolder h;
  ASSERT_EQ(MemorySinkCreate(&h.sink), ResultCode::Ok);
  std::vector<uint8_t> chunk(983040, 1);
  ASSERT_EQ(SinkWrite(h.sink->sink, chunk.data(), 983040), 983040u);
  ASSERT_EQ(h.sink->capacity, kMiB);
  ASSERT_EQ(SinkWrite(h.sink->sink, chunk.data(), 65536), 65536u);
  EXPECT_EQ(h.sink->capacity, kMiB);
  EXPECT_EQ(h.sink->size, kMiB);
  ASSERT_EQ(SinkWrite(h.sink->sink, chunk.data(), 1), 1u);
  EXPECT_EQ(h.sink->capacity, 2 * kMiB);
}

TEST(MemorySink, RefusesToPassFourGibibytes) {
  SinkHolder h;
  ASSERT_EQ(MemorySinkCreate(&h.sink), ResultCode::Ok);
  // A sink filled almost to the 32-bit limit (no real memory behind it: the
  // refusal must come before any reallocation).
  h.sink->capacity = 0xFFF00000u;
  h.sink->size = 0xFFF00000u;
  uint8_t chunk[16] = {};
  EXPECT_EQ(SinkWrite(h.sink->sink, chunk, sizeof chunk), 0u);
  EXPECT_EQ(h.sink->refusal, ResultCode::TooLarge);
  EXPECT_EQ(h.sink->size, 0xFFF00000u);
  EXPECT_EQ(h.sink->capacity, 0xFFF00000u);
  h.sink->capacity = 0;
  h.sink->size = 0;
}

TEST(MemorySink, NeverHandsOutUninitialisedBytes) {
  SinkHolder h;
  ASSERT_EQ(MemorySinkCreate(&h.sink), ResultCode::Ok);
  EXPECT_EQ(MemorySinkAppend(h.sink, nullptr, 10), 0u);
  EXPECT_EQ(h.sink->size, 0u);
  EXPECT_EQ(SinkWrite(nullptr, "x", 1), 0u);
}

}  // namespace
