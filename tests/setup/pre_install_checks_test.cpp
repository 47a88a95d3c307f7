// The checks before a window-mode installation against real processes, real version resources
// (the demo product's two installers and this program's own), the uninstall engine with the demo
// product's setup.exe, and shortcuts made with IShellLinkW in the prefix's own folders.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/registry.h"
#include "common/shortcuts.h"
#include "common/version_info.h"
#include "setup/install_records.h"
#include "setup/pre_install_checks.h"
#include "tests/setup/pipeline_test_support.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"

namespace {

using oku::test::QueryRegistryValue;
using oku::test::ScopedEnv;
using oku::test::TestContext;

constexpr wchar_t kOld[] = OKU_PRODUCT_VERSION_OLD;  // also this program's own version
constexpr wchar_t kNew[] = OKU_PRODUCT_VERSION_NEW;
constexpr wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kTaskbarSuffix[] = L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar";
constexpr wchar_t kRule[] = L"============================================================================";

std::wstring ProductValue(const wchar_t* name) {
  return QueryRegistryValue(HKEY_CURRENT_USER, oku::test::kProductKey, name).AsString();
}
void SetProductValue(const wchar_t* name, const std::wstring& value) {
  ASSERT_TRUE(SetRegistryString(HKEY_CURRENT_USER, oku::test::kProductKey, name, value));
}

std::wstring Upper(std::wstring text) {
  ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Every backslash doubled, as a record written by hand may have it.
std::wstring Doubled(const std::wstring& path) {
  std::wstring result;
  for (wchar_t ch : path) {
    result.push_back(ch);
    if (ch == L'\\') result.push_back(ch);
  }
  return result;
}

// Our own shortcut files, named so that TearDown finds every one of them.
std::vector<std::wstring> OwnShortcuts() {
  std::vector<std::wstring> found;
  for (ShortcutLocation location : {kShortcutDesktop, kShortcutStartMenu, kShortcutTaskbarPinned}) {
    const std::wstring folder = GetShortcutFolder(location);
    if (folder.empty()) continue;
    WIN32_FIND_DATAW data;
    oku::FindHandle find(::FindFirstFileW((folder + L"\\okutest_*.lnk").c_str(), &data));
    if (!find) continue;
    do {
      found.push_back(folder + L"\\" + data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
  }
  return found;
}

class PreInstallChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* name : {L"oku.compass.exe", L"OkuUninstall.exe", L"setup.exe"}) oku::test::EndProcesses(name);
    oku::test::CleanProductUserState();
    for (const auto& link : OwnShortcuts()) ::DeleteFileW(link.c_str());
    profileExisted_ = oku::PathExists(oku::test::ProductProfile());
    work_ = scratch_.Child(L"work");
    ASSERT_TRUE(::CreateDirectoryW(work_.c_str(), nullptr));
    context_.workingDir = work_;
    context_.path = scratch_.Child(L"chosen");
    log_ = std::make_unique<oku::test::TestLog>(scratch_.path(), L"checks.log");
  }
  void TearDown() override {
    for (const wchar_t* name : {L"oku.compass.exe", L"OkuUninstall.exe", L"setup.exe"}) oku::test::EndProcesses(name);
    log_.reset();
    oku::test::CleanProductUserState();
    for (const auto& link : OwnShortcuts()) ::DeleteFileW(link.c_str());
    if (!profileExisted_) oku::test::RemoveTree(oku::test::ProductProfile());  // made by a started product
  }
  void ReopenLog(const std::wstring& fileName) {
    log_.reset();
    log_ = std::make_unique<oku::test::TestLog>(scratch_.path(), fileName);
  }
  void ExpectLogged(const std::vector<std::wstring>& lines) {
    const std::wstring text = log_->Text();
    for (const auto& line : lines) EXPECT_NE(text.find(line), std::wstring::npos) << "missing log line: " << line;
  }
  // The older demo product installed by its own installer into dir, with the installer's records.
  void InstallOldProductAt(const std::wstring& dir) {
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr), ERROR_SUCCESS);
    const std::wstring exe = dir + L"\\mini_installer.exe";
    ASSERT_TRUE(oku::test::CopyFileTo(oku::test::ProductBin(L"old") + L"\\mini_installer.exe", exe));
    const auto run = oku::test::RunChild(L"\"" + exe + L"\"", 120000);
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.exitCode, 0u);
    ASSERT_TRUE(::CreateDirectoryW((dir + L"\\uninstall").c_str(), nullptr));
    ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\OkuUninstall.exe",
                                      dir + L"\\uninstall\\OkuUninstall.exe"));
    WriteInstallPathRecords(dir);
    ASSERT_EQ(ProductValue(L"pv"), kOld);
    ASSERT_TRUE(oku::FileExists(oku::test::DesktopShortcut()));
  }

  oku::test::ScratchDirectory scratch_{L"checks"};
  std::wstring work_;
  TestContext context_;
  std::unique_ptr<oku::test::TestLog> log_;
  bool profileExisted_ = false;
};

