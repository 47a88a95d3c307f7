#include "uninstall/robust_delete.h"

#include <atomic>
#include <cstdlib>

#include "common/file_system.h"
#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/product_names.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "telemetry/event_reporter.h"
#include "uninstall/portable/deletion_commands.h"

namespace {

constexpr int kMoveAttempts = 5;

// Constant-initialised: no constructor runs at start-up.
std::atomic<RebootDeleteHook> g_rebootDeleteHook{nullptr};

// Every delay-until-reboot registration goes through here, so tests can make it fail the way it
// does on real Windows for a user without administrator rights.
BOOL RegisterDeleteAtRestart(const std::wstring& path) {
  if (const RebootDeleteHook hook = g_rebootDeleteHook.load()) return hook(path.c_str());
  return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

std::wstring Decimal(DWORD value) { return oku::ToWide(value); }
std::string Utf8(const std::wstring& text) { return oku::Utf8FromWide(text); }

void Report(const char* name, const EventParams& params) { EventReporter::Instance().Report(name, params); }

bool IsDirectoryLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A junction or directory symbolic link is removed as the link itself; its target is never
// listed. What cannot be removed now is registered for restart (a delayed delete never recurses).
bool RemoveLinkOrScheduleIt(const std::wstring& path) {
  LogInfo(L"Removing directory link without entering it: " + path);
  if (::RemoveDirectoryW(path.c_str())) {
    LogInfo(L"Successfully removed directory link: " + path);
    return true;
  }
  const DWORD error = ::GetLastError();
  LogInfo(L"Failed to remove directory link: " + path + L", error: " + Decimal(error));
  if (RegisterDeleteAtRestart(path)) {
    LogInfo(L"Scheduled directory link removal on reboot: " + path);
    return true;
  }
  LogInfo(L"Failed to schedule directory link removal on reboot: " + path + L", error: " + Decimal(::GetLastError()));
  return false;
}

std::wstring TempDirectoryForDeletion() {
  const std::wstring directory = oku::TempDirectoryPath();
  if (!directory.empty()) return directory;
  LogInfo(L"Failed to get temp path, using current directory");
  return L".";
}

}  // namespace

void SetRebootDeleteHookForTesting(RebootDeleteHook hook) { g_rebootDeleteHook.store(hook); }

bool DeleteRegistryEntries() {
  LogInfo(L"Deleting Oku registry entries...");
  // The product is gone: its auto-start entry would start a missing program at every logon, also
  // when the URL-protocol key went missing earlier.
  // A Run value that is already gone is no failure; a failed delete is logged by the helper.
  (void)DeleteRegistryValue(HKEY_CURRENT_USER, kRunRegistryKey, kAutoStartValueName);
  if (!DeleteRegistryKeyTree(HKEY_CURRENT_USER, kUrlProtocolKey)) return false;
  return DeleteRegistryKeyTree(HKEY_CURRENT_USER, kProductOwnKey);
}

bool IsInstallerLeftoverName(const std::wstring& name) {
  if (oku::EqualsIgnoreCaseAscii(name, L"mini_installer.exe") || oku::EqualsIgnoreCaseAscii(name, L"oku_install.log") ||
      oku::EqualsIgnoreCaseAscii(name, L"oku_install.previous.log")) {
    return true;
  }
  // oku_install.<decimal number>.log, the log of a start that found the usual name held.
  constexpr std::wstring_view kPrefix = L"oku_install.";
  constexpr std::wstring_view kSuffix = L".log";
  if (name.size() <= kPrefix.size() + kSuffix.size()) return false;
  if (!oku::EqualsIgnoreCaseAscii(std::wstring_view(name).substr(0, kPrefix.size()), kPrefix)) return false;
  if (!oku::EqualsIgnoreCaseAscii(std::wstring_view(name).substr(name.size() - kSuffix.size()), kSuffix)) return false;
  for (size_t i = kPrefix.size(); i < name.size() - kSuffix.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9') return false;
  }
  return true;
}

std::vector<std::wstring> PendingRestartDeletions() {
  std::vector<std::wstring> result;
  for (const wchar_t* valueName : {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"}) {
    DWORD size = 0;
    constexpr wchar_t kKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, valueName, RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0) {
      continue;
    }
    std::wstring buffer(size / sizeof(wchar_t) + 2, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, valueName, RRF_RT_REG_MULTI_SZ, nullptr, buffer.data(), &bytes) !=
        ERROR_SUCCESS) {
      continue;
    }
    buffer.resize(bytes / sizeof(wchar_t));
    // Pairs of source and destination; an empty destination means "delete".
    std::vector<std::wstring> strings;
    size_t position = 0;
    while (position < buffer.size()) {
      const size_t end = buffer.find(L'\0', position);
      const size_t stop = end == std::wstring::npos ? buffer.size() : end;
      strings.push_back(buffer.substr(position, stop - position));
      position = stop + 1;
    }
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
      std::wstring source = strings[i];
      if (source.empty() || !strings[i + 1].empty()) continue;
      if (source.rfind(L"\\??\\", 0) == 0) source.erase(0, 4);
      while (source.size() > 3 && source.back() == L'\\') source.pop_back();
      result.push_back(source);
    }
  }
  return result;
}

