// xcfgen: writes the generated XCF files that the end-to-end suites and the
// bundled example use.
#include <cstdio>
#include <string>

#include "tests/support/samples.h"
#include "tests/support/test_files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: xcfgen OUTDIR\n");
    return 2;
  }
  std::string dir = argv[1];
  for (const xcftest::Sample& sample : xcftest::Samples()) {
    xcftest::WriteFile(dir + "/" + sample.name, sample.bytes);
  }
  return 0;
}
