// The product's shortcut files (.lnk): renaming the desktop shortcut after an installation, and
// collecting and deleting (unpinning first, on the taskbar) the shortcuts that target the
// product's executable. Progress and failures go to the session log only; nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The folder in which shortcuts are looked for. Only 0, 2 and 5 are searched by the collection.
enum ShortcutLocation : int32_t {
  kShortcutDesktop = 0,              // CSIDL_DESKTOPDIRECTORY
  kShortcutCommonDesktop = 1,        // CSIDL_COMMON_DESKTOPDIRECTORY
  kShortcutStartMenu = 2,            // CSIDL_PROGRAMS
  kShortcutCommonStartMenu = 3,      // CSIDL_COMMON_PROGRAMS
  kShortcutStartMenuUser = 4,        // CSIDL_PROGRAMS, as 2
  kShortcutTaskbarPinned = 5,        // %APPDATA%\Microsoft\Internet Explorer\Quick Launch\User Pinned\TaskBar
};

struct ShortcutInfo {
  std::wstring shortcutPath;  // folder + "\" + file name
  std::wstring targetPath;    // as stored in the link (environment variables not expanded)
  ShortcutLocation location = kShortcutDesktop;
};

// Renames <desktop>\<oldName>.lnk to <newName>.lnk, replacing an existing <newName>.lnk.
void RenameDesktopShortcut(const std::wstring& oldName, const std::wstring& newName);
// Desktop, then Start-menu Programs, then taskbar shortcuts whose target mentions oku.compass.exe.
std::vector<ShortcutInfo> FindProductShortcuts();
// The .lnk files directly in the location's folder (not in subfolders) whose target contains
// executableName, compared case-insensitively as a substring.
std::vector<ShortcutInfo> FindShortcutsInFolder(const std::wstring& executableName, ShortcutLocation location);
// The location's folder, or empty when it is unknown or not available.
std::wstring GetShortcutFolder(ShortcutLocation location);
// The link's raw target path. False (targetPath untouched) when the link cannot be read.
[[nodiscard]] bool ResolveShortcutTarget(const std::wstring& shortcutPath, std::wstring& targetPath);
// Deletes the shortcut file; a taskbar shortcut is unpinned first (its file goes either way).
void DeleteShortcut(const ShortcutInfo& info);
// True when the taskbar's pinned list removed the shortcut.
[[nodiscard]] bool UnpinFromTaskbar(const ShortcutInfo& info);
