// The deletion ladder on real files held busy by another process: move aside into %TEMP% with a
// restart deletion that Wine records in PendingFileRenameOperations, the five attempts, the last
// resort, honest results when the restart registration is refused (as on real Windows for a
// user without administrator rights), read-only files, log files, and the recursive removal that
// never walks through a link.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/paths.h"
#include "common/portable/text.h"
#include "telemetry/event_reporter.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"
#include "uninstall/robust_delete.h"
#include "uninstall/self_delete.h"

namespace {

using oku::test::CountOccurrences;
using oku::test::FileLocker;

std::vector<std::wstring> g_refused;
BOOL RefuseRestartDeletion(const wchar_t* path) {
  g_refused.push_back(path);
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

class RobustDelete : public testing::Test {
 protected:
  void SetUp() override {
    oku::test::OpenTestLog(logs_.path(), L"removal.log");
    g_refused.clear();
  }
  void TearDown() override {
    SetRebootDeleteHookForTesting(nullptr);
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    oku::test::ForgetPendingOperations(L"okutest_");
    oku::test::ForgetPendingOperations(L"oku_del_");
    for (const auto& temp : movedAside_) oku::test::RemoveTree(temp);
  }
  std::wstring Log() const { return oku::test::ReadTestLog(logs_.Child(L"removal.log")); }
  // A PE file, so that it can be mapped as an image like a running program.
  std::wstring MakeBinary(const std::wstring& name) {
    const std::wstring path = scratch_.Child(name);
    EXPECT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), path));
    return path;
  }
  std::wstring MakeFile(const std::wstring& name, const std::string& bytes = "data") {
    const std::wstring path = scratch_.Child(name);
    EXPECT_TRUE(oku::test::WriteFileBytes(path, bytes));
    return path;
  }
  // The temporary name the log reports for a successful move.
  std::wstring MovedTo() {
    const std::wstring log = Log();
    const std::wstring marker = L"Successfully moved file to temp: ";
    const size_t at = log.find(marker);
    if (at == std::wstring::npos) return L"";
    const size_t end = log.find_first_of(L"\r\n", at);
    std::wstring temp = log.substr(at + marker.size(), end - at - marker.size());
    movedAside_.push_back(temp);
    return temp;
  }

  oku::test::ScratchDirectory logs_{L"removal_logs"};
  oku::test::ScratchDirectory scratch_{L"removal"};
  std::vector<std::wstring> movedAside_;
};

TEST_F(RobustDelete, BusyImageIsMovedAsideAndItsTemporaryNameRegisteredForRestart) {
  const std::wstring path = MakeBinary(L"chrome.dll");
  FileLocker locker(path, L"image");
  ASSERT_TRUE(locker.holding());
  ASSERT_FALSE(::DeleteFileW(path.c_str()));
  ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_EQ(RemoveFileWithFallbacks(path), FileRemoval::kMovedAside);
  EXPECT_FALSE(oku::PathExists(path));
  const std::wstring temp = MovedTo();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.rfind(oku::test::TempDirectory() + L"\\oku_del_", 0), 0u) << temp;
  EXPECT_EQ(temp.substr(temp.size() - std::wstring(L"_chrome.dll").size()), L"_chrome.dll");
  EXPECT_TRUE(oku::FileExists(temp));
  EXPECT_TRUE(oku::test::IsPendingDeletion(temp));
  EXPECT_FALSE(oku::test::IsPendingDeletion(path));  // the original path stays free for a reinstall
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Cannot delete file directly, error: 5, trying to move to temp"), std::wstring::npos);
  EXPECT_NE(log.find(L"Scheduled temp file deletion on reboot: " + temp), std::wstring::npos);
  EXPECT_EQ(log.find(L"Detected log file"), std::wstring::npos);
  EXPECT_EQ(log.find(L"Retry attempt"), std::wstring::npos);
}

