// xcfgen: writes the generated XCF files that the end-to-end suites and the
// bundled example use, and random documents for comparing two builds.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/random_tree.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"

namespace {

// COUNT random documents of each era, r-plugin-N.xcf and r-gimp-N.xcf.
int WriteRandom(uint32_t count, uint64_t seed, const std::string& dir) {
  xcftest::Random random{seed != 0 ? seed : 1};
  uint32_t shapes[xcftest::kShapes] = {};
  for (uint32_t i = 0; i < count; ++i) {
    for (xcftest::Era era : {xcftest::Era::Plugin, xcftest::Era::Gimp}) {
      const xcftest::Image image = xcftest::RandomImage(random, shapes, era);
      const std::string name = (era == xcftest::Era::Plugin ? "r-plugin-" : "r-gimp-") + std::to_string(i) + ".xcf";
      xcftest::WriteFile(dir + "/" + name, xcftest::WriteXcf(image));
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--random" && argc == 5)
    return WriteRandom(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)), std::strtoull(argv[3], nullptr, 10),
                       argv[4]);
  const bool stress = argc == 3 && first == "--stress";
  if (argc != 2 && !stress) {
    std::fprintf(stderr, "usage: xcfgen [--stress] OUTDIR\n       xcfgen --random COUNT SEED OUTDIR\n");
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
