// Silent installations of the built OkuSetup.exe, each scenario on a clean machine (its own
// Wine prefix): exit code, files, registry records, session log and analytics outbox.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace oku::e2e;
using oku::test::QueryRegistryValue;

std::wstring Desktop() {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

Outcome InstallSilently(const std::wstring& arguments = L"", const RunOptions& options = {}) {
  return RunProgram(Quote(SetupExe()) + L" /S" + (arguments.empty() ? L"" : L" " + arguments), options);
}

DWORD ProductDword(const wchar_t* name) {
  return QueryRegistryValue(HKEY_CURRENT_USER, L"SOFTWARE\\Oku.compass", name).AsDword();
}

// The installed product's files, its records and the installer's own leftovers; without auto-start
// (disable_autolaunch) there is no Run value.
void ExpectInstalledInto(const std::wstring& dir, const std::wstring& productVersion, bool autoStart = true) {
  for (const wchar_t* file : {L"oku.compass.exe", L"chrome_proxy.exe", L"uninstall\\OkuUninstall.exe"}) {
    EXPECT_TRUE(PathExists(dir + L"\\" + file)) << dir << L"\\" << file;
  }
  EXPECT_TRUE(PathExists(dir + L"\\" + productVersion + L"\\Installer\\setup.exe"));
  EXPECT_FALSE(PathExists(dir + L"\\OkuUninstall.exe")) << "the uninstaller was moved into uninstall";
  EXPECT_FALSE(PathExists(dir + L"\\mini_installer.exe")) << "the product installer copy is not left behind";
  EXPECT_EQ(ProductValue(L"OkuInstallPath"), dir);
  EXPECT_EQ(ProductValue(L"UninstallString"), dir + L"\\uninstall\\OkuUninstall.exe");
  EXPECT_EQ(ProductValue(L"pv"), productVersion);
  EXPECT_EQ(ProductValue(L"version"), SetupVersion());
  EXPECT_EQ(RunValue(), autoStart ? L"\"" + dir + L"\\oku.compass.exe\"  --win-auto-start" : L"");
  EXPECT_EQ(UrlProtocolCommand(), L"\"" + dir + L"\\oku.compass.exe\" \"%1\"");
  EXPECT_EQ(ProductValue(L"InstallerName"), L"OkuSetup.exe");
  EXPECT_TRUE(StrayWorkingDirectories().empty());
}

TEST(Silent, FreshInstallToTheDefaultDirectory) {
  const Outcome run = InstallSilently();
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << "a silent installation shows no box";

  const std::wstring dir = DefaultInstallDir();
  ExpectInstalledInto(dir, ProductVersionNew());
  EXPECT_EQ(ProductDword(L"InstallAutoLaunch"), 1u);
  EXPECT_EQ(ProductDword(L"quietSilentInstall"), 1u);

  // The session log ends in the installation directory, its path recorded.
  EXPECT_EQ(ProductValue(L"OkuInstallLogPath"), dir + L"\\oku_install.log");
  const std::wstring log = ReadText(dir + L"\\oku_install.log");
  // The run's steps in their order: each message at the start of a line (after the time and the
  // session), in full where it has no variable part.
  struct Line {
    std::wstring text;
    bool whole;
  };
  const std::vector<Line> ordered = {
      {std::wstring(40, L'='), true},
      {L"🔑 Session ID: ", false},
      {L"⏱️ 启动时间: ", false},
      {std::wstring(40, L'='), true},
      {L"检查通过，允许继续安装", true},
      {L"Command line arguments: /S", true},
      {L"isQuiet = true,Argument /S", true},
      {L"临时目录策略: ", false},
      {L"开始解压上报系统资源...", true},
      {L"上报系统资源解压完成", true},
      {L"上报系统初始化完成", true},
      {L"开始解压核心安装资源...", true},
      {L"核心安装资源解压完成", true},
      {L"静默安装模式 - 跳过UI资源解压", true},
      {L"[Step0] 解压安装程序文件", true},
      {L"GetInstallPathFromRegistry path: ", true},
      {L"[Step3] 准备复制文件", true},
      {L"  mini_installer 源: ", false},
      {L"  mini_installer 目标: " + dir + L"\\mini_installer.exe", true},
      {L"  卸载器源: ", false},
      {L"  卸载器目标: " + dir + L"\\OkuUninstall.exe", true},
      {L"[Step2] 检查并创建安装目录", true},
      {L"Successfully created install directory " + dir, true},
      {L"[Step3] ========== 开始复制文件 ==========", true},
      {L"[Step3.1] 复制 mini_installer.exe", true},
      {L"[Step3.2] 复制卸载器 OkuUninstall.exe", true},
      {L"[Step3] ========== 文件复制完成 ==========", true},
      {L"[Step4] 开始更新注册表", true},
      {L"[Step5] 移动卸载器到 uninstall 目录", true},
      {L"version.txt: " + SetupVersion(), true},
      {L"No original InstallerName to backup", true},
      {L"[Step6] 启动 mini_installer.exe", true},
      {L"StartInstallation result: 0", true},
      {L"[Step7] 等待 mini_installer.exe 完成", true},
      {L"mini_installer.exe is completed!!!", true},
      {L"QuietInstall success", true},
      {L"[Step8] 设置开机自启动", true},
      {L"等待上报完成...", true},
      {L"上报等待完成", true},
      {L"[Step9] 清理临时文件", true},
      {L"========== logRegistryValue start ==========", true},
      {L"OkuInstallPath: " + dir, true},
      {L"logRegistryValue end", true},
      {L"QuietInstall result: 0", true},
      {L"静默安装结束，结果: 0", true},
  };
  size_t at = 0;
  for (const Line& line : ordered) {
    const std::wstring needle = L"] " + line.text + (line.whole ? L"\n" : L"");
    const size_t found = log.find(needle, at);
    EXPECT_NE(found, std::wstring::npos) << "missing, or out of order: " << line.text;
    if (found != std::wstring::npos) at = found + needle.size();
  }

  // The desktop shortcut the product made is renamed.
  EXPECT_TRUE(PathExists(Desktop() + L"\\oku.lnk"));
  EXPECT_FALSE(PathExists(Desktop() + L"\\oku.compass.lnk"));

  // The installed product starts.
  RunOptions briefly;
  briefly.environment = {{L"OKU_DEMO_EXIT_AFTER_MS", L"1500"}};
  const Outcome product = RunProgram(Quote(dir + L"\\oku.compass.exe"), briefly);
  EXPECT_TRUE(product.started);
  EXPECT_FALSE(product.timedOut);
  EXPECT_EQ(product.exitCode, 0u);

  // Every step reported, in the order the flow raises them; scopes end in reverse order.
  const std::vector<Event> events = OutboxEvents();
  const std::vector<std::string> expected = {
      "setup_installer_started",
      "setup_extract_lantern_resources_start",
      "setup_lantern_initialized",
      "setup_extract_core_resources_start",
      "setup_extract_install_files_start",
      "setup_create_install_directory_start",
      "setup_copy_install_files_start",
      "setup_update_registry_start",
      "setup_move_uninstaller_start",
      "setup_installation_started",
      "setup_launch_mini_installer_start",
      "setup_wait_mini_installer_start",
      "setup_set_autostart_completed",
      "setup_installation_completed",
      "setup_cleanup_temp_files_start",
      "setup_cleanup_temp_files_completed",
      "setup_wait_mini_installer_completed",
      "setup_launch_mini_installer_completed",
      "setup_move_uninstaller_completed",
      "setup_update_registry_completed",
      "setup_copy_install_files_completed",
      "setup_create_install_directory_completed",
      "setup_extract_install_files_completed",
      "setup_extract_core_resources_completed",
      "setup_extract_lantern_resources_completed",
  };
  EXPECT_EQ(Actions(events), expected);
  ASSERT_FALSE(events.empty());
  const Event& started = events.front();
  EXPECT_EQ(started.Param("install_mode"), "silent");
  EXPECT_EQ(started.Param("is_update"), "false");
  EXPECT_EQ(started.Param("has_custom_path"), "false");
  if (const Event* created = FindEvent(events, "setup_create_install_directory_completed")) {
    EXPECT_EQ(created->Param("status"), "created");
  }
  if (const Event* launching = FindEvent(events, "setup_installation_started")) {
    EXPECT_EQ(launching->Param("install_path"), oku::Utf8FromWide(dir));
    EXPECT_EQ(launching->Param("auto_launch"), "true");
    EXPECT_EQ(launching->Param("is_override"), "false");
    EXPECT_EQ(launching->Param("use_admin_mode"), "false");
  }
  if (const Event* waited = FindEvent(events, "setup_wait_mini_installer_completed")) {
    EXPECT_EQ(waited->Param("timeout_seconds"), "180");
    EXPECT_TRUE(waited->Has("elapsed_seconds"));
  }
  if (const Event* completed = FindEvent(events, "setup_installation_completed")) {
    EXPECT_GT(std::stoull("0" + completed->Param("installation_time")), 0u);
    EXPECT_EQ(completed->Param("install_mode"), "silent");
    EXPECT_EQ(completed->Param("is_new_install"), "true");
    EXPECT_EQ(completed->Param("auto_launch"), "true");
  }
  for (const Event& event : events) {
    bool isSetup = false;
    for (const auto& [key, value] : event.common) isSetup = isSetup || (key == "is_setup" && value == "true");
    EXPECT_TRUE(isSetup) << event.action << " carries the common parameters";
  }
}

// Each accepted way of naming the directory, on a machine with nothing recorded.
TEST(Silent, TargetPathForms) {
  struct Case {
    const wchar_t* arguments;
    const wchar_t* directory;  // where the product lands; null: refused
  };
  const Case cases[] = {
      {L"/DC:\\OkuE2E\\plain", L"C:\\OkuE2E\\plain"},
      {L"\"/DC:\\Oku E2E\\带 空格\"", L"C:\\Oku E2E\\带 空格"},
      {L"/D\"C:\\Oku E2E\\quoted\"", L"C:\\Oku E2E\\quoted"},
      {L"/d=C:\\OkuE2E\\lower", L"C:\\OkuE2E\\lower"},
      {L"/DC:\\OkuE2E\\中文目录", L"C:\\OkuE2E\\中文目录"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.arguments);
    ForgetInstallationRecords();
    const Outcome run = InstallSilently(c.arguments);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0u);
    ExpectInstalledInto(c.directory, ProductVersionNew());
  }
  // Capital D keeps the "=": the path "=C:\..." is no directory anyone asked for.
  ForgetInstallationRecords();
  const Outcome upper = InstallSilently(L"/D=C:\\OkuE2E\\upper");
  EXPECT_EQ(upper.exitCode, 1006u);
  EXPECT_FALSE(PathExists(L"C:\\OkuE2E\\upper\\oku.compass.exe"));
}

