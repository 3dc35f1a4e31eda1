// tessel_driver: the end-to-end suites' host. Like the tessel tool it
// reaches the plug-in only through the five exports (on Windows it loads
// tessel.spi), and it counts the local-memory handles the plug-in leaves.
//
//   tessel_driver cases LIST
//       runs one host command per line of LIST (about, supported, info,
//       render; --offset N, --memory and --flag N, the last passing N as
//       the input-kind flag to test refusals), each answered after a
//       "== line" marker with its exit status, so that one process (one
//       Wine start-up) covers every case
//   tessel_driver stress LIST ROUNDS [--drop-handle]
//       GetPicture on every file of LIST, from the file and from memory,
//       ROUNDS times: the process's memory must not grow and no handle may
//       stay alive. --drop-handle forgets one delivered handle on purpose,
//       so that the check can be seen to fail.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <malloc.h>
#endif

#ifndef _WIN32
#include "plugin/settings.h"
#endif
#include "tests/support/debugger_text.h"
#include "tests/support/local_handles.h"
#include "tools/command_line.h"
#include "tools/host.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The reason of a failure: told by the entry points natively, heard from
// the DLL's text to a debugger under Windows. Either way it is the same.
std::string Heard(const std::string& told) {
  const std::string heard = xcftest::TakeDebuggerReason();
  return told.empty() ? heard : told;
}

enum OptionId : int { kOptOffset = 1000, kOptMemory, kOptFlag, kOptDropHandle };

struct CaseOptions {
  int32_t offset = 0;
  bool memory = false;
  int64_t flag = -1;  // overrides the input kind when set
  std::vector<std::string> positional;
};

bool ParseCase(std::vector<std::string>& words, CaseOptions* o, FILE* out) {
  static const option kOptions[] = {{"offset", required_argument, nullptr, kOptOffset},
                                    {"memory", no_argument, nullptr, kOptMemory},
                                    {"flag", required_argument, nullptr, kOptFlag},
                                    {nullptr, 0, nullptr, 0}};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  ResetOptionParser();
  opterr = 0;
  for (int c; (c = getopt_long(static_cast<int>(words.size()), argv.data(), "", kOptions, nullptr)) != -1;) {
    int64_t n;
    switch (c) {
      case kOptOffset:
      case kOptFlag:
        if (!ParseNumber(optarg, c == kOptFlag ? 0 : INT32_MIN, c == kOptFlag ? UINT32_MAX : INT32_MAX, &n)) {
          std::fprintf(out, "tessel: bad value %s\n", optarg);
          return false;
        }
        if (c == kOptFlag) o->flag = n; else o->offset = static_cast<int32_t>(n);
        break;
      case kOptMemory: o->memory = true; break;
      default: std::fprintf(out, "tessel: bad option\n"); return false;
    }
  }
  // getopt moves the operands behind the options.
  for (int i = optind; i < static_cast<int>(words.size()); ++i) o->positional.push_back(argv[i]);
  return true;
}

bool OpenCaseInput(const CaseOptions& o, FILE* out, HostInput* input) {
  std::string error;
  if (!HostInputOpen(o.positional[0], o.offset, o.memory, input, &error)) {
    std::fprintf(out, "tessel: %s: %s\n", o.positional[0].c_str(), error.c_str());
    return false;
  }
  if (o.flag >= 0) input->flag = static_cast<uint32_t>(o.flag);
  return true;
}

// One case; its exit status as the tessel tool would give it.
int RunCase(const PluginApi& api, std::vector<std::string> words, FILE* out) {
  CaseOptions o;
  if (words.empty() || !ParseCase(words, &o, out)) return kExitUsage;
  const std::string& command = words[0];
  const size_t args = o.positional.size();
  if (command == "about" && args == 0) {
    PrintAbout(api, out);
    return 0;
  }
  if (command == "supported" && args == 1) {
    SupportedAnswer answer;
    std::string error;
    if (!AskSupported(api, o.positional[0], &answer, &error)) {
      std::fprintf(out, "tessel: %s: %s\n", o.positional[0].c_str(), error.c_str());
      return kExitFailed;
    }
    std::fprintf(out, "handle: %d\nblock: %d\n", answer.byHandle, answer.byBlock);
    return answer.byHandle == 1 || answer.byBlock == 1 ? 0 : kExitFailed;
  }
  if (command == "info" && args == 1) {
    HostInput input;
    if (!OpenCaseInput(o, out, &input)) return kExitFailed;
    std::string reason;
    int code = PrintInfo(api, input, out, &reason);
    if (code != 0) ReportFailure(out, input.path, code, Heard(reason));
    return code == 0 ? 0 : kExitFailed;
  }
  if (command == "render" && args == 2) {
    HostInput input;
    if (!OpenCaseInput(o, out, &input)) return kExitFailed;
    HostPicture picture;
    std::string reason;
    int code = DecodePicture(api, input, nullptr, 0, &picture, &reason);
    if (code != 0) {
      ReportFailure(out, input.path, code, Heard(reason));
      return kExitFailed;
    }
    std::string error;
    if (!WritePicture(picture, o.positional[1], &error)) {
      std::fprintf(out, "tessel: %s\n", error.c_str());
      return kExitFailed;
    }
    return 0;
  }
  std::fprintf(out, "tessel: unknown case\n");
  return kExitUsage;
}

