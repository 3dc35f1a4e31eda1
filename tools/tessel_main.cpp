// tessel: the plug-in on the command line. It reaches the plug-in only
// through the five exports, as an image viewer does.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "tools/command_line.h"
#include "tools/host.h"

namespace fs = std::filesystem;

namespace {

// Exit statuses, as the README lists them.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a file could not be read or decoded
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

bool NumberOption(const char* command, const char* option, int64_t low, int64_t high, int64_t* value) {
  if (ParseNumber(optarg, low, high, value)) return true;
  std::fprintf(stderr, "tessel %s: bad value for %s: %s\ntry `tessel %s --help`\n", command, option, optarg, command);
  return false;
}

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

const char kRenderUsage[] =
    "usage: tessel render [OPTIONS] FILE OUT\n"
    "       tessel render [OPTIONS] -o DIR FILE...\n"
    "  OUT               the picture to write, .png or .bmp:\n"
    "                    .png  the picture as GIMP shows the file: where some pixel\n"
    "                          can be transparent, with its alpha (RGBA; gray and\n"
    "                          alpha for a gray picture; a palette with a transparent\n"
    "                          entry for an indexed one where alpha is all or nothing),\n"
    "                          else 8-bit gray, palette or RGB, the viewer's picture\n"
    "                    .bmp  the viewer's picture: what GetPicture hands a viewer,\n"
    "                          over black, without alpha\n"
    "  --viewer          the viewer's picture for .png too\n"
    "  --background COLOR  the picture laid on COLOR as GIMP's Flatten Image lays it\n"
    "                    (a name such as white, or #rrggbb), for .png and .bmp\n"
    "  -o, --output DIR  one picture per FILE, named after it (a.xcf.bz2 -> DIR/a.png)\n"
    "  -j, --jobs N      render N files at once (default 1)\n"
    "  --threads N       decode on N of the machine's processors (the plug-in uses\n"
    "                    all that the process may use; this restricts it to N)\n"
    "  --offset N        the XCF data starts N bytes into each FILE\n"
    "  --memory          hand the plug-in each file as a memory block, not its name\n"
    "Every output is tried before anything is decoded. A file that cannot be read\n"
    "or decoded is named with the reason and its code, and the others are still\n"
    "rendered. On a terminal a progress bar runs over all files; Ctrl-C stops the\n"
    "decoding and writes nothing more.\n"
    "exit status: 0 every picture written; 1 a file could not be read, decoded or\n"
    "written; 2 wrong usage.\n";

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

enum OptionId : int { kOptOffset = 1000, kOptMemory, kOptHelp, kOptThreads, kOptVersion, kOptViewer, kOptBackground };

// Options shared by the commands that hand a file to the plug-in.
struct InputOptions {
  int32_t offset = 0;
  bool offsetGiven = false;
  bool memory = false;
};

// An offset that the memory form would drop is wrong usage (one before the
// file's start is refused as a value).
bool OffsetUsable(const char* command, const InputOptions& in) {
  if (!in.offsetGiven || !in.memory) return true;
  std::fprintf(stderr, "tessel %s: --offset and --memory do not go together: a memory block is the whole file\n"
                       "try `tessel %s --help`\n", command, command);
  return false;
}

// --offset or --memory, which info and render share: true when option c is
// one of them, with *bad set when its value is wrong usage.
bool InputOption(const char* command, int c, InputOptions* in, bool* bad) {
  int64_t n = 0;
  switch (c) {
    case kOptOffset:
      *bad = !NumberOption(command, "--offset", 0, INT32_MAX, &n);
      in->offset = static_cast<int32_t>(n);
      in->offsetGiven = true;
      return true;
    case kOptMemory:
      in->memory = true;
      return true;
    default: return false;
  }
}

// Wrong usage: getopt has said what was wrong; point at the help.
int UsageError(const char* command) {
  std::fprintf(stderr, "try `tessel %s --help`\n", command);
  return kExitUsage;
}

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

// One bar over all files of a render: each file counts by the share of its
// layers loaded, and whole once written.
class ProgressBar {
 public:
  ProgressBar(size_t files, bool enabled) : done_(files, 0.0), enabled_(enabled) {}

  void Set(size_t file, double fraction) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    done_[file] = fraction;
    Draw();
  }
  // Messages go on a line of their own, and the bar is drawn again below.
  void Say(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (enabled_) std::fprintf(stderr, "\r%*s\r", 60, "");
    std::fputs(text.c_str(), stderr);
    if (enabled_) Draw();
  }
  void Clear() {
    if (enabled_) std::fprintf(stderr, "\r%*s\r", 60, "");
  }

