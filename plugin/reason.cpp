#include "plugin/reason.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tessel {

namespace {

// vsnprintf that always ends the text, whatever the runtime's does on
// truncation.
void Format(char* out, size_t size, const char* format, va_list args) {
  const int n = std::vsnprintf(out, size, format, args);
  if (n < 0) out[0] = '\0';
  out[size - 1] = '\0';
}

}  // namespace

void ReasonNoteV(Reason* reason, const char* format, va_list args) {
  if (reason == nullptr || ReasonKept(reason)) return;
  Format(reason->text, sizeof reason->text, format, args);
}

void ReasonNote(Reason* reason, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReasonNoteV(reason, format, args);
  va_end(args);
}

void ReasonPrefix(Reason* reason, const char* format, ...) {
  if (!ReasonKept(reason)) return;
  char prefix[sizeof reason->text];
  va_list args;
  va_start(args, format);
  Format(prefix, sizeof prefix, format, args);
  va_end(args);
  const size_t length = std::strlen(prefix);
  const size_t kept = std::strlen(reason->text);
  if (length >= sizeof reason->text - 1) return;
  const size_t moved = kept < sizeof reason->text - 1 - length ? kept : sizeof reason->text - 1 - length;
  std::memmove(reason->text + length, reason->text, moved);
  std::memcpy(reason->text, prefix, length);
  reason->text[length + moved] = '\0';
}

void ReasonTake(Reason* reason, const Reason& from) {
  if (reason == nullptr || ReasonKept(reason) || from.text[0] == '\0') return;
  std::memcpy(reason->text, from.text, sizeof reason->text);
}

Quoted Quote(const char* text) {
  Quoted quoted{};
  if (text == nullptr) return quoted;
  char* out = quoted.text;
  size_t characters = 0;
  for (const char* p = text; *p != '\0'; ++p, ++characters) {
    if (characters == 40) {
      std::memcpy(out, "...", 4);
      return quoted;
    }
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      *out++ = static_cast<char>(c);
    } else {
      std::snprintf(out, 5, "\\x%02X", c);
      out += 4;
    }
  }
  *out = '\0';
  return quoted;
}

}  // namespace tessel
