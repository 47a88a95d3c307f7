// The silent installation: the whole pipeline without a window, on the calling thread, its
// outcome returned as the process exit code.
#pragma once

#include <string>

// Result codes besides those of exit_codes.h (1000, 1001, 1004) and the launch codes of the
// product installer (1002, 1003 and its own codes).
constexpr int kQuietNoPermission = 1006;
constexpr int kQuietDiskSpace = 1007;

[[nodiscard]] int QuietInstall(const std::wstring& workingDir, bool isAutoLaunch, bool isKill,
                               const std::wstring& targetPath);