TEST(Silent, ReinstallKeepsTheRecordedDirectory) {
  ASSERT_EQ(InstallSilently().exitCode, 0u);
  DeleteProductValue(L"quietSilentInstall");
  ::DeleteFileW(OutboxPath().c_str());

  const Outcome again = InstallSilently(L"/DC:\\Elsewhere disable_autolaunch");
  EXPECT_EQ(again.exitCode, 0u);
  ExpectInstalledInto(DefaultInstallDir(), ProductVersionNew(), false);
  EXPECT_FALSE(PathExists(L"C:\\Elsewhere")) << "a recorded installation ignores /D";
  EXPECT_FALSE(ProductValuePresent(L"quietSilentInstall")) << "written for new installations only";
  EXPECT_EQ(ProductDword(L"InstallAutoLaunch"), 0u);

  const std::vector<Event> events = OutboxEvents();
  const Event* completed = FindEvent(events, "setup_installation_completed");
  ASSERT_NE(completed, nullptr);
  EXPECT_EQ(completed->Param("is_new_install"), "false");
  EXPECT_EQ(completed->Param("auto_launch"), "false");
  EXPECT_EQ(FindEvent(events, "setup_set_autostart_completed"), nullptr);
  const Event* created = FindEvent(events, "setup_create_install_directory_completed");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->Param("status"), "already_exists");
}

