// Writes the benchmark documents, so that their decoding can be measured in
// a process of its own (whole-process time and peak memory).
// usage: tessel_benchgen OUT.xcf [SIZE]                  the end-to-end document (4096 by default)
//        tessel_benchgen --viewer OUT.xcf                the 6000 x 4000 photograph of six layers
//        tessel_benchgen --small OUT.xcf                 the 1000 x 800 file of three layers
//        tessel_benchgen --layers N WIDTH HEIGHT OUT.xcf N RGBA layers of one colour per tile
//        tessel_benchgen --nested N WIDTH HEIGHT OUT.xcf N groups nested around one layer
//        tessel_benchgen --wide N WIDTH HEIGHT TAG OUT.xcf one group of N small layers, version TAG
//        tessel_benchgen --photo TAG [hole] [P] OUT.xcf  the photograph in a file of version TAG, its base with a
//                                                        hole, its pixels of precision P (v012 on: 250, 600...)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_data.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: tessel_benchgen OUT.xcf [SIZE] | --viewer OUT.xcf | --small OUT.xcf |\n"
                 "       --layers N WIDTH HEIGHT OUT.xcf | --nested N WIDTH HEIGHT OUT.xcf |\n"
                 "       --wide N WIDTH HEIGHT TAG OUT.xcf\n");
    return 2;
  }
  const std::string first = argv[1];
  if (first == "--photo" && argc >= 4 && argc <= 6) {
    int next = 3;
    const bool hole = next < argc - 1 && std::string(argv[next]) == "hole";
    if (hole) ++next;
    const uint32_t precision = next < argc - 1 ? static_cast<uint32_t>(std::atoi(argv[next++])) : 150;
    if (next != argc - 1 || precision == 0) {
      std::fprintf(stderr, "usage: tessel_benchgen --photo TAG [hole] [PRECISION] OUT.xcf\n");
      return 2;
    }
    xcftest::WriteFile(argv[argc - 1], xcftest::WriteXcf(tesselbench::ViewerDocument(argv[2], hole, precision)));
    return 0;
  }
  if (first == "--wide" && argc == 7) {
    const xcftest::Image image = xcftest::WideGroup(static_cast<uint32_t>(std::atoi(argv[2])),
                                                        static_cast<uint32_t>(std::atoi(argv[3])),
                                                        static_cast<uint32_t>(std::atoi(argv[4])), argv[5]);
    xcftest::WriteFile(argv[6], xcftest::WriteXcf(image));
    return 0;
  }
  if ((first == "--layers" || first == "--nested") && argc == 6) {
    const auto n = static_cast<uint32_t>(std::atoi(argv[2]));
    const auto width = static_cast<uint32_t>(std::atoi(argv[3]));
    const auto height = static_cast<uint32_t>(std::atoi(argv[4]));
    const xcftest::Image image =
        first == "--layers" ? tesselbench::ManyLayers(n, width, height) : tesselbench::NestedGroups(n, width, height);
    xcftest::WriteFile(argv[5], xcftest::WriteXcf(image));
    return 0;
  }
  if ((first == "--viewer" || first == "--small") && argc == 3) {
    const xcftest::Image image = first == "--viewer" ? tesselbench::ViewerDocument() : tesselbench::SmallDocument();
    xcftest::WriteFile(argv[2], xcftest::WriteXcf(image));
    return 0;
  }
  uint32_t size = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 4096;
  xcftest::WriteFile(argv[1], xcftest::WriteXcf(tesselbench::LargeDocument(size)));
  return 0;
}
