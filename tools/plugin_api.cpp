#include "tools/plugin_api.h"

bool PluginLoad(const std::string& path, PluginApi* api, std::string* error) {
#ifdef _WIN32
  std::string file = path;
  if (file.empty()) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    file.assign(self, n);
    size_t slash = file.find_last_of("\\/");
    file = (slash == std::string::npos ? std::string() : file.substr(0, slash + 1)) + "tessel.spi";
  }
  HMODULE module = LoadLibraryA(file.c_str());
  if (module == nullptr) {
    *error = "cannot load the plug-in " + file;
    return false;
  }
  // Through void (*)() so the compiler accepts the cast to each signature.
  auto find = [&](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(module, name)); };
  api->getPluginInfo = reinterpret_cast<decltype(api->getPluginInfo)>(find("GetPluginInfo"));
  api->isSupported = reinterpret_cast<decltype(api->isSupported)>(find("IsSupported"));
  api->getPictureInfo = reinterpret_cast<decltype(api->getPictureInfo)>(find("GetPictureInfo"));
  api->getPicture = reinterpret_cast<decltype(api->getPicture)>(find("GetPicture"));
  api->getPreview = reinterpret_cast<decltype(api->getPreview)>(find("GetPreview"));
  api->module = module;
  if (!api->getPluginInfo || !api->isSupported || !api->getPictureInfo || !api->getPicture || !api->getPreview) {
    *error = "the plug-in " + file + " lacks one of the five exports";
    PluginUnload(api);
    return false;
  }
  return true;
#else
  (void)path;
  (void)error;
  api->getPluginInfo = GetPluginInfo;
  api->isSupported = IsSupported;
  api->getPictureInfo = GetPictureInfo;
  api->getPicture = GetPicture;
  api->getPreview = GetPreview;
  api->getPictureInfoWith = tessel::GetPictureInfoWith;
  api->getPictureWith = tessel::GetPictureWith;
  api->getPictureFormatWith = tessel::GetPictureFormatWith;
  api->getPictureFiltersWith = tessel::GetPictureFiltersWith;
  return true;
#endif
}

void PluginUnload(PluginApi* api) {
#ifdef _WIN32
  if (api->module != nullptr) FreeLibrary(static_cast<HMODULE>(api->module));
#endif
  *api = PluginApi{};
}