TEST(Silent, UpgradeFromTheOlderVersion) {
  const Outcome old = RunProgram(Quote(VariantExe(L"OkuSetup_old.exe")) + L" /S");
  ASSERT_EQ(old.exitCode, 0u);
  const std::wstring dir = DefaultInstallDir();
  EXPECT_EQ(ProductValue(L"pv"), ProductVersionOld());
  EXPECT_TRUE(PathExists(dir + L"\\" + ProductVersionOld() + L"\\Installer\\setup.exe"));

  const Outcome upgrade = InstallSilently();
  EXPECT_EQ(upgrade.exitCode, 0u);
  ExpectInstalledInto(dir, ProductVersionNew());
  EXPECT_EQ(ProductValue(L"pv"), ProductVersionNew());
}

TEST(Silent, KillEndsARunningProduct) {
  ASSERT_EQ(InstallSilently().exitCode, 0u);
  const std::wstring exe = DefaultInstallDir() + L"\\oku.compass.exe";

  // With nothing running the check is still reported.
  ::DeleteFileW(OutboxPath().c_str());
  EXPECT_EQ(InstallSilently(L"kill").exitCode, 0u);
  const std::vector<Event> idleEvents = OutboxEvents();
  const Event* idle = FindEvent(idleEvents, "setup_environment_check");
  ASSERT_NE(idle, nullptr);
  EXPECT_EQ(idle->Param("check_type"), "oku_process");
  EXPECT_EQ(idle->Param("action"), "killed");

  const oku::KernelHandle product(StartProcess(Quote(exe)));
  ASSERT_TRUE(product);
  ASSERT_TRUE(WaitUntil([] { return CountProcesses(L"oku.compass.exe") == 1; }, 20000));

  EXPECT_EQ(InstallSilently(L"kill").exitCode, 0u);
  EXPECT_EQ(::WaitForSingleObject(product.get(), 10000), WAIT_OBJECT_0) << "the running product was ended";
  ::TerminateProcess(product.get(), 1);
  ExpectInstalledInto(DefaultInstallDir(), ProductVersionNew());
}

