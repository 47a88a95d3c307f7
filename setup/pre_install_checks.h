// Checks made before a window-mode installation: no running uninstaller, the product closed with
// the user's consent, no downgrade, an earlier installation elsewhere removed, and a product key
// that describes the chosen directory.
#pragma once

#include <windows.h>

#include <string>

class InstallContext;

[[nodiscard]] bool CheckUninstallerNotRunning();
[[nodiscard]] bool CheckProductNotRunning();
// True when the product version that would be installed is older than the recorded "pv". Reads
// the version of workingDir\mini_installer.exe (deleting it afterwards) or of this executable.
bool IsDowngradeFrom(const std::wstring& workingDir);
// True when nothing needs removing: no earlier path recorded, or it equals installDir (any case).
bool CheckPreviousPath(const std::wstring& installDir);
void UninstallPreviousInstallation();
void RemoveOldInstallationByShortcuts(const std::wstring& installDir);
// Deletes dir and everything in it; links inside are removed as links, never followed.
void DeleteAllFilesInDirectory(const std::wstring& dir);
// True when the product key is absent or describes installDir; otherwise deletes it (false if that fails).
[[nodiscard]] bool CheckRegistryState(const std::wstring& installDir);

// The window-bound steps.
bool IsDowngrade(InstallContext& context);
// The pre-check thread: removal of an earlier installation elsewhere, then the registry step.
DWORD PreInstallThreadProc(InstallContext& context);
// Registry step: on success StartInstallation, otherwise the progress stops and the options view returns.
void CheckRegistryAndInstall(InstallContext& context);
[[nodiscard]] bool CheckRegistryState(InstallContext& context);