TEST_F(PreInstallChecksTest, IsDowngradeComparesTheRecordedVersionWithTheVersionResource) {
  ASSERT_EQ(GetFileProductVersion(oku::ExecutablePath()), kOld);
  struct Case {
    const wchar_t* pv;         // recorded "pv"; empty: none
    const char* packaged;      // W\mini_installer.exe: "old", "new", other bytes, or empty for none
    const wchar_t* incoming;   // the version compared; null: no comparison
    int result;
    bool fromOwnExe;           // the installer's own version was used
  } cases[] = {
      {L"147.0.7731.5020", "old", kOld, 1, false},     // downgrade
      {L"147.0.7727.4985", "new", kNew, -1, false},    // upgrade
      {L"147.0.7731.5020", "new", kNew, 0, false},     // repair
      {L"147.0.7731.5020.0", "new", kNew, 0, false},   // missing parts count as 0
      {L"147.0.7731.5020.1", "new", kNew, 1, false},
      {L"147.0.7731.10000", "new", kNew, 1, false},    // numbers, not text: 10000 > 5020
      {L"147.0.7731.999", "new", kNew, -1, false},     // and 999 < 5020
      {L"147.0.77a1.5020", "old", kOld, 0, false},     // a part that is not a number
      {L"147.0.7731.5020", "", kOld, 1, true},         // no packaged installer: this program's version
      {L"147.0.7731.5020", "no version here", kOld, 1, true},
      {L"", "old", nullptr, 0, false},                 // nothing recorded: never a downgrade
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "pv " << c.pv << ", packaged " << c.packaged);
    oku::test::CleanProductUserState();
    if (*c.pv) SetProductValue(L"pv", c.pv);
    const std::wstring packaged = work_ + L"\\mini_installer.exe";
    const std::string kind = c.packaged;
    if (kind == "old" || kind == "new") {
      ASSERT_TRUE(oku::test::CopyFileTo(oku::test::ProductBin(kind == "old" ? L"old" : L"new") + L"\\mini_installer.exe",
                                        packaged));
    } else if (!kind.empty()) {
      ASSERT_TRUE(oku::test::WriteFileBytes(packaged, kind));
    }
    ReopenLog(L"downgrade" + std::to_wstring(++index) + L".log");

    EXPECT_EQ(IsDowngrade(context_), c.result == 1);
    if (!c.incoming) {
      ExpectLogged({L"没有找到上次安装的版本号，不是降级安装！"});
      EXPECT_TRUE(oku::FileExists(packaged));  // the window's copy stays
      ::DeleteFileW(packaged.c_str());
      continue;
    }
    ExpectLogged({std::wstring(L" 已安装版本: ") + c.pv + L", 待安装版本: " + c.incoming + L", 比较结果: " +
                  std::to_wstring(c.result) + L" 【0: 修复安装, -1: 升级安装, 1: 降级安装】"});
    ExpectLogged({(c.fromOwnExe ? L"使用当前 EXE 的版本号: " : L"使用临时目录中的 mini_installer.exe 版本号: ") +
                  std::wstring(c.incoming)});
    EXPECT_FALSE(oku::PathExists(packaged));
    EXPECT_EQ(log_->Has(L"已删除临时目录中的 mini_installer.exe: " + packaged), !kind.empty());
  }
}

