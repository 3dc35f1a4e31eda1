#include "tools/render_command.h"

#include <algorithm>
#include <cstdio>
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
#include "tools/options.h"

namespace fs = std::filesystem;

namespace {

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
  const std::atomic<bool>* interrupted;
};

int TESSEL_CALL OnProgress(int32_t current, int32_t total, intptr_t userData) {
  auto* job = reinterpret_cast<JobProgress*>(userData);
  if (total > 0) job->bar->Set(job->index, 0.9 * (current + 1) / (total + 1));
  return *job->interrupted ? 1 : 0;
}

// Decodes and writes one file; false when it failed, with the reason told.
bool RenderOne(const PluginApi& api, const RenderJob& job, const InputOptions& in, ProgressBar* bar, size_t index,
               const std::atomic<bool>& interrupted) {
  HostInput input;
  std::string error;
  if (!HostInputOpen(job.input, in.offset, in.memory, &input, &error)) {
    bar->Say("tessel: " + job.input + ": " + error + "\n");
    return false;
  }
  JobProgress progress{bar, index, &interrupted};
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

// What render's command line asks for.
struct RenderOptions {
  InputOptions in;
  PictureOptions picture;
  std::string outputDir;
  int64_t jobsAtOnce = 1;
};

// Reads the options; kGoOn, or the exit status (help given, wrong usage).
constexpr int kGoOn = -1;
int ParseRender(const PluginApi& api, int argc, char** argv, RenderOptions* o) {
  static const option kOptions[] = {{"offset", required_argument, nullptr, kOptOffset},
                                    {"memory", no_argument, nullptr, kOptMemory},
                                    {"output", required_argument, nullptr, 'o'},
                                    {"jobs", required_argument, nullptr, 'j'},
                                    {"threads", required_argument, nullptr, kOptThreads},
                                    {"viewer", no_argument, nullptr, kOptViewer},
                                    {"background", required_argument, nullptr, kOptBackground},
                                    {"help", no_argument, nullptr, kOptHelp},
                                    {nullptr, 0, nullptr, 0}};
  ResetOptionParser();
  for (int c; (c = getopt_long(argc, argv, "o:j:", kOptions, nullptr)) != -1;) {
    bool bad = false;
    if (InputOption("render", c, &o->in, &bad)) {
      if (bad) return kExitUsage;
      continue;
    }
    switch (c) {
      case 'o': o->outputDir = optarg; break;
      case 'j':
        if (!NumberOption("render", "--jobs", 1, 64, &o->jobsAtOnce)) return kExitUsage;
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
      case kOptViewer: o->picture.viewer = true; break;
      case kOptBackground:
        if (!ParseColour(optarg, o->picture.colour)) {
          std::fprintf(stderr, "tessel render: --background %s: a colour is a name such as white, or #rrggbb\n",
                       optarg);
          return UsageError("render");
        }
        o->picture.background = true;
        break;
      case kOptHelp: std::fputs(kRenderUsage, stdout); return kExitOk;
      default: return UsageError("render");
    }
  }
  if (!OffsetUsable("render", o->in)) return kExitUsage;
  if (o->picture.viewer && o->picture.background) {
    std::fprintf(stderr, "tessel render: --viewer and --background do not go together: the viewer's picture lies "
                         "on black\n");
    return UsageError("render");
  }
  // The plug-in's exports, which the Windows build calls, draw the
  // viewer's picture alone.
  if (o->picture.background && api.getPictureWith == nullptr) {
    std::fprintf(stderr, "tessel render: --background: the plug-in's exports draw over black alone\n");
    return kExitUsage;
  }
  return kGoOn;
}

// One job per input, every output tried before anything is decoded;
// kGoOn, or the exit status.
int MakeJobs(const RenderOptions& o, int argc, char** argv, std::vector<RenderJob>* jobs) {
  std::string error;
  if (o.outputDir.empty()) {
    if (argc - optind != 2) {
      std::fprintf(stderr, "tessel render: wrong number of arguments\n");
      return UsageError("render");
    }
    jobs->push_back({argv[optind], argv[optind + 1], o.picture.For(argv[optind + 1])});
  } else {
    if (optind == argc) {
      std::fprintf(stderr, "tessel render: wrong number of arguments\n");
      return UsageError("render");
    }
    // Two inputs named alike would overwrite one picture; where the folder
    // ignores case (on Windows always), b.xcf and B.xcf are named alike.
    const bool foldCase = FolderIgnoresCase(o.outputDir);
    std::set<std::string> outputs;
    for (int i = optind; i < argc; ++i) {
      const fs::path out = OutputIn(o.outputDir, argv[i], ".png");
      jobs->push_back({argv[i], out, o.picture.For(out)});
      std::string key = jobs->back().output.string();
      if (foldCase)
        for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (!outputs.insert(key).second) {
        std::fprintf(stderr, "tessel render: two files would be written to %s\n", jobs->back().output.string().c_str());
        return kExitUsage;
      }
    }
    std::error_code ec;
    fs::create_directories(o.outputDir, ec);
    if (ec) {
      std::fprintf(stderr, "tessel: %s: %s\n", o.outputDir.c_str(), ec.message().c_str());
      return kExitFailed;
    }
  }
  for (const RenderJob& job : *jobs) {
    if (!WritableImagePath(job.output, &error)) {
      std::fprintf(stderr, "tessel render: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  // An output that cannot be written fails before anything is decoded.
  bool writable = true;
  for (const RenderJob& job : *jobs) {
    if (OutputWritable(job.output, &error)) continue;
    std::fprintf(stderr, "tessel: %s\n", error.c_str());
    writable = false;
  }
  return writable ? kGoOn : kExitFailed;
}

}  // namespace

int CommandRender(const PluginApi& api, int argc, char** argv, const std::atomic<bool>& interrupted) {
  RenderOptions o;
  int status = ParseRender(api, argc, argv, &o);
  if (status != kGoOn) return status;
  std::vector<RenderJob> jobs;
  status = MakeJobs(o, argc, argv, &jobs);
  if (status != kGoOn) return status;

  ProgressBar bar(jobs.size(), isatty(fileno(stderr)) != 0);
  std::atomic<size_t> next{0};
  std::atomic<size_t> failed{0};
  auto work = [&] {
    for (size_t i; !interrupted && (i = next++) < jobs.size();)
      if (!RenderOne(api, jobs[i], o.in, &bar, i, interrupted)) ++failed;
  };
  std::vector<std::thread> workers;
  const size_t extra = std::min<size_t>(static_cast<size_t>(o.jobsAtOnce), jobs.size()) - 1;
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