bool IsPendingRestartDeletion(const std::wstring& path, const std::vector<std::wstring>& pending) {
  for (const std::wstring& entry : pending) {
    if (oku::SamePath(entry, path)) return true;
  }
  return false;
}

bool IsGoneAtRestart(const std::wstring& path, const std::vector<std::wstring>& pending) {
  if (!IsPendingRestartDeletion(path, pending)) return false;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  oku::DirectoryListing listing(path);
  return listing.ok() && EveryEntryGoneAtRestart(listing, path, pending);
}

bool EveryEntryGoneAtRestart(oku::DirectoryListing& listing, const std::wstring& directory,
                             const std::vector<std::wstring>& pending) {
  for (const oku::DirectoryEntry entry : listing) {
    if (!IsGoneAtRestart(directory + L"\\" + entry.name(), pending)) return false;
  }
  return true;
}

namespace {

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The one walk of a level of the bare layout: the directory (named listingName when it cannot be
// listed, where otherwise) is listed, a link ends the check, and judge sees every other entry with
// its path and says whether the check goes on.
template <typename Judge>
bool ScanBareLevel(const std::wstring& directory, const wchar_t* listingName, const std::wstring& where,
                   Judge&& judge) {
  oku::DirectoryListing listing(directory);
  if (!listing.ok()) {
    LogInfo(std::wstring(L"Failed to find files in ") + listingName + L": " + directory);
    return false;
  }
  for (const oku::DirectoryEntry entry : listing) {
    const std::wstring name = entry.name();
    if (entry.IsLink()) {
      LogInfo(L"Found link in " + where + L", terminating check early: " + name);
      return false;
    }
    if (!judge(entry, name, directory + L"\\" + name)) return false;
  }
  return true;
}

// The levels below the root: the version folder holds only "Installer", which holds only
// "setup.exe". Every text is part of a log line.
struct SingleEntryLevel {
  const wchar_t* listingName;
  bool expectDirectory;          // the one entry is a folder, not a file
  const wchar_t* expectedName;   // compared exactly
  const wchar_t* expectedLabel;  // "Found <label> in <where>", "<label> not found in <where>"
  const wchar_t* wrongKind;      // "<wrongKind><where>: <name>" for a file where a folder belongs, or the reverse
  const wchar_t* wrongName;      // "<wrongName><where>: <name>" for another name
};

constexpr SingleEntryLevel kVersionFolderLevel = {L"other folder", true, L"Installer", L"Installer folder",
                                                  L"Found file in ", L"Found unexpected folder in "};
constexpr SingleEntryLevel kInstallerLevel = {L"Installer folder", false, L"setup.exe", L"setup.exe",
                                              L"Found unexpected folder in ", L"Found unexpected file in "};

// True when directory holds exactly the level's one entry, besides entries that go at restart.
bool HoldsOnlyExpectedEntry(const std::wstring& directory, const std::wstring& where, const SingleEntryLevel& level,
                            const std::vector<std::wstring>& pending) {
  int itemCount = 0;
  bool found = false;
  const bool scanned = ScanBareLevel(
      directory, level.listingName, where,
      [&](const oku::DirectoryEntry& entry, const std::wstring& name, const std::wstring& path) {
        if (IsGoneAtRestart(path, pending)) {
          LogInfo(L"Ignoring entry scheduled for deletion on reboot: " + path);
          return true;
        }
        if (++itemCount > 1) {
          LogInfo(L"Found more than 1 item in " + where + L", terminating check early");
          return false;
        }
        if (entry.IsDirectory() != level.expectDirectory) {
          LogInfo(level.wrongKind + where + L": " + name);
          return false;
        }
        if (name != level.expectedName) {
          LogInfo(level.wrongName + where + L": " + name);
          return false;
        }
        found = true;
        LogInfo(std::wstring(L"Found ") + level.expectedLabel + L" in " + where);
        return true;
      });
  if (!scanned) return false;
  if (itemCount != 1) {
    LogInfo(L"Expected exactly 1 item in " + where + L", but found " + oku::ToWide(itemCount) + L" items");
    return false;
  }
  if (!found) {
    LogInfo(level.expectedLabel + std::wstring(L" not found in ") + where);
    return false;
  }
  return true;
}

}  // namespace

bool IsBareInstallState(const std::wstring& installPath, std::wstring* versionFolder) {
  LogInfo(L"Checking installation directory status to determine if cleanup is needed");
  if (installPath.empty()) {
    LogInfo(L"Installation path is empty, cannot check directory status");
    return false;
  }
  if (IsLink(::GetFileAttributesW(installPath.c_str()))) {
    LogInfo(L"Installation directory is a link, terminating check early: " + installPath);
    return false;
  }
  const std::vector<std::wstring> pending = PendingRestartDeletions();

  // The root: "uninstall" and one other folder; the installer's leftovers and what goes at
  // restart aside, no file.
  int folderCount = 0;
  bool hasUninstall = false;
  std::wstring folder;
  const bool scanned = ScanBareLevel(
      installPath, L"installation directory", L"root directory",
      [&](const oku::DirectoryEntry& entry, const std::wstring& name, const std::wstring& path) {
        if (!entry.IsDirectory()) {
          if (IsInstallerLeftoverName(name)) {
            LogInfo(L"Ignoring installer leftover in root directory: " + name);
            return true;
          }
          if (IsGoneAtRestart(path, pending)) {
            LogInfo(L"Ignoring file scheduled for deletion on reboot: " + path);
            return true;
          }
          LogInfo(L"Found file in root directory, terminating check early: " + name);
          return false;
        }
        if (name != L"uninstall" && IsGoneAtRestart(path, pending)) {
          LogInfo(L"Ignoring folder scheduled for deletion on reboot: " + path);
          return true;
        }
        if (folderCount == 2) {
          LogInfo(L"Found more than 2 folders, terminating check early");
          return false;
        }
        ++folderCount;
        if (name == L"uninstall") {
          hasUninstall = true;
          LogInfo(L"Found uninstall folder: " + name);
        } else {
          folder = name;
          LogInfo(L"Found other folder: " + name);
        }
        return true;
      });
  if (!scanned) return false;
  LogInfo(L"Total folders found: " + oku::ToWide(folderCount));
  LogInfo(L"Total files found: 0 (any files would have caused early termination)");
  if (folderCount != 2) {
    LogInfo(L"Expected exactly 2 folders, but found " + oku::ToWide(folderCount) + L" folders");
    return false;
  }
  if (!hasUninstall) {
    LogInfo(L"Uninstall folder not found");
    return false;
  }
  if (folder.empty()) {
    LogInfo(L"No other folder found besides uninstall folder");
    return false;
  }

  const std::wstring folderPath = installPath + L"\\" + folder;
  if (!HoldsOnlyExpectedEntry(folderPath, folder, kVersionFolderLevel, pending)) return false;
  if (!HoldsOnlyExpectedEntry(folderPath + L"\\Installer", L"Installer folder", kInstallerLevel, pending)) {
    return false;
  }

  LogInfo(L"All conditions met:");
  LogInfo(L"  - Installation directory has exactly 2 folders: uninstall and " + folder);
  LogInfo(L"  - " + folder + L" folder contains only Installer folder");
  LogInfo(L"  - Installer folder contains only setup.exe");
  LogInfo(L"Installation directory is in minimal state, safe to cleanup");
  if (versionFolder) *versionFolder = folder;
  return true;
}

std::wstring MakeDeletionTempName(const std::wstring& sourcePath) {
  const std::wstring directory = TempDirectoryForDeletion();
  const std::wstring baseName = oku::BaseNameOf(sourcePath);
  for (int pass = 0; pass < 10; ++pass) {
    wchar_t generated[MAX_PATH] = {};
    if (::GetTempFileNameW(directory.c_str(), L"oku_del_", 0, generated) != 0) {
      // With unique number 0 the call creates the file it names; it is not ours to keep.
      if (!oku::PathExists(generated)) {
        LogInfo(std::wstring(L"Generated temp file name: ") + generated);
        return generated;
      }
      ::DeleteFileW(generated);
    }
    const std::wstring manual = oku::FormatWide(L"%ls\\oku_del_%lu_%d_%ls", directory.c_str(),
                                                static_cast<unsigned long>(::GetTickCount()), std::rand(),
                                                baseName.c_str());
    if (!oku::PathExists(manual)) {
      LogInfo(L"Generated temp file name (manual): " + manual);
      return manual;
    }
  }
  const std::wstring fallback = oku::FormatWide(L"%ls\\oku_del_fallback_%lu_%ls", directory.c_str(),
                                                static_cast<unsigned long>(::GetTickCount()), baseName.c_str());
  LogInfo(L"Generated temp file name (fallback): " + fallback);
  return fallback;
}

bool ClearReadOnlyAndDelete(const std::wstring& path, DWORD attributes) {
  const DWORD cleared = attributes & ~FILE_ATTRIBUTE_READONLY;
  return ::SetFileAttributesW(path.c_str(), cleared ? cleared : FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(path.c_str());
}

bool ScheduleDeleteOnReboot(const std::wstring& path) {
  LogInfo(L"Scheduling for deletion on reboot: " + path);
  if (RegisterDeleteAtRestart(path)) {
    LogInfo(L"Successfully scheduled for deletion on reboot: " + path);
    return true;
  }
  const DWORD error = ::GetLastError();
  LogInfo(L"Failed to schedule for deletion on reboot: " + path + L", error: " + Decimal(error));
  return false;
}

namespace {

FileRemoval RemoveFileLadder(const std::wstring& path, DWORD* lastError) {
  LogInfo(L"Moving file to temp and scheduling deletion: " + path);
  if (::DeleteFileW(path.c_str())) {
    LogInfo(L"Successfully deleted file directly: " + path);
    return FileRemoval::kDeleted;
  }
  DWORD error = ::GetLastError();
  LogInfo(L"Cannot delete file directly, error: " + Decimal(error) + L", trying to move to temp");

  // A read-only file only needs its attribute cleared; moving it aside would leave it behind.
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LogInfo(L"File is read-only, clearing the attribute and deleting again: " + path);
    if (ClearReadOnlyAndDelete(path, attributes)) {
      LogInfo(L"Successfully deleted file directly: " + path);
      return FileRemoval::kDeleted;
    }
    error = ::GetLastError();
    LogInfo(L"Cannot delete read-only file, error: " + Decimal(error));
  }

  if (oku::LooksLikeLogFile(path)) {
    LogInfo(L"Detected log file, attempting to close any open handles");
    ::Sleep(100);
  }

  std::wstring temp = MakeDeletionTempName(path);
  if (oku::PathExists(temp)) {
    LogInfo(L"Temp file already exists, deleting: " + temp);
    if (!::DeleteFileW(temp.c_str())) {
      LogInfo(L"Failed to delete existing temp file: " + temp + L", error: " + Decimal(::GetLastError()));
      temp = MakeDeletionTempName(path);
    }
  }

  for (int attempt = 1; attempt <= kMoveAttempts; ++attempt) {
    if (attempt >= 2) {
      LogInfo(L"Retry attempt " + oku::ToWide(attempt - 1) + L" to move file: " + path);
      ::Sleep(200 * static_cast<DWORD>(attempt - 1));
    }
    if (::MoveFileW(path.c_str(), temp.c_str())) {
      LogInfo(L"Successfully moved file to temp: " + temp);
      if (RegisterDeleteAtRestart(temp)) {
        LogInfo(L"Scheduled temp file deletion on reboot: " + temp);
        return FileRemoval::kMovedAside;
      }
      error = ::GetLastError();
      LogInfo(L"Failed to schedule temp file deletion on reboot: " + temp);
      LogInfo(L"Restart deletion refused, error: " + Decimal(error));
      if (::DeleteFileW(temp.c_str())) {
        LogInfo(L"Successfully deleted moved file: " + temp);
        return FileRemoval::kDeleted;
      }
      LogInfo(L"File moved to temp but neither deleted nor scheduled for deletion: " + temp);
      if (lastError) *lastError = error;
      return FileRemoval::kMovedAsideKept;
    }
    error = ::GetLastError();
    LogInfo(L"Attempt " + oku::ToWide(attempt) + L" failed to move file: " + path + L" -> " + temp + L", error: " +
            Decimal(error));
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
  }

  // Last resort: the file's own path. Unlike a moved-aside name, this path may be reused by a
  // reinstall before the restart; it is registered only because the file could not be moved.
  LogInfo(L"Failed to move file to temp after all retries: " + path + L" -> " + temp);
  if (RegisterDeleteAtRestart(path)) {
    LogInfo(L"Scheduled original file deletion on reboot: " + path);
    return FileRemoval::kScheduledInPlace;
  }
  error = ::GetLastError();
  LogInfo(L"Failed to schedule file deletion on reboot: " + path);
  LogInfo(L"Restart deletion refused, error: " + Decimal(error));
  if (lastError) *lastError = error;
  return FileRemoval::kFailed;
}

}  // namespace

FileRemoval RemoveFileWithFallbacks(const std::wstring& path) { return RemoveFileLadder(path, nullptr); }

bool DeleteFileRobust(const std::wstring& path) {
  const FileRemoval removal = RemoveFileLadder(path, nullptr);
  return removal != FileRemoval::kFailed && removal != FileRemoval::kMovedAsideKept;
}

namespace {

// The uninstaller's removal of a tree: a log line and an event for each step, the deletion ladder
// for a file that will not go, and restart registration for a directory or link that stays.
class UninstallTreeRemoval : public oku::TreeRemoval {
 public:
  bool OnEnterDirectory(const std::wstring& path, bool) override {
    LogInfo(L"Recursively deleting directory: " + path);
    Report("uninstall_delete_dir_start", {{"dir_path", Utf8(path)}});
    return true;
  }
  bool OnListingFailed(const std::wstring& path, DWORD) override {
    LogInfo(L"Failed to find files in directory: " + path);
    Report("uninstall_delete_dir_fail", {{"dir_path", Utf8(path)}, {"error", "find_failed"}});
    return false;
  }
  bool RemoveFile(const std::wstring& path, const oku::DirectoryEntry&) override {
    Report("uninstall_delete_file_start", {{"file_path", Utf8(path)}});
    if (::DeleteFileW(path.c_str())) {
      LogInfo(L"Successfully deleted file: " + path);
      Report("uninstall_delete_file_done", {{"file_path", Utf8(path)}});
      return true;
    }
    return OnEntryFailed(path, ::GetLastError());
  }
  // The deletion ladder, for a file held or read-only.
  bool OnEntryFailed(const std::wstring& path, DWORD error) override {
    const std::string filePath = Utf8(path);
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      LogInfo(L"File in use, moving to temp and scheduling for deletion: " + path);
      const FileRemoval removal = RemoveFileLadder(path, &error);
      if (removal == FileRemoval::kScheduledInPlace) {
        Report("uninstall_delete_file_done", {{"file_path", filePath}, {"scheduled_reboot", "true"}});
        return true;
      }
      if (removal == FileRemoval::kDeleted || removal == FileRemoval::kMovedAside) {
        Report("uninstall_delete_file_done", {{"file_path", filePath}});
        return true;
      }
      Report("uninstall_delete_file_fail", {{"file_path", filePath}, {"error_code", oku::ToNarrow(error)}});
      return false;
    }
    LogInfo(L"Failed to delete file: " + path + L", error: " + Decimal(error));
    Report("uninstall_delete_file_fail", {{"file_path", filePath}, {"error_code", oku::ToNarrow(error)}});
    return false;
  }
  bool RemoveDirectoryLink(const std::wstring& path) override {
    OnEnterDirectory(path, true);
    return RemoveEmptiedDirectory(path, true);
  }
  bool RemoveEmptiedDirectory(const std::wstring& directory, bool isLink) override {
    const std::string dirPath = Utf8(directory);
    if (isLink) {
      if (RemoveLinkOrScheduleIt(directory)) {
        Report("uninstall_delete_dir_done", {{"dir_path", dirPath}});
        return true;
      }
      Report("uninstall_delete_dir_fail", {{"dir_path", dirPath}, {"error", "schedule_failed"}});
      return false;
    }
    if (::RemoveDirectoryW(directory.c_str())) {
      LogInfo(L"Successfully deleted directory: " + directory);
      Report("uninstall_delete_dir_done", {{"dir_path", dirPath}});
      return true;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_DIR_NOT_EMPTY) {
      LogInfo(L"Failed to remove directory: " + directory + L", error: " + Decimal(error));
    }
    if (!RegisterDeleteAtRestart(directory)) {
      LogInfo(L"Failed to schedule directory deletion on reboot: " + directory);
      Report("uninstall_delete_dir_fail", {{"dir_path", dirPath}, {"error", "schedule_failed"}});
      return false;
    }
    LogInfo(L"Scheduled directory deletion on reboot: " + directory);
    Report("uninstall_delete_dir_done", {{"dir_path", dirPath}, {"scheduled_reboot", "true"}});
    return true;
  }
};

}  // namespace

