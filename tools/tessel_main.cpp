// tessel: a command-line host for the plug-in. It reaches the plug-in only
// through the five exports, as an image viewer does.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <malloc.h>
#include <unistd.h>
#endif
#include <chrono>
#include <map>

#include "tools/image_writer.h"
#include "tools/plugin_api.h"


namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> interrupted{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  interrupted = true;
  return TRUE;
}
#else
void OnInterrupt(int) { interrupted = true; }
#endif

struct Output {
  FILE* out;
  FILE* err;
};

struct Options {
  std::vector<std::string> positional;
  int32_t offset = 0;
  bool memory = false;
  int64_t flag = -1;  // overrides the input kind; for testing refusals
  std::string plugin;
  bool ok = true;
  std::string problem;
};

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--memory") {
      o.memory = true;
    } else if ((a == "--offset" || a == "--plugin" || a == "--flag") && i + 1 < args.size()) {
      const std::string& value = args[++i];
      if (a == "--plugin") {
        o.plugin = value;
        continue;
      }
      char* end = nullptr;
      long long n = std::strtoll(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || n < INT32_MIN || n > INT32_MAX) {
        o.ok = false;
        o.problem = "bad offset " + value;
      }
      if (a == "--flag") {
        o.flag = static_cast<int64_t>(static_cast<uint32_t>(n));
      } else {
        o.offset = static_cast<int32_t>(n);
      }
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      o.ok = false;
      o.problem = "unknown option " + a;
    } else {
      o.positional.push_back(a);
    }
  }
  return o;
}

bool ReadWholeFile(const std::string& path, std::vector<char>* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int Fail(const Output& io, const std::string& subject, int code) {
  std::fprintf(io.err, "tessel: %s: %s (code %d)\n", subject.c_str(), HostCodeText(code), code);
  return kExitFailure;
}

// The input as a viewer passes it: a file name with an offset, or the whole
// file in memory.
struct Input {
  std::vector<char> bytes;
  const char* buffer = nullptr;
  int32_t offsetOrSize = 0;
  uint32_t flag = 0;
};

bool PrepareInput(const Options& o, const Output& io, Input* input) {
  const std::string& file = o.positional[0];
  if (o.flag >= 0) input->flag = static_cast<uint32_t>(o.flag);
  if (!o.memory) {
    input->buffer = file.c_str();
    input->offsetOrSize = o.offset;
    return true;
  }
  if (!ReadWholeFile(file, &input->bytes)) {
    std::fprintf(io.err, "tessel: %s: cannot read the file\n", file.c_str());
    return false;
  }
  if (input->bytes.size() > INT32_MAX) {
    std::fprintf(io.err, "tessel: %s: too large to pass in memory\n", file.c_str());
    return false;
  }
  input->buffer = input->bytes.empty() ? "" : input->bytes.data();
  input->offsetOrSize = static_cast<int32_t>(input->bytes.size());
  if (o.flag < 0) input->flag = 1;
  return true;
}

int CommandAbout(const PluginApi& api, const Output& io) {
  char text[512];
  for (int32_t i = 0; i < 4; ++i) {
    int n = api.getPluginInfo(i, text, sizeof text);
    std::fprintf(io.out, "%d: %.*s\n", i, n, text);
  }
  return 0;
}

int CommandSupported(const PluginApi& api, const Options& o, const Output& io) {
  const std::string& file = o.positional[0];
  HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::fprintf(io.err, "tessel: %s: cannot open the file\n", file.c_str());
    return kExitFailure;
  }
  int byHandle = api.isSupported(file.c_str(), reinterpret_cast<uintptr_t>(handle));
  CloseHandle(handle);
  // A viewer passes the first 2048 bytes, zero-filled past the end of a short file.
  std::vector<char> bytes;
  ReadWholeFile(file, &bytes);
  std::vector<char> block(2048, 0);
  std::memcpy(block.data(), bytes.data(), bytes.size() < block.size() ? bytes.size() : block.size());
  int byBlock = api.isSupported(file.c_str(), reinterpret_cast<uintptr_t>(block.data()));
  std::fprintf(io.out, "handle: %d\nblock: %d\n", byHandle, byBlock);
  return byHandle == 1 || byBlock == 1 ? 0 : kExitFailure;
}

int CommandInfo(const PluginApi& api, const Options& o, const Output& io) {
  Input input;
  if (!PrepareInput(o, io, &input)) return kExitFailure;
  PictureInfo info{};
  int code = api.getPictureInfo(input.buffer, input.offsetOrSize, input.flag, &info);
  if (code != 0) return Fail(io, o.positional[0], code);
  std::fprintf(io.out, "width %u\nheight %u\ndepth %d\nx density %u\ny density %u\n", info.width, info.height,
               info.colorDepth, info.xDensity, info.yDensity);
  return 0;
}

