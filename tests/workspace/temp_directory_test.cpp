// TempDirectoryManager against the real environment of the Wine process: TMP/TEMP, the local
// application data folder, the executable's directory, and (Fixture*) drives and links made on
// the Linux side by with-drives.sh.
#include "workspace/temp_directory_manager.h"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "tests/support/test_support.h"

namespace {

using oku::test::ReadFileBytes;
using oku::test::RemoveTree;
using oku::test::ScratchDirectory;
using oku::test::WriteFileBytes;

constexpr std::uint64_t kRequired = 157286400;  // what both programs ask for
constexpr std::uint64_t kMargin = 52428800;

std::wstring Pid() { return std::to_wstring(::GetCurrentProcessId()); }

std::optional<std::wstring> GetEnv(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 32768);
  if (n == 0 || n >= 32768) return std::nullopt;
  return std::wstring(buffer, n);
}

// Points TMP and TEMP of this process at value for the scope (GetTempPathW reads TMP first).
class TempEnvironment {
 public:
  explicit TempEnvironment(const std::wstring& value) : tmp_(GetEnv(L"TMP")), temp_(GetEnv(L"TEMP")) {
    ::SetEnvironmentVariableW(L"TMP", value.c_str());
    ::SetEnvironmentVariableW(L"TEMP", value.c_str());
  }
  ~TempEnvironment() {
    ::SetEnvironmentVariableW(L"TMP", tmp_ ? tmp_->c_str() : nullptr);
    ::SetEnvironmentVariableW(L"TEMP", temp_ ? temp_->c_str() : nullptr);
  }

 private:
  std::optional<std::wstring> tmp_;
  std::optional<std::wstring> temp_;
};

std::wstring LocalAppData() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path)));
  return path;
}

bool IsHiddenDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_HIDDEN);
}