TEST_F(PreInstallChecksTest, RecordedPathDifferingOnlyInCaseIsTheSameDirectory) {
  const std::wstring chosen = scratch_.Child(L"Oku.Compass\\Application");
  struct Case {
    const char* label;
    std::wstring recorded;  // empty: none recorded
    std::wstring chosen;
    bool same;
  } cases[] = {
      {"none recorded", L"", chosen, true},
      {"identical", chosen, chosen, true},
      {"other case", Upper(chosen), chosen, true},
      {"other case beyond ASCII", L"D:\\Programme\\ÄRGER Ωmega\\Application", L"d:\\programme\\ärger ωMEGA\\application",
       true},
      {"doubled backslashes", Doubled(chosen), chosen, true},
      {"trailing backslash", chosen + L"\\", chosen, true},
      {"other directory", scratch_.Child(L"elsewhere\\Application"), chosen, false},
      {"a parent of it", scratch_.Child(L"Oku.Compass"), chosen, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    oku::test::CleanProductUserState();
    SetProductValue(L"pv", kOld);
    if (!c.recorded.empty()) SetProductValue(L"OkuInstallPath", c.recorded);
    ReopenLog(L"case.log");
    EXPECT_EQ(CheckPreviousPath(c.chosen), c.same);
    EXPECT_EQ(log_->Has(L"没有找到上次安装的路径，不相同！ 但是没找到所以没办法卸载！"), c.recorded.empty());

    // The registry step keeps the product key exactly when it describes the chosen directory.
    context_.path = c.chosen;
    EXPECT_TRUE(CheckRegistryState(context_));
    EXPECT_EQ(ProductValue(L"pv"), c.same ? kOld : L"");
    EXPECT_EQ(oku::test::RegistryKeyExists(HKEY_CURRENT_USER, oku::test::kProductKey), c.same);
    ExpectLogged({L"开始检查注册表！", L"注册表状态合法！"});
    EXPECT_EQ(log_->Has(L"注册表存在，但是不是当前安装路径，需要删除！"), !c.same);
  }
}

// A product key for another directory that cannot be deleted (a subkey nobody may open) cancels
// the installation: the window is back at its options view and nothing was installed.
TEST_F(PreInstallChecksTest, ProductKeyThatCannotBeDeletedCancelsTheInstallation) {
  SetProductValue(L"OkuInstallPath", scratch_.Child(L"elsewhere\\Application"));
  const std::wstring lockedPath = std::wstring(oku::test::kProductKey) + L"\\locked";
  oku::RegKey locked;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, lockedPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              locked.put(), nullptr),
            ERROR_SUCCESS);
  SECURITY_DESCRIPTOR denyAll{};
  ACL emptyAcl{};
  ASSERT_TRUE(::InitializeSecurityDescriptor(&denyAll, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::InitializeAcl(&emptyAcl, sizeof(emptyAcl), ACL_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&denyAll, TRUE, &emptyAcl, FALSE));
  ASSERT_EQ(::RegSetKeySecurity(locked.get(), DACL_SECURITY_INFORMATION, &denyAll), ERROR_SUCCESS);
  locked.reset();
  // Restores access afterwards, whatever happened, so that the key can go.
  struct Unlock {
    std::wstring path;
    ~Unlock() {
      oku::RegKey key;
      if (::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, key.put()) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR open{};
        ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
        ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &open);
        key.reset();  // closed before the tree is deleted
      }
      ::RegDeleteTreeW(HKEY_CURRENT_USER, oku::test::kProductKey);
    }
  } unlock{lockedPath};
  if (oku::RegKey probe;
      ::RegOpenKeyExW(HKEY_CURRENT_USER, lockedPath.c_str(), 0, KEY_READ | DELETE, probe.put()) == ERROR_SUCCESS) {
    GTEST_SKIP() << "this registry grants a key with an empty DACL";
  }

  context_.path = scratch_.Child(L"chosen\\Application");
  CheckRegistryAndInstall(context_);
  ExpectLogged({L"开始检查注册表！", L"注册表存在，但是不是当前安装路径，需要删除！", L"删除注册表失败，取消安装！",
                L"注册表检查没有通过，取消安装！"});
  EXPECT_FALSE(log_->Has(L"注册表状态合法！"));
  EXPECT_FALSE(log_->Has(L"注册表检查通过，开始安装！"));
  EXPECT_EQ(context_.optionsViewShown, 1);
  EXPECT_EQ(context_.controlsAsked, 0);  // StartInstallation was not reached
  EXPECT_FALSE(oku::PathExists(context_.path));
  EXPECT_EQ(ProductValue(L"OkuInstallPath"), scratch_.Child(L"elsewhere\\Application"));
}

