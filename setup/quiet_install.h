// The silent installation: the whole pipeline without a window, on the calling thread, its
// outcome returned as the process exit code.
#pragma once

#include <string>

// Result codes besides the launch codes of the product installer (1002, 1003 and its own codes).
constexpr int kQuietCreateDirFailed = 1000;
constexpr int kQuietFilesFailed = 1001;
constexpr int kQuietMoveUninstallerFailed = 1004;
constexpr int kQuietNoPermission = 1006;
constexpr int kQuietDiskSpace = 1007;

int QuietInstall(const std::wstring& workingDir, bool isAutoLaunch, bool isKill, const std::wstring& targetPath);