bool RemoveDirectoryTree(const std::wstring& directory) {
  UninstallTreeRemoval removal;
  return oku::RemoveTree(directory, removal);
}

void CleanupInstallDirectory(const std::wstring& installPath, const std::wstring& pv,
                             const ChildProcessDeleter& deleter) {
  std::wstring versionFolderName;
  if (!IsBareInstallState(installPath, &versionFolderName)) {
    LogInfo(L"Installation directory contains other files, skipping cleanup");
    return;
  }
  // The check accepts any name for the version folder; only the folder named by pv is ours to
  // remove (and pv must name exactly that one folder, nothing outside the installation).
  if (pv.empty() || !oku::EqualsIgnoreCaseAscii(versionFolderName, pv)) {
    LogInfo(L"Version folder " + versionFolderName + L" does not match pv " + pv + L", skipping cleanup");
    return;
  }
  LogInfo(L"Installation directory only contains uninstall folder and setup.exe, proceeding with cleanup");

  const std::wstring versionFolder = installPath + L"\\" + pv;
  const std::wstring setupPath = versionFolder + L"\\Installer\\setup.exe";
  LogInfo(L"Attempting to delete setup.exe: " + setupPath);
  if (::DeleteFileW(setupPath.c_str())) {
    LogInfo(L"Successfully deleted setup.exe: " + setupPath);
  } else {
    const DWORD error = ::GetLastError();
    LogInfo(L"Failed to delete setup.exe: " + setupPath + L", error: " + Decimal(error));
    const FileRemoval removal = RemoveFileWithFallbacks(setupPath);
    if (removal == FileRemoval::kDeleted) {
      LogInfo(L"Successfully deleted setup.exe: " + setupPath);
    } else if (removal == FileRemoval::kMovedAside) {
      LogInfo(L"Successfully moved setup.exe to temp and scheduled for deletion");
    } else if (removal == FileRemoval::kScheduledInPlace) {
      LogInfo(L"setup.exe could not be moved, scheduled for deletion on reboot in place: " + setupPath);
    } else if (removal == FileRemoval::kMovedAsideKept) {
      // Out of the installation, so the version folder can go; the moved copy stays in %TEMP%.
      LogInfo(L"Moved setup.exe to temp, but the moved file could be neither deleted nor scheduled for deletion");
    } else {
      LogInfo(L"Failed to move setup.exe to temp directory, trying multi-process deletion");
      if (deleter.DeleteFileByChildProcess(setupPath)) {
        LogInfo(L"Successfully deleted setup.exe using multi-process deletion");
      } else {
        LogInfo(L"All deletion methods failed for setup.exe: " + setupPath);
        LogInfo(L"Skipping version directory deletion because setup.exe deletion failed");
        return;
      }
    }
  }

  // The child-process route climbs upwards and may already have removed the emptied folders.
  if (!oku::PathExists(versionFolder)) {
    LogInfo(L"Version directory already removed: " + versionFolder);
    return;
  }
  LogInfo(L"Attempting to delete version directory: " + versionFolder);
  if (!RemoveDirectoryTree(versionFolder)) {
    LogInfo(L"Failed to delete version directory contents: " + versionFolder);
    return;
  }
  LogInfo(L"Successfully deleted version directory: " + versionFolder);
  if (!oku::PathExists(versionFolder)) return;
  if (::RemoveDirectoryW(versionFolder.c_str())) {
    LogInfo(L"Successfully removed version directory: " + versionFolder);
    return;
  }
  LogInfo(L"Failed to remove version directory: " + versionFolder + L", error: " + Decimal(::GetLastError()));
  if (ScheduleDeleteOnReboot(versionFolder)) {
    LogInfo(L"Scheduled version directory for deletion on reboot: " + versionFolder);
  } else {
    LogInfo(L"Failed to schedule version directory for deletion: " + versionFolder);
  }
}

