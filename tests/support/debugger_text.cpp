#include "tests/support/debugger_text.h"

#ifdef _WIN32

#include "tests/support/import_route.h"

namespace xcftest {

namespace {

thread_local std::string lastText;

void WINAPI Hear(LPCSTR text) { lastText = text != nullptr ? text : ""; }

}  // namespace

bool HearDebuggerTextOf(void* module) {
  return RouteImport(static_cast<HMODULE>(module), "KERNEL32.dll", "OutputDebugStringA", reinterpret_cast<void*>(Hear));
}

std::string TakeDebuggerReason() {
  std::string text;
  text.swap(lastText);
  // "tessel: " what the code means ": " the reason " (code N)\n": the code's
  // text has no ": " of its own.
  const size_t start = text.find(": ", 8);
  const size_t end = text.rfind(" (code ");
  if (start == std::string::npos || end == std::string::npos || end < start) return std::string();
  return text.substr(start + 2, end - start - 2);
}

}  // namespace xcftest

#else

namespace xcftest {

bool HearDebuggerTextOf(void*) { return true; }

std::string TakeDebuggerReason() { return std::string(); }

}  // namespace xcftest

#endif
