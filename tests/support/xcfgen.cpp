// xcfgen: writes the generated XCF files that the end-to-end suites and the
// bundled example use.
#include <cstdio>
#include <string>

#include "tests/support/samples.h"
#include "tests/support/test_files.h"

int main(int argc, char** argv) {
  const bool stress = argc == 3 && std::string(argv[1]) == "--stress";
  if (argc != 2 && !stress) {
    std::fprintf(stderr, "usage: xcfgen [--stress] OUTDIR\n");
    return 2;
  }
  const std::string dir = argv[argc - 1];
  // The stress mix also gets a list of its files, for `tessel stress`.
  std::string list;
  for (const xcftest::Sample& sample : stress ? xcftest::StressSamples() : xcftest::Samples()) {
    xcftest::WriteFile(dir + "/" + sample.name, sample.bytes);
    list += sample.name + "\n";
  }
  if (stress) xcftest::WriteFile(dir + "/stress.txt", xcftest::Bytes(list.begin(), list.end()));
  return 0;
}
