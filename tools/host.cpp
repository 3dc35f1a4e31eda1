#include "tools/host.h"
#include "tools/thumbnail.h"

#include <algorithm>
#include <cstring>
#include <cerrno>
#include <memory>
#include <system_error>

#include "platform/processors.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kHeaderBlockSize = 2048;



// At most `most` bytes from the start of a file (all of it by default);
// false, with the system's reason, when it cannot be read. No exception.
bool ReadFileStart(const fs::path& path, std::vector<char>* data, std::string* error,
                   size_t most = SIZE_MAX) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec) {
    *error = ec.message();
    return false;
  }
  if (fs::is_directory(status)) {
    *error = "is a directory";
    return false;
  }
  errno = 0;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.string().c_str(), "rb"), std::fclose);
  if (!file) {
    *error = std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  data->clear();
  char chunk[1 << 16];
  while (data->size() < most) {
    const size_t want = std::min(sizeof chunk, most - data->size());
    const size_t got = std::fread(chunk, 1, want, file.get());
    data->insert(data->end(), chunk, chunk + got);
    if (got < want) break;
  }
  if (std::ferror(file.get())) {
    *error = std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace


bool HostInputOpen(const std::string& path, int32_t offset, bool memory, HostInput* input, std::string* error) {
  input->path = path;
  // By name, the plug-in opens the file and tells why it cannot.
  if (!memory) {
    input->buffer = input->path.c_str();
    input->offsetOrSize = offset;
    input->flag = 0;
    return true;
  }
  if (!ReadFileStart(path, &input->bytes, error)) return false;
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

std::string FailureText(const std::string& subject, int code, const std::string& reason) {
  // A fault of the plug-in's own is not the file's: its reason says so
  // alone, without the code's meaning ("not readable").
  const bool ours = reason.rfind("internal fault: ", 0) == 0;
  const std::string meaning = ours ? "" : std::string(tessel::HostCodeText(code)) + (reason.empty() ? "" : ": ");
  return "tessel: " + subject + ": " + meaning + reason + " (code " + std::to_string(code) + ")";
}

void ReportFailure(FILE* err, const std::string& subject, int code, const std::string& reason) {
  std::fprintf(err, "%s\n", FailureText(subject, code, reason).c_str());
}

void PrintAbout(const PluginApi& api, FILE* out) {
  char text[512];
  for (int32_t i = 0; i < 4; ++i) {
    int n = api.getPluginInfo(i, text, sizeof text);
    std::fprintf(out, "%d: %.*s\n", i, n, text);
  }
}

bool AskSupported(const PluginApi& api, const std::string& path, SupportedAnswer* answer, std::string* error) {
  // The block a viewer hands over: the first 2048 bytes, no more read.
  std::vector<char> bytes;
  if (!ReadFileStart(path, &bytes, error, kHeaderBlockSize)) return false;
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

int PrintInfo(const PluginApi& api, const HostInput& input, FILE* out, std::string* reason) {
  PictureInfo info{};
  tessel::Reason why{};
  int code = api.getPictureInfoWith != nullptr
                 ? api.getPictureInfoWith(input.buffer, input.offsetOrSize, input.flag, &info, *api.limits,
                                          &why)
                 : api.getPictureInfo(input.buffer, input.offsetOrSize, input.flag, &info);
  *reason = why.text;
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
                  HostPicture* picture, std::string* reason, tessel::PictureSink* sink,
                  tessel::FilterHook* filters, const tessel::PictureChoice& choice) {
  picture->Free();
  tessel::Reason why{};
  const int code = api.getPictureWith != nullptr
                       ? api.getPictureWith(input.buffer, input.offsetOrSize, input.flag, picture->InfoOut(),
                                            picture->BitsOut(), progress, userData, *api.limits, &why, sink, filters,
                                            choice)
                       : api.getPicture(input.buffer, input.offsetOrSize, input.flag, picture->InfoOut(),
                                        picture->BitsOut(), progress, userData);
  *reason = why.text;
  return code;
}

std::string UnappliedFilters(const std::string& file, const char* layer, const tessel::XcfFoundFilters& found) {
  const uint32_t n = found.filters.count;
  return file + ": " + layer + (found.onMask ? "'s mask" : "") + " has " + std::to_string(n) +
         (n == 1 ? " filter (" : " filters (") + found.filters.operations + (n == 1 ? ") that is" : ") that are") +
         " not applied";
}

bool HasExtension(const fs::path& path, const char* extension) {
  std::string e = path.extension().string();
  for (char& c : e) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return e == extension;
}

bool WritableImagePath(const fs::path& out, std::string* error) {
  if (HasExtension(out, ".png") || HasExtension(out, ".bmp")) return true;
  *error = out.string() + ": the output must end in .png or .bmp";
  return false;
}

// The name of the file a picture is written to before it takes its own.
fs::path PartialOf(const fs::path& out) {
  fs::path temporary = out;
  temporary += ".partial";
  return temporary;
}

bool OutputWritable(const fs::path& out, std::string* error) {
  const fs::path probe = PartialOf(out);
  errno = 0;
  FILE* file = std::fopen(probe.string().c_str(), "wb");
  if (file == nullptr) {
    *error = out.string() + ": cannot be written: " + std::strerror(errno != 0 ? errno : EIO);
    return false;
  }
  std::fclose(file);
  std::error_code ec;
  fs::remove(probe, ec);
  return true;
}

bool FolderIgnoresCase(const fs::path& folder) {
#ifdef _WIN32
  (void)folder;
  return true;
#else
  // The folder, or the nearest folder above it that is there already.
  std::error_code ec;
  fs::path existing = folder.empty() ? fs::path(".") : folder;
  while (!fs::is_directory(existing, ec) && existing.has_parent_path() && existing != existing.parent_path())
    existing = existing.parent_path();
  if (!fs::is_directory(existing, ec)) existing = ".";
  const fs::path lower = existing / ".tessel-case-probe";
  FILE* file = std::fopen(lower.string().c_str(), "wb");
  if (file == nullptr) return false;
  std::fclose(file);
  const bool ignores = fs::exists(existing / ".TESSEL-CASE-PROBE", ec);
  fs::remove(lower, ec);
  return ignores;
#endif
}

namespace {

// Writes through `write` to OUT.partial, which then takes OUT's name, so a
// failure never leaves a partial file.
template <typename Write>
bool WriteLocked(HostPicture& picture, const fs::path& out, std::string* error, Write write) {
  const fs::path temporary = PartialOf(out);
  const Dib dib = picture.Lock();
  bool ok = dib.info != nullptr && dib.bits != nullptr;
  if (!ok) *error = "the plug-in's bitmap cannot be locked";
  if (ok) ok = write(dib, temporary.string());
  picture.Unlock();
  std::error_code ec;
  if (ok) {
    fs::rename(temporary, out, ec);
    if (ec) {
      ok = false;
      *error = ec.message();
    }
  }
  if (!ok && dib.info != nullptr && dib.bits != nullptr) *error = "cannot write " + out.string() + ": " + *error;
  if (!ok) fs::remove(temporary, ec);
  return ok;
}

}  // namespace

bool WritePicture(HostPicture& picture, const fs::path& out, std::string* error) {
  if (!WritableImagePath(out, error)) return false;
  return WriteLocked(picture, out, error, [&](const Dib& dib, const std::string& path) {
    return HasExtension(out, ".png") ? WritePng(path, dib, error, tessel::ProcessorsOfProcess())
                                     : WriteBmp(path, dib, error);
  });
}

PictureOutput::PictureOutput(const PluginApi& api, const fs::path& out) : out_(out) {
  if (api.getPictureWith != nullptr && HasExtension(out, ".png"))
    streamed_ = std::make_unique<PngStreamWriter>(PartialOf(out).string());
}

PictureOutput::~PictureOutput() {
  std::error_code ec;
  if (streamed_ && !done_) fs::remove(PartialOf(out_), ec);
}

bool PictureOutput::Write(HostPicture& picture, std::string* error) {
  // An indexed picture with alpha is written once it is whole.
  if (!streamed_ || streamed_->Deferred()) return WritePicture(picture, out_, error);
  done_ = true;
  std::error_code ec;
  bool ok = streamed_->Finish(error);
  if (ok) {
    fs::rename(PartialOf(out_), out_, ec);
    ok = !ec;
    if (!ok) *error = ec.message();
  }
  if (!ok) {
    *error = "cannot write " + out_.string() + ": " + *error;
    fs::remove(PartialOf(out_), ec);
  }
  return ok;
}

bool WriteThumbnail(HostPicture& picture, uint32_t size, const fs::path& out, std::string* error) {
  return WriteLocked(picture, out, error, [&](const Dib& dib, const std::string& path) {
    OwnedDib scaled;
    if (!ScaleToFit(dib, size, tessel::ProcessorsOfProcess(), &scaled)) {
      *error = "no memory to scale the picture";
      return false;
    }
    return WritePng(path, scaled.View(), error, 1, PngEffort::Small);
  });
}
