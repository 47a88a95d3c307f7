// Version resources of real binaries built for the tests, the running program's own version,
// the payload's version.txt, and the product installer's file information.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/version_info.h"
#include "tests/common/platform_support.h"
#include "tests/support/test_support.h"

using platform_test::LogLinesSince;
using platform_test::LogMark;
using platform_test::TestHelper;

namespace {

using Lines = std::vector<std::wstring>;
const std::wstring kProbeVersion = L"147.0.7727.4985";  // tools/testhelpers/CMakeLists.txt

class VersionTest : public ::testing::Test {
 protected:
  void SetUp() override { platform_test::EnsureLog(); }
};

TEST_F(VersionTest, ReaderReadsTheStringTable) {
  const std::wstring probe = TestHelper(L"th_version_probe.exe");
  std::size_t mark = LogMark();
  const VersionInfoReader reader(probe);
  ASSERT_TRUE(reader.IsLoaded());
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"VersionInfoReader: 成功加载版本信息: " + probe}));
  EXPECT_EQ(reader.GetProductVersion(), kProbeVersion);
  EXPECT_EQ(reader.QueryString(L"FileVersion"), kProbeVersion);
  EXPECT_EQ(reader.QueryString(L"ProductName"), L"OkuVersionProbe");

  mark = LogMark();
  EXPECT_EQ(reader.QueryString(L"NoSuchField"), L"");
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"VersionInfoReader: 未找到字段 NoSuchField, 文件: " + probe}));
}

TEST_F(VersionTest, ReaderWithoutAResource) {
  // The warning carries the system's own error number (Windows says 1813 for a file without a
  // version resource, Wine 1812), so the expectation asks the system the same question.
  const auto sizeError = [](const std::wstring& path) {
    DWORD ignored = 0;
    EXPECT_EQ(::GetFileVersionInfoSizeW(path.c_str(), &ignored), 0u);
    return std::to_wstring(::GetLastError());
  };
  struct Case {
    std::wstring path;
    std::wstring line;
  };
  const std::wstring plain = TestHelper(L"th_sleep.exe");
  const std::wstring missing = TestHelper(L"platform_missing.exe");
  const std::wstring sizePrefix = L"[WARNING] VersionInfoReader: 无法获取版本信息大小，文件: ";
  ASSERT_EQ(sizeError(missing), std::to_wstring(ERROR_FILE_NOT_FOUND));
  const std::vector<Case> cases = {
      {L"", L"[WARNING] VersionInfoReader: 文件路径为空"},
      {plain, sizePrefix + plain + L", 错误码: " + sizeError(plain)},
      {missing, sizePrefix + missing + L", 错误码: " + sizeError(missing)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.path));
    std::size_t mark = LogMark();
    const VersionInfoReader reader(c.path);
    EXPECT_FALSE(reader.IsLoaded());
    EXPECT_EQ(reader.GetProductVersion(), L"");  // no further line when not loaded
    EXPECT_EQ(LogLinesSince(mark), (Lines{c.line}));

    mark = LogMark();
    EXPECT_EQ(GetFileProductVersion(c.path), L"");
    const Lines lines = LogLinesSince(mark);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], L"无法加载版本信息，文件: " + c.path);
  }
}

TEST_F(VersionTest, OnlyTheFirstTranslationCounts) {
  // Translations 0407/1252 then 0409/1200, each with a table: the first one answers, and a
  // field present only in the second table is not found.
  const std::wstring both = TestHelper(L"th_two_translations.exe");
  const VersionInfoReader first(both);
  ASSERT_TRUE(first.IsLoaded());
  EXPECT_EQ(first.GetProductVersion(), L"3.1.4.1");
  EXPECT_EQ(first.QueryString(L"ProductName"), L"First table");
  EXPECT_EQ(first.QueryString(L"Comments"), L"");

  // Translations 0411/1200 then 0409/1200, a table only for the second.
  const std::wstring foreign = TestHelper(L"th_foreign_translation.exe");
  const VersionInfoReader second(foreign);
  ASSERT_TRUE(second.IsLoaded());
  const std::size_t mark = LogMark();
  EXPECT_EQ(second.GetProductVersion(), L"");
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"VersionInfoReader: 未找到字段 ProductVersion, 文件: " + foreign}));
  EXPECT_EQ(GetFileProductVersion(foreign), L"");
}

TEST_F(VersionTest, FileProductVersion) {
  const std::wstring probe = TestHelper(L"th_version_probe.exe");
  const std::size_t mark = LogMark();
  EXPECT_EQ(GetFileProductVersion(probe), kProbeVersion);
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"VersionInfoReader: 成功加载版本信息: " + probe,
                                        L"Found pv value in file: " + kProbeVersion}));

  const std::wstring foreign = TestHelper(L"th_foreign_translation.exe");
  const std::size_t mark2 = LogMark();
  EXPECT_EQ(GetFileProductVersion(foreign), L"");
  const Lines lines = LogLinesSince(mark2);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), L"未能找到 ProductVersion 字段，文件: " + foreign);
}