TEST_F(RobustDelete, PersistentSharingViolationMakesFiveAttemptsThenRegistersTheOwnPath) {
  const std::wstring path = MakeFile(L"locked.dat");
  FileLocker locker(path, L"noshare");
  ASSERT_TRUE(locker.holding());

  EXPECT_EQ(RemoveFileWithFallbacks(path), FileRemoval::kScheduledInPlace);
  const std::wstring log = Log();
  EXPECT_EQ(CountOccurrences(log, L" failed to move file: " + path + L" -> "), 5);
  EXPECT_EQ(CountOccurrences(log, L", error: 32"), 6);  // the direct deletion and five moves
  for (int retry = 1; retry <= 4; ++retry) {
    EXPECT_NE(log.find(L"Retry attempt " + std::to_wstring(retry) + L" to move file: " + path), std::wstring::npos);
  }
  EXPECT_EQ(log.find(L"Retry attempt 5"), std::wstring::npos);
  EXPECT_NE(log.find(L"Failed to move file to temp after all retries: " + path), std::wstring::npos);
  EXPECT_NE(log.find(L"Scheduled original file deletion on reboot: " + path), std::wstring::npos);
  EXPECT_TRUE(oku::test::IsPendingDeletion(path));
  EXPECT_TRUE(oku::FileExists(path));
}

TEST_F(RobustDelete, AnotherMoveErrorGivesUpAfterOneAttempt) {
  const std::wstring path = MakeBinary(L"module.dll");
  FileLocker locker(path, L"image");
  ASSERT_TRUE(locker.holding());
  // A temporary directory that does not exist: the move fails with ERROR_PATH_NOT_FOUND.
  ::SetEnvironmentVariableW(L"TMP", scratch_.Child(L"no-such-temp").c_str());

  EXPECT_EQ(RemoveFileWithFallbacks(path), FileRemoval::kScheduledInPlace);
  const std::wstring log = Log();
  EXPECT_EQ(CountOccurrences(log, L" failed to move file: "), 1);
  EXPECT_NE(log.find(L"Attempt 1 failed to move file: " + path), std::wstring::npos);
  EXPECT_NE(log.find(L", error: 3"), std::wstring::npos);
  EXPECT_EQ(log.find(L"Retry attempt"), std::wstring::npos);
  EXPECT_TRUE(oku::test::IsPendingDeletion(path));
}

TEST_F(RobustDelete, ReadOnlyFileIsDeletedOnTheSpot) {
  const std::wstring path = MakeFile(L"readonly.txt");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(RemoveFileWithFallbacks(path), FileRemoval::kDeleted);
  EXPECT_FALSE(oku::PathExists(path));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"File is read-only, clearing the attribute and deleting again: " + path), std::wstring::npos);
  EXPECT_EQ(log.find(L"Successfully moved file to temp"), std::wstring::npos);
}

TEST_F(RobustDelete, PathContainingDotLogWaitsBeforeTheMove) {
  const std::wstring path = MakeBinary(L"trace.log.dll");
  FileLocker locker(path, L"image");
  ASSERT_TRUE(locker.holding());
  EXPECT_EQ(RemoveFileWithFallbacks(path), FileRemoval::kMovedAside);
  MovedTo();
  const std::wstring log = Log();
  const size_t wait = log.find(L"Detected log file, attempting to close any open handles");
  ASSERT_NE(wait, std::wstring::npos);
  EXPECT_LT(wait, log.find(L"Successfully moved file to temp: "));
}