TEST(Silent, FailingProductInstallerRollsBackInstallerName) {
  RunOptions failing;
  failing.environment = {{L"OKU_DEMO_INSTALLER_EXIT_CODE", L"7"}};

  // Nothing recorded before: the value the run wrote is deleted again.
  Outcome run = InstallSilently(L"", failing);
  EXPECT_EQ(run.exitCode, 7u) << "the product installer's code is the exit code";
  EXPECT_FALSE(ProductValuePresent(L"InstallerName"));
  const std::vector<Event> events = OutboxEvents();
  bool reported = false;
  for (const Event& event : events) {
    if (event.action == "setup_installer_failed" && event.Param("reason") == "installation_failed") {
      reported = true;
      EXPECT_EQ(event.Param("error_code"), "7");
    }
  }
  EXPECT_TRUE(reported);
  EXPECT_NE(FindEvent(events, "setup_launch_mini_installer_failed"), nullptr);
  EXPECT_TRUE(StrayWorkingDirectories().empty());

  // An earlier value is restored.
  SetProductValue(L"InstallerName", L"EarlierSetup.exe");
  run = InstallSilently(L"", failing);
  EXPECT_EQ(run.exitCode, 7u);
  EXPECT_EQ(ProductValue(L"InstallerName"), L"EarlierSetup.exe");
  const std::wstring log = ReadText(DefaultInstallDir() + L"\\oku_install.log");
  EXPECT_NE(log.find(L"Rolling back InstallerName to: EarlierSetup.exe"), std::wstring::npos);
}

