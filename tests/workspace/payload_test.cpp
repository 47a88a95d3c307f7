// Payload extraction from this test program's own resources (payload_test.rc): ids 1 (known
// bytes), 2 (zero length) and 3 (2 MiB, for the disk-full case); id 99 does not exist. Also
// the file copy with its error texts, and the committed copy script.
#include "workspace/payload.h"

#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/paths.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "tests/support/test_support.h"

namespace {

using oku::test::ReadFileBytes;
using oku::test::ScratchDirectory;
using oku::test::WriteFileBytes;

const std::string kKnown = "Oku payload test resource\nsecond line\n";
constexpr std::size_t kBigSize = 2 * 1048576;

HMODULE Self() { return ::GetModuleHandleW(nullptr); }

TEST(PayloadTest, ExtractResourceWritesAndReplaces) {
  ScratchDirectory scratch(L"extract");
  const std::wstring target = scratch.Child(L"known.bin");
  ASSERT_TRUE(WriteFileBytes(target, std::string(4096, 'X')));  // longer than the resource
  ASSERT_TRUE(ExtractResource(Self(), 1, target));
  EXPECT_EQ(ReadFileBytes(target), kKnown);
  EXPECT_EQ(GetFileSizeBytes(target), kKnown.size());

  ASSERT_TRUE(ExtractResource(Self(), 3, scratch.Child(L"big.bin")));
  EXPECT_EQ(GetFileSizeBytes(scratch.Child(L"big.bin")), kBigSize);
}

TEST(PayloadTest, MissingAndEmptyResourcesCreateNoFile) {
  ScratchDirectory scratch(L"invalid");
  EXPECT_FALSE(ExtractResource(Self(), 99, scratch.Child(L"missing.bin")));
  EXPECT_FALSE(ExtractResource(Self(), 2, scratch.Child(L"empty.bin")));
  EXPECT_FALSE(oku::PathExists(scratch.Child(L"missing.bin")));
  EXPECT_FALSE(oku::PathExists(scratch.Child(L"empty.bin")));
}

TEST(PayloadTest, GroupGoesOnAfterFailures) {
  ScratchDirectory scratch(L"group");
  const ResourceEntry entries[] = {{1, L"a.bin"}, {99, L"missing.bin"}, {2, L"empty.bin"}, {1, L"b.bin"}};
  const BatchExtractResult result = ExtractResources(Self(), entries, 4, scratch.path());
  EXPECT_FALSE(result.allSucceeded);
  EXPECT_EQ(result.total, 4);
  EXPECT_EQ(result.succeeded, 2);
  EXPECT_EQ(result.failed, 2);
  EXPECT_EQ(result.failedFiles, (std::vector<std::wstring>{L"missing.bin", L"empty.bin"}));
  EXPECT_NE(result.lastError, 0u);
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"a.bin")), kKnown);
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"b.bin")), kKnown);
  EXPECT_FALSE(oku::PathExists(scratch.Child(L"missing.bin")));
  EXPECT_FALSE(oku::PathExists(scratch.Child(L"empty.bin")));

  const ResourceEntry one[] = {{99, L"missing.bin"}};
  const BatchExtractResult single = ExtractResources(Self(), one, 1, scratch.path());
  EXPECT_EQ(single.failed, 1);
  EXPECT_EQ(single.lastError, static_cast<std::uint32_t>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST(PayloadTest, MissingTargetDirectoryFailsEveryEntry) {
  ScratchDirectory scratch(L"nodir");
  const ResourceEntry entries[] = {{1, L"a.bin"}, {3, L"big.bin"}, {1, L"c.bin"}};
  const BatchExtractResult result = ExtractResources(Self(), entries, 3, scratch.Child(L"absent"));
  EXPECT_FALSE(result.allSucceeded);
  EXPECT_EQ(result.succeeded, 0);
  EXPECT_EQ(result.failed, 3);
  EXPECT_EQ(result.failedFiles, (std::vector<std::wstring>{L"a.bin", L"big.bin", L"c.bin"}));
  EXPECT_EQ(result.lastError, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(oku::PathExists(scratch.Child(L"absent")));
}

TEST(PayloadTest, EmptyGroupSucceeds) {
  for (int count : {0, -1}) {
    const BatchExtractResult result = ExtractResources(Self(), nullptr, count, L"C:\\nowhere");
    EXPECT_TRUE(result.allSucceeded);
    EXPECT_EQ(result.total, count);
    EXPECT_EQ(result.succeeded, 0);
    EXPECT_EQ(result.failed, 0);
    EXPECT_TRUE(result.failedFiles.empty());
    EXPECT_EQ(result.lastError, 0u);
  }
}

TEST(PayloadTest, CopyErrorTexts) {
  const struct {
    std::uint32_t error;
    const wchar_t* text;
  } cases[] = {
      {2, L"源文件未找到"}, {3, L"路径未找到"},   {5, L"访问被拒绝"},   {19, L"写保护"},
      {32, L"文件被占用"},  {39, L"磁盘空间不足"}, {112, L"磁盘空间不足"}, {206, L"文件名太长（超过 MAX_PATH）"},
      {0, L"未知错误"},     {1, L"未知错误"},     {183, L"未知错误"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetCopyErrorText(c.error), c.text) << c.error;
}

TEST(PayloadTest, CopyFileWithReport) {
  ScratchDirectory scratch(L"copy");
  const std::wstring source = scratch.Child(L"source.bin");
  ASSERT_TRUE(WriteFileBytes(source, kKnown));

  const CopyResult missing = CopyFileWithReport(scratch.Child(L"absent"), scratch.Child(L"d1"));
  EXPECT_FALSE(missing.success);
  EXPECT_EQ(missing.errorCode, 2u);
  EXPECT_EQ(missing.errorText, L"源文件未找到");
  EXPECT_EQ(missing.sourceSize, 0u);
  EXPECT_FALSE(oku::PathExists(scratch.Child(L"d1")));

  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"d2"), "old and longer content than before, replaced"));
  const CopyResult copied = CopyFileWithReport(source, scratch.Child(L"d2"));
  EXPECT_TRUE(copied.success);
  EXPECT_EQ(copied.errorCode, 0u);
  EXPECT_TRUE(copied.errorText.empty());
  EXPECT_EQ(copied.sourceSize, kKnown.size());
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"d2")), kKnown);

  const CopyResult noDirectory = CopyFileWithReport(source, scratch.Child(L"absent\\d3"));
  EXPECT_FALSE(noDirectory.success);
  EXPECT_EQ(noDirectory.errorCode, 3u);
  EXPECT_EQ(noDirectory.errorText, L"路径未找到");
  EXPECT_EQ(noDirectory.sourceSize, kKnown.size());

  EXPECT_EQ(GetFileSizeBytes(scratch.Child(L"absent")), 0u);
}

