// The child-process deleters with Wine's own cmd.exe and its powershell.exe stub (which exits 0
// and does nothing: the "reported success but target still exists" path), hostile file names,
// children that hang, the upward climb, the bare-installation table, the cleanup and the
// product's registry keys.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/paths.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"
#include "uninstall/robust_delete.h"

namespace {

using oku::test::FileLocker;

class ChildDeleter : public testing::Test {
 protected:
  void SetUp() override { oku::test::OpenTestLog(logs_.path(), L"children.log"); }
  void TearDown() override {
    SetRebootDeleteHookForTesting(nullptr);
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    oku::test::ForgetPendingOperations(L"okutest_");
    oku::test::ForgetPendingOperations(L"oku_del_");
  }
  std::wstring Log() const { return oku::test::ReadTestLog(logs_.Child(L"children.log")); }
  std::wstring MakeFile(const std::wstring& path) {
    EXPECT_TRUE(oku::test::WriteFileBytes(path, "x")) << testing::PrintToString(path);
    return path;
  }

  oku::test::ScratchDirectory logs_{L"children_logs"};
  oku::test::ScratchDirectory scratch_{L"children"};
  ChildProcessDeleter deleter_;
};

TEST_F(ChildDeleter, HostileNamesDeleteExactlyThemselves) {
  const std::wstring folder = scratch_.Child(L"names");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  // Keep the folder non-empty so that the upward climb stays inside it.
  MakeFile(folder + L"\\keep.txt");
  const wchar_t* hostile[] = {
      L"it's & del victim.txt",  L"a^b;c$d.txt",           L"x' ; Remove-Item victim.txt ; '.txt",
      L"$(Remove-Item victim.txt).txt", L"(sub) & rem ^& del victim.txt", L"with  two  blanks.txt",
      L"[v]ictim.txt",
  };
  for (const wchar_t* name : hostile) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    const std::wstring victim = MakeFile(folder + L"\\victim.txt");
    const std::wstring path = MakeFile(folder + L"\\" + name);
    EXPECT_TRUE(deleter_.DeleteFileByChildProcess(path));
    EXPECT_FALSE(oku::PathExists(path));
    EXPECT_TRUE(oku::FileExists(victim));
  }
  EXPECT_TRUE(oku::FileExists(folder + L"\\keep.txt"));
  EXPECT_NE(Log().find(L"Target deletion verified: "), std::wstring::npos);
}

TEST_F(ChildDeleter, NameCmdCannotCarryGoesToPowerShellOnly) {
  const std::wstring folder = scratch_.Child(L"percent");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring victim = MakeFile(folder + L"\\victim.txt");
  const std::wstring path = MakeFile(folder + L"\\%TEMP% & del victim.txt");
  // Wine's PowerShell does nothing: the file stays and the step fails honestly.
  EXPECT_FALSE(deleter_.DeleteFileByChildProcess(path));
  EXPECT_TRUE(oku::FileExists(path));
  EXPECT_TRUE(oku::FileExists(victim));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Skipping cmd.exe: the path cannot be passed to it safely: " + path), std::wstring::npos);
  EXPECT_EQ(log.find(L"Executing command: cmd.exe"), std::wstring::npos);
  EXPECT_NE(log.find(L"Executing PowerShell command: powershell.exe -Command \"Remove-Item -LiteralPath '" + path +
                     L"' -Force\""),
            std::wstring::npos);
  EXPECT_NE(log.find(L"PowerShell process reported success but target still exists: " + path), std::wstring::npos);
  EXPECT_NE(log.find(L"All multi-process delete file methods failed for: " + path), std::wstring::npos);
}

TEST_F(ChildDeleter, LockedFileFailsBothChildrenAndIsVerified) {
  const std::wstring path = MakeFile(scratch_.Child(L"held.dat"));
  FileLocker locker(path, L"noshare");
  ASSERT_TRUE(locker.holding());
  EXPECT_FALSE(deleter_.DeleteFileByChildProcess(path));
  EXPECT_TRUE(oku::FileExists(path));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Executing command: cmd.exe /C del /F /Q \"" + path + L"\""), std::wstring::npos);
  EXPECT_NE(log.find(L"Child process reported success but target still exists: " + path), std::wstring::npos);
  EXPECT_NE(log.find(L"PowerShell process reported success but target still exists: " + path), std::wstring::npos);
}