// Silent, the failure is the exit code and a log line; with the window, the user is told.
// A failed new installation takes back every record it wrote, so the next run is a new
// installation that honours /D; a failed reinstall keeps the records that were there before.
TEST(Silent, FailedNewInstallationLeavesNoRecordsAndTheNextHonoursTheTarget) {
  RunOptions failing;
  failing.environment = {{L"OKU_DEMO_INSTALLER_EXIT_CODE", L"7"}};
  ASSERT_EQ(InstallSilently(L"/d=C:\\first", failing).exitCode, 7u);
  for (const wchar_t* name : {L"OkuInstallPath", L"UninstallString", L"version", L"InstallerName", L"InstallAutoLaunch"}) {
    EXPECT_FALSE(ProductValuePresent(name)) << oku::Utf8FromWide(name);
  }
  EXPECT_EQ(RunValue(), L"");
  EXPECT_EQ(UrlProtocolCommand(), L"");
  EXPECT_FALSE(PathExists(L"C:\\first\\uninstall\\OkuUninstall.exe"));
  EXPECT_FALSE(PathExists(L"C:\\first\\mini_installer.exe"));
  EXPECT_TRUE(PathExists(L"C:\\first\\oku_install.log")) << "the log stays where the run worked";

  ASSERT_EQ(InstallSilently(L"/d=C:\\second").exitCode, 0u);
  ExpectInstalledInto(L"C:\\second", ProductVersionNew());

  ASSERT_EQ(InstallSilently(L"/d=C:\\ignored", failing).exitCode, 7u);
  EXPECT_EQ(ProductValue(L"OkuInstallPath"), L"C:\\second");
  EXPECT_EQ(ProductValue(L"UninstallString"), L"C:\\second\\uninstall\\OkuUninstall.exe");
  EXPECT_TRUE(PathExists(L"C:\\second\\uninstall\\OkuUninstall.exe"));
  EXPECT_EQ(RunValue(), L"\"C:\\second\\oku.compass.exe\"  --win-auto-start");
  EXPECT_FALSE(PathExists(L"C:\\ignored"));
}

// disable_autolaunch holds: no Run value is made, and an existing one goes. A reinstall without
// it keeps the user's choice (a missing value is not made again); a new installation makes one.
TEST(Silent, AutoStartFollowsTheRequest) {
  ASSERT_EQ(InstallSilently(L"disable_autolaunch").exitCode, 0u);
  EXPECT_EQ(RunValue(), L"");
  EXPECT_EQ(ProductDword(L"InstallAutoLaunch"), 0u);
  ASSERT_EQ(InstallSilently().exitCode, 0u);
  EXPECT_EQ(RunValue(), L"") << "a reinstall made the value the user had not chosen";

  ForgetInstallationRecords();
  ASSERT_EQ(InstallSilently().exitCode, 0u);
  EXPECT_EQ(RunValue(), L"\"" + DefaultInstallDir() + L"\\oku.compass.exe\"  --win-auto-start");
  ASSERT_EQ(InstallSilently(L"disable_autolaunch").exitCode, 0u);
  EXPECT_EQ(RunValue(), L"");
}

