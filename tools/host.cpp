#include "tools/host.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/processors.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kHeaderBlockSize = 2048;

bool HasExtension(const fs::path& path, const char* extension) {
  std::string e = path.extension().string();
  for (char& c : e) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return e == extension;
}

}  // namespace

bool ReadWholeFile(const fs::path& path, std::vector<char>* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool HostInputOpen(const std::string& path, int32_t offset, bool memory, HostInput* input, std::string* error) {
  input->path = path;
  if (!memory) {
    input->buffer = input->path.c_str();
    input->offsetOrSize = offset;
    input->flag = 0;
    return true;
  }
  if (!ReadWholeFile(path, &input->bytes)) {
    *error = "cannot read the file";
    return false;
  }
  if (input->bytes.size() > INT32_MAX) {
    *error = "too large to pass in memory";
    return false;
  }
  input->buffer = input->bytes.empty() ? "" : input->bytes.data();
  input->offsetOrSize = static_cast<int32_t>(input->bytes.size());
  input->flag = 1;
  return true;
}

bool UseProcessors(uint32_t count, std::string* error) {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    *error = "the processors this process may use cannot be found";
    return false;
  }
  DWORD_PTR wanted = 0;
  uint32_t taken = 0;
  for (DWORD_PTR bit = 1; bit != 0 && taken < count; bit <<= 1) {
    if ((process & bit) == 0) continue;
    wanted |= bit;
    ++taken;
  }
  if (taken < count) {
    *error = "this process may use only " + std::to_string(taken) + " processors";
    return false;
  }
  if (!SetProcessAffinityMask(GetCurrentProcess(), wanted)) {
    *error = "the processors of this process cannot be set";
    return false;
  }
  return true;
}

void ReportFailure(FILE* err, const std::string& subject, int code) {
  std::fprintf(err, "tessel: %s: %s (code %d)\n", subject.c_str(), HostCodeText(code), code);
}

void PrintAbout(const PluginApi& api, FILE* out) {
  char text[512];
  for (int32_t i = 0; i < 4; ++i) {
    int n = api.getPluginInfo(i, text, sizeof text);
    std::fprintf(out, "%d: %.*s\n", i, n, text);
  }
}

bool AskSupported(const PluginApi& api, const std::string& path, SupportedAnswer* answer, std::string* error) {
  std::vector<char> bytes;
  if (!ReadWholeFile(path, &bytes)) {
    *error = "cannot read the file";
    return false;
  }
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = "cannot open the file";
    return false;
  }
  answer->byHandle = api.isSupported(path.c_str(), reinterpret_cast<uintptr_t>(handle));
  CloseHandle(handle);
  std::vector<char> block(kHeaderBlockSize, 0);
  std::memcpy(block.data(), bytes.data(), std::min(bytes.size(), block.size()));
  answer->byBlock = api.isSupported(path.c_str(), reinterpret_cast<uintptr_t>(block.data()));
  return true;
}

int PrintInfo(const PluginApi& api, const HostInput& input, FILE* out) {
  PictureInfo info{};
  int code = api.getPictureInfo(input.buffer, input.offsetOrSize, input.flag, &info);
  if (code != 0) return code;
  std::fprintf(out, "width %u\nheight %u\ndepth %d\nx density %u\ny density %u\n", info.width, info.height,
               info.colorDepth, info.xDensity, info.yDensity);
  return 0;
}

void HostPicture::Free() {
  Unlock();
  if (info_ != nullptr) LocalFree(info_);
  if (bits_ != nullptr) LocalFree(bits_);
  info_ = nullptr;
  bits_ = nullptr;
}

Dib HostPicture::Lock() {
  Unlock();
  locked_ = true;
  return Dib{static_cast<const uint8_t*>(LocalLock(info_)), LocalSize(info_),
             static_cast<const uint8_t*>(LocalLock(bits_)), LocalSize(bits_)};
}

void HostPicture::Unlock() {
  if (!locked_) return;
  locked_ = false;
  if (info_ != nullptr) LocalUnlock(info_);
  if (bits_ != nullptr) LocalUnlock(bits_);
}

int DecodePicture(const PluginApi& api, const HostInput& input, ProgressCallback progress, intptr_t userData,
                  HostPicture* picture) {
  picture->Free();
  return api.getPicture(input.buffer, input.offsetOrSize, input.flag, picture->InfoOut(), picture->BitsOut(), progress,
                        userData);
}

bool WritableImagePath(const fs::path& out, std::string* error) {
  if (HasExtension(out, ".png") || HasExtension(out, ".bmp")) return true;
  *error = out.string() + ": the output must end in .png or .bmp";
  return false;
}

bool WritePicture(HostPicture& picture, const fs::path& out, std::string* error) {
  if (!WritableImagePath(out, error)) return false;
  fs::path temporary = out;
  temporary += ".partial";
  const Dib dib = picture.Lock();
  bool ok = dib.info != nullptr && dib.bits != nullptr;
  if (!ok) *error = "the plug-in's bitmap cannot be locked";
  if (ok) {
    ok = HasExtension(out, ".png") ? WritePng(temporary.string(), dib, error, tessel::ProcessorsOfProcess())
                                   : WriteBmp(temporary.string(), dib, error);
  }
  picture.Unlock();
  std::error_code ec;
  if (ok) {
    fs::rename(temporary, out, ec);
    if (ec) {
      ok = false;
      *error = "cannot write " + out.string() + ": " + ec.message();
    }
  }
  if (!ok) fs::remove(temporary, ec);
  return ok;
}
