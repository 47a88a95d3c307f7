// The incremental branch's steps in process, with stand-in tools (fake_tool.cpp) in a package
// built into this test program: the tools' command lines, the result codes of failures that the
// end-to-end scenarios cannot reach cheaply, the tool timeout, the manifest's size limit, and the
// version folder the repack takes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/delta_install.h"
#include "tests/support/test_support.h"

namespace {

using oku::test::ReadFileBytes;
using oku::test::ScratchDirectory;
using oku::test::WriteFileBytes;

std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:" + oku::WideFromUtf8(unixPath);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

const wchar_t* const kToolVariables[] = {L"OKU_FAKE_7ZA_EXIT", L"OKU_FAKE_7ZA_SLEEP_MS", L"OKU_FAKE_ZUCCHINI_EXIT"};

class DeltaSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLog(log_.path(), L"delta.log");
    const std::wstring version = install_.Child(L"1.0.0.0");
    ::CreateDirectoryW(version.c_str(), nullptr);
    ::CreateDirectoryW((version + L"\\sub").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(version + L"\\a.dll", "installed a"));
    ASSERT_TRUE(WriteFileBytes(version + L"\\sub\\b.dll", "installed b"));
  }
  void TearDown() override {
    CloseLogFile();
    for (const wchar_t* name : kToolVariables) ::SetEnvironmentVariableW(name, nullptr);
    SetDeltaToolWaitLimitForTesting(0);
  }

  // The session log so far, each line ending in "\n".
  std::wstring Log() {
    CloseLogFile();
    std::string bytes = ReadFileBytes(log_.Child(L"delta.log"));
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    return oku::WideFromUtf8(bytes);
  }
  // A whole line: its message (after time and level) is exactly this text.
  static bool HasLine(const std::wstring& log, const std::wstring& message) {
    for (size_t at = log.find(message + L"\n"); at != std::wstring::npos; at = log.find(message + L"\n", at + 1)) {
      if (at > 0 && log[at - 1] == L' ') return true;
    }
    return false;
  }
  static bool Contains(const std::wstring& log, const std::wstring& part) { return log.find(part) != std::wstring::npos; }

  ScratchDirectory log_{L"delta_unit_log"};
  ScratchDirectory work_{L"delta_unit_work"};
  ScratchDirectory install_{L"delta_unit_install"};
};

// Every tool gets the command line of the table (the package builder shares the repack, so only
// these lines pin 7za's switches); harmless file_list spellings are copied; a setup program that
// cannot be started is -1 and ends the update with 204.
TEST_F(DeltaSteps, ToolsGetTheirCommandLinesAndASetupThatCannotStartEnds204) {
  EXPECT_EQ(ApplyDeltaPackage(::GetModuleHandleW(nullptr), work_.path(), install_.path()), kDeltaSetupFailed);
  const std::wstring w = work_.path();
  const std::wstring log = Log();
  for (const std::wstring& line : std::vector<std::wstring>{
           L"[Delta] manifest file_list: 4 个文件",
           L"[Delta] 使用 file_list 白名单复制 (4 个文件)",
           L"[Delta] 白名单复制完成: 2 个文件",
           L"[Delta] 执行 7za: \"" + w + L"\\7za.exe\" a -t7z -mx0 -mtm=off -mtc=off -mta=off \"" + w +
               L"\\chrome.7z\" \"" + w + L"\\Chrome-bin\"",
           L"[Delta] Step3 OK: hash 匹配",
           L"[Delta] 执行 7za: \"" + w + L"\\7za.exe\" e \"" + w + L"\\chrome_7z.patch.7z\" -o\"" + w + L"\" -y",
           L"[Delta] 执行 zucchini: \"" + w + L"\\zucchini.exe\" -apply \"" + w + L"\\chrome.7z\" \"" + w +
               L"\\chrome_7z.patch\" \"" + w + L"\\new_chrome.7z\"",
           L"[Delta] Step5 OK: new hash 匹配",
           L"[Delta] 执行 setup.exe: \"" + w + L"\\setup.exe\" --uncompressed-archive=\"" + w +
               L"\\new_chrome.7z\" --verbose-logging",
           L"[ERROR] [Delta] 启动 setup.exe 失败",
           L"[ERROR] [Delta] Step6 FAILED: setup.exe exit_code=-1",
       }) {
    EXPECT_TRUE(HasLine(log, line)) << oku::Utf8FromWide(line);
  }
  EXPECT_FALSE(Contains(log, L"[Delta] setup.exe exit_code=")) << "no exit code of a program that never ran";
  EXPECT_EQ(ReadFileBytes(w + L"\\Chrome-bin\\1.0.0.0\\a.dll"), "installed a");
  EXPECT_EQ(ReadFileBytes(w + L"\\Chrome-bin\\1.0.0.0\\sub\\b.dll"), "installed b");
  EXPECT_FALSE(Exists(w + L"\\Chrome-bin\\1.0.0.0\\missing.dll"));
}

