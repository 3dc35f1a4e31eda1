// Test support: an XCF document read from bytes, through a counting stream.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/test_files.h"
#include "xcf/image.h"

namespace xcftest {

struct Document {
  explicit Document(Bytes b) : bytes(std::move(b)), counting(bytes) {
    EXPECT_EQ(tessel::XcfImageCreate(counting.stream, &image), tessel::ResultCode::Ok);
  }
  ~Document() { tessel::XcfImageDestroy(&image); }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  Bytes bytes;
  CountingStream counting;
  tessel::XcfImage* image = nullptr;
};

}  // namespace xcftest
