// Helpers of the removal tests: a busy file held by the lockfile helper, the restart-deletion
// list Wine keeps in its registry, the session log of the test, links made from the Linux side.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/handles.h"

namespace oku::test {

// Runs tools/lockfile.exe on path in the given mode (noshare, exclusive, image; or no path: a
// child that only sleeps) and waits until it holds the file. Killed when the object goes.
class FileLocker {
 public:
  FileLocker(const std::wstring& path, const std::wstring& mode, DWORD holdMs = 60000);
  ~FileLocker();
  FileLocker(const FileLocker&) = delete;
  FileLocker& operator=(const FileLocker&) = delete;
  bool holding() const { return holding_; }
  void Release();

 private:
  // One run of lockfile.exe; its exit code when it did not take the file (0 when it did).
  DWORD Start(const std::wstring& path, const std::wstring& mode, DWORD holdMs);

  oku::KernelHandle process_;
  bool holding_ = false;
};

std::wstring LockfileExe();  // bin\tools\lockfile.exe
// Source entries ("\??\path") of PendingFileRenameOperations whose destination is empty (deletions).
std::vector<std::wstring> PendingDeletions();
bool IsPendingDeletion(const std::wstring& path);
// Removes every pending operation whose source contains marker (so runs do not pile up).
void ForgetPendingOperations(const std::wstring& marker);

// Opens this process's session log at directory\fileName (truncated).
void OpenTestLog(const std::wstring& directory, const std::wstring& fileName);
// The log's text as UTF-16, read while it stays open.
std::wstring ReadTestLog(const std::wstring& path);
int CountOccurrences(const std::wstring& text, const std::wstring& needle);

// A Unix symbolic link at linkPath pointing to target (both Windows paths without blanks).
bool MakeUnixSymlink(const std::wstring& target, const std::wstring& linkPath);
// Removes such a link from the Linux side (Wine's RemoveDirectoryW cannot).
void RemoveUnixSymlink(const std::wstring& linkPath);

// Copies a file and clears any read-only attribute of the copy.
bool CopyFileTo(const std::wstring& from, const std::wstring& to);

}  // namespace oku::test