bool ChildProcessDeleter::DeleteFileByChildProcess(const std::wstring& path) const {
  // del on a directory would empty it: this operation deletes files only.
  if (oku::DirectoryExists(path)) {
    LogInfo(L"Not a file, refusing to delete it as a file: " + path);
    return false;
  }
  const bool deleted = RunDeletionCommands(oku::CmdDeleteFileCommand(path), oku::PowerShellDeleteFileCommand(path),
                                           path, 5000, L"delete file");
  if (deleted) DeleteEmptyParentDirectories(path);
  return deleted;
}

bool ChildProcessDeleter::DeleteDirectoryByChildProcess(const std::wstring& path) const {
  // Neither interpreter is trusted not to walk into a link's target.
  if (IsDirectoryLink(::GetFileAttributesW(path.c_str()))) return RemoveLinkOrScheduleIt(path);
  return RunDeletionCommands(oku::CmdRemoveDirectoryCommand(path), oku::PowerShellRemoveDirectoryCommand(path), path,
                             10000, L"delete directory");
}

bool ChildProcessDeleter::RunDeletionCommands(const std::wstring& command, const std::wstring& powerShellCommand,
                                              const std::wstring& target, DWORD timeoutMs,
                                              const std::wstring& description) const {
  LogInfo(L"Attempting to " + description + L" using child process: " + target);
  if (command.empty()) {
    LogInfo(L"Skipping cmd.exe: the path cannot be passed to it safely: " + target);
  } else {
    LogInfo(L"Executing command: " + command);
    const int code = RunHiddenProcess(command, timeoutMs, description);
    if (code == 0) {
      LogInfo(L"Child process successfully " + description);
      if (!oku::PathExists(target)) {
        LogInfo(L"Target deletion verified: " + target);
        return true;
      }
      LogInfo(L"Child process reported success but target still exists: " + target);
    } else if (code != -1) {
      LogInfo(L"Child process failed with exit code: " + oku::ToWide(code));
    }
  }

  LogInfo(L"Trying PowerShell " + description + L" method");
  if (powerShellCommand.empty()) {
    LogInfo(L"Skipping PowerShell: the path cannot be passed to it safely: " + target);
  } else {
    LogInfo(L"Executing PowerShell command: " + powerShellCommand);
    const int code = RunHiddenProcess(powerShellCommand, timeoutMs, description);
    if (code == 0) {
      LogInfo(L"PowerShell process successfully " + description);
      if (!oku::PathExists(target)) {
        LogInfo(L"Target deletion verified using PowerShell: " + target);
        return true;
      }
      LogInfo(L"PowerShell process reported success but target still exists: " + target);
    } else if (code != -1) {
      LogInfo(L"PowerShell process failed with exit code: " + oku::ToWide(code));
    }
  }
  LogInfo(L"All multi-process " + description + L" methods failed for: " + target);
  return false;
}

