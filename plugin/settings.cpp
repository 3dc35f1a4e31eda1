#include "plugin/settings.h"

#include "platform/kernel32.h"

namespace tessel {

namespace {

constexpr char kSettingsName[] = "tessel.ini";

}  // namespace

Limits LimitsForVersions(const char* value, Reason* note) {
  if (value == nullptr || value[0] == '\0' || lstrcmpiA(value, "0-3") == 0) return kDefaultLimits;
  if (lstrcmpiA(value, "all") == 0) return kPluginEveryVersion;
  ReasonNote(note, "%s: versions \"%s\" is none of 0-3, all", kSettingsName, Quote(value).text);
  return kDefaultLimits;
}

bool SettingsFileBesideModule(char* path, uint32_t size) {
  if (path == nullptr || size == 0) return false;
  HMODULE module = nullptr;
  // Any address inside this module names it; the count of its loads stays.
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&SettingsFileBesideModule), &module))
    return false;
  const DWORD length = GetModuleFileNameA(module, path, size);
  // A path cut to fit is not the module's.
  if (length == 0 || length >= size) return false;
  // The folder ends at the last separator; a lead byte of a double-byte
  // character takes its trail byte, which may look like one, with it.
  uint32_t folder = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(path[i]))) {
      ++i;
      continue;
    }
    if (path[i] == '\\' || path[i] == '/') folder = i + 1;
  }
  if (folder == 0 || folder + sizeof kSettingsName > size) return false;
  for (uint32_t i = 0; i < sizeof kSettingsName; ++i) path[folder + i] = kSettingsName[i];
  return true;
}

Limits SettingsLimits(const char* path, Reason* note) {
  char value[64];
  GetPrivateProfileStringA("tessel", "versions", "", value, sizeof value, path);
  return LimitsForVersions(value, note);
}

Limits ExportLimits(Reason* note) {
  char path[MAX_PATH];
  if (!SettingsFileBesideModule(path, sizeof path)) return kDefaultLimits;
  return SettingsLimits(path, note);
}

}  // namespace tessel
