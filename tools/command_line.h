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

// A colour by name (black, white, gray or grey, silver, red, maroon, lime,
// green, blue, navy, yellow, olive, cyan or aqua, teal, magenta or
// fuchsia, purple, orange, as CSS names them) or as #rrggbb or #rgb.
inline bool ParseColour(const char* text, uint8_t rgb[3]) {
  struct Named {
    const char* name;
    uint8_t r, g, b;
  };
  static const Named kNames[] = {
      {"black", 0, 0, 0},       {"white", 255, 255, 255}, {"gray", 128, 128, 128},  {"grey", 128, 128, 128},
      {"silver", 192, 192, 192}, {"red", 255, 0, 0},       {"maroon", 128, 0, 0},    {"lime", 0, 255, 0},
      {"green", 0, 128, 0},     {"blue", 0, 0, 255},      {"navy", 0, 0, 128},      {"yellow", 255, 255, 0},
      {"olive", 128, 128, 0},   {"cyan", 0, 255, 255},    {"aqua", 0, 255, 255},    {"teal", 0, 128, 128},
      {"magenta", 255, 0, 255}, {"fuchsia", 255, 0, 255}, {"purple", 128, 0, 128},  {"orange", 255, 165, 0},
  };
  auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
  for (const Named& n : kNames) {
    size_t i = 0;
    while (n.name[i] != '\0' && lower(text[i]) == n.name[i]) ++i;
    if (n.name[i] == '\0' && text[i] == '\0') {
      rgb[0] = n.r, rgb[1] = n.g, rgb[2] = n.b;
      return true;
    }
  }
  if (text[0] != '#') return false;
  auto digit = [&](char c) { c = lower(c); return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  size_t length = 0;
  while (text[1 + length] != '\0') {
    if (digit(text[1 + length]) < 0) return false;
    ++length;
  }
  if (length == 6) {
    for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(digit(text[1 + 2 * c]) * 16 + digit(text[2 + 2 * c]));
    return true;
  }
  if (length == 3) {
    for (int c = 0; c < 3; ++c) rgb[c] = static_cast<uint8_t>(digit(text[1 + c]) * 17);
    return true;
  }
  return false;
}