// A refused restart registration must not be reported as a deletion.
TEST_F(RobustDelete, RefusedRestartRegistrationIsAFailure) {
  SetRebootDeleteHookForTesting(&RefuseRestartDeletion);
  struct Case {
    const wchar_t* name;
    const wchar_t* mode;
    const wchar_t* expectedLine;
  } cases[] = {
      {L"moved.dll", L"image", L"File moved to temp but neither deleted nor scheduled for deletion: "},
      {L"stuck.dat", L"noshare", L"Failed to schedule file deletion on reboot: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    oku::test::OpenTestLog(logs_.path(), L"removal.log");
    const std::wstring path = std::wstring(c.mode) == L"image" ? MakeBinary(c.name) : MakeFile(c.name);
    FileLocker locker(path, c.mode);
    ASSERT_TRUE(locker.holding());
    EXPECT_FALSE(DeleteFileRobust(path));
    MovedTo();
    const std::wstring log = Log();
    EXPECT_NE(log.find(c.expectedLine), std::wstring::npos);
    EXPECT_NE(log.find(L"Restart deletion refused, error: 5"), std::wstring::npos);
    EXPECT_FALSE(g_refused.empty());
  }
  EXPECT_FALSE(oku::test::IsPendingDeletion(scratch_.Child(L"stuck.dat")));
}

TEST_F(RobustDelete, TemporaryNamesAreUniqueAndFree) {
  const std::wstring a = MakeDeletionTempName(L"C:\\x\\setup.exe");
  const std::wstring b = MakeDeletionTempName(L"C:\\x\\setup.exe");
  EXPECT_NE(a, b);
  for (const auto& name : {a, b}) {
    EXPECT_FALSE(oku::PathExists(name));
    EXPECT_EQ(name.rfind(oku::test::TempDirectory() + L"\\oku_del_", 0), 0u) << name;
  }
}

TEST_F(RobustDelete, ScheduleDeleteOnRebootReportsWhatTheSystemSaid) {
  const std::wstring path = MakeFile(L"later.txt");
  EXPECT_TRUE(ScheduleDeleteOnReboot(path));
  EXPECT_TRUE(oku::test::IsPendingDeletion(path));
  SetRebootDeleteHookForTesting(&RefuseRestartDeletion);
  EXPECT_FALSE(ScheduleDeleteOnReboot(path));
  EXPECT_NE(Log().find(L"Failed to schedule for deletion on reboot: " + path + L", error: 5"), std::wstring::npos);
}

class DirectoryTree : public RobustDelete {};

TEST_F(DirectoryTree, RemovesEverythingAndReportsEachStep) {
  const std::wstring root = scratch_.Child(L"tree");
  ::CreateDirectoryW(root.c_str(), nullptr);
  ::CreateDirectoryW((root + L"\\a").c_str(), nullptr);
  ::CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr);
  oku::test::WriteFileBytes(root + L"\\top.txt", "1");
  oku::test::WriteFileBytes(root + L"\\a\\b\\deep.txt", "2");
  oku::test::WriteFileBytes(root + L"\\a\\ro.txt", "3");
  ::SetFileAttributesW((root + L"\\a\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(RemoveDirectoryTree(root));
  EXPECT_FALSE(oku::PathExists(root));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Successfully deleted file: " + root + L"\\a\\b\\deep.txt"), std::wstring::npos);
  EXPECT_NE(log.find(L"File in use, moving to temp and scheduling for deletion: " + root + L"\\a\\ro.txt"),
            std::wstring::npos);
  EXPECT_NE(log.find(L"Successfully deleted directory: " + root), std::wstring::npos);
  EXPECT_EQ(CountOccurrences(log, L"uninstall_delete_dir_start"), 3);
  EXPECT_EQ(CountOccurrences(log, L"uninstall_delete_dir_done"), 3);
  EXPECT_EQ(CountOccurrences(log, L"uninstall_delete_file_done"), 3);
}

TEST_F(DirectoryTree, LinkIsRemovedAsALinkAndItsTargetKept) {
  const std::wstring outside = scratch_.Child(L"outside");
  ::CreateDirectoryW(outside.c_str(), nullptr);
  oku::test::WriteFileBytes(outside + L"\\precious.txt", "keep me");
  const std::wstring root = scratch_.Child(L"linked");
  ::CreateDirectoryW(root.c_str(), nullptr);
  oku::test::WriteFileBytes(root + L"\\own.txt", "x");
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, root + L"\\link"));
  ASSERT_EQ(::GetFileAttributesW((root + L"\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));

  RemoveDirectoryTree(root);
  EXPECT_EQ(oku::test::ReadFileBytes(outside + L"\\precious.txt"), "keep me");
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Removing directory link without entering it: " + root + L"\\link"), std::wstring::npos);
  EXPECT_EQ(log.find(L"precious.txt"), std::wstring::npos);  // never listed
  EXPECT_FALSE(oku::PathExists(root + L"\\own.txt"));
  // Wine cannot remove a Unix link with RemoveDirectoryW; then the link and the directory wait
  // for the restart, which removes links, never their targets.
  if (oku::PathExists(root + L"\\link")) {
    EXPECT_TRUE(oku::test::IsPendingDeletion(root + L"\\link"));
    EXPECT_TRUE(oku::test::IsPendingDeletion(root));
  }
  oku::test::RemoveUnixSymlink(root + L"\\link");
}

TEST_F(DirectoryTree, LinkGivenAsTheDirectoryItselfIsNotEntered) {
  const std::wstring outside = scratch_.Child(L"outside2");
  ::CreateDirectoryW(outside.c_str(), nullptr);
  oku::test::WriteFileBytes(outside + L"\\precious.txt", "keep me");
  const std::wstring link = scratch_.Child(L"version-link");
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, link));
  RemoveDirectoryTree(link);
  EXPECT_EQ(oku::test::ReadFileBytes(outside + L"\\precious.txt"), "keep me");
  EXPECT_NE(Log().find(L"Removing directory link without entering it: " + link), std::wstring::npos);
  oku::test::RemoveUnixSymlink(link);
}

TEST_F(DirectoryTree, DirectoryKeptByAScheduledFileIsRegisteredWithoutAFailureLine) {
  const std::wstring root = scratch_.Child(L"busy");
  ::CreateDirectoryW(root.c_str(), nullptr);
  const std::wstring file = root + L"\\held.dat";
  oku::test::WriteFileBytes(file, "x");
  FileLocker locker(file, L"noshare");
  ASSERT_TRUE(locker.holding());

  EXPECT_TRUE(RemoveDirectoryTree(root));
  const std::wstring log = Log();
  EXPECT_EQ(log.find(L"Failed to remove directory: "), std::wstring::npos);
  EXPECT_NE(log.find(L"Scheduled directory deletion on reboot: " + root), std::wstring::npos);
  EXPECT_TRUE(oku::test::IsPendingDeletion(file));
  EXPECT_TRUE(oku::test::IsPendingDeletion(root));
  EXPECT_NE(log.find(L"uninstall_delete_file_done"), std::wstring::npos);
  EXPECT_EQ(log.find(L"uninstall_delete_file_fail"), std::wstring::npos);
}

TEST_F(DirectoryTree, RefusedRegistrationsFailTheFileAndTheDirectory) {
  SetRebootDeleteHookForTesting(&RefuseRestartDeletion);
  const std::wstring root = scratch_.Child(L"refused");
  ::CreateDirectoryW(root.c_str(), nullptr);
  const std::wstring file = root + L"\\held.dat";
  oku::test::WriteFileBytes(file, "x");
  FileLocker locker(file, L"noshare");
  ASSERT_TRUE(locker.holding());

  EXPECT_FALSE(RemoveDirectoryTree(root));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"uninstall_delete_file_fail"), std::wstring::npos);
  EXPECT_NE(log.find(L"Failed to schedule directory deletion on reboot: " + root), std::wstring::npos);
  EXPECT_NE(log.find(L"uninstall_delete_dir_fail"), std::wstring::npos);
  EXPECT_EQ(log.find(L"uninstall_delete_file_done"), std::wstring::npos);
}

