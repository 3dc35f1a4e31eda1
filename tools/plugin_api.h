// The host side of the plug-in: the five exports, reached as a viewer
// reaches them. On Windows tessel.spi is loaded with LoadLibrary; natively
// the same exports are linked in.
#pragma once

#include <string>

#include "plugin/entry.h"
#include "plugin/result.h"

struct PluginApi {
  decltype(&GetPluginInfo) getPluginInfo = nullptr;
  decltype(&IsSupported) isSupported = nullptr;
  decltype(&GetPictureInfo) getPictureInfo = nullptr;
  decltype(&GetPicture) getPicture = nullptr;
  decltype(&GetPreview) getPreview = nullptr;
  // Natively, the picture exports as the plug-in runs them, which tell the
  // first failure's reason; the DLL cannot (it sends it to a debugger).
  decltype(&tessel::GetPictureInfoWith) getPictureInfoWith = nullptr;
  decltype(&tessel::GetPictureWith) getPictureWith = nullptr;
  decltype(&tessel::GetPictureFormatWith) getPictureFormatWith = nullptr;
  decltype(&tessel::GetPictureFiltersWith) getPictureFiltersWith = nullptr;
  // What those are asked to read: the plug-in's own limits (XCF versions 0
  // to 3), unless the program asks for more (the tool reads every version).
  const tessel::Limits* limits = &tessel::kDefaultLimits;
  void* module = nullptr;
};

// path: the plug-in file on Windows (empty: tessel.spi beside the program);
// ignored natively.
bool PluginLoad(const std::string& path, PluginApi* api, std::string* error);
void PluginUnload(PluginApi* api);