TEST_F(ChildDeleter, DirectoryIsNeverDeletedAsAFile) {
  const std::wstring folder = scratch_.Child(L"dir-as-file");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring inside = MakeFile(folder + L"\\inside.txt");
  EXPECT_FALSE(deleter_.DeleteFileByChildProcess(folder));
  EXPECT_TRUE(oku::FileExists(inside));
}

TEST_F(ChildDeleter, HangingChildIsTerminatedAndPowerShellTriedNext) {
  const std::wstring hang = L"\"" + oku::test::LockfileExe() + L"\" --timeout 120000";
  const std::wstring target = MakeFile(scratch_.Child(L"target.txt"));
  EXPECT_EQ(deleter_.RunHiddenProcess(hang, 500, L"delete file"), -1);
  EXPECT_NE(Log().find(L"Child process timed out, terminating it"), std::wstring::npos);

  oku::test::OpenTestLog(logs_.path(), L"children.log");
  EXPECT_FALSE(deleter_.RunDeletionCommands(hang, hang, target, 500, L"delete file"));
  const std::wstring log = Log();
  EXPECT_EQ(oku::test::CountOccurrences(log, L"Child process timed out, terminating it"), 2);
  EXPECT_LT(log.find(L"Child process timed out"), log.find(L"Trying PowerShell delete file method"));
  EXPECT_EQ(log.find(L"failed with exit code"), std::wstring::npos);
  EXPECT_TRUE(oku::FileExists(target));
}

TEST_F(ChildDeleter, ExitCodesAndStartFailures) {
  EXPECT_EQ(deleter_.RunHiddenProcess(L"cmd.exe /C exit 7", 10000, L"delete file"), 7);
  EXPECT_EQ(deleter_.RunHiddenProcess(scratch_.Child(L"missing.exe"), 10000, L"delete file"), -1);
  EXPECT_NE(Log().find(L"Failed to create child process for delete file, error: "), std::wstring::npos);
}

// A "cmd.exe" in the current directory (searched before the system directory) is never started.
TEST_F(ChildDeleter, PlantedInterpreterInTheCurrentDirectoryIsNotRun) {
  const std::wstring planted = scratch_.Child(L"cmd.exe");
  ASSERT_TRUE(::CopyFileW(oku::test::LockfileExe().c_str(), planted.c_str(), FALSE));
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ::SetCurrentDirectoryW(scratch_.path().c_str());
  const int code = deleter_.RunHiddenProcess(L"cmd.exe /C exit 7", 10000, L"delete file");
  ::SetCurrentDirectoryW(previous);
  EXPECT_EQ(code, 7) << "the system's cmd.exe ran, not the planted one";
}

TEST_F(ChildDeleter, ClimbRemovesEmptiedFoldersAndStopsAtTheInstallation) {
  const std::wstring install = scratch_.Child(L"install");
  for (const wchar_t* sub : {L"", L"\\uninstall", L"\\147.0.7731.5020", L"\\147.0.7731.5020\\Installer"}) {
    ::CreateDirectoryW((install + sub).c_str(), nullptr);
  }
  MakeFile(install + L"\\uninstall\\OkuUninstall.exe");
  const std::wstring setup = MakeFile(install + L"\\147.0.7731.5020\\Installer\\setup.exe");

  EXPECT_TRUE(deleter_.DeleteFileByChildProcess(setup));
  EXPECT_FALSE(oku::PathExists(install + L"\\147.0.7731.5020"));
  EXPECT_TRUE(oku::FileExists(install + L"\\uninstall\\OkuUninstall.exe"));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Successfully deleted empty parent directory: " + install + L"\\147.0.7731.5020\\Installer"),
            std::wstring::npos);
  EXPECT_NE(log.find(L"Successfully deleted empty parent directory: " + install + L"\\147.0.7731.5020"),
            std::wstring::npos);
  EXPECT_NE(log.find(L"Parent directory is not empty, found: uninstall"), std::wstring::npos);
  EXPECT_NE(log.find(L"Parent directory is not empty, skipping deletion: " + install), std::wstring::npos);
}

// ---- bare state and cleanup ----