void MakeTree(const std::wstring& dir) {
  ::CreateDirectoryW(dir.c_str(), nullptr);
  ::CreateDirectoryW((dir + L"\\sub").c_str(), nullptr);
  WriteFileBytes(dir + L"\\a.txt", "12345");
  WriteFileBytes(dir + L"\\sub\\b.txt", "abc");
  WriteFileBytes(dir + L"\\sub\\readonly.txt", "ro");
  ::SetFileAttributesW((dir + L"\\sub\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  ::SetFileAttributesW((dir + L"\\a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
}

// Makes the local-application-data strategy fail for real: "OkuSetup" there becomes a file, so
// its working directory cannot be created. Restored (removed) on destruction.
class BlockedLocalAppData {
 public:
  BlockedLocalAppData() : path_(LocalAppData() + L"\\OkuSetup") {
    RemoveTree(path_);  // leftovers only; the lock wine-user-state keeps other runs away
    EXPECT_TRUE(WriteFileBytes(path_, "not a directory"));
  }
  ~BlockedLocalAppData() { RemoveTree(path_); }

 private:
  std::wstring path_;
};

TEST(TempDirectoryManagerTest, BeforeInitialize) {
  TempDirectoryManager manager;
  EXPECT_EQ(manager.GetTempDirectory(), nullptr);
  EXPECT_EQ(manager.GetLanternDirectory(), nullptr);
  EXPECT_STREQ(manager.GetStrategyName(), L"系统临时目录");
  EXPECT_TRUE(manager.Cleanup());
}

TEST(TempDirectoryManagerTest, SystemTempRecreatesExistingDirectoryAndCleansUp) {
  ScratchDirectory scratch(L"systemtemp");
  TempEnvironment env(scratch.path() + L"\\");
  const std::wstring expected = scratch.Child(L"OkuSetup_" + Pid());
  MakeTree(expected);  // an earlier directory of the same name is replaced, not reused
  {
    TempDirectoryManager manager;
    ASSERT_TRUE(manager.Initialize(kRequired, true));
    EXPECT_STREQ(manager.GetStrategyName(), L"系统临时目录");
    EXPECT_EQ(manager.GetTempDirectory(), expected);
    EXPECT_EQ(manager.GetLanternDirectory(), expected + L"\\lantern");
    EXPECT_TRUE(IsHiddenDirectory(expected));
    EXPECT_TRUE(IsHiddenDirectory(expected + L"\\lantern"));
    EXPECT_FALSE(oku::PathExists(expected + L"\\a.txt"));
    EXPECT_FALSE(oku::PathExists(expected + L"\\sub"));
    EXPECT_FALSE(oku::PathExists(expected + L"\\.writetest_" + Pid()));

    // A second call only warns.
    EXPECT_TRUE(manager.Initialize(1, false));
    EXPECT_EQ(manager.GetTempDirectory(), expected);
    EXPECT_STREQ(manager.GetStrategyName(), L"系统临时目录");
  }
  EXPECT_FALSE(oku::PathExists(expected));
}

TEST(TempDirectoryManagerTest, CleanupKeepsPathsReadable) {
  ScratchDirectory scratch(L"cleanup");
  TempEnvironment env(scratch.path());
  TempDirectoryManager manager;
  ASSERT_TRUE(manager.Initialize(kRequired, false));
  const std::wstring dir = manager.GetTempDirectory();
  WriteFileBytes(dir + L"\\lantern\\lantern_sdk.dll", "x");
  EXPECT_TRUE(manager.Cleanup());
  EXPECT_FALSE(oku::PathExists(dir));
  EXPECT_EQ(manager.GetTempDirectory(), dir);
}

// A system temporary directory that is missing or too long falls through to local app data,
// whose existing directory is reused with its contents.
TEST(TempDirectoryManagerTest, UnusableSystemTempFallsThroughToLocalAppData) {
  const std::wstring missing = L"C:\\oku_missing_" + Pid() + L"\\nested";
  const std::wstring overlong = L"C:\\" + std::wstring(300, L'a');
  const std::wstring fit259 = L"C:\\" + std::wstring(256, L'b');  // fits, but no name fits after it
  for (const std::wstring& tmp : {missing, overlong, fit259}) {
    SCOPED_TRACE(oku::Utf8FromWide(tmp.substr(0, 40)));
    const std::wstring own = LocalAppData() + L"\\OkuSetup\\Temp_" + Pid();
    ASSERT_TRUE(TempDirectoryManager::CreateDirectoryWithParents(own.c_str()));
    ASSERT_TRUE(WriteFileBytes(own + L"\\keep.txt", "kept"));
    {
      TempEnvironment env(tmp);
      TempDirectoryManager manager;
      ASSERT_TRUE(manager.Initialize(kRequired, true));
      EXPECT_STREQ(manager.GetStrategyName(), L"LocalAppData目录");
      EXPECT_EQ(manager.GetTempDirectory(), own);
      EXPECT_EQ(manager.GetLanternDirectory(), own + L"\\lantern");
      EXPECT_EQ(ReadFileBytes(own + L"\\keep.txt"), "kept");
      EXPECT_TRUE(IsHiddenDirectory(own));
      EXPECT_TRUE(IsHiddenDirectory(own + L"\\lantern"));
      EXPECT_FALSE(oku::PathExists(L"C:\\oku_missing_" + Pid()));
    }
    EXPECT_FALSE(oku::PathExists(own));
  }
}

TEST(TempDirectoryManagerTest, FallsThroughToExecutableDirectory) {
  const std::wstring exeTemp = oku::ExecutableDirectory() + L"\\.OkuSetupTemp";
  MakeTree(exeTemp);
  {
    TempEnvironment env(L"C:\\oku_missing_" + Pid());
    BlockedLocalAppData blocked;
    TempDirectoryManager manager;
    ASSERT_TRUE(manager.Initialize(kRequired, false));
    EXPECT_STREQ(manager.GetStrategyName(), L"安装器同目录");
    EXPECT_EQ(manager.GetTempDirectory(), exeTemp);
    EXPECT_TRUE(IsHiddenDirectory(exeTemp + L"\\lantern"));
    EXPECT_FALSE(oku::PathExists(exeTemp + L"\\a.txt"));  // recreated empty
  }
  EXPECT_FALSE(oku::PathExists(exeTemp));
}

TEST(TempDirectoryManagerTest, NoStrategyHasTheSpace) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  // The largest requests must not wrap round when the margin is added.
  for (std::uint64_t required : {max, max - kMargin + 1, max / 2}) {
    TempDirectoryManager manager;
    EXPECT_FALSE(manager.Initialize(required, false));
    EXPECT_EQ(manager.GetTempDirectory(), nullptr);
    EXPECT_EQ(manager.GetLanternDirectory(), nullptr);
    EXPECT_FALSE(oku::PathExists(oku::test::TempDirectory() + L"\\OkuSetup_" + Pid()));
    EXPECT_TRUE(manager.Cleanup());
  }
}

// Identifier of a process other than this one that runs now.
DWORD AnotherRunningProcessId() {
  oku::KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID != 0 && entry.th32ProcessID != ::GetCurrentProcessId()) return entry.th32ProcessID;
  }
  return 0;
}