struct ProgressBar {
  bool enabled;
  FILE* err;
};

int TESSEL_CALL OnProgress(int32_t current, int32_t total, intptr_t userData) {
  auto* bar = reinterpret_cast<ProgressBar*>(userData);
  if (bar->enabled && total > 0) {
    const int width = 30;
    int done = static_cast<int>(static_cast<int64_t>(current + 1) * width / (total + 1));
    std::fprintf(bar->err, "\r[%-*.*s] %d/%d layers", width, done, "##############################", current + 1,
                 total + 1);
    std::fflush(bar->err);
  }
  return interrupted ? 1 : 0;
}

bool EndsWith(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = s[s.size() - n + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

int CommandRender(const PluginApi& api, const Options& o, const Output& io) {
  const std::string& out = o.positional[1];
  bool png = EndsWith(out, ".png");
  if (!png && !EndsWith(out, ".bmp")) {
    std::fprintf(io.err, "tessel: %s: the output must end in .png or .bmp\n", out.c_str());
    return kExitUsage;
  }
#ifndef TESSEL_HAVE_PNG
  if (png) {
    std::fprintf(io.err, "tessel: %s: this build writes BMP only\n", out.c_str());
    return kExitUsage;
  }
#endif
  Input input;
  if (!PrepareInput(o, io, &input)) return kExitFailure;
  ProgressBar bar{io.err == stderr && isatty(fileno(stderr)) != 0, io.err};
  HLOCAL infoHandle = nullptr;
  HLOCAL bitsHandle = nullptr;
  int code = api.getPicture(input.buffer, input.offsetOrSize, input.flag, &infoHandle, &bitsHandle, OnProgress,
                            reinterpret_cast<intptr_t>(&bar));
  if (bar.enabled) std::fprintf(io.err, "\r%*s\r", 50, "");
  if (code == 0 && interrupted) {
    // Stopped after the last progress report: the picture is not wanted.
    LocalFree(infoHandle);
    LocalFree(bitsHandle);
    code = 1;
  }
  if (code != 0) return Fail(io, o.positional[0], code);

  Dib dib{static_cast<const uint8_t*>(LocalLock(infoHandle)), LocalSize(infoHandle),
          static_cast<const uint8_t*>(LocalLock(bitsHandle)), LocalSize(bitsHandle)};
  // Written beside the target and renamed, so no partial file is ever left.
  std::string temporary = out + ".partial";
  std::string error;
  bool ok = dib.info != nullptr && dib.bits != nullptr;
#ifdef TESSEL_HAVE_PNG
  if (ok) ok = png ? WritePng(temporary, dib, &error) : WriteBmp(temporary, dib, &error);
#else
  if (ok) ok = WriteBmp(temporary, dib, &error);
#endif
  LocalUnlock(infoHandle);
  LocalUnlock(bitsHandle);
  LocalFree(infoHandle);
  LocalFree(bitsHandle);
  if (ok) {
    std::remove(out.c_str());
    ok = std::rename(temporary.c_str(), out.c_str()) == 0;
    if (!ok) error = "cannot write " + out;
  }
  if (!ok) {
    std::remove(temporary.c_str());
    std::fprintf(io.err, "tessel: %s\n", error.c_str());
    return kExitFailure;
  }
  return 0;
}

// The process's private memory: on Windows its private bytes (committed
// private pages, summed over the address space), natively the heap in use.
uint64_t PrivateBytes() {
#ifdef _WIN32
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (region.RegionSize == 0) break;
  }
  return total;
#else
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// Calls GetPicture over and over on the files LIST names (relative to the
// list), from the file and from memory, and checks that the process's
// memory does not grow from the end of the first round to the last.
int CommandStress(const PluginApi& api, const Options& o, const Output& io) {
  const std::string& list = o.positional[0];
  const long rounds = std::strtol(o.positional[1].c_str(), nullptr, 10);
  std::ifstream in(list);
  if (!in || rounds < 1) {
    std::fprintf(io.err, "tessel: %s: cannot read the list, or no rounds\n", list.c_str());
    return kExitUsage;
  }
  const size_t slash = list.find_last_of("/\\");
  const std::string dir = slash == std::string::npos ? std::string() : list.substr(0, slash + 1);
  std::vector<std::string> files;
  std::vector<std::vector<char>> contents;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    files.push_back(dir + line);
    contents.emplace_back();
    if (!ReadWholeFile(files.back(), &contents.back()) || contents.back().empty() ||
        contents.back().size() > INT32_MAX) {
      std::fprintf(io.err, "tessel: %s: cannot read the file\n", files.back().c_str());
      return kExitFailure;
    }
  }
  std::map<int, uint64_t> codes;
  uint64_t calls = 0;
  uint64_t afterFirstRound = 0;
  const uint64_t atStart = PrivateBytes();
  const auto start = std::chrono::steady_clock::now();
  for (long round = 0; round < rounds; ++round) {
    for (size_t i = 0; i < files.size(); ++i) {
      for (int memory = 0; memory < 2; ++memory) {
        HLOCAL info = nullptr;
        HLOCAL bits = nullptr;
        int code = memory ? api.getPicture(contents[i].data(), static_cast<int32_t>(contents[i].size()), 1, &info,
                                           &bits, nullptr, 0)
                          : api.getPicture(files[i].c_str(), 0, 0, &info, &bits, nullptr, 0);
        if (code == 0) {
          LocalFree(info);
          LocalFree(bits);
        }
        ++codes[code];
        ++calls;
      }
    }
    if (round == 0) afterFirstRound = PrivateBytes();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const uint64_t atEnd = PrivateBytes();
  std::fprintf(io.out, "calls %llu in %.1f s over %zu files\n", static_cast<unsigned long long>(calls), seconds,
               files.size());
  for (const auto& [code, count] : codes)
    std::fprintf(io.out, "  code %d (%s): %llu\n", code, HostCodeText(code), static_cast<unsigned long long>(count));
  std::fprintf(io.out, "private memory: %llu KiB at start, %llu KiB after the first round, %llu KiB at the end\n",
               static_cast<unsigned long long>(atStart / 1024), static_cast<unsigned long long>(afterFirstRound / 1024),
               static_cast<unsigned long long>(atEnd / 1024));
  // Allocator bookkeeping may move a little; a leak of even one small
  // picture per call would pass this many times over.
  const uint64_t allowance = 1u << 20;
  if (atEnd > afterFirstRound + allowance) {
    std::fprintf(io.err, "tessel: memory grew by %llu KiB\n",
                 static_cast<unsigned long long>((atEnd - afterFirstRound) / 1024));
    return kExitFailure;
  }
  return 0;
}

int Usage(FILE* err) {
  std::fprintf(err,
               "usage: tessel about\n"
               "       tessel supported FILE\n"
               "       tessel info FILE [--offset N] [--memory]\n"
               "       tessel render FILE OUT.png|OUT.bmp [--offset N] [--memory]\n"
               "       tessel cases LIST       (runs one command per line of LIST)\n"
               "       tessel stress LIST ROUNDS  (GetPicture on every file of LIST, ROUNDS times)\n"
               "options: --plugin PATH (Windows: the tessel.spi to load)\n"
               "         --flag N (pass N as the input-kind flag, to test refusals)\n");
  return kExitUsage;
}

int RunCommand(const PluginApi& api, const std::vector<std::string>& args, const Output& io);

// One command per line, each answered after a "== line" marker with its exit
// status, so that a single run (one Wine start-up) covers many cases.
int CommandCases(const PluginApi& api, const std::string& list, const Output& io) {
  std::ifstream in(list);
  if (!in) {
    std::fprintf(io.err, "tessel: %s: cannot read the list\n", list.c_str());
    return kExitFailure;
  }
  std::string line;
  Output merged{io.out, io.out};
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    std::fprintf(io.out, "== %s\n", line.c_str());
    int status = RunCommand(api, args, merged);
    std::fprintf(io.out, "exit %d\n", status);
    std::fflush(io.out);
  }
  return 0;
}

int RunCommand(const PluginApi& api, const std::vector<std::string>& args, const Output& io) {
  if (args.empty()) return Usage(io.err);
  std::vector<std::string> rest(args.begin() + 1, args.end());
  Options o = ParseOptions(rest);
  if (!o.ok) {
    std::fprintf(io.err, "tessel: %s\n", o.problem.c_str());
    return kExitUsage;
  }
  const std::string& command = args[0];
  if (command == "about" && o.positional.empty()) return CommandAbout(api, io);
  if (command == "supported" && o.positional.size() == 1) return CommandSupported(api, o, io);
  if (command == "info" && o.positional.size() == 1) return CommandInfo(api, o, io);
  if (command == "render" && o.positional.size() == 2) return CommandRender(api, o, io);
  if (command == "cases" && o.positional.size() == 1) return CommandCases(api, o.positional[0], io);
  if (command == "stress" && o.positional.size() == 2) return CommandStress(api, o, io);
  return Usage(io.err);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Options o = ParseOptions(args);
  PluginApi api;
  std::string error;
  if (!PluginLoad(o.plugin, &api, &error)) {
    std::fprintf(stderr, "tessel: %s\n", error.c_str());
    return kExitFailure;
  }
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  std::signal(SIGINT, OnInterrupt);
#endif
  int status = RunCommand(api, args, Output{stdout, stderr});
  PluginUnload(&api);
  return status;
}