// A silent start while a window installer runs ends at once with its own code and no box; the
// window installer goes on.
// A copy of the installer without one resource of the window group (110, chrome.ico): written
// anew with every other resource of the original; empty when the copy cannot be made.
std::wstring InstallerWithoutAWindowResource() {
  const std::wstring copy = oku::test::TempDirectory() + L"\\OkuSetup_without_110.exe";
  if (!::CopyFileW(SetupExe().c_str(), copy.c_str(), FALSE)) return std::wstring();
  struct Resource {
    std::wstring type, name;  // "#n" for numeric identifiers
    WORD language;
    std::string data;
  };
  std::vector<Resource> kept;
  oku::ModuleHandle original(::LoadLibraryExW(SetupExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!original) return std::wstring();
  auto text = [](LPCWSTR id) {
    return IS_INTRESOURCE(id) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(id)) : std::wstring(id);
  };
  struct Walk {
    HMODULE module;
    std::vector<Resource>* kept;
    decltype(text)* name;
    std::wstring type, id;
  } walk{original.get(), &kept, &text, L"", L""};
  ::EnumResourceTypesW(
      original.get(),
      [](HMODULE module, LPWSTR type, LONG_PTR param) -> BOOL {
        auto* w = reinterpret_cast<Walk*>(param);
        w->type = (*w->name)(type);
        ::EnumResourceNamesW(
            module, type,
            [](HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) -> BOOL {
              auto* w = reinterpret_cast<Walk*>(param);
              w->id = (*w->name)(name);
              ::EnumResourceLanguagesW(
                  module, type, name,
                  [](HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR param) -> BOOL {
                    auto* w = reinterpret_cast<Walk*>(param);
                    if (w->type == L"#10" && w->id == L"#110") return TRUE;
                    HRSRC found = ::FindResourceExW(module, type, name, language);
                    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
                    const char* bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
                    if (!bytes) return TRUE;
                    w->kept->push_back({w->type, w->id, language, std::string(bytes, ::SizeofResource(module, found))});
                    return TRUE;
                  },
                  param);
              return TRUE;
            },
            param);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&walk));
  original.reset();
  auto id = [](const std::wstring& value) {
    return value[0] == L'#' ? MAKEINTRESOURCEW(std::stoi(value.substr(1))) : const_cast<LPWSTR>(value.c_str());
  };
  HANDLE update = ::BeginUpdateResourceW(copy.c_str(), TRUE);
  if (!update) return std::wstring();
  bool written = true;
  for (Resource& r : kept) {
    written = written && ::UpdateResourceW(update, id(r.type), id(r.name), r.language, r.data.data(),
                                           static_cast<DWORD>(r.data.size()));
  }
  if (!::EndUpdateResourceW(update, !written) || !written) return std::wstring();
  const oku::ModuleHandle check(::LoadLibraryExW(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!check) return std::wstring();
  const bool gone = ::FindResourceW(check.get(), MAKEINTRESOURCEW(110), MAKEINTRESOURCEW(10)) == nullptr;
  const bool othersKept = ::FindResourceW(check.get(), MAKEINTRESOURCEW(106), MAKEINTRESOURCEW(10)) != nullptr;
  return gone && othersKept ? copy : std::wstring();
}

// The window installer here lacks one resource of its window group: that is counted in the group's
// completion event ("failed_count") and the window opens all the same.
TEST(Silent, RefusedWhileAWindowInstallerRuns) {
  const std::wstring installer = InstallerWithoutAWindowResource();
  ASSERT_FALSE(installer.empty());
  ::DeleteFileW(OutboxPath().c_str());
  oku::KernelHandle window(StartProcess(Quote(installer)));
  ASSERT_TRUE(window);
  HWND setupWindow = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (setupWindow = ::FindWindowW(L"OkuSetup", nullptr)) != nullptr; }, 90000));
  {
    const std::vector<Event> events = OutboxEvents();
    const Event* windowGroup = FindEvent(events, "setup_extract_ui_resources_completed");
    ASSERT_NE(windowGroup, nullptr);
    EXPECT_EQ(windowGroup->Param("resource_count"), "13");
    EXPECT_EQ(windowGroup->Param("failed_count"), "1");
  }
  RunOptions quick;
  quick.timeoutMs = 60000;
  const Outcome refused = InstallSilently(L"", quick);
  ASSERT_FALSE(refused.timedOut);
  EXPECT_EQ(refused.exitCode, 1618u);
  EXPECT_TRUE(refused.boxes.empty());
  EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath"));
  ::PostMessageW(setupWindow, WM_CLOSE, 0, 0);
  ASSERT_EQ(::WaitForSingleObject(window.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(window.get(), &code);
  EXPECT_EQ(code, 0u) << "closed before installing";
}

TEST(Silent, DamagedPayloadEndsWith1392) {
  const std::wstring text = L"安装包损坏或磁盘空间不足，请重新下载后重试";
  for (const bool quiet : {true, false}) {
    SCOPED_TRACE(quiet ? "/S" : "window mode");
    const Outcome run = RunProgram(Quote(VariantExe(L"OkuSetup_no_analytics.exe")) + (quiet ? L" /S" : L""));
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 1392u);
    if (quiet) {
      EXPECT_TRUE(run.boxes.empty()) << "a silent run waits for nobody";
      EXPECT_NE(ReadText(TempLogPath()).find(L"静默模式，不显示提示框: " + text), std::wstring::npos);
    } else {
      ASSERT_EQ(run.boxes.size(), 1u);
      EXPECT_EQ(run.boxes[0].caption, L"安装失败");
      EXPECT_EQ(run.boxes[0].text, text);
    }
    // The core group is not extracted after the analytics group failed.
    const std::wstring log = ReadText(TempLogPath());
    EXPECT_NE(log.find(L"解压上报资源失败"), std::wstring::npos);
    EXPECT_EQ(log.find(L"开始解压核心安装资源..."), std::wstring::npos);
    EXPECT_FALSE(PathExists(DefaultInstallDir()));
    EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath"));
    EXPECT_TRUE(StrayWorkingDirectories().empty());
  }
}