namespace {

// A command that starts with a bare program name (the deletion commands' cmd.exe and
// powershell.exe) runs that program from the system directory only: one planted beside the
// uninstaller or in the current directory never runs. Empty when the system has none. A command
// that names its program by path runs as given (`byPath` set).
std::wstring SystemProgramFor(const std::wstring& commandLine, bool& byPath) {
  const std::wstring program = commandLine.substr(0, commandLine.find(L' '));
  byPath = program.find_first_of(L"\\/:\"") != std::wstring::npos;
  if (byPath) return {};
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  for (const wchar_t* folder : {L"\\", L"\\WindowsPowerShell\\v1.0\\"}) {
    const std::wstring candidate = std::wstring(system) + folder + program;
    const DWORD attributes = ::GetFileAttributesW(candidate.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return candidate;
  }
  return {};
}

}  // namespace

int ChildProcessDeleter::RunHiddenProcess(const std::wstring& commandLine, DWORD timeoutMs,
                                          const std::wstring& description) const {
  bool byPath = false;
  const std::wstring application = SystemProgramFor(commandLine, byPath);
  if (!byPath && application.empty()) {
    LogInfo(L"Failed to create child process for " + description + L", error: " + Decimal(ERROR_FILE_NOT_FOUND));
    return -1;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(byPath ? nullptr : application.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    LogInfo(L"Failed to create child process for " + description + L", error: " + Decimal(::GetLastError()));
    return -1;
  }
  oku::KernelHandle process(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    LogInfo(L"Child process timed out, terminating it");
    ::TerminateProcess(process.get(), 1);
    // Only one child at a time: let it end before the next command starts.
    ::WaitForSingleObject(process.get(), 5000);
    return -1;
  }
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) return -1;
  return static_cast<int>(exitCode);
}

void ChildProcessDeleter::DeleteEmptyParentDirectories(const std::wstring& path) const {
  LogInfo(L"Attempting to delete parent directory of: " + path);
  const size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos) {
    LogInfo(L"No parent directory found for file: " + path);
    return;
  }
  const std::wstring parent = path.substr(0, slash);
  LogInfo(L"Parent directory: " + parent);
  {
    oku::DirectoryListing listing(parent);
    if (!listing.ok()) {
      LogInfo(L"Failed to search parent directory: " + parent);
      return;
    }
    for (const oku::DirectoryEntry entry : listing) {
      LogInfo(L"Parent directory is not empty, found: " + std::wstring(entry.name()));
      LogInfo(L"Parent directory is not empty, skipping deletion: " + parent);
      return;
    }
  }
  LogInfo(L"Parent directory is empty, attempting to delete: " + parent);
  if (::RemoveDirectoryW(parent.c_str())) {
    LogInfo(L"Successfully deleted empty parent directory: " + parent);
    DeleteEmptyParentDirectories(parent);
    return;
  }
  LogInfo(L"Failed to delete parent directory: " + parent + L", error: " + Decimal(::GetLastError()));
  LogInfo(L"Trying multi-process deletion for empty parent directory");
  DeleteDirectoryByChildProcess(parent);
}
