// Writes the large end-to-end benchmark document, so that its decode can be
// measured in a process of its own.
#include <cstdio>
#include <cstdlib>

#include "bench/bench_data.h"
#include "tests/support/test_files.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tessel_benchgen OUT.xcf [SIZE]\n");
    return 2;
  }
  uint32_t size = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 4096;
  xcftest::WriteFile(argv[1], xcftest::WriteXcf(tesselbench::LargeDocument(size)));
  return 0;
}
