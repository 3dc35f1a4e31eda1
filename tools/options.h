// What the tool's commands share of their command lines: exit statuses,
// option ids, and the options of every command that hands a file to the
// plug-in.
#pragma once

#include <cstdint>

// Exit statuses, as the README lists them.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // a file could not be read or decoded
constexpr int kExitUsage = 2;

enum OptionId : int { kOptOffset = 1000, kOptMemory, kOptHelp, kOptThreads, kOptVersion, kOptViewer, kOptBackground };

// optarg as a number within [low, high]; else says so and false.
bool NumberOption(const char* command, const char* option, int64_t low, int64_t high, int64_t* value);

// Options shared by the commands that hand a file to the plug-in.
struct InputOptions {
  int32_t offset = 0;
  bool offsetGiven = false;
  bool memory = false;
};

// An offset that the memory form would drop is wrong usage (one before the
// file's start is refused as a value).
bool OffsetUsable(const char* command, const InputOptions& in);

// --offset or --memory, which info and render share: true when option c is
// one of them, with *bad set when its value is wrong usage.
bool InputOption(const char* command, int c, InputOptions* in, bool* bad);

// Wrong usage: getopt has said what was wrong; point at the help.
int UsageError(const char* command);