// Directories of runs that still work are spared: one named after a running process, and one its
// owner holds open (the shared fallback name carries no identifier).
TEST(TempDirectoryManagerTest, WorkingDirectoriesOfRunningProcessesAreSpared) {
  ScratchDirectory scratch(L"running");
  TempEnvironment env(scratch.path());
  const DWORD running = AnotherRunningProcessId();
  ASSERT_NE(running, 0u);
  const std::wstring runningTemp = scratch.Child(L"OkuSetup_" + std::to_wstring(running));
  const std::wstring heldTemp = scratch.Child(L"OkuSetup_999994");
  const std::wstring exeTemp = oku::ExecutableDirectory() + L"\\.OkuSetupTemp";
  MakeTree(runningTemp);
  MakeTree(heldTemp);
  MakeTree(exeTemp);
  {
    TempDirectoryManager owner;  // holds its own working directory like a running installer
    ASSERT_TRUE(owner.Initialize(1024, false));
    oku::FileHandle heldOpen(::CreateFileW(heldTemp.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    oku::FileHandle exeHeldOpen(::CreateFileW(exeTemp.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(heldOpen && exeHeldOpen);
    EXPECT_TRUE(TempDirectoryManager::IsWorkingDirectoryInUse(owner.GetTempDirectory()));
    EXPECT_TRUE(TempDirectoryManager::IsWorkingDirectoryInUse(heldTemp.c_str()));

    TempDirectoryManager other;
    other.CleanupOldTempDirs();
    EXPECT_TRUE(oku::PathExists(runningTemp + L"\\sub\\readonly.txt"));
    EXPECT_TRUE(oku::PathExists(heldTemp + L"\\sub\\readonly.txt"));
    EXPECT_TRUE(oku::PathExists(exeTemp + L"\\sub\\readonly.txt"));
    EXPECT_TRUE(oku::DirectoryExists(owner.GetLanternDirectory()));
    // A run that falls back to the shared name does not take it from the one working in it.
    EXPECT_FALSE(TempDirectoryManager::CreateHiddenDirectory(exeTemp.c_str()));
    EXPECT_TRUE(oku::PathExists(exeTemp + L"\\sub\\readonly.txt"));
  }
  // Released: the next clean-up takes the leftovers (the running process's name stays spared).
  EXPECT_FALSE(TempDirectoryManager::IsWorkingDirectoryInUse(heldTemp.c_str()));
  TempDirectoryManager later;
  later.CleanupOldTempDirs();
  EXPECT_FALSE(oku::PathExists(heldTemp));
  EXPECT_FALSE(oku::PathExists(exeTemp));
  EXPECT_TRUE(oku::PathExists(runningTemp));
  RemoveTree(runningTemp);
}

TEST(TempDirectoryManagerTest, LeftoversOfOtherRunsAreRemovedOwnAreSpared) {
  ScratchDirectory scratch(L"leftovers");
  TempEnvironment env(scratch.path());
  const std::wstring appData = LocalAppData() + L"\\OkuSetup";
  const std::wstring otherTemp = scratch.Child(L"OkuSetup_999991");
  const std::wstring ownTemp = scratch.Child(L"OkuSetup_" + Pid());
  const std::wstring fileTemp = scratch.Child(L"OkuSetup_999992");
  const std::wstring otherApp = appData + L"\\Temp_999993";
  const std::wstring ownApp = appData + L"\\Temp_" + Pid();
  const std::wstring exeTemp = oku::ExecutableDirectory() + L"\\.OkuSetupTemp";
  MakeTree(otherTemp);
  MakeTree(ownTemp);
  ASSERT_TRUE(WriteFileBytes(fileTemp, "a file, not a directory"));
  ASSERT_TRUE(TempDirectoryManager::CreateDirectoryWithParents(ownApp.c_str()));
  MakeTree(otherApp);
  MakeTree(exeTemp);

  TempDirectoryManager manager;
  manager.CleanupOldTempDirs();

  EXPECT_FALSE(oku::PathExists(otherTemp));
  EXPECT_FALSE(oku::PathExists(otherApp));
  EXPECT_FALSE(oku::PathExists(exeTemp));
  EXPECT_TRUE(oku::PathExists(ownTemp + L"\\sub\\readonly.txt"));
  EXPECT_TRUE(oku::DirectoryExists(ownApp));
  EXPECT_TRUE(oku::FileExists(fileTemp));
  RemoveTree(ownTemp);
  RemoveTree(ownApp);
}

TEST(TempDirectoryManagerTest, RecursiveDeletionAndSize) {
  ScratchDirectory scratch(L"recursive");
  const std::wstring tree = scratch.Child(L"tree");
  MakeTree(tree);
  ::SetFileAttributesW((tree + L"\\sub").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(TempDirectoryManager::GetDirectorySize(tree.c_str()), 5u + 3u + 2u);
  EXPECT_TRUE(TempDirectoryManager::DeleteDirectoryRecursive(tree.c_str()));
  EXPECT_FALSE(oku::PathExists(tree));

  EXPECT_FALSE(TempDirectoryManager::DeleteDirectoryRecursive(nullptr));
  EXPECT_FALSE(TempDirectoryManager::DeleteDirectoryRecursive(L""));
  EXPECT_FALSE(TempDirectoryManager::DeleteDirectoryRecursive(scratch.Child(L"absent").c_str()));
  EXPECT_EQ(TempDirectoryManager::GetDirectorySize(scratch.Child(L"absent").c_str()), 0u);
}

// Entries whose full name needs more than 259 characters are left (and reported by the failed
// removal) instead of overflowing the path buffers.
TEST(TempDirectoryManagerTest, OverlongEntriesFailWithoutOverflow) {
  ScratchDirectory scratch(L"overlong");
  const std::wstring top = scratch.Child(L"t");
  ASSERT_TRUE(::CreateDirectoryW(top.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(top + L"\\short.txt", "1234"));
  const std::wstring longName(255, L'n');
  const std::wstring longFile = L"\\\\?\\" + top + L"\\" + longName;
  ASSERT_TRUE(WriteFileBytes(longFile, "123456789"));
  EXPECT_EQ(TempDirectoryManager::GetDirectorySize(top.c_str()), 4u + 9u);  // a file's own size needs no path
  EXPECT_FALSE(TempDirectoryManager::DeleteDirectoryRecursive(top.c_str()));
  EXPECT_FALSE(oku::PathExists(top + L"\\short.txt"));
  EXPECT_TRUE(::DeleteFileW(longFile.c_str()));
  EXPECT_TRUE(::RemoveDirectoryW(top.c_str()));
}

TEST(TempDirectoryManagerTest, WritePermissionTest) {
  ScratchDirectory scratch(L"writetest");
  EXPECT_TRUE(TempDirectoryManager::TestWritePermission(scratch.path().c_str()));
  EXPECT_FALSE(oku::PathExists(scratch.Child(L".writetest_" + Pid())));
  EXPECT_FALSE(TempDirectoryManager::TestWritePermission(scratch.Child(L"absent").c_str()));
}

TEST(TempDirectoryManagerTest, CreateDirectoryWithParents) {
  ScratchDirectory scratch(L"parents");
  const std::wstring deep = scratch.Child(L"a\\b/c\\d");
  EXPECT_TRUE(TempDirectoryManager::CreateDirectoryWithParents(deep.c_str()));
  EXPECT_TRUE(oku::DirectoryExists(scratch.Child(L"a\\b\\c\\d")));
  EXPECT_TRUE(TempDirectoryManager::CreateDirectoryWithParents(deep.c_str()));  // exists: fine
  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"file"), "x"));
  EXPECT_FALSE(TempDirectoryManager::CreateDirectoryWithParents(scratch.Child(L"file\\x").c_str()));
  EXPECT_FALSE(TempDirectoryManager::CreateDirectoryWithParents((L"C:\\" + std::wstring(300, L'x')).c_str()));
}

TEST(TempDirectoryManagerTest, CopyLanternFilesNeedsTwoCopies) {
  ScratchDirectory scratch(L"lanterncopy");
  TempEnvironment env(scratch.path());
  struct Case {
    std::vector<std::wstring> present;
    bool expected;
  };
  const Case cases[] = {
      {{L"lantern_sdk.dll", L"tessel.dll"}, true},
      {{L"tracer_logger.dll", L"dockit.dll", L"client_extension.dll", L"lantern_sdk.dll", L"tessel.dll"}, true},
      {{L"tessel.dll"}, false},
      {{}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.present.size());
    const std::wstring source = scratch.Child(L"version");
    RemoveTree(source);
    ASSERT_TRUE(::CreateDirectoryW(source.c_str(), nullptr));
    for (const std::wstring& name : c.present) ASSERT_TRUE(WriteFileBytes(source + L"\\" + name, oku::Utf8FromWide(name)));

    TempDirectoryManager manager;
    EXPECT_FALSE(manager.CopyLanternFilesFromDirectory(source.c_str()));  // not initialised yet
    ASSERT_TRUE(manager.Initialize(kRequired, false));
    const std::wstring lantern = manager.GetLanternDirectory();
    // A read-only leftover in the target is replaced.
    ASSERT_TRUE(WriteFileBytes(lantern + L"\\tessel.dll", "old"));
    ::SetFileAttributesW((lantern + L"\\tessel.dll").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(manager.CopyLanternFilesFromDirectory(source.c_str()), c.expected);
    for (const std::wstring& name : c.present) {
      EXPECT_EQ(ReadFileBytes(lantern + L"\\" + name), oku::Utf8FromWide(name));
    }
    EXPECT_FALSE(manager.CopyLanternFilesFromDirectory(scratch.Child(L"absent").c_str()));
  }
}

TEST(TempDirectoryManagerTest, CopyFileWithRetryFailsAfterThreeAttempts) {
  ScratchDirectory scratch(L"retry");
  EXPECT_FALSE(TempDirectoryManager::CopyFileWithRetry(scratch.Child(L"absent").c_str(), scratch.Child(L"d").c_str()));
  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"s"), "source"));
  EXPECT_TRUE(TempDirectoryManager::CopyFileWithRetry(scratch.Child(L"s").c_str(), scratch.Child(L"d").c_str()));
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"d")), "source");
}

