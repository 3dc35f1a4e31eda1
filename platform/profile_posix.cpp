// The stand-ins of the module and profile calls, so that the native build
// reads the settings file beside itself as the DLL reads its own.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/kernel32.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// [begin, end) without the blanks around it.
void Trim(char** begin, char** end) {
  while (*begin < *end && IsBlank(**begin)) ++*begin;
  while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

// The name in [begin, end), without its blanks and ended there in the
// line, so that lstrcmpiA compares it as Windows compares names.
const char* NameIn(char* begin, char* end) {
  Trim(&begin, &end);
  *end = '\0';
  return begin;
}

DWORD CopyOut(const char* begin, const char* end, LPSTR value, DWORD size) {
  if (size == 0) return 0;
  size_t n = static_cast<size_t>(end - begin);
  if (n > size - 1) n = size - 1;
  std::memcpy(value, begin, n);
  value[n] = '\0';
  return static_cast<DWORD>(n);
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
  if (module == nullptr || (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) return FALSE;
  Dl_info info{};
  if (dladdr(name, &info) == 0 || info.dli_fbase == nullptr) return FALSE;
  // The address itself stands for its module: dladdr finds the file again.
  *module = const_cast<char*>(name);
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size) {
  if (name == nullptr || size == 0) return 0;
  Dl_info info{};
  if (module == nullptr || dladdr(module, &info) == 0) return 0;
  // The executable's own name comes as it was started, perhaps relative to
  // a folder since left; the system knows where it lies. Windows gives the
  // whole path.
  char path[4096];
  const char* file = info.dli_fname;
  if (file == nullptr || file[0] != '/') {
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = '\0';
    file = path;
  }
  const size_t n = std::strlen(file);
  // Cut, as Windows cuts it, when the buffer is too small.
  return CopyOut(file, file + n, name, size);
}

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR value, DWORD size, LPCSTR file) {
  if (value == nullptr || size == 0) return 0;
  if (fallback == nullptr) fallback = "";
  const char* fallbackEnd = fallback + std::strlen(fallback);
  if (section == nullptr || key == nullptr || file == nullptr) return CopyOut(fallback, fallbackEnd, value, size);
  std::unique_ptr<FILE, FileCloser> f(std::fopen(file, "rb"));
  if (!f) return CopyOut(fallback, fallbackEnd, value, size);
  bool inSection = false;
  char line[1024];
  while (std::fgets(line, sizeof line, f.get()) != nullptr) {
    char* begin = line;
    char* end = line + std::strlen(line);
    Trim(&begin, &end);
    if (begin == end || *begin == ';') continue;
    if (*begin == '[') {
      char* close = static_cast<char*>(std::memchr(begin, ']', static_cast<size_t>(end - begin)));
      inSection = lstrcmpiA(NameIn(begin + 1, close != nullptr ? close : end), section) == 0;
      continue;
    }
    if (!inSection) continue;
    char* equals = static_cast<char*>(std::memchr(begin, '=', static_cast<size_t>(end - begin)));
    char* valueBegin = equals != nullptr ? equals + 1 : end;
    char* valueEnd = end;
    // The name is ended in the line, before the value.
    if (lstrcmpiA(NameIn(begin, equals != nullptr ? equals : end), key) != 0) continue;
    Trim(&valueBegin, &valueEnd);
    if (valueEnd - valueBegin >= 2 && (*valueBegin == '"' || *valueBegin == '\'') && valueEnd[-1] == *valueBegin) {
      ++valueBegin;
      --valueEnd;
    }
    return CopyOut(valueBegin, valueEnd, value, size);
  }
  return CopyOut(fallback, fallbackEnd, value, size);
}
