// Replays inputs through a fuzz target without libFuzzer: every file named,
// and every file in every directory named. The regression inputs run so in
// every native test suite.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int Replay(const std::string& path) {
  std::printf("replay: %s\n", path.c_str());
  std::fflush(stdout);
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat info;
    if (stat(argv[i], &info) != 0) {
      std::fprintf(stderr, "replay: %s: not found\n", argv[i]);
      return 1;
    }
    if (!S_ISDIR(info.st_mode)) {
      replayed += Replay(argv[i]);
      continue;
    }
    DIR* dir = opendir(argv[i]);
    for (dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name[0] == '.') continue;
      replayed += Replay(std::string(argv[i]) + "/" + name);
    }
    closedir(dir);
  }
  std::printf("replayed %d inputs\n", replayed);
  // A folder that holds nothing replays nothing: the inputs went missing.
  return replayed > 0 ? 0 : 1;
}