TEST_F(DeltaSteps, APackageMissingOneResourceEnds205BeforeAnythingElse) {
  oku::ModuleHandle partial(::LoadLibraryExW(WindowsPath(OKU_DELTA_PARTIAL_PACKAGE).c_str(), nullptr,
                                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(partial) << ::GetLastError();
  EXPECT_EQ(ApplyDeltaPackage(partial.get(), work_.path(), install_.path()), kDeltaExtractFailed);
  partial.reset();
  const std::wstring log = Log();
  EXPECT_TRUE(HasLine(log, L"[ERROR] [Delta] Step1 FAILED: 释放资源失败"));
  EXPECT_FALSE(Contains(log, L"[Delta] Step2"));
}

struct RepackFailure {
  const char* name;
  const wchar_t* variable;  // set to value for the stand-in tools, or null
  const wchar_t* value;
  DWORD waitLimitMs;  // 0: the table's waits
  bool hideVersionFolder;
  std::vector<std::wstring> lines;
};

const RepackFailure kRepackFailures[] = {
    {"no_version_folder", nullptr, nullptr, 0, true, {L"[ERROR] [Delta] 未找到版本目录"}},
    {"pack_exit_code", L"OKU_FAKE_7ZA_EXIT", L"2", 0, false, {L"[ERROR] [Delta] 7za 退出码: 2"}},
    // A tool that outlives its wait is ended and reads as still active.
    {"pack_timeout", L"OKU_FAKE_7ZA_SLEEP_MS", L"30000", 300, false, {L"[ERROR] [Delta] 7za 退出码: 259"}},
};

class DeltaRepackFailure : public DeltaSteps, public ::testing::WithParamInterface<RepackFailure> {};

TEST_P(DeltaRepackFailure, Ends200) {
  const RepackFailure& c = GetParam();
  if (c.variable) ::SetEnvironmentVariableW(c.variable, c.value);
  SetDeltaToolWaitLimitForTesting(c.waitLimitMs);
  if (c.hideVersionFolder) {
    ASSERT_TRUE(::MoveFileW(install_.Child(L"1.0.0.0").c_str(), install_.Child(L"v1.0.0.0").c_str()));
  }
  EXPECT_EQ(ApplyDeltaPackage(::GetModuleHandleW(nullptr), work_.path(), install_.path()), kDeltaNoInstallOrRepack);
  const std::wstring log = Log();
  for (const std::wstring& line : c.lines) EXPECT_TRUE(HasLine(log, line)) << oku::Utf8FromWide(line);
  EXPECT_TRUE(HasLine(log, L"[ERROR] [Delta] Step2 FAILED: repack 失败"));
  EXPECT_FALSE(Contains(log, L"[Delta] Step3"));
  EXPECT_EQ(Contains(log, L"[WARNING] [Delta] 等待超时 (300 ms)，结束进程: \"" + work_.path() + L"\\7za.exe\" a "),
            c.waitLimitMs != 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeltaRepackFailure, ::testing::ValuesIn(kRepackFailures),
                         [](const auto& info) { return std::string(info.param.name); });

const std::string kHashes = "{\"base_chrome_7z_sha256\": \"" + std::string(64, 'a') +
                            "\", \"new_chrome_7z_sha256\": \"" + std::string(64, 'b') + "\"";

// A manifest is read whole up to 64 MiB; a larger one is refused, not read cut short.
TEST_F(DeltaSteps, AManifestOverSixtyFourMebibytesIsRefused) {
  const std::wstring path = work_.Child(L"manifest.json");
  for (const LONGLONG size : {64LL << 20, (64LL << 20) + 1}) {
    ASSERT_TRUE(WriteFileBytes(path, kHashes + ", \"file_list\": [\"a.dll\"]}"));
    {
      const oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(file);
      LARGE_INTEGER end;
      end.QuadPart = size;
      EXPECT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get()));
    }
    DeltaManifest manifest;
    EXPECT_EQ(ReadDeltaManifest(work_.path(), manifest), size == (64LL << 20)) << size;
  }
  EXPECT_TRUE(HasLine(Log(), L"[ERROR] [Delta] manifest.json 过大: 67108865 字节 (上限 67108864)"));
}

TEST_F(DeltaSteps, ADeviceNameInTheFileListRefusesTheManifest) {
  ASSERT_TRUE(WriteFileBytes(work_.Child(L"manifest.json"), kHashes + ", \"file_list\": [\"a.dll\", \"x/CON.txt\"]}"));
  DeltaManifest manifest;
  EXPECT_FALSE(ReadDeltaManifest(work_.path(), manifest));
  EXPECT_TRUE(HasLine(Log(), L"[ERROR] [Delta] manifest.json file_list 含有不安全的路径（安装目录之外或设备名），拒绝: x/CON.txt"));
}

// With two version folders the repack takes the first one the directory listing returns, and
// only that one.
TEST_F(DeltaSteps, TwoVersionFoldersTheFirstListedIsRepacked) {
  const std::wstring second = install_.Child(L"2.0.0.0");
  ::CreateDirectoryW(second.c_str(), nullptr);
  ASSERT_TRUE(WriteFileBytes(second + L"\\c.dll", "installed c"));
  ASSERT_TRUE(WriteFileBytes(work_.Child(L"manifest.json"), kHashes + ", \"file_list\": []}"));
  ASSERT_TRUE(::CopyFileW(WindowsPath(OKU_DELTA_FAKE_TOOL).c_str(), work_.Child(L"7za.exe").c_str(), FALSE));

  std::wstring first;
  WIN32_FIND_DATAW data;
  {
    const oku::FindHandle find(::FindFirstFileW(install_.Child(L"*").c_str(), &data));
    ASSERT_TRUE(find);
    do {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && data.cFileName[0] >= L'0' && data.cFileName[0] <= L'9') {
        first = data.cFileName;
        break;
      }
    } while (::FindNextFileW(find.get(), &data));
  }
  const std::wstring other = first == L"1.0.0.0" ? L"2.0.0.0" : L"1.0.0.0";

  std::wstring archive;
  ASSERT_TRUE(RepackBaseArchive(install_.path(), work_.path(), archive));
  EXPECT_EQ(archive, work_.Child(L"chrome.7z"));
  const std::wstring log = Log();
  EXPECT_TRUE(HasLine(log, L"[Delta] 已安装版本: " + first));
  EXPECT_TRUE(HasLine(log, L"[Delta] manifest 无 file_list，使用递归复制"));
  EXPECT_TRUE(Exists(work_.Child(L"Chrome-bin\\" + first)));
  EXPECT_FALSE(Exists(work_.Child(L"Chrome-bin\\" + other)));
}

}  // namespace