// The parameters of the removal's events as the analytics library receives them.
TEST_F(DirectoryTree, EventParametersReachTheOutbox) {
  const std::wstring lantern = scratch_.Child(L"lantern");
  ::CreateDirectoryW(lantern.c_str(), nullptr);
  for (const wchar_t* dll : {L"lantern_sdk.dll", L"tessel.dll"}) {
    ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\" + dll, lantern + L"\\" + dll));
  }
  const std::wstring outbox = scratch_.Child(L"outbox.jsonl");
  ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", outbox.c_str());
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(lantern));
  const auto has = [](const std::vector<std::string>& lines, const std::string& pair) {
    for (const std::string& line : lines) {
      if (line.find(pair) != std::string::npos) return true;
    }
    return false;
  };

  // A held file registered in place, and its directory registered too.
  size_t from = oku::test::ReadFileBytes(outbox).size();
  const std::wstring busy = scratch_.Child(L"events_busy");
  ::CreateDirectoryW(busy.c_str(), nullptr);
  oku::test::WriteFileBytes(busy + L"\\held.dat", "x");
  {
    FileLocker locker(busy + L"\\held.dat", L"noshare");
    ASSERT_TRUE(locker.holding());
    EXPECT_TRUE(RemoveDirectoryTree(busy));
  }
  std::string text = oku::test::ReadFileBytes(outbox);
  EXPECT_TRUE(has(oku::test::OutboxEventLines(text, "uninstall_delete_file_done", from), "[\"scheduled_reboot\",\"true\"]"));
  EXPECT_TRUE(has(oku::test::OutboxEventLines(text, "uninstall_delete_dir_done", from), "[\"scheduled_reboot\",\"true\"]"));

  // Restart deletions refused: the file fails with the system's error, the directory with schedule_failed.
  from = text.size();
  const std::wstring refused = scratch_.Child(L"events_refused");
  ::CreateDirectoryW(refused.c_str(), nullptr);
  oku::test::WriteFileBytes(refused + L"\\held.dat", "x");
  {
    FileLocker locker(refused + L"\\held.dat", L"noshare");
    ASSERT_TRUE(locker.holding());
    SetRebootDeleteHookForTesting(&RefuseRestartDeletion);
    EXPECT_FALSE(RemoveDirectoryTree(refused));
    SetRebootDeleteHookForTesting(nullptr);
  }
  text = oku::test::ReadFileBytes(outbox);
  EXPECT_TRUE(has(oku::test::OutboxEventLines(text, "uninstall_delete_file_fail", from), "[\"error_code\",\"5\"]"));
  EXPECT_TRUE(has(oku::test::OutboxEventLines(text, "uninstall_delete_dir_fail", from), "[\"error\",\"schedule_failed\"]"));

  // A directory that cannot be listed.
  from = text.size();
  EXPECT_FALSE(RemoveDirectoryTree(scratch_.Child(L"events_absent")));
  text = oku::test::ReadFileBytes(outbox);
  EXPECT_TRUE(has(oku::test::OutboxEventLines(text, "uninstall_delete_dir_fail", from), "[\"error\",\"find_failed\"]"));

  reporter.Uninit();
  ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", nullptr);
}

