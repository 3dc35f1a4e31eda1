#include "tests/support/debugger_text.h"

#ifdef _WIN32

#include <vector>

#include "tests/support/import_route.h"

namespace xcftest {

namespace {

thread_local std::vector<std::string> heard;

void WINAPI Hear(LPCSTR text) { heard.emplace_back(text != nullptr ? text : ""); }

// "tessel: " what the code means ": " the reason " (code N)\n": the code's
// text has no ": " of its own. Empty for a text of another form.
std::string ReasonIn(const std::string& text) {
  const size_t start = text.find(": ", 8);
  const size_t end = text.rfind(" (code ");
  if (start == std::string::npos || end == std::string::npos || end < start) return std::string();
  return text.substr(start + 2, end - start - 2);
}

}  // namespace

bool HearDebuggerTextOf(void* module) {
  return RouteImport(static_cast<HMODULE>(module), "KERNEL32.dll", "OutputDebugStringA", reinterpret_cast<void*>(Hear));
}

std::string TakeDebuggerReason() {
  std::string reason;
  std::vector<std::string> others;
  for (const std::string& text : heard) {
    std::string found = ReasonIn(text);
    if (found.empty())
      others.push_back(text);
    else
      reason = found;
  }
  heard.swap(others);
  return reason;
}

std::vector<std::string> TakeDebuggerNotes() {
  std::vector<std::string> notes;
  notes.swap(heard);
  return notes;
}

}  // namespace xcftest

#else

namespace xcftest {

bool HearDebuggerTextOf(void*) { return true; }

std::string TakeDebuggerReason() { return std::string(); }

std::vector<std::string> TakeDebuggerNotes() { return {}; }

}  // namespace xcftest

#endif