struct Layout {
  const char* label;
  std::vector<std::wstring> directories;
  std::vector<std::wstring> files;
  bool bare;
  const wchar_t* reason;
};

void Build(const std::wstring& root, const Layout& layout) {
  ::CreateDirectoryW(root.c_str(), nullptr);
  for (const auto& d : layout.directories) ::CreateDirectoryW((root + L"\\" + d).c_str(), nullptr);
  for (const auto& f : layout.files) oku::test::WriteFileBytes(root + L"\\" + f, "x");
}

TEST_F(ChildDeleter, BareStateTable) {
  const std::wstring v = L"147.0.7731.5020";
  const std::wstring bareDirs[] = {L"uninstall", v, v + L"\\Installer"};
  const Layout layouts[] = {
      {"bare", {bareDirs[0], bareDirs[1], bareDirs[2]}, {v + L"\\Installer\\setup.exe"}, true, L"All conditions met:"},
      {"file at top", {bareDirs[0], bareDirs[1], bareDirs[2]}, {v + L"\\Installer\\setup.exe", L"oku.compass.exe"}, false,
       L"Found file in root directory, terminating check early: oku.compass.exe"},
      {"third folder", {bareDirs[0], bareDirs[1], bareDirs[2], L"okuinfo"}, {v + L"\\Installer\\setup.exe"}, false,
       L"Found more than 2 folders, terminating check early"},
      {"only uninstall", {L"uninstall"}, {}, false, L"Expected exactly 2 folders, but found 1 folders"},
      {"Uninstall spelled otherwise", {L"Uninstall", v, v + L"\\Installer"}, {v + L"\\Installer\\setup.exe"}, false,
       L"Uninstall folder not found"},
      {"file in version folder", {bareDirs[0], bareDirs[1], bareDirs[2]},
       {v + L"\\Installer\\setup.exe", v + L"\\resources.pak"}, false, L"Found more than 1 item in " },
      {"other folder in version folder", {bareDirs[0], bareDirs[1], v + L"\\Locales"}, {}, false,
       L"Found unexpected folder in 147.0.7731.5020: Locales"},
      {"installer spelled otherwise", {bareDirs[0], bareDirs[1], v + L"\\installer"}, {v + L"\\installer\\setup.exe"},
       false, L"Found unexpected folder in 147.0.7731.5020: installer"},
      {"empty version folder", {bareDirs[0], bareDirs[1]}, {}, false,
       L"Expected exactly 1 item in 147.0.7731.5020, but found 0 items"},
      {"Setup.exe spelled otherwise", {bareDirs[0], bareDirs[1], bareDirs[2]}, {v + L"\\Installer\\Setup.exe"}, false,
       L"Found unexpected file in Installer folder: Setup.exe"},
      {"second file in Installer", {bareDirs[0], bareDirs[1], bareDirs[2]},
       {v + L"\\Installer\\setup.exe", v + L"\\Installer\\setup.log"}, false,
       L"Found more than 1 item in Installer folder, terminating check early"},
      {"folder in Installer", {bareDirs[0], bareDirs[1], bareDirs[2], v + L"\\Installer\\x"}, {}, false,
       L"Found unexpected folder in Installer folder: x"},
      {"empty Installer", {bareDirs[0], bareDirs[1], bareDirs[2]}, {}, false,
       L"Expected exactly 1 item in Installer folder, but found 0 items"},
  };
  int n = 0;
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.label);
    oku::test::OpenTestLog(logs_.path(), L"children.log");
    const std::wstring root = scratch_.Child(L"layout" + std::to_wstring(n++));
    Build(root, layout);
    std::wstring folder;
    EXPECT_EQ(IsBareInstallState(root, &folder), layout.bare);
    EXPECT_NE(Log().find(layout.reason), std::wstring::npos);
    if (layout.bare) {
      EXPECT_EQ(folder, v);
    }
  }
  EXPECT_FALSE(IsBareInstallState(L""));
  EXPECT_FALSE(IsBareInstallState(scratch_.Child(L"absent")));
}

