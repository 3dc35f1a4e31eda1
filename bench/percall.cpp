// Times GetPicture from a file name, as a viewer calls it, with nothing
// else in the process: COUNT calls, then the median and the mean per call.
// It uses only the exports, so scripts/bench.sh compiles it against the
// current build and against an older one alike.
// usage: tessel_percall FILE COUNT
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "plugin/exports.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tessel_percall FILE COUNT\n");
    return 2;
  }
  const int count = std::atoi(argv[2]);
  std::vector<double> ms;
  for (int i = 0; i < count; ++i) {
    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int code = GetPicture(argv[1], 0, 0, &info, &bits, nullptr, 0);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (code != 0) {
      std::fprintf(stderr, "tessel_percall: %s: code %d\n", argv[1], code);
      return 1;
    }
    LocalFree(info);
    LocalFree(bits);
  }
  double sum = 0;
  for (double m : ms) sum += m;
  std::sort(ms.begin(), ms.end());
  std::printf("%d calls: median %.3f ms, mean %.3f ms per call\n", count, ms[ms.size() / 2], sum / count);
  return 0;
}
