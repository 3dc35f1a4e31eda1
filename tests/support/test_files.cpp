#include "tests/support/test_files.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
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

namespace {

uint32_t CountingRead(void* handle, void* buffer, uint32_t count) {
  auto* c = static_cast<CountingStream*>(handle);
  ++c->reads;
  uint32_t left = static_cast<uint32_t>(c->data.size()) - c->position;
  uint32_t n = count < left ? count : left;
  std::memcpy(buffer, c->data.data() + c->position, n);
  c->position += n;
  c->bytesRead += n;
  if (c->position > c->furthest) c->furthest = c->position;
  return n;
}

tessel::ResultCode CountingSeek(void* handle, uint32_t position) {
  auto* c = static_cast<CountingStream*>(handle);
  ++c->seeks;
  if (position > c->data.size()) return tessel::ResultCode::SeekError;
  c->position = position;
  return tessel::ResultCode::Ok;
}

}  // namespace

CountingStream::CountingStream(const Bytes& bytes) : data(bytes) {
  if (tessel::StreamCreate(CountingRead, CountingSeek, this, nullptr, &stream) != tessel::ResultCode::Ok)
    throw std::runtime_error("stream");
}

CountingStream::~CountingStream() { tessel::StreamDestroy(&stream); }

}  // namespace xcftest