 private:
  void Draw() {
    double sum = 0;
    size_t complete = 0;
    for (double d : done_) {
      sum += d;
      if (d >= 1.0) ++complete;
    }
    const int width = 30;
    const int filled = static_cast<int>(sum / static_cast<double>(done_.size()) * width);
    std::fprintf(stderr, "\r[%-*.*s] %zu/%zu files", width, filled, "##############################", complete,
                 done_.size());
    std::fflush(stderr);
  }

  std::mutex mutex_;
  std::vector<double> done_;
  bool enabled_;
};

struct RenderJob {
  std::string input;
  fs::path output;
  tessel::PictureChoice choice;
};

// The picture a render writes: GIMP's with its transparency in a PNG, the
// viewer's in a BMP (and with --viewer), or laid on --background's colour.
struct PictureOptions {
  bool viewer = false;
  bool background = false;
  uint8_t colour[3] = {0, 0, 0};
  tessel::PictureChoice For(const fs::path& out) const {
    if (background) return {tessel::PictureKind::OverColour, {colour[0], colour[1], colour[2]}};
    if (viewer || !HasExtension(out, ".png")) return {tessel::PictureKind::Viewer, {0, 0, 0}};
    return {tessel::PictureKind::Transparent, {0, 0, 0}};
  }
};

struct JobProgress {
  ProgressBar* bar;
  size_t index;
};

int TESSEL_CALL OnProgress(int32_t current, int32_t total, intptr_t userData) {
  auto* job = reinterpret_cast<JobProgress*>(userData);
  if (total > 0) job->bar->Set(job->index, 0.9 * (current + 1) / (total + 1));
  return interrupted ? 1 : 0;
}

// Decodes and writes one file; false when it failed, with the reason told.
bool RenderOne(const PluginApi& api, const RenderJob& job, const InputOptions& in, ProgressBar* bar, size_t index) {
  HostInput input;
  std::string error;
  if (!HostInputOpen(job.input, in.offset, in.memory, &input, &error)) {
    bar->Say("tessel: " + job.input + ": " + error + "\n");
    return false;
  }
  JobProgress progress{bar, index};
  HostPicture picture;
  PictureOutput output(api, job.output);
  std::string reason;
  // GIMP 3's filters are not drawn: said of each visible layer that has
  // some, and the picture is still written.
  struct SayFilters {
    tessel::FilterHook hook;  // first: the hook is the record
    ProgressBar* bar;
    const std::string* file;
  } say{{[](tessel::FilterHook* hook, const char* layer, const tessel::XcfFoundFilters& found) {
           auto* self = reinterpret_cast<SayFilters*>(hook);
           if (found.drawn) self->bar->Say("tessel: " + UnappliedFilters(*self->file, layer, found) + "\n");
         }},
        bar, &job.input};
  int code = DecodePicture(api, input, OnProgress, reinterpret_cast<intptr_t>(&progress), &picture, &reason,
                           output.Sink(), &say.hook, job.choice);
  // Stopped after the last progress report: the picture is not wanted.
  if (code == 0 && interrupted) {
    code = 1;
    reason = "stopped by Ctrl-C";
  }
  if (code != 0) {
    bar->Say(FailureText(job.input, code, reason) + "\n");
    return false;
  }
  if (!output.Write(picture, &error)) {
    bar->Say("tessel: " + error + "\n");
    return false;
  }
  bar->Set(index, 1.0);
  return true;
}

// The name of a file's picture in DIR: the file's name without its XCF
// extension (compressed or not), with the picture's.
fs::path OutputIn(const fs::path& dir, const std::string& input, const char* extension) {
  std::string name = fs::path(input).filename().string();
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const char* suffix : {".xcf.bz2", ".xcfbz2", ".xcf.gz", ".xcfgz", ".xcf.xz", ".xcf"}) {
    const size_t n = std::strlen(suffix);
    if (lower.size() > n && lower.compare(lower.size() - n, n, suffix) == 0) {
      name.resize(name.size() - n);
      return dir / (name + extension);
    }
  }
  return dir / fs::path(name).replace_extension(extension);
}