TEST_F(VersionTest, ExeVersionOfTheRunningProgram) {
  // This test program carries no version resource.
  const std::wstring self = oku::ExecutablePath();
  const std::size_t mark = LogMark();
  EXPECT_EQ(GetExeVersion(), "unknown");
  const Lines lines = LogLinesSince(mark);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), L"[WARNING] 无法加载 EXE 版本信息: " + self);

  // A program with a resource reads its own ProductVersion.
  oku::test::ScratchDirectory dir(L"platform_exever");
  const std::wstring out = dir.Child(L"version.out");
  platform_test::Child probe(TestHelper(L"th_version_probe.exe"), L"\"" + out + L"\"");
  ASSERT_TRUE(probe.started());
  DWORD code = 99;
  ASSERT_TRUE(probe.WaitExit(60000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(oku::test::ReadFileBytes(out), "147.0.7727.4985");
}

TEST_F(VersionTest, ReadVersionFileReturnsTheFirstLine) {
  struct Case {
    std::string content;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"2.6.4.4846", "2.6.4.4846"},
      {"1.0\nsecond\n", "1.0"},
      {"1.0\r\nsecond\r\n", "1.0"},  // text mode: the CR of a CRLF goes with the line break
      {"", ""},
      {"\nafter an empty line", ""},
      {" 7.1 \n", " 7.1 "},
      {"\xE7\x89\x88\xE6\x9C\xAC 1\n", "\xE7\x89\x88\xE6\x9C\xAC 1"},  // bytes, unconverted
  };
  oku::test::ScratchDirectory dir(L"platform_vtxt");
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.content));
    ASSERT_TRUE(oku::test::WriteFileBytes(dir.Child(L"version.txt"), c.content));
    EXPECT_EQ(ReadVersionFile(dir.path().c_str()), c.expected);
  }

  // Readable while another handle has it open for writing.
  ASSERT_TRUE(oku::test::WriteFileBytes(dir.Child(L"version.txt"), "3.0.0.1\n"));
  {
    oku::FileHandle writer(::CreateFileW(dir.Child(L"version.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());
    EXPECT_EQ(ReadVersionFile(dir.path().c_str()), "3.0.0.1");
  }
}

TEST_F(VersionTest, ReadVersionFileFallbacks) {
  EXPECT_EQ(ReadVersionFile(nullptr), "");

  oku::test::ScratchDirectory dir(L"platform_vtxt_missing");
  std::size_t mark = LogMark();
  EXPECT_EQ(ReadVersionFile(dir.path().c_str()), "");
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"version 文件不存在：" + dir.Child(L"version.txt")}));

  // Directory plus "\version.txt" must fit in MAX_PATH.
  const std::wstring longDir = L"C:\\" + std::wstring(MAX_PATH - 12, L'v');
  mark = LogMark();
  EXPECT_EQ(ReadVersionFile(longDir.c_str()), "");
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"构建 version 文件路径时出错！"}));
}

TEST_F(VersionTest, InstallerFileInfo) {
  SYSTEM_INFO system{};
  ::GetNativeSystemInfo(&system);
  const std::wstring processorLine = L"处理器架构: " + std::to_wstring(system.wProcessorArchitecture) +
                                     L", 处理器数量: " + std::to_wstring(system.dwNumberOfProcessors);

  const std::wstring exe = TestHelper(L"th_sleep.exe");
  const std::string bytes = oku::test::ReadFileBytes(exe);
  ASSERT_FALSE(bytes.empty());
  std::size_t mark = LogMark();
  EXPECT_TRUE(LogInstallerFileInfo(exe));
  EXPECT_EQ(LogLinesSince(mark), (Lines{processorLine, L"二进制类型: 64位 Windows",
                                        L"mini_installer.exe 文件大小为: " + std::to_wstring(bytes.size()) + L" b"}));

  // Not an executable: the binary type fails, the size is still logged.
  oku::test::ScratchDirectory dir(L"platform_fileinfo");
  const std::wstring text = dir.Child(L"notes.txt");
  ASSERT_TRUE(oku::test::WriteFileBytes(text, "hello"));
  mark = LogMark();
  EXPECT_TRUE(LogInstallerFileInfo(text));
  const Lines lines = LogLinesSince(mark);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind(L"GetBinaryType 失败，错误码：", 0), 0u) << ::testing::PrintToString(lines[1]);
  EXPECT_EQ(lines[2], L"mini_installer.exe 文件大小为: 5 b");

  // Missing or a directory: false without a line.
  for (const std::wstring& path : {dir.Child(L"missing.exe"), dir.path()}) {
    mark = LogMark();
    EXPECT_FALSE(LogInstallerFileInfo(path));
    EXPECT_TRUE(LogLinesSince(mark).empty());
  }
}

}  // namespace
