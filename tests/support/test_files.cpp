#include "tests/support/test_files.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
#else
#include "platform/kernel32.h"
#endif

namespace xcftest {

std::string ScratchPath(const std::string& name) {
#ifdef _WIN32
  _mkdir("scratch");
#else
  mkdir("scratch", 0755);
#endif
  return "scratch/" + name;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int64_t LiveLocalHandles() {
#ifdef _WIN32
  return -1;
#else
  return tessel::platform::LiveLocalHandles();
#endif
}

}  // namespace xcftest
