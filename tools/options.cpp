#include "tools/options.h"

#include <cstdio>

#include "tools/command_line.h"

bool NumberOption(const char* command, const char* option, int64_t low, int64_t high, int64_t* value) {
  if (ParseNumber(optarg, low, high, value)) return true;
  std::fprintf(stderr, "tessel %s: bad value for %s: %s\ntry `tessel %s --help`\n", command, option, optarg, command);
  return false;
}

bool OffsetUsable(const char* command, const InputOptions& in) {
  if (!in.offsetGiven || !in.memory) return true;
  std::fprintf(stderr, "tessel %s: --offset and --memory do not go together: a memory block is the whole file\n"
                       "try `tessel %s --help`\n", command, command);
  return false;
}

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

int UsageError(const char* command) {
  std::fprintf(stderr, "try `tessel %s --help`\n", command);
  return kExitUsage;
}
