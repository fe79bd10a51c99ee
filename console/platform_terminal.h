// The terminal the tool runs on, on this platform.
#pragma once

#ifdef _WIN32
#include "console/windows_terminal.h"
#else
#include "console/posix_terminal.h"
#endif

namespace kestran {

#ifdef _WIN32
using PlatformTerminal = WindowsTerminal;
#else
using PlatformTerminal = PosixTerminal;
#endif

}  // namespace kestran