// Scenarios on the drives e2e-drives.sh maps (P: read-only with the installer on it, Q: 64 MiB).
class SilentDrives : public testing::Test {
 protected:
  void SetUp() override {
    if (!::GetEnvironmentVariableW(L"OKU_DRIVE_P", nullptr, 0) || !::GetEnvironmentVariableW(L"OKU_DRIVE_Q", nullptr, 0)) {
      GTEST_SKIP() << "drives P: and Q: are not mapped (mounting needs root)";
    }
    ::DeleteFileW(OutboxPath().c_str());
  }
};

TEST_F(SilentDrives, ReadOnlyTargetEndsWith1006) {
  const Outcome run = InstallSilently(L"/DP:\\existing");
  EXPECT_EQ(run.exitCode, 1006u);
  EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath"));
  const std::vector<Event> failedEvents = OutboxEvents();
  const Event* failed = FindEvent(failedEvents, "setup_installer_failed");
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->Param("reason"), "permission_denied");
  EXPECT_EQ(failed->Param("target_path"), "P:\\existing");
  EXPECT_TRUE(StrayWorkingDirectories().empty());
}

TEST_F(SilentDrives, SmallDriveEndsWith1007) {
  const Outcome run = InstallSilently(L"/DQ:\\Oku");
  EXPECT_EQ(run.exitCode, 1007u);
  EXPECT_FALSE(PathExists(L"Q:\\Oku\\oku.compass.exe"));
  const std::vector<Event> failedEvents = OutboxEvents();
  const Event* failed = FindEvent(failedEvents, "setup_installer_failed");
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->Param("reason"), "disk_space_insufficient");
  EXPECT_EQ(failed->Param("required_space_mb"), "1024");
  const std::string available = failed->Param("available_space_mb");
  ASSERT_FALSE(available.empty());
  EXPECT_LE(std::stoi(available), 64);
}

// No working directory anywhere: the temporary folder, local application data and the
// installer's own folder all unwritable.
TEST_F(SilentDrives, NoWorkingDirectoryEndsWith3) {
  const wchar_t* folders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  const wchar_t* resolved = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
  const std::wstring localAppData = LocalAppData();
  const std::wstring readOnly = L"P:\\existing";
  for (const wchar_t* key : {folders, resolved}) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Local AppData", REG_SZ, readOnly.c_str(),
                      static_cast<DWORD>((readOnly.size() + 1) * sizeof(wchar_t)));
  }
  RunOptions options;
  options.environment = {{L"TEMP", readOnly}, {L"TMP", readOnly}, {L"LANTERN_OUTBOX", localAppData + L"\\outbox.jsonl"}};
  const Outcome run = RunProgram(L"P:\\OkuSetup.exe /S", options);
  // Window mode says so in a box, then ends the same way.
  const Outcome windowRun = RunProgram(L"P:\\OkuSetup.exe", options);
  for (const wchar_t* key : {folders, resolved}) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Local AppData", REG_SZ, localAppData.c_str(),
                      static_cast<DWORD>((localAppData.size() + 1) * sizeof(wchar_t)));
  }
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_TRUE(run.boxes.empty()) << "a silent run waits for nobody";
  EXPECT_FALSE(windowRun.timedOut);
  EXPECT_EQ(windowRun.exitCode, 3u);
  ASSERT_EQ(windowRun.boxes.size(), 1u);
  EXPECT_EQ(windowRun.boxes[0].caption, L"安装失败");
  EXPECT_EQ(windowRun.boxes[0].text, L"无法创建临时目录，请检查磁盘空间或权限后重试");
  EXPECT_FALSE(PathExists(DefaultInstallDir()));
}

}  // namespace
