// The installation's registry records under HKEY_CURRENT_USER: the product key (installation path,
// uninstall command, version, installer name, silent-install flags), the URL protocol and the
// auto-start Run value. Writers ignore failures of the write itself (the registry helper logs
// them); readers answer an empty text when anything is missing.
#pragma once

#include <string>

#include "common/product_names.h"


// "UninstallString" = <dir>\uninstall\OkuUninstall.exe, then "OkuInstallPath" = <dir>.
void WriteInstallPathRecords(const std::wstring& installPath);
// okucompass URL protocol: default "okucompass", empty "URL Protocol", the open command.
void RegisterUrlProtocol(const std::wstring& installPath);
// "InstallAutoLaunch" = 1 or 0 (silent installation).
void WriteInstallAutoLaunch(bool autoLaunch);
// Creates the Run value when missing (only with createWhenMissing: a user's choice against
// auto-start is kept), rewrites it when it does not mention installPath; an empty existing value
// is left alone.
void UpdateAutoLaunchRegistry(const std::wstring& installPath, bool createWhenMissing = true);
// True: writes the Run value for installPath. False: deletes it.
void SetAutoStart(const std::wstring& installPath, bool autoStart);
// "version" = the installer's version text.
void WriteVersionRecord(const std::wstring& version);
// "InstallerName" = file name of the running executable.
void WriteInstallerName();
// Restores "InstallerName" to backup, or deletes it when backup is empty.
void RollBackInstallerName(const std::wstring& backup);
// Undoes what a failed new installation into installPath wrote, so that the next run is a new
// installation again: "OkuInstallPath", "UninstallString", "version", "InstallAutoLaunch", the
// Run value and the URL protocol when they point into installPath, and the uninstaller this run
// placed (with its "uninstall" folder when that is then empty).
void RollBackNewInstallation(const std::wstring& installPath);
// "quietSilentInstall" = 1. The directory is not used.
void WriteQuietSilentInstall(const std::wstring& installPath);

// The recorded installation directory with runs of backslashes collapsed to one (a UNC path
// keeps its two leading backslashes); empty when none is recorded. At most 260 characters.
std::wstring ReadInstallPath();
struct InstallPathChoice {
  std::wstring path;
  bool fromRegistry = false;  // an earlier installation recorded it
};
// The window's starting directory: the recorded directory, or the default under local
// application data when none is recorded (empty when that folder cannot be had).
InstallPathChoice GetInstallPathFromRegistry();
// Writes the product key's values to the session log.
void logRegistryValue();

// The Run value's text: "<dir>\oku.compass.exe"  --win-auto-start (quoted path, two blanks).
std::wstring AutoStartCommand(const std::wstring& installPath);
// Collapses each run of backslashes to one, except a leading "\\" (UNC or \\?\ prefix).
std::wstring CollapseBackslashRuns(const std::wstring& path);