TEST_F(PreInstallChecksTest, PreviousInstallationElsewhereIsRemovedByTheEngine) {
  const std::wstring previous = scratch_.Child(L"previous\\Application");
  InstallOldProductAt(previous);
  context_.path = scratch_.Child(L"new place\\Application");
  context_.controls = false;  // StartInstallation returns at once: only that it was reached counts

  EXPECT_EQ(PreInstallThreadProc(context_), 0u);
  ExpectLogged({L"开始卸载 oku", L"setup.exe exitCode: 19", L"卸载成功！", kRule, L"开始删除 oku",
                L"注册表存在，但是不是当前安装路径，需要删除！", L"注册表检查通过，开始安装！"});
  EXPECT_FALSE(log_->Has(L"卸载失败，返回码: "));
  EXPECT_EQ(context_.controlsAsked, 1);
  EXPECT_EQ(context_.optionsViewShown, 0);

  // The product's files, its uninstall entry and shortcuts, the product key: gone. Its user data stays.
  EXPECT_FALSE(oku::PathExists(previous + L"\\oku.compass.exe"));
  EXPECT_FALSE(oku::PathExists(previous + L"\\chrome_proxy.exe"));
  EXPECT_FALSE(oku::test::RegistryKeyExists(HKEY_CURRENT_USER, oku::test::kComponentUninstallKey));
  EXPECT_FALSE(oku::test::RegistryKeyExists(HKEY_CURRENT_USER, oku::test::kProductKey));
  EXPECT_FALSE(oku::PathExists(oku::test::DesktopShortcut()));
  EXPECT_FALSE(oku::PathExists(oku::test::ProgramsShortcut()));
  EXPECT_FALSE(oku::PathExists(context_.path));
  // The demo setup.exe removes its own version folder after it exited: wait for that before the
  // scratch directory goes.
  for (int i = 0; i < 200 && oku::PathExists(previous + L"\\" + kOld); ++i) ::Sleep(50);
}

// An engine that cannot remove the earlier installation (its setup.exe is missing) is logged with
// its code, and the pre-checks go on.
TEST_F(PreInstallChecksTest, FailingEngineIsLoggedWithItsCode) {
  const std::wstring previous = scratch_.Child(L"previous\\Application");
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, previous.c_str(), nullptr), ERROR_SUCCESS);
  SetProductValue(L"OkuInstallPath", previous);
  SetProductValue(L"pv", kOld);
  context_.path = scratch_.Child(L"new place\\Application");
  context_.controls = false;

  EXPECT_EQ(PreInstallThreadProc(context_), 0u);
  ExpectLogged({L"开始卸载 oku", L"setup.exe does not exist: " + previous + L"\\" + kOld + L"\\Installer\\setup.exe",
                L"卸载失败，返回码: 1", L"注册表检查通过，开始安装！"});
  EXPECT_FALSE(log_->Has(L"卸载成功！"));
  EXPECT_EQ(context_.controlsAsked, 1);
}

TEST_F(PreInstallChecksTest, RecordedDirectoryInOtherLetterCaseIsNotRemoved) {
  const std::wstring installed = scratch_.Child(L"Oku.Compass\\Application");
  InstallOldProductAt(installed);
  context_.path = Upper(installed);
  context_.controls = false;

  EXPECT_EQ(PreInstallThreadProc(context_), 0u);
  EXPECT_FALSE(log_->Has(L"开始卸载 oku"));
  ExpectLogged({L"目标路径不应该删除，跳过: " + installed, L"注册表状态合法！", L"注册表检查通过，开始安装！"});
  EXPECT_EQ(context_.controlsAsked, 1);
  EXPECT_TRUE(oku::FileExists(installed + L"\\oku.compass.exe"));
  EXPECT_TRUE(oku::FileExists(installed + L"\\" + kOld + L"\\Installer\\setup.exe"));
  EXPECT_EQ(ProductValue(L"OkuInstallPath"), installed);
  EXPECT_EQ(ProductValue(L"pv"), kOld);
  EXPECT_TRUE(oku::FileExists(oku::test::DesktopShortcut()));  // it points into the chosen directory
}

