// The host side of the plug-in: the five exports, reached as a viewer
// reaches them. On Windows tessel.spi is loaded with LoadLibrary; natively
// the same exports are linked in.
#pragma once

#include <string>

#include "plugin/exports.h"

struct PluginApi {
  decltype(&GetPluginInfo) getPluginInfo = nullptr;
  decltype(&IsSupported) isSupported = nullptr;
  decltype(&GetPictureInfo) getPictureInfo = nullptr;
  decltype(&GetPicture) getPicture = nullptr;
  decltype(&GetPreview) getPreview = nullptr;
  void* module = nullptr;
};

// path: the plug-in file on Windows (empty: tessel.spi beside the program);
// ignored natively.
bool PluginLoad(const std::string& path, PluginApi* api, std::string* error);
void PluginUnload(PluginApi* api);

// A plain text for a host return code, e.g. "not a GIMP XCF file".
const char* HostCodeText(int code);
