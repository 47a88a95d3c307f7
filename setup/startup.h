// The startup sequence between the parsed command line and the end of the run: working
// directory, payload, analytics, and the choice of window, silent or incremental mode.
#pragma once

#include <windows.h>

#include "setup/portable/install_options.h"

// Returns the process exit code.
[[nodiscard]] int RunStartupSequence(const InstallOptions& options, DWORD startTick, HINSTANCE instance);
