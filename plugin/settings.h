// The user's choice, written down beside the plug-in: tessel.ini in the
// folder the DLL was loaded from, section [tessel], key `versions`. Hosts
// choose between import plug-ins by what IsSupported answers, so the
// plug-in keeps to versions 0 to 3 unless the user asks for more:
//
//   [tessel]
//   versions=all
//
// Read on every call, since the exports keep no state.
#pragma once

#include <cstdint>

#include "plugin/limits.h"
#include "plugin/reason.h"

namespace tessel {

// The limits a `versions` value asks for: the plug-in's (kDefaultLimits)
// for "" and "0-3", every version the plug-in reads (kPluginEveryVersion)
// for "all", without regard to case. Anything else keeps the plug-in's,
// with the reason in *note.
Limits LimitsForVersions(const char* value, Reason* note);

// The path of tessel.ini beside the module that holds this code (the DLL;
// natively the executable); false when it cannot be had.
bool SettingsFileBesideModule(char* path, uint32_t size);

// What the settings file at `path` asks for: LimitsForVersions of its
// `versions`, the plug-in's limits where the file or the key is missing.
Limits SettingsLimits(const char* path, Reason* note);

// What the file beside the module asks for: the limits of an export call.
Limits ExportLimits(Reason* note);

}  // namespace tessel