TEST_F(ChildDeleter, CleanupRemovesSetupAndTheVersionFolderOnly) {
  const std::wstring v = L"147.0.7731.5020";
  const std::wstring root = scratch_.Child(L"cleanup");
  Build(root, {"bare", {L"uninstall", v, v + L"\\Installer"}, {v + L"\\Installer\\setup.exe"}, true, L""});
  oku::test::WriteFileBytes(root + L"\\uninstall\\x.txt", "x");  // not looked at: a folder's content
  CleanupInstallDirectory(root, v, deleter_);
  EXPECT_FALSE(oku::PathExists(root + L"\\" + v));
  EXPECT_TRUE(oku::FileExists(root + L"\\uninstall\\x.txt"));
  EXPECT_NE(Log().find(L"Successfully deleted setup.exe: " + root + L"\\" + v + L"\\Installer\\setup.exe"),
            std::wstring::npos);
  EXPECT_NE(Log().find(L"Successfully deleted version directory: " + root + L"\\" + v), std::wstring::npos);
}

TEST_F(ChildDeleter, CleanupOfABusySetupMovesItAside) {
  const std::wstring v = L"147.0.7731.5020";
  const std::wstring root = scratch_.Child(L"busy-cleanup");
  Build(root, {"bare", {L"uninstall", v, v + L"\\Installer"}, {}, true, L""});
  const std::wstring setup = root + L"\\" + v + L"\\Installer\\setup.exe";
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), setup));
  FileLocker locker(setup, L"image");
  ASSERT_TRUE(locker.holding());
  CleanupInstallDirectory(root, v, deleter_);
  EXPECT_FALSE(oku::PathExists(root + L"\\" + v));
  EXPECT_NE(Log().find(L"Successfully moved setup.exe to temp and scheduled for deletion"), std::wstring::npos);
}

BOOL RefuseRestartDeletion(const wchar_t* /*path*/) {
  ::SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

// Restart deletions refused (real Windows without administrator rights): the busy setup.exe is
// moved out of the installation but stays in %TEMP%. The log says so, no child process is sent
// after a path that no longer exists, and the version folder still goes.
TEST_F(ChildDeleter, CleanupOfABusySetupWithRestartDeletionRefusedTellsWhereItWent) {
  const std::wstring v = L"147.0.7731.5020";
  const std::wstring root = scratch_.Child(L"refused-cleanup");
  Build(root, {"bare", {L"uninstall", v, v + L"\\Installer"}, {}, true, L""});
  const std::wstring setup = root + L"\\" + v + L"\\Installer\\setup.exe";
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), setup));
  std::wstring moved;
  {
    FileLocker locker(setup, L"image");
    ASSERT_TRUE(locker.holding());
    SetRebootDeleteHookForTesting(&RefuseRestartDeletion);
    CleanupInstallDirectory(root, v, deleter_);
    SetRebootDeleteHookForTesting(nullptr);
    const std::wstring log = Log();
    const std::wstring marker = L"Successfully moved file to temp: ";
    const size_t at = log.find(marker);
    ASSERT_NE(at, std::wstring::npos) << oku::Utf8FromWide(log);
    moved = log.substr(at + marker.size(), log.find_first_of(L"\r\n", at) - at - marker.size());
    EXPECT_TRUE(oku::FileExists(moved));
  }
  ::DeleteFileW(moved.c_str());
  EXPECT_FALSE(oku::PathExists(root + L"\\" + v));
  EXPECT_TRUE(oku::PathExists(root + L"\\uninstall"));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Moved setup.exe to temp, but the moved file could be neither deleted nor scheduled for deletion"),
            std::wstring::npos);
  EXPECT_EQ(log.find(L"Failed to move setup.exe to temp directory"), std::wstring::npos);
  EXPECT_EQ(log.find(L"Executing command: "), std::wstring::npos);
  EXPECT_EQ(log.find(L"Successfully deleted setup.exe using multi-process deletion"), std::wstring::npos);
  EXPECT_NE(log.find(L"Successfully deleted version directory: " + root + L"\\" + v), std::wstring::npos);
}