// The session log of a scope: opened in a directory of its own, read back as messages (the
// line without its time stamp).
class ScopedLog {
 public:
  ScopedLog() { InitLog(dir_.path(), L"workspace.log"); }
  ~ScopedLog() { CloseLogFile(); }
  std::vector<std::wstring> Messages() {
    CloseLogFile();
    std::string bytes = ReadFileBytes(dir_.Child(L"workspace.log"));
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    std::vector<std::wstring> messages;
    const std::wstring text = oku::WideFromUtf8(bytes);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find(L'\n', start);
      if (end == std::wstring::npos) end = text.size();
      std::wstring line = text.substr(start, end - start);
      if (!line.empty() && line.back() == L'\r') line.pop_back();
      messages.push_back(line.size() > 24 ? line.substr(24) : line);  // "yyyy-mm-dd hh:mm:ss.mmm "
      start = end + 1;
    }
    return messages;
  }
  size_t Count(const std::wstring& message) {
    const std::vector<std::wstring> all = Messages();
    return static_cast<size_t>(std::count(all.begin(), all.end(), message));
  }

 private:
  ScratchDirectory dir_{L"workspace_log"};
};

// The destination held open without any sharing: every attempt fails with 32 until the holder
// lets go during a pause; the pauses are 100 ms before the second attempt and 200 ms before the third.
TEST(TempDirectoryManagerTest, CopyFileWithRetryRetriesAfterItsPauses) {
  ScratchDirectory scratch(L"retrypause");
  ScopedLog log;
  struct Case {
    size_t releaseAtPause;  // 0: never
    bool copied;
    std::vector<DWORD> pauses;
  };
  const Case cases[] = {{1, true, {100}}, {2, true, {100, 200}}, {0, false, {100, 200}}};
  const std::wstring source = scratch.Child(L"source.dll");
  const std::wstring destination = scratch.Child(L"destination.dll");
  ASSERT_TRUE(WriteFileBytes(source, "new"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.releaseAtPause);
    ASSERT_TRUE(WriteFileBytes(destination, "old"));
    oku::FileHandle holder(::CreateFileW(destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    std::vector<DWORD> pauses;
    TempDirectoryManager::SetCopyRetryPauseForTesting([&](DWORD ms) {
      pauses.push_back(ms);
      if (pauses.size() == c.releaseAtPause) holder.reset();
    });
    EXPECT_EQ(TempDirectoryManager::CopyFileWithRetry(source.c_str(), destination.c_str()), c.copied);
    TempDirectoryManager::SetCopyRetryPauseForTesting(nullptr);
    holder.reset();
    EXPECT_EQ(pauses, c.pauses);
    EXPECT_EQ(ReadFileBytes(destination), c.copied ? "new" : "old");
  }
  EXPECT_EQ(log.Count(L"    重试复制文件 (第 2 次)..."), 3u);
  EXPECT_EQ(log.Count(L"    重试复制文件 (第 3 次)..."), 2u);
  EXPECT_EQ(log.Count(L"    CopyFile 失败，错误码: 32"), 1u + 2u + 3u);
}

// The local-application-data directory is reused with its contents; when its lantern
// subdirectory cannot be made there (a file of that name), the strategy deletes the whole
// directory again and the next strategy runs.
TEST(TempDirectoryManagerTest, FailedLanternSubdirectoryOfLocalAppDataIsUndone) {
  const std::wstring own = LocalAppData() + L"\\OkuSetup\\Temp_" + Pid();
  ASSERT_TRUE(TempDirectoryManager::CreateDirectoryWithParents(own.c_str()));
  ASSERT_TRUE(WriteFileBytes(own + L"\\keep.txt", "earlier contents"));
  ASSERT_TRUE(WriteFileBytes(own + L"\\lantern", "a file, not a directory"));
  const std::wstring exeTemp = oku::ExecutableDirectory() + L"\\.OkuSetupTemp";
  ScopedLog log;
  {
    TempEnvironment env(L"C:\\oku_missing_" + Pid() + L"\\nested");
    TempDirectoryManager manager;
    ASSERT_TRUE(manager.Initialize(kRequired, false));
    EXPECT_STREQ(manager.GetStrategyName(), L"安装器同目录");
    EXPECT_EQ(manager.GetTempDirectory(), exeTemp);
    EXPECT_FALSE(oku::PathExists(own)) << "deleted with its contents";
  }
  EXPECT_FALSE(oku::PathExists(exeTemp));
  const std::vector<std::wstring> messages = log.Messages();
  const auto warning = std::find(messages.begin(), messages.end(), L"[WARNING]   Lantern子目录创建失败");
  ASSERT_NE(warning, messages.end());
  EXPECT_NE(std::find(warning, messages.end(), L"      [DeleteDirectoryRecursive] 删除: " + own), messages.end());
  EXPECT_NE(std::find(warning, messages.end(), L"尝试策略3: EXE同目录（兜底)"), messages.end());
  EXPECT_NE(std::find(messages.begin(), warning, L"尝试策略2: LocalAppData目录"), warning);
}

// What a fresh run in the system temporary directory logs, in order, from the banner to the
// clean-up.
TEST(TempDirectoryManagerTest, AFreshRunLogsItsStrategyStepsInOrder) {
  ScratchDirectory scratch(L"freshlog");
  TempEnvironment env(scratch.path() + L"\\");
  const std::wstring dir = scratch.Child(L"OkuSetup_" + Pid());
  const std::wstring lantern = dir + L"\\lantern";
  ScopedLog log;
  {
    TempDirectoryManager manager;
    ASSERT_TRUE(manager.Initialize(kRequired, false));
  }
  std::vector<std::wstring> expected = {
      L"========================================",
      L"临时目录管理器初始化",
      L"需要空间: 150 MB",
      L"========================================",
      L"尝试策略1: 系统临时目录",
      L"  路径: " + dir,
      L"  磁盘空间检查通过: *",
  };
  for (const std::wstring& path : {dir, lantern}) {
    if (path == lantern) {
      expected.insert(expected.end(), {L"  写入权限测试通过", L"  开始创建 Lantern 子目录...",
                                       L"  Lantern 子目录路径: " + lantern});
    }
    expected.insert(expected.end(), {L"    [CreateHiddenDirectory] 开始创建目录: " + path, L"    调用 CreateDirectory()...",
                                     L"    CreateDirectory() 成功", L"    设置隐藏属性...", L"    隐藏属性设置成功",
                                     L"    [CreateHiddenDirectory] 完成"});
  }
  expected.insert(expected.end(), {
                                      L"  Lantern 子目录创建成功",
                                      L"  策略1成功",
                                      L"临时目录创建成功: " + dir,
                                      L"使用策略: 系统临时目录",
                                      L"开始清理临时目录...",
                                      L"      [DeleteDirectoryRecursive] 删除: " + dir,
                                      L"      [DeleteDirectoryRecursive] 删除: " + lantern,
                                      L"      删除0 个文件 0 个子目录",
                                      L"      RemoveDirectory 成功",
                                      L"      删除0 个文件 1 个子目录",
                                      L"      RemoveDirectory 成功",
                                      L"临时目录清理成功: " + dir,
                                  });
  std::vector<std::wstring> messages = log.Messages();
  while (!messages.empty() && messages.back().empty()) messages.pop_back();
  const auto first = std::find(messages.begin(), messages.end(), expected.front());
  ASSERT_NE(first, messages.end());
  const std::vector<std::wstring> run(first, messages.end());
  ASSERT_EQ(run.size(), expected.size()) << oku::Utf8FromWide(run.back());
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::wstring& want = expected[i];
    if (!want.empty() && want.back() == L'*') {
      EXPECT_EQ(run[i].rfind(want.substr(0, want.size() - 1), 0), 0u) << i << ": " << oku::Utf8FromWide(run[i]);
    } else {
      EXPECT_EQ(run[i], want) << i;
    }
  }
}

// ---- Fixtures made on the Linux side by with-drives.sh ----

std::optional<std::wstring> Drive(const char* variable) {
  const char* value = std::getenv(variable);
  if (!value || !*value) return std::nullopt;
  return oku::WideFromUtf8(value);
}

TEST(FixtureDrives, UnwritableSystemTempFallsThrough) {
  const auto drive = Drive("OKU_DRIVE_R");
  if (!drive) GTEST_SKIP() << "no read-only tmpfs drive (with-drives.sh needs root to mount one)";
  EXPECT_FALSE(TempDirectoryManager::TestWritePermission((*drive + L"\\existing").c_str()));
  EXPECT_FALSE(TempDirectoryManager::CreateHiddenDirectory((*drive + L"\\new").c_str()));

  TempEnvironment env(*drive + L"\\");
  TempDirectoryManager manager;
  ASSERT_TRUE(manager.Initialize(kRequired, false));
  EXPECT_STREQ(manager.GetStrategyName(), L"LocalAppData目录");
}

TEST(FixtureDrives, FreeSpaceBoundary) {
  const auto drive = Drive("OKU_DRIVE_S");
  if (!drive) GTEST_SKIP() << "no tmpfs drive for the free-space boundary (with-drives.sh needs root)";
  const std::wstring root = *drive + L"\\";
  ULARGE_INTEGER available = {}, total = {}, free = {};
  ASSERT_TRUE(::GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free));
  ASSERT_GT(available.QuadPart, kMargin);
  const std::uint64_t exact = available.QuadPart - kMargin;

  TempDirectoryManager probe;
  EXPECT_TRUE(probe.HasEnoughFreeSpace((root + L"some\\dir").c_str(), exact));
  EXPECT_FALSE(probe.HasEnoughFreeSpace((root + L"some\\dir").c_str(), exact + 1));

  TempEnvironment env(root);
  {
    TempDirectoryManager oneByteShort;
    ASSERT_TRUE(oneByteShort.Initialize(exact + 1, false));
    EXPECT_STREQ(oneByteShort.GetStrategyName(), L"LocalAppData目录");
  }
  {
    TempDirectoryManager exactFit;
    ASSERT_TRUE(exactFit.Initialize(exact, false));
    EXPECT_STREQ(exactFit.GetStrategyName(), L"系统临时目录");
    EXPECT_EQ(exactFit.GetTempDirectory(), *drive + L"\\OkuSetup_" + Pid());
  }
  EXPECT_FALSE(oku::PathExists(*drive + L"\\OkuSetup_" + Pid()));
}