TEST_F(PreInstallChecksTest, ShortcutsLeadOnlyToEarlierInstallationsBeingDeleted) {
  // Inside an earlier installation's directory that held the executable directly.
  const std::wstring chosen = scratch_.Child(L"oku.compass\\Application");
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, chosen.c_str(), nullptr), ERROR_SUCCESS);
  // The taskbar's pinned folder is only searched when it exists.
  wchar_t appData[MAX_PATH] = {};
  ASSERT_GT(::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH), 0u);
  ::SHCreateDirectoryExW(nullptr, (std::wstring(appData) + kTaskbarSuffix).c_str(), nullptr);
  ASSERT_FALSE(GetShortcutFolder(kShortcutTaskbarPinned).empty());

  // A known shell folder that happens to be named like an installation and holds the executable.
  const std::wstring music = scratch_.Child(L"music\\oku.compass");
  const auto savedMusic = QueryRegistryValue(HKEY_CURRENT_USER, kUserShellFolders, L"My Music");
  ASSERT_TRUE(savedMusic.present);
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, music.c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kUserShellFolders, L"My Music", music));
  struct RestoreMusic {
    const oku::test::RegistryValue& saved;
    ~RestoreMusic() {
      oku::RegKey key;
      if (::RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
        ::RegSetValueExW(key.get(), L"My Music", 0, saved.type, saved.bytes.data(), static_cast<DWORD>(saved.bytes.size()));
      }
    }
  } restoreMusic{savedMusic};
  ASSERT_EQ(oku::test::ShellFolderPath(CSIDL_MYMUSIC), music);

  enum class Dir { WithProduct, WithUserData, WithoutProduct, Missing, Chosen, Given };
  struct Case {
    const char* label;
    ShortcutLocation location;
    std::wstring directory;  // the target's directory
    Dir kind;
    bool deleteDirectory;
    bool deleteShortcut;
    std::wstring line;
  };
  const std::wstring s = scratch_.path();
  const std::vector<Case> cases = {
      {"Application on the desktop", kShortcutDesktop, s + L"\\one\\Application", Dir::WithProduct, true, true,
       L"开始删除目标路径：" + s + L"\\one\\Application"},
      {"oku.compass in the start menu", kShortcutStartMenu, s + L"\\two\\oku.compass", Dir::WithProduct, true, true,
       L"开始删除目标路径：" + s + L"\\two\\oku.compass"},
      {"Application on the taskbar", kShortcutTaskbarPinned, s + L"\\three\\APPLICATION", Dir::WithProduct, true, true,
       L"开始删除目标路径：" + s + L"\\three\\APPLICATION"},
      {"another name", kShortcutDesktop, s + L"\\four\\Oku Browser", Dir::WithProduct, false, true,
       L"目录不该删除，跳过: Oku Browser"},
      {"the chosen directory in other case", kShortcutDesktop, Upper(chosen), Dir::Chosen, false, false,
       L"目标路径不应该删除，跳过: " + Upper(chosen)},
      {"Application without the product", kShortcutDesktop, s + L"\\five\\Application", Dir::WithoutProduct, false,
       true, L"目录不该删除，跳过: Application"},
      {"Application that is gone", kShortcutStartMenu, s + L"\\six\\Application", Dir::Missing, false, true,
       L"目标路径不存在: " + s + L"\\six\\Application"},
      {"holding the product's user data", kShortcutStartMenu, s + L"\\seven\\oku.compass", Dir::WithUserData, false,
       true, L"目录不该删除，跳过: oku.compass"},
      {"holding the chosen directory", kShortcutDesktop, s + L"\\oku.compass", Dir::WithProduct, false, true,
       L"目录不该删除，跳过: oku.compass"},
      {"a known shell folder", kShortcutDesktop, music, Dir::Given, false, true, L"目录不该删除，跳过: oku.compass"},
      {"a drive root", kShortcutDesktop, L"C:", Dir::Given, false, true, L"目录不该删除，跳过: C:"},
  };
  int index = 0;
  std::vector<std::wstring> links;
  for (const auto& c : cases) {
    const std::wstring dir = c.directory;
    if (c.kind == Dir::WithProduct || c.kind == Dir::WithUserData || c.kind == Dir::WithoutProduct) {
      ASSERT_EQ(::SHCreateDirectoryExW(nullptr, (dir + L"\\147.0.1.2").c_str(), nullptr), ERROR_SUCCESS);
      ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\147.0.1.2\\resources.pak", "pak"));
      ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\chrome_proxy.exe", "proxy"));
      // A neighbour of the installation directory, which must survive.
      ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\..\\neighbour.txt", "stays"));
    }
    if (c.kind == Dir::WithUserData) {
      ASSERT_EQ(::SHCreateDirectoryExW(nullptr, (dir + L"\\User Data\\Default").c_str(), nullptr), ERROR_SUCCESS);
      ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\User Data\\Default\\Bookmarks", "{}"));
    }
    if (c.kind != Dir::WithoutProduct && c.kind != Dir::Missing && c.kind != Dir::Chosen) {
      if (dir != L"C:") {
        ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\oku.compass.exe", "exe"));
      }
    }
    if (c.kind == Dir::Chosen) {
      ASSERT_TRUE(oku::test::WriteFileBytes(chosen + L"\\oku.compass.exe", "exe"));
    }
    const std::wstring link = GetShortcutFolder(c.location) + L"\\okutest_" + std::to_wstring(++index) + L".lnk";
    ASSERT_TRUE(oku::test::MakeShortcut(link, dir + L"\\oku.compass.exe")) << c.label;
    links.push_back(link);
  }
  // A shortcut to something else is not the product's and is not even looked at.
  const std::wstring unrelated = GetShortcutFolder(kShortcutDesktop) + L"\\okutest_unrelated.lnk";
  ASSERT_TRUE(oku::test::MakeShortcut(unrelated, s + L"\\one\\Application\\notepad.exe"));

  RemoveOldInstallationByShortcuts(chosen);
  ExpectLogged({L"开始删除 oku", kRule});
  EXPECT_TRUE(oku::PathExists(unrelated));
  EXPECT_FALSE(log_->Has(L"快捷方式路径: " + unrelated));
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.label);
    ExpectLogged({L"快捷方式路径: " + links[i], L"目标路径: " + c.directory + L"\\oku.compass.exe", c.line});
    EXPECT_EQ(oku::PathExists(links[i]), !c.deleteShortcut);
    if (c.kind == Dir::WithProduct || c.kind == Dir::WithUserData || c.kind == Dir::WithoutProduct) {
      EXPECT_EQ(oku::PathExists(c.directory), !c.deleteDirectory);
      EXPECT_TRUE(oku::FileExists(c.directory + L"\\..\\neighbour.txt"));
    }
    if (!c.deleteDirectory && (c.kind == Dir::WithProduct || c.kind == Dir::WithUserData)) {
      EXPECT_TRUE(oku::FileExists(c.directory + L"\\147.0.1.2\\resources.pak"));
    }
  }
  EXPECT_TRUE(oku::FileExists(chosen + L"\\oku.compass.exe"));
  EXPECT_TRUE(oku::FileExists(music + L"\\oku.compass.exe"));
  EXPECT_TRUE(oku::FileExists(s + L"\\seven\\oku.compass\\User Data\\Default\\Bookmarks"));
  EXPECT_TRUE(oku::PathExists(L"C:\\windows\\system32"));
}

