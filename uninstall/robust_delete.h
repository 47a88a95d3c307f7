// The removal engine's deletion toolbox: an escalation ladder that keeps a locked file from
// stopping the uninstall (delete; move aside into %TEMP% and delete that name at restart; cmd.exe,
// then PowerShell, as hidden children; the file's own path at restart), a recursive directory
// removal that never leaves the tree through a link, the bare-installation check and cleanup,
// and removal of the product's registry keys. Every step writes its session-log line; failures
// return false and never throw.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/file_system.h"

// Removes HKCU "SOFTWARE\Classes\okucompass" and, only when that worked, HKCU
// "SOFTWARE\Velmora\oku.compass". True only when both were deleted.
bool DeleteRegistryEntries();

// True when the installation directory holds exactly "uninstall" and one version folder whose
// only content is "Installer\setup.exe" (names compared exactly). The installer's own leftovers at
// the top level (IsInstallerLeftoverName) and entries already registered for deletion at restart
// do not count. A link (junction, symbolic link) anywhere in the checked tree makes the state not
// bare: nothing is listed or deleted through it. versionFolder, when given, receives the version
// folder's name on success.
bool IsBareInstallState(const std::wstring& installPath, std::wstring* versionFolder = nullptr);

// Files the installer leaves in the installation directory: "mini_installer.exe", its session log
// "oku_install.log", and the log's fallback names "oku_install.previous.log" and
// "oku_install.<number>.log" (letter case ignored).
bool IsInstallerLeftoverName(const std::wstring& name);

// The paths registered for deletion at the next restart (PendingFileRenameOperations entries with
// no destination), as plain paths without the "\??\" prefix.
std::vector<std::wstring> PendingRestartDeletions();
// True when path is one of pending (compared as the file system does).
bool IsPendingRestartDeletion(const std::wstring& path, const std::vector<std::wstring>& pending);
// True when path is registered for deletion at restart and, for a directory (not a link),
// everything inside it is too: the entry disappears completely at the next restart.
bool IsGoneAtRestart(const std::wstring& path, const std::vector<std::wstring>& pending);
// True when every entry of listing (directory's, none at all included) is gone at restart.
bool EveryEntryGoneAtRestart(oku::DirectoryListing& listing, const std::wstring& directory,
                             const std::vector<std::wstring>& pending);

// How one file left (or did not leave) its place.
enum class FileRemoval {
  kDeleted,           // gone
  kMovedAside,        // moved into %TEMP% and that temporary name registered for deletion at restart
  kScheduledInPlace,  // could not be moved; its own path is registered for deletion at restart
  kMovedAsideKept,    // moved into %TEMP%, where it stays: neither deleted there nor registered
  kFailed,            // still in its place, neither deleted nor registered
};

// The ladder for one file without the child processes; see FileRemoval.
FileRemoval RemoveFileWithFallbacks(const std::wstring& path);
// True when RemoveFileWithFallbacks reports the file deleted or registered for deletion at restart.
bool DeleteFileRobust(const std::wstring& path);
// Clears the read-only attribute of the file at path (attributes: its current ones) and deletes
// it; false, with the failing call's error, when either step fails.
bool ClearReadOnlyAndDelete(const std::wstring& path, DWORD attributes);
// A unique, not yet existing path in %TEMP% named "oku_del_..." after the source file.
std::wstring MakeDeletionTempName(const std::wstring& sourcePath);
// Registers path for deletion at the next restart. True only when the system accepted it.
bool ScheduleDeleteOnReboot(const std::wstring& path);
// Deletes directory with everything below it, applying the ladder to each file. A directory link
// (junction, symbolic link) is removed as a link, never entered. A directory that cannot be
// removed is registered for deletion at restart. False when anything inside could not be dealt with.
bool RemoveDirectoryTree(const std::wstring& directory);

// Test seam: replaces the system's delay-until-reboot registration (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT) for the whole process. The hook returns the call's result and sets
// the last error like MoveFileExW. Null restores the system call. Only tests set it.
using RebootDeleteHook = BOOL (*)(const wchar_t* path);
void SetRebootDeleteHookForTesting(RebootDeleteHook hook);

// Deletion through hidden child processes (cmd.exe, then PowerShell). Stateless.
class ChildProcessDeleter {
 public:
  // del /F /Q, then Remove-Item; on success the emptied parent directories are removed upwards.
  bool DeleteFileByChildProcess(const std::wstring& path) const;
  // rmdir /S /Q, then Remove-Item -Recurse. A directory link is only removed as a link.
  bool DeleteDirectoryByChildProcess(const std::wstring& path) const;
  // Runs command, then powerShellCommand (an empty one is skipped), each with timeoutMs, until
  // the target no longer exists. True when it is verified gone.
  bool RunDeletionCommands(const std::wstring& command, const std::wstring& powerShellCommand,
                           const std::wstring& target, DWORD timeoutMs, const std::wstring& description) const;
  // Exit code of the hidden child, or -1 when it could not start or was terminated at timeoutMs.
  int RunHiddenProcess(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& description) const;
  // Removes path's parent when it is empty, and so on upwards while the directories are empty.
  void DeleteEmptyParentDirectories(const std::wstring& path) const;
};

// The cleanup after the component's uninstaller failed (exit code 20): in the bare state, deletes
// installPath\pv\Installer\setup.exe and the version folder; "uninstall" is never touched.
void CleanupInstallDirectory(const std::wstring& installPath, const std::wstring& pv,
                             const ChildProcessDeleter& deleter);
