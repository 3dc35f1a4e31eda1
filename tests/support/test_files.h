// Test support: scratch files and a stream that counts what is asked of it.
#pragma once

#include <cstdint>
#include <string>

#include "stream/byte_stream.h"
#include "tests/support/xcf_writer.h"

namespace xcftest {

// A path in the test's scratch directory (created on first use), relative
// to the working directory so that it reads the same under Wine.
std::string ScratchPath(const std::string& name);
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// A memory stream that counts what its readers ask of it.
struct CountingStream {
  explicit CountingStream(const Bytes& bytes);
  ~CountingStream();
  tessel::ByteStream* stream = nullptr;
  const Bytes& data;
  uint32_t position = 0;
  uint64_t bytesRead = 0;
  uint32_t reads = 0;
  uint32_t seeks = 0;
  uint32_t furthest = 0;  // one past the last byte delivered
};

}  // namespace xcftest
