#pragma once
// Debug output and the system timer resolution.
#include <string>

namespace plat {

// The debugger stream on Win32; on POSIX nothing, unless QZMARK_DEBUG_OUT is set (then stderr).
void DebugOutput(const std::string& text);
// Raise or restore the system timer resolution (no-ops on POSIX).
void TimerResolutionBegin(unsigned ms);
void TimerResolutionEnd(unsigned ms);

}  // namespace plat
