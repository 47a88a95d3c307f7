// OkuUninstall's run from start to exit: options, analytics from the installed version, the
// removal engine, final events, and the self-delete of the installation directory.
#pragma once

// Returns the process exit code: 1 when the program's own path or the working directory cannot be
// had, 0 otherwise (the removal result travels in the log and the events).
[[nodiscard]] int RunUninstaller();