std::wstring SourcePath(const std::wstring& relative) {
  const char* root = std::getenv("OKU_SOURCE_DIR");
  std::wstring path = L"Z:" + oku::WideFromUtf8(root ? root : "") + L"\\" + relative;
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// The copy script is embedded byte for byte: ASCII, CRLF, no line break after the last line.
TEST(PayloadTest, CopyScriptBytes) {
  const char* const lines[] = {
      "@echo off",
      "setlocal DisableDelayedExpansion",
      "",
      "set \"targetDir=%~1\"",
      "",
      "set \"sourceDir=%~dp0\"",
      "",
      "echo Copying files from \"%sourceDir%\" to \"%targetDir%\"",
      "",
      "xcopy \"%sourceDir%\\*.exe\" \"%targetDir%\\\" /s /e /y",
      "xcopy \"%sourceDir%\\*.dll\" \"%targetDir%\\\" /s /e /y",
      "xcopy \"%sourceDir%\\*.pem\" \"%targetDir%\\\" /s /e /y",
      "",
      "if not exist \"%targetDir%\\uninstall\\\" mkdir \"%targetDir%\\uninstall\"",
      "move /y \"%targetDir%\\OkuUninstall.exe\" \"%targetDir%\\uninstall\\OkuUninstall.exe\"",
      "",
      "echo Executing mini_installer.exe in \"%targetDir%\"",
      "",
      "start \"\" /wait \"%targetDir%\\mini_installer.exe\"",
      "",
      "if %errorlevel% neq 0 (",
      "    echo mini_installer.exe failed, error code: %errorlevel%",
      "    set exitCode=%errorlevel%",
      ") else (",
      "    echo mini_installer.exe success",
      "    set exitCode=0",
      ")",
      "exit %exitCode%",
  };
  std::string expected;
  for (const char* line : lines) {
    if (!expected.empty() || line != lines[0]) expected += "\r\n";
    expected += line;
  }
  ASSERT_EQ(expected.size(), 768u);
  const std::string actual = ReadFileBytes(SourcePath(L"resources\\oku_installer.bat"));
  EXPECT_EQ(actual.size(), 768u);
  EXPECT_EQ(actual, expected);
}

// ---- Fixture made on the Linux side by with-drives.sh: T: is a 1 MiB tmpfs ----

TEST(FixtureDiskFull, PartialFileIsDeleted) {
  const char* drive = std::getenv("OKU_DRIVE_T");
  if (!drive || !*drive) GTEST_SKIP() << "no small tmpfs drive (with-drives.sh needs root to mount one)";
  const std::wstring root = oku::WideFromUtf8(drive);
  const std::wstring target = root + L"\\big.bin";
  EXPECT_FALSE(ExtractResource(Self(), 3, target));
  const DWORD error = ::GetLastError();
  EXPECT_TRUE(error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) << error;
  EXPECT_FALSE(oku::PathExists(target));

  // The same drive still takes a small file, and a group reports the disk-full entry.
  const ResourceEntry entries[] = {{3, L"big.bin"}, {1, L"small.bin"}};
  const BatchExtractResult result = ExtractResources(Self(), entries, 2, root);
  EXPECT_EQ(result.failed, 1);
  EXPECT_EQ(result.failedFiles, (std::vector<std::wstring>{L"big.bin"}));
  EXPECT_TRUE(result.lastError == ERROR_DISK_FULL || result.lastError == ERROR_HANDLE_DISK_FULL) << result.lastError;
  EXPECT_EQ(ReadFileBytes(root + L"\\small.bin"), kKnown);
  EXPECT_FALSE(oku::PathExists(target));
  ::DeleteFileW((root + L"\\small.bin").c_str());
}

TEST(FixtureDiskFull, CopyCutShortIsDeleted) {
  const char* drive = std::getenv("OKU_DRIVE_T");
  if (!drive || !*drive) GTEST_SKIP() << "no small tmpfs drive (with-drives.sh needs root to mount one)";
  ScratchDirectory scratch(L"copy-full");
  const std::wstring source = scratch.Child(L"big.bin");
  ASSERT_TRUE(ExtractResource(Self(), 3, source));
  const std::wstring target = oku::WideFromUtf8(drive) + L"\\copy.bin";
  const CopyResult copy = CopyFileWithReport(source, target);
  EXPECT_FALSE(copy.success);
  EXPECT_TRUE(copy.errorCode == ERROR_DISK_FULL || copy.errorCode == ERROR_HANDLE_DISK_FULL) << copy.errorCode;
  EXPECT_EQ(copy.errorText, L"磁盘空间不足");
  EXPECT_EQ(copy.sourceSize, kBigSize);
  EXPECT_FALSE(oku::PathExists(target));
}

// The session log on the drive that fills up, ending exactly on a page: the failure lines need
// room that only the deleted partial file gives back.
TEST(FixtureDiskFull, FailureLinesReachALogOnTheSameDrive) {
  const char* drive = std::getenv("OKU_DRIVE_T");
  if (!drive || !*drive) GTEST_SKIP() << "no small tmpfs drive (with-drives.sh needs root to mount one)";
  const std::wstring root = oku::WideFromUtf8(drive);
  const std::wstring logPath = root + L"\\full.log";
  const std::wstring target = root + L"\\big.bin";
  InitLog(root, L"full.log");
  // Pad the log to a multiple of the tmpfs page size, so the next line needs a new page.
  constexpr std::uint64_t kPage = 4096;
  const std::uint64_t before = GetFileSizeBytes(logPath);
  LogInfo(L"x");
  const std::uint64_t overhead = GetFileSizeBytes(logPath) - before - 1;
  std::uint64_t size = GetFileSizeBytes(logPath);
  while (size % kPage != 0) {
    const std::uint64_t missing = kPage - size % kPage;
    LogInfo(std::wstring(missing > overhead ? missing - overhead : missing + kPage - overhead, L'x'));
    size = GetFileSizeBytes(logPath);
  }
  EXPECT_FALSE(ExtractResource(Self(), 3, target));
  EXPECT_FALSE(oku::PathExists(target));
  CloseLogFile();
  const std::string log = ReadFileBytes(logPath);
  ::DeleteFileW(logPath.c_str());
  EXPECT_NE(log.find("Failed to write file: " + oku::Utf8FromWide(target)), std::string::npos);
  EXPECT_NE(log.find(oku::Utf8FromWide(L"磁盘空间不足，已删除不完整文件")), std::string::npos);
}

}  // namespace
