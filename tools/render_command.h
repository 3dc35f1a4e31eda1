// tessel render: files decoded and written as pictures, several at once,
// under one progress bar.
#pragma once

#include <atomic>

#include "tools/plugin_api.h"

// Parses render's command line and renders; stops between files, and asks
// the plug-in to stop, once `interrupted` is set. Returns the exit status.
int CommandRender(const PluginApi& api, int argc, char** argv, const std::atomic<bool>& interrupted);