TEST_F(DirectoryTree, MissingDirectoryIsAFindFailure) {
  EXPECT_FALSE(RemoveDirectoryTree(scratch_.Child(L"absent")));
  EXPECT_NE(Log().find(L"Failed to find files in directory: " + scratch_.Child(L"absent")), std::wstring::npos);
}

}  // namespace

namespace {

// An installation down to what a failed component uninstall leaves: uninstall\OkuUninstall.exe
// and <pv>\Installer\setup.exe.
class BareState : public RobustDelete {
 protected:
  static constexpr wchar_t kPv[] = L"2.0.0.1";
  std::wstring MakeInstallation(const std::wstring& name) {
    const std::wstring root = scratch_.Child(name);
    for (const std::wstring& folder : {root, root + L"\\uninstall", root + L"\\" + kPv, root + L"\\" + kPv + L"\\Installer"}) {
      ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    oku::test::WriteFileBytes(root + L"\\uninstall\\OkuUninstall.exe", "uninstaller");
    oku::test::WriteFileBytes(root + L"\\" + kPv + L"\\Installer\\setup.exe", "setup");
    return root;
  }
};

TEST_F(BareState, InstallerLeftoversAndRestartDeletionsDoNotCountOtherFilesDo) {
  const struct {
    const char* name;
    std::vector<std::wstring> topFiles;
    bool bare;
  } cases[] = {
      {"nothing else", {}, true},
      {"installer leftovers", {L"oku_install.log", L"MINI_INSTALLER.EXE", L"oku_install.4242.log", L"oku_install.previous.log"}, true},
      {"a user's file", {L"notes.txt"}, false},
      {"look-alike log names", {L"oku_install.12a.log"}, false},
      {"look-alike without number", {L"oku_install..log"}, false},
  };
  int index = 0;
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const std::wstring root = MakeInstallation(L"bare" + std::to_wstring(index++));
    for (const std::wstring& file : row.topFiles) oku::test::WriteFileBytes(root + L"\\" + file, "x");
    EXPECT_EQ(IsBareInstallState(root), row.bare);
  }

