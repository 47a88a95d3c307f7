// Incremental installation end to end: the older demo product installed silently, then an update
// package run with "/S" in the same (fresh) prefix. Each scenario is one CTest test with its own
// prefix; failure cases come from real causes (a changed installed file, damaged package
// resources, a failing setup program) and must leave the installation as it was.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"

namespace {

using oku::test::BinDirectory;
using oku::test::QueryRegistryValue;
using oku::test::ReadFileBytes;
using oku::test::WriteFileBytes;

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Oku.compass";
constexpr DWORD kRunTimeoutMs = 240000;

using oku::test::DefaultInstallDir;
using oku::test::LocalAppData;
using oku::test::VariantExe;

// The newer version's archive tree as the build staged it.
std::wstring NewStage() { return BinDirectory() + L"\\..\\product\\new\\Chrome-bin"; }

std::wstring ProductValue(const wchar_t* name) {
  return QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, name).AsString();
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The installer's session log of the last run (the incremental branch leaves it in %TEMP%).
std::wstring SessionLog() {
  std::string bytes = ReadFileBytes(oku::test::TempDirectory() + L"\\OkuSetupLogs\\oku_install.log");
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  return oku::WideFromUtf8(bytes);
}

DWORD RunSilently(const std::wstring& exe, const std::wstring& extra = L"") {
  const auto result = oku::test::RunChild(L"\"" + exe + L"\" /S" + extra, kRunTimeoutMs);
  EXPECT_TRUE(result.started) << "cannot start " << oku::Utf8FromWide(exe);
  EXPECT_FALSE(result.timedOut) << oku::Utf8FromWide(exe) << " did not finish";
  return result.exitCode;
}

// Every file and directory below root ("dir\" for directories) mapped to its bytes.
void CollectTree(const std::wstring& root, const std::wstring& relative, std::map<std::wstring, std::string>& out) {
  WIN32_FIND_DATAW data;
  const std::wstring base = relative.empty() ? root : root + L"\\" + relative;
  const oku::FindHandle find(::FindFirstFileW((base + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out[child + L"\\"] = std::string();
      CollectTree(root, child, out);
    } else {
      out[child] = ReadFileBytes(root + L"\\" + child);
    }
  } while (::FindNextFileW(find.get(), &data));
}

// The product's files of an installation: what the browser archive and the uninstaller put there.
// Logs, and the product installer a full installation leaves behind, are not the product's.
std::map<std::wstring, std::string> ProductFiles(const std::wstring& root, bool withUninstaller) {
  std::map<std::wstring, std::string> all;
  CollectTree(root, L"", all);
  std::map<std::wstring, std::string> product;
  for (auto& [path, bytes] : all) {
    const bool log = path.size() > 4 && path.compare(path.size() - 4, 4, L".log") == 0;
    if (log || path.rfind(L"okuinfo\\", 0) == 0 || path == L"mini_installer.exe") continue;
    if (!withUninstaller && path.rfind(L"uninstall\\", 0) == 0) continue;
    product[path] = std::move(bytes);
  }
  return product;
}

void ExpectSameFiles(const std::map<std::wstring, std::string>& actual,
                     const std::map<std::wstring, std::string>& expected) {
  for (const auto& [path, bytes] : expected) {
    const auto found = actual.find(path);
    if (found == actual.end()) {
      ADD_FAILURE() << "missing " << oku::Utf8FromWide(path);
    } else {
      EXPECT_TRUE(found->second == bytes) << oku::Utf8FromWide(path) << " differs";
    }
  }
  for (const auto& [path, bytes] : actual) {
    if (!expected.count(path)) ADD_FAILURE() << "unexpected " << oku::Utf8FromWide(path);
  }
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

class Delta : public ::testing::Test {
 protected:
  const std::wstring dir_ = DefaultInstallDir();
  const std::wstring uninstaller_ = DefaultInstallDir() + L"\\uninstall\\OkuUninstall.exe";
  const std::wstring leftover_ = DefaultInstallDir() + L"\\..\\Temp\\source\\leftover.txt";

  // The older version installed silently, its uninstaller made stale (so that a refresh shows)
  // and a leftover of an earlier setup run beside the installation.
  void InstallBase() {
    ASSERT_EQ(RunSilently(VariantExe(L"OkuSetup_delta_base.exe")), 0u);
    ASSERT_EQ(ProductValue(L"pv"), OKU_PRODUCT_VERSION_OLD);
    ASSERT_EQ(ProductValue(L"version"), OKU_DELTA_BASE_SETUP_VERSION);
    ASSERT_TRUE(Exists(dir_ + L"\\" OKU_PRODUCT_VERSION_OLD L"\\resources.pak"));
    ASSERT_TRUE(WriteFileBytes(uninstaller_, "stale uninstaller"));
    ::SHCreateDirectoryExW(nullptr, (dir_ + L"\\..\\Temp\\source").c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(leftover_, "left by an earlier setup.exe"));
  }

  void ExpectUpdated() {
    EXPECT_EQ(ProductValue(L"pv"), OKU_PRODUCT_VERSION_NEW);
    EXPECT_EQ(ProductValue(L"version"), OKU_SETUP_VERSION);
    EXPECT_TRUE(ReadFileBytes(uninstaller_) == ReadFileBytes(BinDirectory() + L"\\OkuUninstall.exe"))
        << "the uninstaller is refreshed";
    EXPECT_FALSE(Exists(dir_ + L"\\OkuUninstall.exe")) << "moved into uninstall";
    EXPECT_FALSE(Exists(dir_ + L"\\" OKU_PRODUCT_VERSION_OLD)) << "the older version folder is gone";
    EXPECT_FALSE(Exists(dir_ + L"\\..\\Temp")) << "the setup program's leftover directory is deleted";
    ExpectSameFiles(ProductFiles(dir_, false), ProductFiles(NewStage(), false));
    const std::wstring log = SessionLog();
    EXPECT_TRUE(Contains(log, L"[Delta] 检测到增量模式，跳过全量核心资源解压，直接进入增量安装"));
    EXPECT_TRUE(Contains(log, L"[Delta] ===== 增量安装成功 ====="));
    EXPECT_TRUE(Contains(log, L"[Delta] 退出，exit_code=0"));
  }
};

// The exact command lines the real tools got: the package builder shares the repack, so a changed
// switch would otherwise keep every package and scenario consistent, and green.
void ExpectToolCommandLines(const std::wstring& log) {
  const std::wstring marker = L"临时目录创建成功: ";
  const size_t at = log.find(marker);
  ASSERT_NE(at, std::wstring::npos);
  const size_t start = at + marker.size();
  const std::wstring w = log.substr(start, log.find(L'\n', start) - start);
  for (const std::wstring& line : std::vector<std::wstring>{
           L"[Delta] 执行 7za: \"" + w + L"\\7za.exe\" a -t7z -mx0 -mtm=off -mtc=off -mta=off \"" + w +
               L"\\chrome.7z\" \"" + w + L"\\Chrome-bin\"",
           L"[Delta] 执行 7za: \"" + w + L"\\7za.exe\" e \"" + w + L"\\chrome_7z.patch.7z\" -o\"" + w + L"\" -y",
           L"[Delta] 执行 zucchini: \"" + w + L"\\zucchini.exe\" -apply \"" + w + L"\\chrome.7z\" \"" + w +
               L"\\chrome_7z.patch\" \"" + w + L"\\new_chrome.7z\"",
           L"[Delta] 执行 setup.exe: \"" + w + L"\\setup.exe\" --uncompressed-archive=\"" + w +
               L"\\new_chrome.7z\" --verbose-logging",
           L"[Delta] setup.exe exit_code=0",
       }) {
    EXPECT_TRUE(Contains(log, L" " + line + L"\n")) << oku::Utf8FromWide(line);
  }
}

TEST_F(Delta, UpdatesTheOlderInstallationToAFreshInstallOfTheNewer) {
  ASSERT_NO_FATAL_FAILURE(InstallBase());
  ASSERT_EQ(RunSilently(VariantExe(L"OkuSetup_update.exe")), 0u);
  ExpectUpdated();
  ExpectToolCommandLines(SessionLog());
  EXPECT_TRUE(Contains(SessionLog(), L"[Delta] 使用 file_list 白名单复制 ("));
  EXPECT_EQ(ProductValue(L"InstallerName"), L"OkuSetup_update.exe");

  // Run again, the package no longer fits the installation: its archive is the newer one.
  const auto updatedFiles = ProductFiles(dir_, true);
  EXPECT_EQ(RunSilently(VariantExe(L"OkuSetup_update.exe")), 201u);
  EXPECT_TRUE(Contains(SessionLog(), L"[Delta] Step3 FAILED: hash 不匹配"));
  EXPECT_EQ(ProductValue(L"pv"), OKU_PRODUCT_VERSION_NEW);
  ExpectSameFiles(ProductFiles(dir_, true), updatedFiles);

  // A fresh installation of the newer version elsewhere, with the full installer: the same files.
  ASSERT_EQ(::RegDeleteKeyValueW(HKEY_CURRENT_USER, kProductKey, L"OkuInstallPath"), ERROR_SUCCESS);
  const std::wstring fresh = LocalAppData() + L"\\fresh\\Application";
  ASSERT_EQ(RunSilently(BinDirectory() + L"\\OkuSetup.exe", L" /d=" + fresh), 0u);
  ASSERT_TRUE(Exists(fresh + L"\\oku.compass.exe"));
  ExpectSameFiles(updatedFiles, ProductFiles(fresh, true));
}

// An update package runs silently only: started as a window installer would be, it says so, ends
// with its own code and leaves the installation exactly as it was.
TEST_F(Delta, WithoutTheSilentSwitchSaysSoAndWritesNothing) {
  ASSERT_NO_FATAL_FAILURE(InstallBase());
  const auto before = ProductFiles(dir_, true);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring commandLine = L"\"" + VariantExe(L"OkuSetup_update.exe") + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  oku::KernelHandle process(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  const auto box = oku::test::AnswerMessageBox(L"安装失败", IDOK, 120000);
  ASSERT_TRUE(box.found) << "no word that this is a silent update package";
  EXPECT_TRUE(Contains(box.text, L"/S")) << oku::Utf8FromWide(box.text);
  ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 1009u);
  ExpectSameFiles(ProductFiles(dir_, true), before);
  EXPECT_EQ(ReadFileBytes(uninstaller_), "stale uninstaller");
  EXPECT_EQ(ProductValue(L"version"), OKU_DELTA_BASE_SETUP_VERSION);
  EXPECT_EQ(ProductValue(L"pv"), OKU_PRODUCT_VERSION_OLD);
  EXPECT_TRUE(Exists(leftover_)) << "not even the setup program's leftover was touched";
}

// The uninstaller the update put in place removes the updated installation completely.
TEST_F(Delta, UninstallAfterTheUpdateRemovesEverything) {
  ASSERT_NO_FATAL_FAILURE(InstallBase());
  ASSERT_EQ(RunSilently(VariantExe(L"OkuSetup_update.exe")), 0u);
  ASSERT_EQ(ProductValue(L"pv"), OKU_PRODUCT_VERSION_NEW);
  ASSERT_TRUE(ReadFileBytes(uninstaller_) == ReadFileBytes(BinDirectory() + L"\\OkuUninstall.exe"));

  const auto result = oku::test::RunChild(L"\"" + uninstaller_ + L"\"", 120000);
  ASSERT_TRUE(result.started);
  ASSERT_FALSE(result.timedOut) << "the uninstaller did not finish (a box left open?)";
  EXPECT_EQ(result.exitCode, 0u);
  // The self-delete script removes the directory a moment after the uninstaller has ended.
  const ULONGLONG deadline = ::GetTickCount64() + 30000;
  while (Exists(dir_) && ::GetTickCount64() < deadline) ::Sleep(200);
  std::wstring left;
  if (Exists(dir_)) {
    for (const auto& [path, bytes] : ProductFiles(dir_, true)) left += path + L" ";
  }
  EXPECT_FALSE(Exists(dir_)) << "left: " << oku::Utf8FromWide(left);
  // The product key itself stays with the chosen directory; the product's records go.
  EXPECT_FALSE(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"pv").present);
  EXPECT_FALSE(oku::test::RegistryKeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\oku.compass"));
  EXPECT_FALSE(oku::test::RegistryKeyExists(HKEY_CURRENT_USER,
                                            L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass"));
}

enum class Setting { None, Lantern, RunningProduct };

struct SuccessCase {
  const char* name;
  const wchar_t* variant;
  Setting setting;
  const wchar_t* arguments;
  std::vector<std::wstring> logLines;  // "%n": the number of files of the older version
};

const SuccessCase kSuccesses[] = {
    // Hashes written in upper case match the lower-case digests.
    {"upper_case_hashes", L"OkuSetup_delta_upper_hashes.exe", Setting::None, L"", {L"[Delta] Step3 OK: hash 匹配"}},
    // An empty "file_list": the recursive copy, which leaves the analytics folder out.
    {"empty_file_list", L"OkuSetup_delta_recursive.exe", Setting::Lantern, L"",
     {L"[Delta] manifest 无 file_list，使用递归复制"}},
    // Entries without "Chrome-bin/" are copied from the same relative path; a missing one is
    // skipped and not counted.
    {"file_list_forms", L"OkuSetup_delta_list_forms.exe", Setting::None, L"",
     {L"[Delta] manifest file_list: %N 个文件", L"[Delta] 白名单复制完成: %n 个文件"}},
    // "kill" ends the running product before its files are replaced.
    {"kill_running_product", L"OkuSetup_update.exe", Setting::RunningProduct, L" kill", {}},
};

// Files of the older version's archive tree as the build staged it.
int OldFileCount() {
  std::map<std::wstring, std::string> tree;
  CollectTree(BinDirectory() + L"\\..\\product\\old\\Chrome-bin", L"", tree);
  int count = 0;
  for (const auto& entry : tree) count += entry.first.back() != L'\\';
  return count;
}

std::wstring WithCounts(std::wstring line) {
  for (const auto& [mark, value] : {std::pair{L"%n", OldFileCount()}, std::pair{L"%N", OldFileCount() + 1}}) {
    const size_t at = line.find(mark);
    if (at != std::wstring::npos) line.replace(at, 2, std::to_wstring(value));
  }
  return line;
}

class DeltaSuccess : public Delta, public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(DeltaSuccess, Updates) {
  const SuccessCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(InstallBase());
  if (c.setting == Setting::Lantern) {
    const std::wstring lantern = dir_ + L"\\" OKU_PRODUCT_VERSION_OLD L"\\lantern";
    ::CreateDirectoryW(lantern.c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(lantern + L"\\lantern_sdk.dll", "copied here by the product at run time"));
  }
  oku::KernelHandle product;
  if (c.setting == Setting::RunningProduct) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + dir_ + L"\\oku.compass.exe\"";
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    product = oku::OwnProcessHandles(info).process;
    ::WaitForInputIdle(product.get(), 10000);
    ASSERT_EQ(::WaitForSingleObject(product.get(), 1000), static_cast<DWORD>(WAIT_TIMEOUT)) << "the product runs";
  }
  const DWORD code = RunSilently(VariantExe(c.variant), c.arguments);
  if (product) {
    EXPECT_EQ(::WaitForSingleObject(product.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the product was ended";
    ::TerminateProcess(product.get(), 1);
  }
  ASSERT_EQ(code, 0u);
  ExpectUpdated();
  const std::wstring log = SessionLog();
  for (const std::wstring& line : c.logLines) EXPECT_TRUE(Contains(log, WithCounts(line))) << oku::Utf8FromWide(line);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeltaSuccess, ::testing::ValuesIn(kSuccesses),
                         [](const auto& info) { return std::string(info.param.name); });

enum class Cause { None, ModifiedFile, SetupFails };

struct FailureCase {
  const char* name;
  const wchar_t* variant;
  Cause cause;
  DWORD code;
  const wchar_t* logLine;
  bool repackRuns;  // whether Step2 (the only step that copies installed files) is reached
};

const FailureCase kFailures[] = {
    {"modified_installed_file", L"OkuSetup_update.exe", Cause::ModifiedFile, 201,
     L"[Delta] Step3 FAILED: hash 不匹配", true},
    {"corrupt_patch_container", L"OkuSetup_delta_corrupt_container.exe", Cause::None, 205,
     L"[Delta] Step3.5 FAILED: 7za 解压 patch 退出码=", true},
    {"corrupt_patch", L"OkuSetup_delta_corrupt_patch.exe", Cause::None, 202, L"[Delta] Step4 FAILED: patch apply 失败",
     true},
    {"wrong_new_hash", L"OkuSetup_delta_wrong_new_hash.exe", Cause::None, 203,
     L"[Delta] Step5 FAILED: new hash 不匹配", true},
    {"setup_fails", L"OkuSetup_update.exe", Cause::SetupFails, 204, L"[Delta] Step6 FAILED: setup.exe exit_code=7",
     true},
    {"manifest_without_hashes", L"OkuSetup_delta_no_hashes.exe", Cause::None, 206,
     L"[Delta] manifest.json 缺少必要字段", false},
    {"file_list_absolute", L"OkuSetup_delta_unsafe_absolute.exe", Cause::None, 206,
     L"[Delta] manifest.json 读取失败", false},
    {"file_list_drive", L"OkuSetup_delta_unsafe_drive.exe", Cause::None, 206, L"[Delta] manifest.json 读取失败",
     false},
    {"file_list_parent", L"OkuSetup_delta_unsafe_parent.exe", Cause::None, 206, L"[Delta] manifest.json 读取失败",
     false},
};

class DeltaFailure : public Delta, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DeltaFailure, EndsWithItsCodeAndKeepsTheInstallation) {
  const FailureCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(InstallBase());
  const std::wstring changed = dir_ + L"\\" OKU_PRODUCT_VERSION_OLD L"\\locales\\de.pak";
  if (c.cause == Cause::ModifiedFile) {
    std::string bytes = ReadFileBytes(changed);
    ASSERT_FALSE(bytes.empty());
    bytes[bytes.size() / 2] ^= 0x01;
    ASSERT_TRUE(WriteFileBytes(changed, bytes));
  }
  // An entry climbing out of the installation would name this file.
  ASSERT_TRUE(WriteFileBytes(dir_ + L"\\..\\secret.txt", "outside the installation"));
  if (c.cause == Cause::SetupFails) ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", L"7");
  const DWORD code = RunSilently(VariantExe(c.variant));
  ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", nullptr);
  EXPECT_EQ(code, c.code);

  const std::wstring log = SessionLog();
  EXPECT_TRUE(Contains(log, c.logLine)) << oku::Utf8FromWide(log);
  EXPECT_TRUE(Contains(log, L"[Delta] 退出，exit_code=" + std::to_wstring(c.code)));
  EXPECT_EQ(Contains(log, L"[Delta] Step2: Repack chrome.7z from install dir"), c.repackRuns);
  EXPECT_FALSE(Contains(log, L"[Delta] 增量安装成功，更新卸载器和注册表"));
  // No refresh: the uninstaller and "version" stay; the leftover directory goes in every case.
  EXPECT_EQ(ReadFileBytes(uninstaller_), "stale uninstaller");
  EXPECT_EQ(ProductValue(L"version"), OKU_DELTA_BASE_SETUP_VERSION);
  EXPECT_FALSE(Exists(dir_ + L"\\..\\Temp"));
  if (c.cause != Cause::SetupFails) {
    // Nothing else was touched. (A failing setup program may have changed the product itself.)
    EXPECT_EQ(ProductValue(L"pv"), OKU_PRODUCT_VERSION_OLD);
    EXPECT_TRUE(Exists(dir_ + L"\\" OKU_PRODUCT_VERSION_OLD L"\\resources.pak"));
    EXPECT_FALSE(Exists(dir_ + L"\\" OKU_PRODUCT_VERSION_NEW));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DeltaFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeltaWithoutInstallation, Returns200BeforeExtractingAnything) {
  EXPECT_EQ(RunSilently(VariantExe(L"OkuSetup_update.exe")), 200u);
  const std::wstring log = SessionLog();
  EXPECT_TRUE(Contains(log, L"[Delta] 检测到增量模式，进入增量安装流程"));
  EXPECT_TRUE(Contains(log, L"[ERROR] [Delta] 未找到安装路径，无法增量安装"));
  EXPECT_FALSE(Contains(log, L"[Delta] Step1")) << "nothing extracted";
  EXPECT_FALSE(Exists(DefaultInstallDir()));
  EXPECT_TRUE(ProductValue(L"pv").empty());
}

}  // namespace
