// The exports keep no state: calls on several threads do not interfere.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "plugin/exports.h"
#include "tests/support/picture.h"
#include "tests/support/samples.h"
#include "tests/support/local_handles.h"
#include "tests/support/test_files.h"

using namespace xcftest;

namespace {

struct Result {
  int code = -1;
  Bytes header;
  Bytes bits;
  bool operator==(const Result& o) const { return code == o.code && header == o.header && bits == o.bits; }
};

Result DecodeFile(const std::string& path) {
  Result r;
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  r.code = GetPicture(path.c_str(), 0, 0, &info, &bits, nullptr, 0);
  if (r.code != 0) return r;
  r.header = TakeHandle(info);
  r.bits = TakeHandle(bits);
  return r;
}

TEST(Concurrency, EightThreadsDecodeWhatOneDoes) {
  const char* names[] = {"example.xcf",        "example.xcf.gz", "example.xcf.bz2",        "indexed-groups.xcf",
                         "indexed-groups.xcf.bz2", "modes.xcf", "modes-gray.xcf", "indexed-groups-hidden.xcf"};
  std::vector<Sample> samples = Samples();
  std::vector<std::string> paths;
  std::vector<Picture> expected;
  for (const char* name : names) {
    for (const Sample& s : samples) {
      if (s.name != name) continue;
      paths.push_back(ScratchPath("threads-" + s.name));
      WriteFile(paths.back(), s.bytes);
      expected.push_back(Decode(s.bytes));
      ASSERT_EQ(expected.back().code, 0) << name;
    }
  }
  ASSERT_EQ(paths.size(), 8u);
  std::vector<Result> fromFiles;
  for (const std::string& path : paths) fromFiles.push_back(DecodeFile(path));

  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      const Bytes bytes = ReadFile(paths[t]);
      for (int i = 0; i < 50; ++i) {
        // Even threads pass memory blocks, odd ones file names.
        bool same = t % 2 == 0 ? (Decode(bytes).bits == expected[t].bits) : (DecodeFile(paths[t]) == fromFiles[t]);
        if (!same) ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(LiveLocalHandles(), 0);
}

}  // namespace