  // A file held open in the version folder that is already registered for deletion at restart.
  const std::wstring root = MakeInstallation(L"held");
  const std::wstring held = root + L"\\" + kPv + L"\\chrome.dll";
  oku::test::WriteFileBytes(held, "held");
  EXPECT_FALSE(IsBareInstallState(root));
  ASSERT_TRUE(::MoveFileExW(held.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(IsBareInstallState(root));
  EXPECT_NE(Log().find(L"Ignoring entry scheduled for deletion on reboot: " + held), std::wstring::npos);
}

TEST(InstallerLeftoverNames, OnlyTheInstallersOwnFiles) {
  for (const wchar_t* name : {L"oku_install.log", L"Oku_Install.LOG", L"mini_installer.exe", L"oku_install.previous.log",
                              L"oku_install.1.log", L"oku_install.4294967295.log"}) {
    EXPECT_TRUE(IsInstallerLeftoverName(name)) << oku::Utf8FromWide(name);
  }
  for (const wchar_t* name : {L"oku_install.log.bak", L"oku_install.-1.log", L"oku_install..log", L"oku_install.log2",
                              L"mini_installer.exe.old", L"setup.exe", L"oku_uninstall.log", L""}) {
    EXPECT_FALSE(IsInstallerLeftoverName(name)) << oku::Utf8FromWide(name);
  }
}

// A link used as the version folder or as its Installer folder is never listed or deleted
// through: the cleanup after a failed component uninstall leaves the link target's files alone.
TEST_F(BareState, LinkInTheCheckedTreeIsNotBareAndItsTargetSurvivesTheCleanup) {
  const std::wstring outside = scratch_.Child(L"users_folder");
  ::CreateDirectoryW(outside.c_str(), nullptr);
  ::CreateDirectoryW((outside + L"\\Installer").c_str(), nullptr);
  oku::test::WriteFileBytes(outside + L"\\Installer\\setup.exe", "a user's setup.exe");
  oku::test::WriteFileBytes(outside + L"\\setup.exe", "another user's setup.exe");

  const struct {
    const char* name;
    std::wstring linkInside;  // relative to the installation
    std::wstring target;
    std::wstring logged;
  } cases[] = {
      {"version folder", kPv, outside, L"Found link in root directory, terminating check early: " + std::wstring(kPv)},
      {"Installer folder", std::wstring(kPv) + L"\\Installer", outside,
       L"Found link in " + std::wstring(kPv) + L", terminating check early: Installer"},
  };
  int index = 0;
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    const std::wstring root = MakeInstallation(L"linked" + std::to_wstring(index++));
    oku::test::RemoveTree(root + L"\\" + row.linkInside);
    ASSERT_TRUE(oku::test::MakeUnixSymlink(row.target, root + L"\\" + row.linkInside));
    EXPECT_FALSE(IsBareInstallState(root));
    EXPECT_NE(Log().find(row.logged), std::wstring::npos);
    CleanupInstallDirectory(root, kPv, ChildProcessDeleter());
    EXPECT_EQ(oku::test::ReadFileBytes(outside + L"\\Installer\\setup.exe"), "a user's setup.exe");
    EXPECT_EQ(oku::test::ReadFileBytes(outside + L"\\setup.exe"), "another user's setup.exe");
    oku::test::RemoveUnixSymlink(root + L"\\" + row.linkInside);
  }
}

}  // namespace

namespace {

TEST_F(BareState, SelfDeleteWaitsOnlyForTheUninstallFolderLeftoversAndRestartDeletions) {
  const std::wstring root = scratch_.Child(L"selfdelete");
  ::CreateDirectoryW(root.c_str(), nullptr);
  ::CreateDirectoryW((root + L"\\UNINSTALL").c_str(), nullptr);
  EXPECT_TRUE(NeedsSelfDelete(root));
  oku::test::WriteFileBytes(root + L"\\oku_install.log", "log");
  oku::test::WriteFileBytes(root + L"\\oku_install.77.log", "log");
  EXPECT_TRUE(NeedsSelfDelete(root));

  // A held file and its folder, both registered for deletion at restart, go at the restart.
  const std::wstring version = root + L"\\" + kPv;
  ::CreateDirectoryW(version.c_str(), nullptr);
  oku::test::WriteFileBytes(version + L"\\chrome.dll", "held");
  EXPECT_FALSE(NeedsSelfDelete(root));
  ASSERT_TRUE(::MoveFileExW((version + L"\\chrome.dll").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_FALSE(NeedsSelfDelete(root)) << "the folder itself is not registered yet";
  ASSERT_TRUE(::MoveFileExW(version.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_TRUE(NeedsSelfDelete(root));

  // Anything else keeps the directory: a user's file, or a link (never removed through).
  oku::test::WriteFileBytes(root + L"\\notes.txt", "mine");
  EXPECT_FALSE(NeedsSelfDelete(root));
  ::DeleteFileW((root + L"\\notes.txt").c_str());
  const std::wstring outside = scratch_.Child(L"outside_selfdelete");
  ::CreateDirectoryW(outside.c_str(), nullptr);
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, root + L"\\linked"));
  EXPECT_FALSE(NeedsSelfDelete(root));
  oku::test::RemoveUnixSymlink(root + L"\\linked");
  EXPECT_TRUE(NeedsSelfDelete(root));

  // A file named like the folder is not the folder.
  const std::wstring fileNamed = scratch_.Child(L"selfdelete_file");
  ::CreateDirectoryW(fileNamed.c_str(), nullptr);
  oku::test::WriteFileBytes(fileNamed + L"\\uninstall", "not a folder");
  EXPECT_FALSE(NeedsSelfDelete(fileNamed));
}

// The delayed removal as the uninstaller's copy runs it (parent id 0: no process to wait for): a
// link inside "uninstall" is never walked through, and a directory that still holds a version
// folder is left alone, link and all. The copy has itself deleted afterwards. (The plain removal
// is part of every end-to-end uninstall.)
TEST_F(BareState, DelayedRemovalNeverReachesThroughALink) {
  const std::wstring outside = scratch_.Child(L"outside_remover");
  ::CreateDirectoryW(outside.c_str(), nullptr);
  ASSERT_TRUE(oku::test::WriteFileBytes(outside + L"\\canary.txt", "keep"));
  const struct {
    const char* label;
    const wchar_t* link;  // relative to the directory
    bool versionFolder;
  } cases[] = {
      {"link inside uninstall", L"uninstall\\linked", false},
      {"link inside the version folder", L"2.0.0.1\\linked", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::wstring root = scratch_.Child(L"remover" + std::to_wstring(n));
    ::CreateDirectoryW(root.c_str(), nullptr);
    ::CreateDirectoryW((root + L"\\uninstall").c_str(), nullptr);
    oku::test::WriteFileBytes(root + L"\\uninstall\\OkuUninstall.exe", "uninstaller");
    oku::test::WriteFileBytes(root + L"\\oku_install.log", "log");
    if (c.versionFolder) ::CreateDirectoryW((root + L"\\" + kPv).c_str(), nullptr);
    ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, root + L"\\" + c.link));

    const std::wstring copy = scratch_.Child(L"remover_copy" + std::to_wstring(n++) + L".exe");
    ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\OkuUninstall.exe", copy));
    const oku::test::ChildResult run =
        oku::test::RunChild(L"\"" + copy + L"\" --remove-directory-after-exit=0 \"" + root + L"\"", 60000);
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut);
    EXPECT_TRUE(oku::FileExists(outside + L"\\canary.txt"));
    EXPECT_EQ(oku::test::ReadFileBytes(outside + L"\\canary.txt"), "keep");
    EXPECT_EQ(run.exitCode == 0, !oku::PathExists(root)) << run.exitCode;
    if (c.versionFolder) {
      EXPECT_EQ(run.exitCode, 1u);
      EXPECT_TRUE(oku::FileExists(root + L"\\uninstall\\OkuUninstall.exe"));
    }
    bool copyGone = false;
    for (int i = 0; i < 200 && !copyGone; ++i) {
      copyGone = !oku::PathExists(copy);
      if (!copyGone) ::Sleep(50);
    }
    EXPECT_TRUE(copyGone) << "the copy has itself deleted";
    oku::test::RemoveUnixSymlink(root + L"\\" + c.link);
  }
}

TEST_F(BareState, DelayedRemovalTakesOnlyAPlainExistingDirectory) {
  const std::wstring root = scratch_.Child(L"plain dir & (x86) %USERNAME% !x! ^ 欧库");
  ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
  EXPECT_EQ(SelfDeleteRefusal(root), L"");
  const std::wstring outside = scratch_.Child(L"outside_refusal");
  ::CreateDirectoryW(outside.c_str(), nullptr);
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, scratch_.Child(L"link_refusal")));
  const struct {
    std::wstring path;
  } refused[] = {
      {L""},
      {L"C:\\"},
      {L"C:"},
      {L"relative\\dir"},
      {root + L"\\"},
      {root + L"\\..\\x"},
      {root + L"\\.\\x"},
      {L"C:/Windows"},
      {scratch_.Child(L"absent")},
      {scratch_.Child(L"link_refusal")},
      {root + L"\ttab"},
  };
  for (const auto& row : refused) {
    EXPECT_NE(SelfDeleteRefusal(row.path), L"") << oku::Utf8FromWide(row.path);
  }
  oku::test::RemoveUnixSymlink(scratch_.Child(L"link_refusal"));
  // The removal command accepts exactly the switch and one directory.
  EXPECT_TRUE(IsDirectoryRemovalCommand({L"--remove-directory-after-exit=42", root}));
  EXPECT_FALSE(IsDirectoryRemovalCommand({L"--remove-directory-after-exit=42"}));
  EXPECT_FALSE(IsDirectoryRemovalCommand({L"--force", root}));
  EXPECT_FALSE(IsDirectoryRemovalCommand({L"--remove-directory-after-exit=42", root, L"extra"}));
}

}  // namespace
