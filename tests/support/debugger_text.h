// Test support: what the plug-in tells a debugger. In the Windows builds
// the loaded tessel.spi's import of OutputDebugStringA is routed here, so
// that the test driver hears the reasons the DLL sends; natively the
// plug-in's entry points tell them directly and nothing is routed.
#pragma once

#include <string>

namespace xcftest {

// Routes the module's OutputDebugStringA; true natively.
bool HearDebuggerTextOf(void* module);

// The reason in the last text this thread sent to a debugger ("tessel:
// WHAT: REASON (code N)"), taken: empty when none came since.
std::string TakeDebuggerReason();

}  // namespace xcftest
