// The bundled example is what the project's own writer makes.
#include <gtest/gtest.h>

#include <bzlib.h>
#include <zlib.h>

#include "tests/support/picture.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

using namespace xcftest;

namespace {

#ifdef TESSEL_SOURCE_DIR
TEST(BundledExample, IsWhatTheWriterMakesInEveryContainer) {
  const std::string dir = std::string(TESSEL_SOURCE_DIR) + "/examples/";
  const Bytes expected = WriteXcf(ExampleImage());
  ASSERT_EQ(ReadFile(dir + "example.xcf"), expected);
  Picture plain = Decode(expected);
  ASSERT_EQ(plain.code, 0);
  for (const char* twin : {"example.xcf.gz", "example.xcf.bz2"}) {
    Picture p = Decode(ReadFile(dir + twin));
    ASSERT_EQ(p.code, 0) << twin;
    EXPECT_EQ(p.bits, plain.bits) << twin;
  }
}
#endif

}  // namespace