TEST_F(PreInstallChecksTest, DeleteAllFilesInDirectoryRemovesTheTreeButNeverFollowsALink) {
  const std::wstring tree = scratch_.Child(L"tree");
  const std::wstring outside = scratch_.Child(L"outside");
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, (tree + L"\\sub\\deeper").c_str(), nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(oku::test::WriteFileBytes(outside + L"\\precious.txt", "keep me"));
  for (const wchar_t* file : {L"\\a.txt", L"\\sub\\b.dll", L"\\sub\\deeper\\c.pak"}) {
    ASSERT_TRUE(oku::test::WriteFileBytes(tree + file, "x"));
  }
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, tree + L"\\sub\\link"));

  DeleteAllFilesInDirectory(tree);
  ExpectLogged({L"== directoryPath : " + tree, L"== searchPath: " + tree + L"\\*", L"== directoryPath : " + tree + L"\\sub\\deeper",
                L"DeleteAllFilesInDirectory end"});
  EXPECT_TRUE(oku::FileExists(outside + L"\\precious.txt"));
  EXPECT_FALSE(oku::PathExists(tree + L"\\a.txt"));
  EXPECT_FALSE(oku::PathExists(tree + L"\\sub\\b.dll"));
  EXPECT_FALSE(oku::PathExists(tree + L"\\sub\\deeper"));
  // Wine cannot remove a Unix link itself; once it is gone the rest goes too.
  oku::test::RemoveUnixSymlink(tree + L"\\sub\\link");
  DeleteAllFilesInDirectory(tree);
  EXPECT_FALSE(oku::PathExists(tree));

  // A file that cannot be deleted is named in the log with its error, and its directory stays.
  ASSERT_TRUE(::CreateDirectoryW(tree.c_str(), nullptr));
  ASSERT_TRUE(oku::test::WriteFileBytes(tree + L"\\read-only.txt", "x"));
  ASSERT_TRUE(::SetFileAttributesW((tree + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  DeleteAllFilesInDirectory(tree);
  ExpectLogged({L"DeleteFile failed: " + tree + L"\\read-only.txt, error: 5"});
  EXPECT_TRUE(oku::PathExists(tree));
  ::SetFileAttributesW((tree + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PreInstallChecksTest, RunningProductOrUninstallerIsAnsweredByTheUser) {
  // lockfile.exe copied as OkuUninstall.exe: a running process of that name.
  const std::wstring uninstaller = scratch_.Child(L"OkuUninstall.exe");
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), uninstaller));
  const std::wstring product = scratch_.Child(L"oku.compass.exe");
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::ProductBin(L"new") + L"\\oku.compass.exe", product));
  ScopedEnv exitLater(L"OKU_DEMO_EXIT_AFTER_MS", L"60000");

  enum class Check { Uninstaller, Product };
  struct Case {
    const char* label;
    Check check;
    const wchar_t* running;  // started before the check, or null
    int button;
    bool goOn;
    const wchar_t* box;  // the "提示" box's text, or null for none
    const wchar_t* line;
    bool stillRunning;
  } cases[] = {
      {"no uninstaller", Check::Uninstaller, nullptr, IDOK, true, nullptr, nullptr, false},
      {"no product", Check::Product, nullptr, IDYES, true, nullptr, nullptr, false},
      {"uninstaller running", Check::Uninstaller, L"OkuUninstall.exe", IDOK, false, L"oku 正在卸载中，请稍后重试！",
       L" oku 进程正在运行", true},
      {"product running, kept", Check::Product, L"oku.compass.exe", IDNO, false,
       L"oku 正在运行中，是否关闭并替换安装？", L"用户选择不关闭 oku 进程", true},
      {"product running, closed", Check::Product, L"oku.compass.exe", IDYES, true,
       L"oku 正在运行中，是否关闭并替换安装？", L"用户选择关闭 oku 进程", false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ReopenLog(L"running" + std::to_wstring(++index) + L".log");
    oku::KernelHandle process;
    if (c.running) {
      std::wstring commandLine = std::wstring(L"\"") + (c.check == Check::Uninstaller ? uninstaller : product) + L"\"";
      if (c.check == Check::Uninstaller) commandLine += L" --timeout 60000";
      STARTUPINFOW startup{};
      startup.cb = sizeof(startup);
      PROCESS_INFORMATION info{};
      ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &info));
      process = oku::OwnProcessHandles(info).process;
      ASSERT_EQ(oku::test::WaitForProcessCount(c.running, 1, 30000), 1);
    }
    bool goOn = false;
    std::vector<std::wstring> boxes;
    {
      oku::test::BoxAnswerer answerer(L"提示", c.button);
      goOn = c.check == Check::Uninstaller ? CheckUninstallerNotRunning() : CheckProductNotRunning();
      boxes = answerer.Finish();
    }
    EXPECT_EQ(goOn, c.goOn);
    if (c.box) {
      EXPECT_EQ(boxes, std::vector<std::wstring>{c.box});
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    if (c.line) ExpectLogged({c.line});
    if (c.running) {
      EXPECT_EQ(::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT, c.stillRunning);
      ::TerminateProcess(process.get(), 0);
      ::WaitForSingleObject(process.get(), 10000);
    }
  }
}

}  // namespace
