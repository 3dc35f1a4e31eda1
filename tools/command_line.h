// Small helpers for the option parsing of the tessel tool and the test
// driver, both of which use getopt_long.
#pragma once

#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

// getopt keeps its place in globals; a command that parses its own
// arguments starts it afresh (an optind of 0 restarts both glibc's and
// mingw-w64's getopt).
inline void ResetOptionParser() { optind = 0; }

// A whole decimal number within [low, high].
inline bool ParseNumber(const char* text, int64_t low, int64_t high, int64_t* value) {
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || n < low || n > high) return false;
  *value = n;
  return true;
}
