// Test support: what the plug-in tells a debugger. In the Windows builds
// the loaded tessel.spi's import of OutputDebugStringA is routed here, so
// that the test driver hears the reasons the DLL sends; natively the
// plug-in's entry points tell them directly and nothing is routed.
#pragma once

#include <string>
#include <vector>

namespace xcftest {

// Routes the module's OutputDebugStringA; true natively.
bool HearDebuggerTextOf(void* module);

// The reason in the last text this thread sent to a debugger ("tessel:
// WHAT: REASON (code N)"), taken with the other reasons: empty when none
// came since.
std::string TakeDebuggerReason();

// The other texts this thread sent (a note on the settings file), taken.
std::vector<std::string> TakeDebuggerNotes();

}  // namespace xcftest