int CommandRender(const PluginApi& api, int argc, char** argv) {
  static const option kOptions[] = {{"offset", required_argument, nullptr, kOptOffset},
                                    {"memory", no_argument, nullptr, kOptMemory},
                                    {"output", required_argument, nullptr, 'o'},
                                    {"jobs", required_argument, nullptr, 'j'},
                                    {"threads", required_argument, nullptr, kOptThreads},
                                    {"viewer", no_argument, nullptr, kOptViewer},
                                    {"background", required_argument, nullptr, kOptBackground},
                                    {"help", no_argument, nullptr, kOptHelp},
                                    {nullptr, 0, nullptr, 0}};
  InputOptions in;
  PictureOptions picture;
  std::string outputDir;
  int64_t jobsAtOnce = 1;
  ResetOptionParser();
  for (int c; (c = getopt_long(argc, argv, "o:j:", kOptions, nullptr)) != -1;) {
    bool bad = false;
    if (InputOption("render", c, &in, &bad)) {
      if (bad) return kExitUsage;
      continue;
    }
    switch (c) {
      case 'o': outputDir = optarg; break;
      case 'j':
        if (!NumberOption("render", "--jobs", 1, 64, &jobsAtOnce)) return kExitUsage;
        break;
      case kOptThreads: {
        int64_t threads;
        if (!NumberOption("render", "--threads", 1, 1024, &threads)) return kExitUsage;
        std::string error;
        if (!UseProcessors(static_cast<uint32_t>(threads), &error)) {
          std::fprintf(stderr, "tessel render: --threads %s: %s\n", optarg, error.c_str());
          return kExitUsage;
        }
        break;
      }
      case kOptViewer: picture.viewer = true; break;
      case kOptBackground:
        if (!ParseColour(optarg, picture.colour)) {
          std::fprintf(stderr, "tessel render: --background %s: a colour is a name such as white, or #rrggbb\n",
                       optarg);
          return UsageError("render");
        }
        picture.background = true;
        break;
      case kOptHelp: std::fputs(kRenderUsage, stdout); return kExitOk;
      default: return UsageError("render");
    }
  }
  if (!OffsetUsable("render", in)) return kExitUsage;
  if (picture.viewer && picture.background) {
    std::fprintf(stderr, "tessel render: --viewer and --background do not go together: the viewer's picture lies "
                         "on black\n");
    return UsageError("render");
  }
  // The plug-in's exports, which the Windows build calls, draw the
  // viewer's picture alone.
  if (picture.background && api.getPictureWith == nullptr) {
    std::fprintf(stderr, "tessel render: --background: the plug-in's exports draw over black alone\n");
    return kExitUsage;
  }
  std::vector<RenderJob> jobs;
  std::string error;
  if (outputDir.empty()) {
    if (argc - optind != 2) {
      std::fprintf(stderr, "tessel render: wrong number of arguments\n");
      return UsageError("render");
    }
    jobs.push_back({argv[optind], argv[optind + 1], picture.For(argv[optind + 1])});
  } else {
    if (optind == argc) {
      std::fprintf(stderr, "tessel render: wrong number of arguments\n");
      return UsageError("render");
    }
    // Two inputs named alike would overwrite one picture; where the folder
    // ignores case (on Windows always), b.xcf and B.xcf are named alike.
    const bool foldCase = FolderIgnoresCase(outputDir);
    std::set<std::string> outputs;
    for (int i = optind; i < argc; ++i) {
      const fs::path out = OutputIn(outputDir, argv[i], ".png");
      jobs.push_back({argv[i], out, picture.For(out)});
      std::string key = jobs.back().output.string();
      if (foldCase)
        for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (!outputs.insert(key).second) {
        std::fprintf(stderr, "tessel render: two files would be written to %s\n", jobs.back().output.string().c_str());
        return kExitUsage;
      }
    }
    std::error_code ec;
    fs::create_directories(outputDir, ec);
    if (ec) {
      std::fprintf(stderr, "tessel: %s: %s\n", outputDir.c_str(), ec.message().c_str());
      return kExitFailed;
    }
  }
  for (const RenderJob& job : jobs) {
    if (!WritableImagePath(job.output, &error)) {
      std::fprintf(stderr, "tessel render: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  // An output that cannot be written fails before anything is decoded.
  bool writable = true;
  for (const RenderJob& job : jobs) {
    if (OutputWritable(job.output, &error)) continue;
    std::fprintf(stderr, "tessel: %s\n", error.c_str());
    writable = false;
  }
  if (!writable) return kExitFailed;

  ProgressBar bar(jobs.size(), isatty(fileno(stderr)) != 0);
  std::atomic<size_t> next{0};
  std::atomic<size_t> failed{0};
  auto work = [&] {
    for (size_t i; !interrupted && (i = next++) < jobs.size();)
      if (!RenderOne(api, jobs[i], in, &bar, i)) ++failed;
  };
  std::vector<std::thread> workers;
  const size_t extra = std::min<size_t>(static_cast<size_t>(jobsAtOnce), jobs.size()) - 1;
  for (size_t t = 0; t < extra; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  bar.Clear();
  if (interrupted && next < jobs.size()) {
    std::fprintf(stderr, "tessel: stopped; %zu file(s) not rendered\n", jobs.size() - std::min(next.load(), jobs.size()));
    return kExitFailed;
  }
  return failed == 0 ? kExitOk : kExitFailed;
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
                : command == "render"    ? CommandRender
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