// Every rung fails (the move has nowhere to go, restart deletions are refused, the children cannot
// delete a running image): setup.exe and the version folder stay, and the log says so.
TEST_F(ChildDeleter, CleanupWhereEveryMethodFailsKeepsTheVersionFolder) {
  const std::wstring v = L"147.0.7731.5020";
  const std::wstring root = scratch_.Child(L"stuck-cleanup");
  Build(root, {"bare", {L"uninstall", v, v + L"\\Installer"}, {}, true, L""});
  const std::wstring setup = root + L"\\" + v + L"\\Installer\\setup.exe";
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), setup));
  FileLocker locker(setup, L"image");
  ASSERT_TRUE(locker.holding());
  ::SetEnvironmentVariableW(L"TMP", scratch_.Child(L"no-such-temp").c_str());
  SetRebootDeleteHookForTesting(&RefuseRestartDeletion);
  CleanupInstallDirectory(root, v, deleter_);
  SetRebootDeleteHookForTesting(nullptr);
  ::SetEnvironmentVariableW(L"TMP", nullptr);
  EXPECT_TRUE(oku::FileExists(setup));
  const std::wstring log = Log();
  size_t at = 0;
  for (const std::wstring& line : {std::wstring(L"Failed to move setup.exe to temp directory, trying multi-process deletion"),
                                   L"All multi-process delete file methods failed for: " + setup,
                                   L"All deletion methods failed for setup.exe: " + setup,
                                   std::wstring(L"Skipping version directory deletion because setup.exe deletion failed")}) {
    const size_t found = log.find(line, at);
    ASSERT_NE(found, std::wstring::npos) << oku::Utf8FromWide(line) << "\n" << oku::Utf8FromWide(log);
    at = found;
  }
  EXPECT_EQ(log.find(L"Attempting to delete version directory: "), std::wstring::npos);
}

// rmdir removes a whole tree; a directory link is removed as a link (or left), its target never
// handed to a command interpreter.
TEST_F(ChildDeleter, DirectoryByChildProcessRemovesATreeButNeverEntersALink) {
  const std::wstring tree = scratch_.Child(L"tree");
  for (const wchar_t* sub : {L"", L"\\a", L"\\a\\b"}) ::CreateDirectoryW((tree + sub).c_str(), nullptr);
  MakeFile(tree + L"\\a\\b\\deep.txt");
  MakeFile(tree + L"\\top.txt");
  EXPECT_TRUE(deleter_.DeleteDirectoryByChildProcess(tree));
  EXPECT_FALSE(oku::PathExists(tree));
  EXPECT_NE(Log().find(L"Executing command: cmd.exe /C rmdir /S /Q \"" + tree + L"\""), std::wstring::npos);
  EXPECT_NE(Log().find(L"Target deletion verified: " + tree), std::wstring::npos);

  oku::test::OpenTestLog(logs_.path(), L"children.log");
  const std::wstring outside = scratch_.Child(L"outside");
  ::CreateDirectoryW(outside.c_str(), nullptr);
  const std::wstring canary = MakeFile(outside + L"\\canary.txt");
  const std::wstring link = scratch_.Child(L"linked");
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, link));
  deleter_.DeleteDirectoryByChildProcess(link);
  EXPECT_TRUE(oku::FileExists(canary));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"Removing directory link without entering it: " + link), std::wstring::npos);
  EXPECT_EQ(log.find(L"Executing command: "), std::wstring::npos);
  EXPECT_EQ(log.find(L"Executing PowerShell command: "), std::wstring::npos);
  oku::test::RemoveUnixSymlink(link);
}

TEST_F(ChildDeleter, CleanupLeavesAVersionFolderPvDoesNotName) {
  const std::wstring root = scratch_.Child(L"mismatch");
  Build(root, {"bare", {L"uninstall", L"9.9", L"9.9\\Installer"}, {L"9.9\\Installer\\setup.exe"}, true, L""});
  for (const wchar_t* pv : {L"147.0.7731.5020", L"..\\..", L""}) {
    CleanupInstallDirectory(root, pv, deleter_);
    EXPECT_TRUE(oku::FileExists(root + L"\\9.9\\Installer\\setup.exe"));
  }
  EXPECT_NE(Log().find(L"Version folder 9.9 does not match pv 147.0.7731.5020, skipping cleanup"), std::wstring::npos);

  oku::test::WriteFileBytes(root + L"\\stray.txt", "x");
  CleanupInstallDirectory(root, L"9.9", deleter_);
  EXPECT_TRUE(oku::FileExists(root + L"\\9.9\\Installer\\setup.exe"));
  EXPECT_NE(Log().find(L"Installation directory contains other files, skipping cleanup"), std::wstring::npos);
}

}  // namespace