TEST(FixtureLinks, DeletionNeverEntersALink) {
  const auto tree = Drive("OKU_LINK_TREE");
  const auto outside = Drive("OKU_LINK_OUTSIDE");
  if (!tree || !outside) GTEST_SKIP() << "no link fixture (run through with-drives.sh)";
  ASSERT_EQ(::GetFileAttributesW((*tree + L"\\dirlink").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
  // Only the tree's own file counts, not the link targets' contents.
  EXPECT_EQ(TempDirectoryManager::GetDirectorySize(tree->c_str()), 10u);

  // Windows removes the links themselves; Wine cannot remove a link to a non-empty directory,
  // so the result differs. The contents outside the tree must survive either way.
  TempDirectoryManager::DeleteDirectoryRecursive(tree->c_str());
  EXPECT_FALSE(oku::PathExists(*tree + L"\\own.txt"));
  EXPECT_EQ(ReadFileBytes(*outside + L"\\top.txt"), "outside-top");
  EXPECT_EQ(ReadFileBytes(*outside + L"\\sub\\deep.txt"), "outside-sub");
  EXPECT_EQ(::GetFileAttributesW((*outside + L"\\top.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

  // A leftover working directory that is itself a link is not followed either.
  EXPECT_EQ(TempDirectoryManager::GetDirectorySize((*tree + L"\\dirlink").c_str()), 0u);
  TempDirectoryManager::DeleteDirectoryRecursive((*tree + L"\\nested\\dirlink2").c_str());
  EXPECT_EQ(ReadFileBytes(*outside + L"\\sub\\deep.txt"), "outside-sub");
}

}  // namespace