int CommandCases(const PluginApi& api, const std::string& list) {
  std::ifstream in(list);
  if (!in) {
    std::fprintf(stderr, "tessel_driver: %s: cannot read the list\n", list.c_str());
    return kExitFailed;
  }
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::istringstream split(line);
    std::vector<std::string> words;
    for (std::string w; split >> w;) words.push_back(w);
    std::fprintf(stdout, "== %s\n", line.c_str());
    int status = RunCase(api, words, stdout);
    for (const std::string& note : xcftest::TakeDebuggerNotes()) std::fprintf(stdout, "debugger: %s", note.c_str());
    std::fprintf(stdout, "exit %d\n", status);
    std::fflush(stdout);
  }
  if (xcftest::LiveLocalHandles() != 0) {
    std::fprintf(stderr, "tessel_driver: %lld local-memory handles left alive\n",
                 static_cast<long long>(xcftest::LiveLocalHandles()));
    return kExitFailed;
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

int CommandStress(const PluginApi& api, const std::string& list, long rounds, bool dropHandle) {
  std::ifstream in(list);
  if (!in || rounds < 1) {
    std::fprintf(stderr, "tessel_driver: %s: cannot read the list, or no rounds\n", list.c_str());
    return kExitUsage;
  }
  const size_t slash = list.find_last_of("/\\");
  const std::string dir = slash == std::string::npos ? std::string() : list.substr(0, slash + 1);
  std::vector<HostInput> inputs;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    for (bool memory : {false, true}) {
      inputs.emplace_back();
      std::string error;
      if (!HostInputOpen(dir + line, 0, memory, &inputs.back(), &error) || (memory && inputs.back().bytes.empty())) {
        std::fprintf(stderr, "tessel_driver: %s: cannot read the file\n", (dir + line).c_str());
        return kExitFailed;
      }
    }
  }
  std::map<int, uint64_t> codes;
  uint64_t calls = 0;
  uint64_t afterFirstRound = 0;
  const uint64_t atStart = PrivateBytes();
  const auto start = std::chrono::steady_clock::now();
  for (long round = 0; round < rounds; ++round) {
    for (const HostInput& input : inputs) {
      HostPicture picture;
      std::string reason;
      int code = DecodePicture(api, input, nullptr, 0, &picture, &reason);
      if (code == 0 && dropHandle) {
        picture.Abandon();
        dropHandle = false;
      }
      ++codes[code];
      ++calls;
    }
    if (round == 0) afterFirstRound = PrivateBytes();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const uint64_t atEnd = PrivateBytes();
  std::printf("calls %llu in %.1f s over %zu files\n", static_cast<unsigned long long>(calls), seconds,
              inputs.size() / 2);
  for (const auto& [code, count] : codes)
    std::printf("  code %d (%s): %llu\n", code, tessel::HostCodeText(code), static_cast<unsigned long long>(count));
  std::printf("private memory: %llu KiB at start, %llu KiB after the first round, %llu KiB at the end\n",
              static_cast<unsigned long long>(atStart / 1024), static_cast<unsigned long long>(afterFirstRound / 1024),
              static_cast<unsigned long long>(atEnd / 1024));
  const int64_t alive = xcftest::LiveLocalHandles();
  std::printf("local-memory handles alive: %lld\n", static_cast<long long>(alive));
  int status = 0;
  // Allocator bookkeeping may move a little; a leak of even one small
  // picture per call would pass this many times over.
  const uint64_t allowance = 1u << 20;
  if (atEnd > afterFirstRound + allowance) {
    std::fprintf(stderr, "tessel_driver: memory grew by %llu KiB\n",
                 static_cast<unsigned long long>((atEnd - afterFirstRound) / 1024));
    status = kExitFailed;
  }
  if (alive != 0) {
    std::fprintf(stderr, "tessel_driver: %lld local-memory handles left alive\n", static_cast<long long>(alive));
    status = kExitFailed;
  }
  // A leak checker that ends the process at exit would lose buffered lines.
  std::fflush(stdout);
  return status;
}

int Usage() {
  std::fprintf(stderr,
               "usage: tessel_driver cases LIST\n"
               "       tessel_driver stress LIST ROUNDS [--drop-handle]\n");
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  PluginApi api;
  std::string error;
  if (!PluginLoad("", &api, &error)) {
    std::fprintf(stderr, "tessel_driver: %s\n", error.c_str());
    return kExitFailed;
  }
#ifndef _WIN32
  // Natively the entry points are called with records of the host's: they
  // get what the exports read beside this program, as the DLL reads its
  // own settings file.
  const tessel::Limits settings = tessel::ExportLimits(nullptr);
  api.limits = &settings;
#endif
  if (!xcftest::HearDebuggerTextOf(api.module)) {
    std::fprintf(stderr, "tessel_driver: the plug-in's OutputDebugStringA cannot be heard\n");
    return kExitFailed;
  }
  if (!xcftest::CountLocalHandlesOf(api.module)) {
    std::fprintf(stderr, "tessel_driver: the plug-in's LocalAlloc and LocalFree cannot be counted\n");
    return kExitFailed;
  }
  int status;
  if (command == "cases" && argc == 3) {
    status = CommandCases(api, argv[2]);
  } else if (command == "stress" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "--drop-handle"))) {
    status = CommandStress(api, argv[2], std::strtol(argv[3], nullptr, 10), argc == 5);
  } else {
    status = Usage();
  }
  PluginUnload(&api);
  return status;
}
