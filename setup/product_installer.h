// The product's own installer, mini_installer.exe: placing the uninstaller, starting the product
// installer (directly or elevated through the copy script) and judging it by its exit code.
#pragma once

#include <windows.h>

#include <string>

// Launch result codes besides the product installer's own exit codes.
constexpr int kLaunchCreateFailed = 1002;
constexpr int kLaunchWaitFailed = 1003;
// Administrator mode: the installation directory cannot be handed to the elevated copy script.
constexpr int kLaunchPathRefused = 1005;
constexpr DWORD kMiniInstallerWaitMs = 300000;
constexpr DWORD kLeftoverInstallerWaitMs = 30000;

struct InstallerLauncher {
  HWND ownerWindow = nullptr;  // not used for the launch itself
  bool useAdministratorMode = false;
};

// Moves D\OkuUninstall.exe into D\uninstall, replacing an older copy.
[[nodiscard]] bool MoveUninstaller(const std::wstring& installDir);
// Not elevated: RunMiniInstaller. Elevated: the copy script, started with "runas" from the
// working directory, which must then hold the install files.
[[nodiscard]] int LaunchMiniInstaller(const InstallerLauncher& launcher, const std::wstring& installDir,
                        const std::wstring& workingDir);
// A product installer still running from D\mini_installer.exe was started by an interrupted
// earlier run (one installer runs at a time) and holds that file: waits up to waitMs for it to
// end, then terminates it. True when none is left.
[[nodiscard]] bool EndLeftoverProductInstaller(const std::wstring& installDir, DWORD waitMs = kLeftoverInstallerWaitMs);
// Starts D\mini_installer.exe, waits up to five minutes (terminating it then), and
// returns its exit code, 1002 or 1003. waitMs exists for tests of the timeout; the installer
// always uses the default.
[[nodiscard]] int RunMiniInstaller(const std::wstring& installDir, DWORD waitMs = kMiniInstallerWaitMs);
// D\oku.compass.exe unless the product already runs.
void LaunchInstalledProduct(const std::wstring& installDir);
// The working directory's version.txt as written to the "version" record (logging every step);
// empty when it is missing or empty.
std::wstring ReadVersionTextForRecord(const std::wstring& workingDir);
