// tessel: the plug-in on the command line. It reaches the plug-in only
// through the five exports, as an image viewer does.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/command_line.h"
#include "tools/host.h"
#include "tools/options.h"
#include "tools/render_command.h"

namespace fs = std::filesystem;

namespace {

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

const char kUsage[] =
    "usage: tessel [--plugin PATH] COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "commands:\n"
    "  about                   the plug-in's four information strings\n"
    "  supported FILE          whether the plug-in claims FILE, asked with a file handle\n"
    "                          and with the file's first 2048 bytes (IsSupported)\n"
    "  info FILE               width, height, depth and densities (GetPictureInfo)\n"
    "  render FILE OUT         decodes FILE (GetPicture) and writes OUT, .png or .bmp\n"
    "  render -o DIR FILE...   writes one picture into DIR for every FILE\n"
    "  thumbnail FILE OUT      writes FILE scaled to fit 256 x 256 as PNG (-s SIZE)\n"
    "\n"
    "`tessel COMMAND --help` describes a command's options; `tessel --version`\n"
    "prints the tool's version.\n"
    "--plugin PATH (Windows) loads the tessel.spi at PATH instead of the one beside tessel.\n"
    "\n"
    "exit status: 0 success; 1 a file could not be read or decoded (each is named\n"
    "with the plug-in's code); 2 wrong usage.\n";

const char kInfoUsage[] =
    "usage: tessel info [--offset N | --memory] FILE\n"
    "Prints what GetPictureInfo tells of FILE: width, height, depth (24, or 8 for\n"
    "grayscale and indexed pictures) and the x and y densities (dots per inch, 0\n"
    "when the file has none), one per line; then, natively, the XCF version and\n"
    "the precision of its pixels (\"8-bit gamma integer\" up to version 3).\n"
    "  --offset N   the XCF data starts N bytes into FILE\n"
    "  --memory     hand the plug-in the whole file as a memory block, not its name\n"
    "exit status: 0 the plug-in read FILE; 1 it could not (the reason is printed);\n"
    "2 wrong usage.\n";

const char kSupportedUsage[] =
    "usage: tessel supported FILE\n"
    "Asks IsSupported whether the plug-in claims FILE, twice as a viewer asks: with\n"
    "an open file handle, then with FILE's first 2048 bytes (the file name decides\n"
    "for compressed data those bytes cannot tell). Prints \"handle: A\" and\n"
    "\"block: B\", each 1 for yes and 0 for no. Only those 2048 bytes are read.\n"
    "exit status: 0 claimed one way or the other; 1 not claimed, or FILE cannot be\n"
    "read; 2 wrong usage.\n";
const char kThumbnailUsage[] =
    "usage: tessel thumbnail [-s SIZE] FILE OUT\n"
    "Decodes FILE and writes it as a PNG picture to OUT, whatever OUT's name,\n"
    "scaled down to fit SIZE x SIZE pixels (default 256): the aspect kept, never\n"
    "enlarged, each pixel the exact average of the area it covers, its colour\n"
    "weighed by its alpha. The picture is GIMP's, with its transparency (RGBA, or\n"
    "gray and alpha) where some pixel can be transparent, else the viewer's.\n"
    "File managers call it through tessel.thumbnailer.\n"
    "  -s, --size SIZE  the longest side of the thumbnail, 1 to 32767\n"
    "exit status: 0 the thumbnail was written; 1 FILE could not be read or\n"
    "decoded, or OUT written (the reason is printed); 2 wrong usage.\n";
const char kAboutUsage[] = "usage: tessel about\n";

// A command with no option but --help and exactly `arguments` arguments:
// kGoOn when they are so, else the exit status (help given, or wrong usage).
constexpr int kGoOn = -1;
int ParsePlainCommand(int argc, char** argv, const char* command, const char* usage, int arguments) {
  static const option kOptions[] = {{"help", no_argument, nullptr, kOptHelp}, {nullptr, 0, nullptr, 0}};
  ResetOptionParser();
  for (int c; (c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1;) {
    if (c != kOptHelp) return UsageError(command);
    std::fputs(usage, stdout);
    return kExitOk;
  }
  if (argc - optind != arguments) {
    std::fprintf(stderr, "tessel %s: wrong number of arguments\n", command);
    return UsageError(command);
  }
  return kGoOn;
}

int CommandAbout(const PluginApi& api, int argc, char** argv) {
  const int status = ParsePlainCommand(argc, argv, "about", kAboutUsage, 0);
  if (status != kGoOn) return status;
  PrintAbout(api, stdout);
  return kExitOk;
}

int CommandSupported(const PluginApi& api, int argc, char** argv) {
  const int status = ParsePlainCommand(argc, argv, "supported", kSupportedUsage, 1);
  if (status != kGoOn) return status;
  const std::string file = argv[optind];
  SupportedAnswer answer;
  std::string error;
  if (!AskSupported(api, file, &answer, &error)) {
    std::fprintf(stderr, "tessel: %s: %s\n", file.c_str(), error.c_str());
    return kExitFailed;
  }
  std::printf("handle: %d\nblock: %d\n", answer.byHandle, answer.byBlock);
  return answer.byHandle == 1 || answer.byBlock == 1 ? kExitOk : kExitFailed;
}

// "8-bit gamma integer", "32-bit linear floating point", as GIMP names them.
const char* PrecisionName(const tessel::XcfPrecision& precision) {
  static constexpr const char* kNames[6][2] = {{"8-bit gamma integer", "8-bit linear integer"},
                                               {"16-bit gamma integer", "16-bit linear integer"},
                                               {"32-bit gamma integer", "32-bit linear integer"},
                                               {"16-bit gamma floating point", "16-bit linear floating point"},
                                               {"32-bit gamma floating point", "32-bit linear floating point"},
                                               {"64-bit gamma floating point", "64-bit linear floating point"}};
  return kNames[static_cast<int>(precision.component)][precision.linear ? 1 : 0];
}

int CommandInfo(const PluginApi& api, int argc, char** argv) {
  static const option kOptions[] = {{"offset", required_argument, nullptr, kOptOffset},
                                    {"memory", no_argument, nullptr, kOptMemory},
                                    {"help", no_argument, nullptr, kOptHelp},
                                    {nullptr, 0, nullptr, 0}};
  InputOptions in;
  ResetOptionParser();
  for (int c; (c = getopt_long(argc, argv, "", kOptions, nullptr)) != -1;) {
    bool bad = false;
    if (InputOption("info", c, &in, &bad)) {
      if (bad) return kExitUsage;
      continue;
    }
    switch (c) {
      case kOptHelp: std::fputs(kInfoUsage, stdout); return kExitOk;
      default: return UsageError("info");
    }
  }
  if (!OffsetUsable("info", in)) return kExitUsage;
  if (argc - optind != 1) {
    std::fprintf(stderr, "tessel info: wrong number of arguments\n");
    return UsageError("info");
  }
  HostInput input;
  std::string error;
  if (!HostInputOpen(argv[optind], in.offset, in.memory, &input, &error)) {
    std::fprintf(stderr, "tessel: %s: %s\n", argv[optind], error.c_str());
    return kExitFailed;
  }
  std::string reason;
  int code = PrintInfo(api, input, stdout, &reason);
  // Natively the version and precision too; the DLL cannot tell them.
  tessel::XcfFormat format{};
  if (code == 0 && api.getPictureFormatWith != nullptr &&
      api.getPictureFormatWith(input.buffer, input.offsetOrSize, input.flag, &format, *api.limits, nullptr) == 0)
    std::printf("version %d\nprecision %s\n", format.version, PrecisionName(format.precision));
  // and the filters the picture does not apply, one line each.
  if (code == 0 && api.getPictureFiltersWith != nullptr && tessel::XcfLayerHasFilters(format.version)) {
    tessel::FilterHook hook{[](tessel::FilterHook*, const char* layer, const tessel::XcfFoundFilters& found) {
      std::printf("filters: %s%s: %s, not applied%s\n", layer, found.onMask ? "'s mask" : "",
                  found.filters.operations, found.drawn ? "" : " (hidden)");
    }};
    api.getPictureFiltersWith(input.buffer, input.offsetOrSize, input.flag, &hook, *api.limits, nullptr);
  }
  if (code == 0) return kExitOk;
  ReportFailure(stderr, input.path, code, reason);
  return kExitFailed;
}

int CommandThumbnail(const PluginApi& api, int argc, char** argv) {
  static const option kOptions[] = {{"size", required_argument, nullptr, 's'},
                                    {"help", no_argument, nullptr, kOptHelp},
                                    {nullptr, 0, nullptr, 0}};
  int64_t size = 256;
  ResetOptionParser();
  for (int c; (c = getopt_long(argc, argv, "s:", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 's':
        if (!NumberOption("thumbnail", "--size", 1, 32767, &size)) return kExitUsage;
        break;
      case kOptHelp: std::fputs(kThumbnailUsage, stdout); return kExitOk;
      default: return UsageError("thumbnail");
    }
  }
  if (argc - optind != 2) {
    std::fprintf(stderr, "tessel thumbnail: wrong number of arguments\n");
    return UsageError("thumbnail");
  }
  const std::string file = argv[optind];
  const fs::path out = argv[optind + 1];
  std::string error;
  if (!OutputWritable(out, &error)) {
    std::fprintf(stderr, "tessel: %s\n", error.c_str());
    return kExitFailed;
  }
  HostInput input;
  if (!HostInputOpen(file, 0, false, &input, &error)) {
    std::fprintf(stderr, "tessel: %s: %s\n", file.c_str(), error.c_str());
    return kExitFailed;
  }
  HostPicture picture;
  std::string reason;
  const int code = DecodePicture(api, input, nullptr, 0, &picture, &reason, nullptr, nullptr,
                                 tessel::PictureChoice{tessel::PictureKind::Transparent, {0, 0, 0}});
  if (code != 0) {
    ReportFailure(stderr, file, code, reason);
    return kExitFailed;
  }
  if (!WriteThumbnail(picture, static_cast<uint32_t>(size), out, &error)) {
    std::fprintf(stderr, "tessel: %s\n", error.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {{"plugin", required_argument, nullptr, 'p'},
                                    {"help", no_argument, nullptr, kOptHelp},
                                    {"version", no_argument, nullptr, kOptVersion},
                                    {nullptr, 0, nullptr, 0}};
  std::string plugin;
  // "+": the options before the command only; the command parses its own.
  for (int c; (c = getopt_long(argc, argv, "+", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'p': plugin = optarg; break;
      case kOptHelp: std::fputs(kUsage, stdout); return kExitOk;
      case kOptVersion: std::printf("tessel %s\n", TESSEL_VERSION); return kExitOk;
      default: std::fputs(kUsage, stderr); return kExitUsage;
    }
  }
  if (optind >= argc) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string command = argv[optind];
  // The command's own arguments, with "tessel COMMAND" as their program name.
  std::string name = "tessel " + command;
  std::vector<char*> args(argv + optind, argv + argc);
  args[0] = name.data();
  args.push_back(nullptr);
  const int count = static_cast<int>(args.size()) - 1;

  using Command = int (*)(const PluginApi&, int, char**);
  Command run = command == "about"       ? CommandAbout
                : command == "supported" ? CommandSupported
                : command == "info"      ? CommandInfo
                : command == "render"    ? [](const PluginApi& a, int c, char** v) { return CommandRender(a, c, v, interrupted); }
                : command == "thumbnail" ? CommandThumbnail
                                         : nullptr;
  if (run == nullptr) {
    std::fprintf(stderr, "tessel: unknown command %s\n%s", command.c_str(), kUsage);
    return kExitUsage;
  }
  PluginApi api;
  std::string error;
  if (!PluginLoad(plugin, &api, &error)) {
    std::fprintf(stderr, "tessel: %s\n", error.c_str());
    return kExitFailed;
  }
  // The tool reads the files of GIMP 2.10 and later too; the DLL's exports,
  // which the Windows build calls, keep to versions 0 to 3.
  api.limits = &tessel::kEveryVersion;
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  std::signal(SIGINT, OnInterrupt);
#endif
  int status = run(api, count, args.data());
  PluginUnload(&api);
  return status;
}
