// The window-mode installation pipeline against the demo product. This program carries the
// installer's payload, so StartInstallation extracts the real install files and the installation
// thread runs the real mini_installer.exe; the window is a TestContext, the progress a real
// ProgressSimulator posting to a message-only window. Results are read back from Wine's
// registry, the installation directory, the session log and the analytics outbox.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/registry.h"
#include "setup/exit_codes.h"
#include "setup/install_records.h"
#include "setup/pipeline.h"
#include "setup/product_installer.h"
#include "setup/progress_simulator.h"
#include "setup/quiet_install.h"
#include "tests/setup/pipeline_test_support.h"
#include "tests/support/test_support.h"
#include "telemetry/event_reporter.h"
#include "tests/uninstall/removal_test_util.h"

// The silent installation's poll after the product installer (setup/quiet_install.cpp).
void WaitForProductInstaller(const std::wstring& installDir, EventScope& scope, std::uint64_t limitMs);

namespace {

using oku::test::Outbox;
using oku::test::QueryRegistryValue;
using oku::test::ScopedEnv;
using oku::test::TestContext;

constexpr wchar_t kNewVersion[] = OKU_PRODUCT_VERSION_NEW;
constexpr wchar_t kSetupVersion[] = L"2.6.4.4846";
constexpr DWORD kInstallTimeoutMs = 240000;
const wchar_t* const kInstallFiles[] = {L"mini_installer.exe", L"lantern_sdk.dll", L"tessel.dll", L"dockit.dll",
                                        L"crashpad_handler_extension.exe", L"crashpad_handler_tracer.exe",
                                        L"client_extension.dll", L"tracer_logger.dll"};

std::wstring ProductValue(const wchar_t* name) {
  return QueryRegistryValue(HKEY_CURRENT_USER, oku::test::kProductKey, name).AsString();
}
bool ProductValuePresent(const wchar_t* name) {
  return QueryRegistryValue(HKEY_CURRENT_USER, oku::test::kProductKey, name).present;
}
std::wstring UninstallerBuilt() { return oku::test::BinDirectory() + L"\\OkuUninstall.exe"; }

// A message-only window of the test thread that receives the progress simulation's messages.
class ProgressWindow {
 public:
  ProgressWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OkuPipelineTestProgress";
    ::RegisterClassW(&wc);
    hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }
  HWND handle() const { return hwnd_; }
  // Pumps until the end message arrived (true) or timeoutMs passed; keeps the last percentage.
  bool WaitForDone(DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (::GetTickCount64() < deadline) {
      MSG msg;
      while (::PeekMessageW(&msg, hwnd_, 0, 0, PM_REMOVE)) {
        if (msg.message == kProgressMessage) lastPercent_ = static_cast<int>(msg.wParam);
        if (msg.message == kProgressDoneMessage) return true;
      }
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return false;
  }
  int lastPercent() const { return lastPercent_; }

 private:
  HWND hwnd_ = nullptr;
  int lastPercent_ = -1;
};

// What one installation request uses. The installation thread is not joined (nothing waits for
// it, as in the window), so these live until the process ends.
struct Installation {
  ProgressWindow window;
  std::unique_ptr<ProgressSimulator> progress;
  TestContext context;
};

Installation& NewInstallation(const std::wstring& installDir, const std::wstring& workingDir) {
  static std::vector<std::unique_ptr<Installation>>* kept = new std::vector<std::unique_ptr<Installation>>();
  kept->push_back(std::make_unique<Installation>());
  Installation& run = *kept->back();
  run.progress = std::make_unique<ProgressSimulator>(run.window.handle(), ProgressTiming{5, 20});
  run.context.path = installDir;
  run.context.workingDir = workingDir;
  run.context.window = run.window.handle();
  run.context.progress = run.progress.get();
  return run;
}

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oku::test::EndProcesses(L"oku.compass.exe");
    oku::test::EndProcesses(L"mini_installer.exe");
    oku::test::CleanProductUserState();
    profileExisted_ = oku::PathExists(oku::test::ProductProfile());
    ::SetEnvironmentVariableW(L"OKU_DEMO_INSTALLER_EXIT_CODE", nullptr);
    ::SetEnvironmentVariableW(L"OKU_DEMO_INSTALLER_DELAY_MS", nullptr);
    work_ = scratch_.Child(L"work");
    ASSERT_TRUE(::CreateDirectoryW(work_.c_str(), nullptr));
    ASSERT_TRUE(oku::test::WriteFileBytes(work_ + L"\\version.txt", "2.6.4.4846\r\n"));
    // A blank in the path, and a parent that does not exist yet.
    install_ = scratch_.Child(L"Oku compass") + L"\\Application";
    ReopenLog(L"pipeline.log");
  }
  void TearDown() override {
    oku::test::EndProcesses(L"oku.compass.exe");
    oku::test::EndProcesses(L"mini_installer.exe");
    log_.reset();
    oku::test::CleanProductUserState();
    if (!profileExisted_) oku::test::RemoveTree(oku::test::ProductProfile());
  }

  // The pre-check thread's last step: StartInstallation with the progress running, then the
  // window's wait for the end message.
  bool RunInstallation(Installation& run) {
    run.context.startTick = ::GetTickCount64();
    run.progress->Start();
    StartInstallation(run.context);
    return run.window.WaitForDone(kInstallTimeoutMs);
  }
  // An installation directory as StartInstallation leaves it, with a chosen product installer.
  void StageInstallDir(const std::wstring& dir, const std::string& installer) {
    ASSERT_EQ(::SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr), ERROR_SUCCESS);
    ASSERT_TRUE(oku::test::CopyFileTo(UninstallerBuilt(), dir + L"\\OkuUninstall.exe"));
    const std::wstring exe = dir + L"\\mini_installer.exe";
    if (installer == "demo") {
      ASSERT_TRUE(oku::test::CopyFileTo(oku::test::ProductBin(L"new") + L"\\mini_installer.exe", exe));
    } else if (!installer.empty()) {
      ASSERT_TRUE(oku::test::WriteFileBytes(exe, installer));
    }
  }
  // A fresh session log (the old one is closed first: only one is open per process).
  void ReopenLog(const std::wstring& fileName) {
    log_.reset();
    log_ = std::make_unique<oku::test::TestLog>(scratch_.path(), fileName);
  }
  void ExpectLogged(const std::vector<std::wstring>& lines) {
    const std::wstring text = log_->Text();
    for (const auto& line : lines) EXPECT_NE(text.find(line), std::wstring::npos) << "missing log line: " << line;
  }

  oku::test::ScratchDirectory scratch_{L"pipeline"};
  std::wstring work_, install_;
  std::unique_ptr<oku::test::TestLog> log_;
  bool profileExisted_ = false;
};

TEST_F(PipelineTest, InstallsIntoAFreshDirectoryThenOverTheExistingOne) {
  const std::wstring& dir = install_;
  ASSERT_FALSE(oku::PathExists(scratch_.Child(L"Oku compass")));
  {
    Outbox outbox;
    Installation& run = NewInstallation(dir, work_);
    ASSERT_TRUE(RunInstallation(run));
    EXPECT_EQ(run.window.lastPercent(), 100);
    ExpectLogged({L"[UI-StartInstallation] 开始安装流程", L"  使用临时目录: " + work_,
                  L"Successfully created install directory " + dir, L"useAdministratorMode false",
                  L"[UI-StartInstallation] 非管理员模式，开始准备安装文件", L"[UI-StartInstallation] 所有文件解压完成",
                  L"  ✓ Uninstall 目录创建成功", L"[Step4] ✓ 移动卸载器成功！",
                  L"installerPathStr: \"" + dir + L"\\mini_installer.exe\"  --verbose-logging --log-file=\"" + dir +
                      L"\\okuinfo\\mini_installer_log.log\" ",
                  L"mini_installer.exe 正常结束，退出码：0", L"StartInstallation result: 0",
                  L"InstallThreadProc Install success", L"Version content: [2.6.4.4846]",
                  L"Version registry update completed", L"上报等待完成"});

    // Files: the install files, the product's own, the uninstaller moved into place.
    for (const wchar_t* name : kInstallFiles) EXPECT_TRUE(oku::FileExists(dir + L"\\" + name)) << name;
    EXPECT_TRUE(oku::FileExists(dir + L"\\oku.compass.exe"));
    EXPECT_TRUE(oku::FileExists(dir + L"\\chrome_proxy.exe"));
    EXPECT_TRUE(oku::FileExists(dir + L"\\" + kNewVersion + L"\\Installer\\setup.exe"));
    EXPECT_FALSE(oku::PathExists(dir + L"\\OkuUninstall.exe"));
    EXPECT_EQ(oku::test::ReadFileBytes(dir + L"\\uninstall\\OkuUninstall.exe"),
              oku::test::ReadFileBytes(UninstallerBuilt()));
    // The product installer was given its log file.
    EXPECT_NE(oku::test::ReadFileBytes(dir + L"\\okuinfo\\mini_installer_log.log").find("--verbose-logging"),
              std::string::npos);

    // Records of both sides.
    EXPECT_EQ(ProductValue(L"OkuInstallPath"), dir);
    EXPECT_EQ(ProductValue(L"UninstallString"), dir + L"\\uninstall\\OkuUninstall.exe");
    EXPECT_EQ(ProductValue(L"pv"), kNewVersion);
    EXPECT_EQ(ProductValue(L"version"), kSetupVersion);
    EXPECT_EQ(ProductValue(L"InstallerName"), L"setup_pipeline_test.exe");
    EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, oku::test::kProductKey, L"InstallerError").AsDword(), 0u);
    EXPECT_EQ(oku::test::RunValue(), AutoStartCommand(dir));
    EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kUrlProtocolCommandKey, nullptr).AsString(),
              L"\"" + dir + L"\\oku.compass.exe\" \"%1\"");

    const auto extracted = outbox.Events("setup_extract_install_files_completed");
    ASSERT_EQ(extracted.size(), 1u);
    EXPECT_TRUE(Outbox::Has(extracted[0], "target_dir", Outbox::Json(dir)));
    EXPECT_TRUE(Outbox::Has(extracted[0], "file_count", "9"));
    const auto started = outbox.Events("setup_installation_started");
    ASSERT_EQ(started.size(), 1u);
    EXPECT_TRUE(Outbox::Has(started[0], "is_override", "false"));
    EXPECT_TRUE(Outbox::Has(started[0], "use_admin_mode", "false"));
    EXPECT_TRUE(Outbox::Has(started[0], "install_path", Outbox::Json(dir)));
    EXPECT_TRUE(Outbox::Has(started[0], "auto_launch", "true"));
    const auto completed = outbox.Events("setup_complete_installation");
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_TRUE(Outbox::Has(completed[0], "is_new_install", "true"));
    EXPECT_TRUE(Outbox::Has(completed[0], "install_mode", "ui"));
    EXPECT_TRUE(Outbox::Has(completed[0], "auto_launch", "true"));
    // Measured when it is sent: the whole installation took longer than a millisecond.
    EXPECT_EQ(completed[0].find("[\"installation_time\",\"0\"]"), std::string::npos);
    EXPECT_NE(completed[0].find("[\"installation_time\",\""), std::string::npos);
    EXPECT_TRUE(outbox.Events("setup_installer_failed").empty());
  }

  // Again over the same, now recorded directory, whose uninstall folder holds an older uninstaller,
  // with an empty version.txt: no "version" record is written.
  ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\uninstall\\OkuUninstall.exe", "an older uninstaller"));
  ASSERT_TRUE(oku::test::WriteFileBytes(work_ + L"\\version.txt", ""));
  ASSERT_TRUE(DeleteRegistryValue(HKEY_CURRENT_USER, oku::test::kProductKey, L"version"));
  ReopenLog(L"pipeline_again.log");
  Outbox outbox;
  Installation& run = NewInstallation(dir, work_);
  run.context.fromRegistry = true;
  ASSERT_TRUE(RunInstallation(run));
  ExpectLogged({L"Install directory already exists", L"check Install directory already exists",
                L"useAdministratorMode false", L"  ✓ Uninstall 目录已存在", L"[Step4] ✓ 移动卸载器成功！",
                L"InstallThreadProc Install success"});
  EXPECT_EQ(oku::test::ReadFileBytes(dir + L"\\uninstall\\OkuUninstall.exe"),
            oku::test::ReadFileBytes(UninstallerBuilt()));
  EXPECT_FALSE(oku::PathExists(dir + L"\\OkuUninstall.exe"));
  EXPECT_EQ(ProductValue(L"OkuInstallPath"), dir);
  EXPECT_EQ(ProductValue(L"pv"), kNewVersion);
  ExpectLogged({L"version.txt file exists, size: 0", L"WARNING: version.txt is empty"});
  EXPECT_FALSE(log_->Has(L"Version registry update completed"));
  EXPECT_FALSE(ProductValuePresent(L"version"));
  const auto started = outbox.Events("setup_installation_started");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_TRUE(Outbox::Has(started[0], "is_override", "true"));
  const auto completed = outbox.Events("setup_complete_installation");
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_TRUE(Outbox::Has(completed[0], "is_new_install", "false"));
}

TEST_F(PipelineTest, FailedProductInstallerIsReportedToTheWindowAndRollsBackANewInstallation) {
  struct Case {
    const char* label;
    std::string installer;     // "demo", other bytes for the file, or empty for none
    const wchar_t* forcedExit;  // OKU_DEMO_INSTALLER_EXIT_CODE
    int result;
    std::vector<std::wstring> lines;
  };
  const std::vector<Case> cases = {
      {"its own exit code", "demo", L"7", 7, {L"mini_installer.exe 正常结束，退出码：7"}},
      {"not a program", "This is not a program.\r\n", nullptr, kLaunchCreateFailed,
       {L"创建进程失败，错误码：193", L"非法的调用格式！"}},
      {"missing", "", nullptr, kLaunchCreateFailed, {L"创建进程失败，错误码：2", L"没有找到文件！"}},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    oku::test::CleanProductUserState();
    const std::wstring dir = scratch_.Child(L"failed" + std::to_wstring(++index));
    StageInstallDir(dir, c.installer);
    ReopenLog(L"failed" + std::to_wstring(index) + L".log");
    Outbox outbox;
    ScopedEnv forced(L"OKU_DEMO_INSTALLER_EXIT_CODE", c.forcedExit);
    Installation& run = NewInstallation(dir, work_);
    run.context.startTick = ::GetTickCount64();
    run.progress->Start();
    EXPECT_EQ(InstallThreadProc(run.context), 0u);
    // The window learns the failure and its code; the progress never completes (no product start).
    EXPECT_EQ(run.context.failures.load(), 1);
    EXPECT_EQ(run.context.failedCode.load(), c.result);
    EXPECT_FALSE(run.window.WaitForDone(3000));
    run.progress->Stop();

    std::vector<std::wstring> lines = c.lines;
    lines.push_back(L"StartInstallation result: " + std::to_wstring(c.result));
    lines.push_back(L"Install failed with result: " + std::to_wstring(c.result));
    if (c.result == kLaunchCreateFailed) lines.push_back(L"无法创建进程: " + dir + L"\\mini_installer.exe");
    ExpectLogged(lines);
    EXPECT_FALSE(log_->Has(L"InstallThreadProc Install success"));
    const auto failed = outbox.Events("setup_installer_failed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(Outbox::Has(failed[0], "reason", "installation_failed"));
    EXPECT_TRUE(Outbox::Has(failed[0], "error_code", std::to_string(c.result)));
    EXPECT_NE(failed[0].find("[\"installation_time\",\""), std::string::npos);
    EXPECT_TRUE(outbox.Events("setup_complete_installation").empty());

    // A new installation takes back what it wrote before the launch; the rest is written after a
    // success only.
    EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath"));
    EXPECT_FALSE(ProductValuePresent(L"UninstallString"));
    EXPECT_FALSE(ProductValuePresent(L"InstallerName"));
    EXPECT_FALSE(oku::FileExists(dir + L"\\uninstall\\OkuUninstall.exe"));
    EXPECT_FALSE(ProductValuePresent(L"version"));
    EXPECT_FALSE(oku::test::RegistryKeyExists(HKEY_CURRENT_USER, kUrlProtocolKey));
    EXPECT_EQ(oku::test::RunValue(), L"");
    EXPECT_FALSE(oku::PathExists(dir + L"\\oku.compass.exe"));
    if (c.forcedExit) {
      EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, oku::test::kProductKey, L"InstallerError").AsDword(), 7u);
    }
  }
}

TEST_F(PipelineTest, InstallerOutlivingTheWaitIsTerminatedWithExitCode1) {
  StageInstallDir(install_, "demo");
  ScopedEnv delay(L"OKU_DEMO_INSTALLER_DELAY_MS", L"120000");
  // Hold a handle of the running product installer to read how it ended.
  oku::KernelHandle watched;
  DWORD watchedPid = 0;
  std::thread watcher([&] {
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (!watched && ::GetTickCount64() < deadline) {
      oku::KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
      PROCESSENTRY32W entry{};
      entry.dwSize = sizeof(entry);
      for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more && !watched;
           more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, L"mini_installer.exe") == 0) {
          watched.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
          watchedPid = entry.th32ProcessID;
        }
      }
      if (!watched) ::Sleep(20);
    }
  });
  const int result = RunMiniInstaller(install_, 3000);
  watcher.join();
  EXPECT_EQ(result, kLaunchWaitFailed);
  ASSERT_TRUE(watched);
  ASSERT_EQ(::WaitForSingleObject(watched.get(), 20000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  ASSERT_TRUE(::GetExitCodeProcess(watched.get(), &exitCode));
  EXPECT_EQ(exitCode, 1u);
  ExpectLogged({L"mini_installer.exe 进程创建成功，PID: " + std::to_wstring(watchedPid),
                L"mini_installer.exe 进程超时，直接结束！"});
  EXPECT_FALSE(log_->Has(L"正常结束"));
  // It was cut off inside its delay: nothing installed, no result recorded.
  const std::string productLog = oku::test::ReadFileBytes(install_ + L"\\okuinfo\\mini_installer_log.log");
  EXPECT_NE(productLog.find("test delay of 120000 ms"), std::string::npos);
  EXPECT_EQ(productLog.find("exit code"), std::string::npos);
  EXPECT_FALSE(ProductValuePresent(L"InstallerError"));
  EXPECT_FALSE(oku::PathExists(install_ + L"\\oku.compass.exe"));
}

// A product installer process started from exe; suspended, it is what a run killed between
// creating and resuming it leaves behind.
oku::KernelHandle StartInstallerProcess(const std::wstring& exe, bool suspended) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, suspended ? CREATE_SUSPENDED : 0,
                        nullptr, nullptr, &startup, &info)) {
    return oku::KernelHandle();
  }
  return oku::OwnProcessHandles(info).process;
}

// The silent installation stops with its code when the directory cannot be made (1000) or the
// uninstaller cannot be moved (1004); the product installer is not started, and a new
// installation leaves no records.
TEST_F(PipelineTest, SilentRunStopsBeforeTheProductInstallerWithItsCode) {
  struct Case {
    const char* label;
    bool recorded;  // the directory comes from the record, else from /D
    int code;
    const char* failedEvent;
    const wchar_t* line;
  } cases[] = {
      {"directory under a file", true, kQuietCreateDirFailed, "setup_create_install_directory_failed",
       L"Failed to create install directory"},
      {"uninstall is a file", false, kQuietMoveUninstallerFailed, "setup_move_uninstaller_failed",
       L"移动卸载器失败，停止安装！"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    oku::test::CleanProductUserState();
    const std::wstring base = scratch_.Child(L"silent" + std::to_wstring(++index));
    ASSERT_TRUE(::CreateDirectoryW(base.c_str(), nullptr));
    std::wstring dir;
    if (c.recorded) {
      ASSERT_TRUE(oku::test::WriteFileBytes(base + L"\\blocker", "a file"));
      dir = base + L"\\blocker\\Application";
      ASSERT_TRUE(SetRegistryString(HKEY_CURRENT_USER, oku::test::kProductKey, L"OkuInstallPath", dir));
    } else {
      dir = base + L"\\Application";
      ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
      ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\uninstall", "a file"));
    }
    ReopenLog(L"silent" + std::to_wstring(index) + L".log");
    Outbox outbox;
    EXPECT_EQ(QuietInstall(work_, true, false, c.recorded ? std::wstring() : dir), c.code);
    ExpectLogged({c.line});
    ASSERT_EQ(outbox.Events(c.failedEvent).size(), 1u);
    EXPECT_TRUE(outbox.Events("setup_launch_mini_installer_start").empty());
    EXPECT_FALSE(log_->Has(L"[Step6] 启动 mini_installer.exe"));
    EXPECT_FALSE(oku::PathExists(dir + L"\\mini_installer.exe"));
    EXPECT_FALSE(oku::PathExists(dir + L"\\oku.compass.exe"));
    if (!c.recorded) {
      EXPECT_TRUE(Outbox::Has(outbox.Events(c.failedEvent)[0], "error", "move_failed"));
      EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath")) << "a failed new installation leaves no records";
      EXPECT_FALSE(ProductValuePresent(L"UninstallString"));
    }
  }
}

// A product installer exit code of 0x80000000 or more reads the same, unsigned, in the launch
// scope's failure and in the installation's failure; it is the silent run's result.
TEST_F(PipelineTest, SilentRunReportsAHighExitCodeUnsigned) {
  ScopedEnv code(L"OKU_DEMO_INSTALLER_EXIT_CODE", L"3221225477");  // 0xC0000005
  Outbox outbox;
  EXPECT_EQ(static_cast<DWORD>(QuietInstall(work_, true, false, install_)), 0xC0000005u);
  const auto launch = outbox.Events("setup_launch_mini_installer_failed");
  ASSERT_EQ(launch.size(), 1u);
  EXPECT_TRUE(Outbox::Has(launch[0], "error_code", "3221225477"));
  const auto failed = outbox.Events("setup_installer_failed");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_TRUE(Outbox::Has(failed[0], "reason", "installation_failed"));
  EXPECT_TRUE(Outbox::Has(failed[0], "error_code", "3221225477"));
  EXPECT_FALSE(oku::PathExists(install_ + L"\\mini_installer.exe"));
  EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath")) << "a failed new installation leaves no records";
}

// The poll after the product installer waits only for the one started from the installation
// directory, and gives up after its limit (three minutes in the installer, 2 s here).
TEST_F(PipelineTest, SilentPollWaitsForOurProductInstallerOnlyAndTimesOut) {
  const std::wstring elsewhere = scratch_.Child(L"elsewhere");
  StageInstallDir(install_, "demo");
  StageInstallDir(elsewhere, "demo");
  oku::KernelHandle foreign = StartInstallerProcess(elsewhere + L"\\mini_installer.exe", true);
  ASSERT_TRUE(foreign);
  {
    Outbox outbox;
    {
      EventScope scope("test_wait_start", "test_wait_completed", nullptr, {});
      WaitForProductInstaller(install_, scope, 2000);
    }
    const auto completed = outbox.Events("test_wait_completed");
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_TRUE(Outbox::Has(completed[0], "elapsed_seconds", "0")) << "another directory's installer is not ours";
    EXPECT_TRUE(outbox.Events("setup_installer_failed").empty());
    EXPECT_FALSE(log_->Has(L"mini_installer.exe is timeout!!!"));
    ExpectLogged({L"mini_installer.exe is completed!!!"});
  }
  oku::KernelHandle ours = StartInstallerProcess(install_ + L"\\mini_installer.exe", true);
  ASSERT_TRUE(ours);
  {
    Outbox outbox;
    {
      EventScope scope("test_wait_start", "test_wait_completed", nullptr, {});
      WaitForProductInstaller(install_, scope, 2000);
    }
    const auto completed = outbox.Events("test_wait_completed");
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_TRUE(Outbox::Has(completed[0], "elapsed_seconds", "2"));
    const auto failed = outbox.Events("setup_installer_failed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(Outbox::Has(failed[0], "reason", "timeout"));
    EXPECT_TRUE(Outbox::Has(failed[0], "elapsed_seconds", "2"));
    const std::wstring text = log_->Text();
    const size_t timeout = text.find(L"mini_installer.exe is timeout!!!");
    ASSERT_NE(timeout, std::wstring::npos);
    EXPECT_NE(text.find(L"mini_installer.exe is completed!!!", timeout), std::wstring::npos);
  }
  for (oku::KernelHandle* process : {&foreign, &ours}) {
    ::TerminateProcess(process->get(), 1);
    ::WaitForSingleObject(process->get(), 10000);
  }
}

DWORD ExitCodeOf(const oku::KernelHandle& process) {
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

TEST_F(PipelineTest, LeftoverProductInstallerIsAwaitedThenTerminatedSoItsFileCanBeReplaced) {
  EXPECT_TRUE(EndLeftoverProductInstaller(install_, 1000)) << "nothing to end in a missing directory";
  EXPECT_FALSE(log_->Has(L"残留"));

  StageInstallDir(install_, "demo");
  const std::wstring elsewhere = scratch_.Child(L"elsewhere");
  StageInstallDir(elsewhere, "demo");
  oku::KernelHandle stuck = StartInstallerProcess(install_ + L"\\mini_installer.exe", true);
  oku::KernelHandle other = StartInstallerProcess(elsewhere + L"\\mini_installer.exe", true);
  ASSERT_TRUE(stuck) << ::GetLastError();
  ASSERT_TRUE(other) << ::GetLastError();
  EXPECT_FALSE(::CopyFileW(UninstallerBuilt().c_str(), (install_ + L"\\mini_installer.exe").c_str(), FALSE))
      << "a running image cannot be replaced";

  EXPECT_TRUE(EndLeftoverProductInstaller(install_, 1500));
  EXPECT_EQ(::WaitForSingleObject(stuck.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCodeOf(stuck), 1u);
  EXPECT_EQ(::WaitForSingleObject(other.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "another directory's installer";
  EXPECT_TRUE(::CopyFileW(UninstallerBuilt().c_str(), (install_ + L"\\mini_installer.exe").c_str(), FALSE))
      << ::GetLastError();
  ExpectLogged({L"发现上次未完成的安装留下的 mini_installer.exe 进程: 1 个, 等待其结束",
                L"残留的 mini_installer.exe 进程未结束，强制结束, PID: " + std::to_wstring(::GetProcessId(stuck.get())),
                L"残留的 mini_installer.exe 进程已结束"});
  ::TerminateProcess(other.get(), 1);
  ::WaitForSingleObject(other.get(), 10000);

  // One that is still working is given the time to finish its installation.
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::ProductBin(L"new") + L"\\mini_installer.exe",
                                    install_ + L"\\mini_installer.exe"));
  ReopenLog(L"pipeline-running.log");
  ScopedEnv delay(L"OKU_DEMO_INSTALLER_DELAY_MS", L"1500");
  oku::KernelHandle working = StartInstallerProcess(install_ + L"\\mini_installer.exe", false);
  ASSERT_TRUE(working);
  EXPECT_TRUE(EndLeftoverProductInstaller(install_, 60000));
  EXPECT_EQ(::WaitForSingleObject(working.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCodeOf(working), 0u);
  EXPECT_TRUE(oku::FileExists(install_ + L"\\oku.compass.exe"));
  EXPECT_FALSE(log_->Has(L"强制结束"));
}

TEST_F(PipelineTest, MoveUninstallerReplacesAnOlderCopyAndReportsEachFailure) {
  const std::string fresh = "the new uninstaller";
  const std::string older = "an older uninstaller";
  enum class Setup { SourceOnly, OlderCopy, NoSource, OlderCopyHeldOpen, UninstallIsAFile };
  struct Case {
    const char* label;
    Setup setup;
    bool moved;
    const wchar_t* line;  // followed by the path or code where the log gives one
  } cases[] = {
      {"new uninstall folder", Setup::SourceOnly, true, L"  ✓ Uninstall 目录创建成功"},
      {"older copy replaced", Setup::OlderCopy, true, L"  ✓ Uninstall 目录已存在"},
      {"source missing", Setup::NoSource, false, L"  ❌ 源文件不存在："},
      {"older copy held open", Setup::OlderCopyHeldOpen, false, L"  ❌ 移动卸载器失败，错误码："},
      {"uninstall is a file", Setup::UninstallIsAFile, false, L"  ❌ 移动卸载器失败，错误码：3"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::wstring dir = scratch_.Child(L"move" + std::to_wstring(++index));
    const std::wstring source = dir + L"\\OkuUninstall.exe";
    const std::wstring target = dir + L"\\uninstall\\OkuUninstall.exe";
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    if (c.setup != Setup::NoSource) {
      ASSERT_TRUE(oku::test::WriteFileBytes(source, fresh));
    }
    if (c.setup == Setup::OlderCopy || c.setup == Setup::OlderCopyHeldOpen) {
      ASSERT_TRUE(::CreateDirectoryW((dir + L"\\uninstall").c_str(), nullptr));
      ASSERT_TRUE(oku::test::WriteFileBytes(target, older));
    }
    if (c.setup == Setup::UninstallIsAFile) {
      ASSERT_TRUE(oku::test::WriteFileBytes(dir + L"\\uninstall", "x"));
    }
    std::unique_ptr<oku::test::FileLocker> locker;
    if (c.setup == Setup::OlderCopyHeldOpen) {
      locker = std::make_unique<oku::test::FileLocker>(target, L"noshare");
      ASSERT_TRUE(locker->holding());
    }
    ReopenLog(L"move" + std::to_wstring(index) + L".log");

    EXPECT_EQ(MoveUninstaller(dir), c.moved);
    locker.reset();
    ExpectLogged({L"[Step4] 开始移动卸载器位置", L"  源路径：" + source, L"  目标路径：" + target, c.line});
    EXPECT_EQ(log_->Has(L"[Step4] ✓ 移动卸载器成功！"), c.moved);
    if (c.moved) {
      EXPECT_EQ(oku::test::ReadFileBytes(target), fresh);
      EXPECT_FALSE(oku::PathExists(source));
    } else if (c.setup != Setup::NoSource) {
      EXPECT_EQ(oku::test::ReadFileBytes(source), fresh);  // nothing lost
    }
    if (c.setup == Setup::OlderCopyHeldOpen) {
      EXPECT_EQ(oku::test::ReadFileBytes(target), older);
    }
  }
}

TEST_F(PipelineTest, MissingUninstallerStopsBeforeTheProductInstaller) {
  StageInstallDir(install_, "demo");
  ASSERT_TRUE(::DeleteFileW((install_ + L"\\OkuUninstall.exe").c_str()));
  Outbox outbox;
  Installation& run = NewInstallation(install_, work_);
  EXPECT_EQ(InstallThreadProc(run.context), 0u);
  ExpectLogged({L"  ❌ 源文件不存在：" + install_ + L"\\OkuUninstall.exe", L"移动卸载器失败，停止安装！"});
  const auto failed = outbox.Events("setup_installer_failed");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_TRUE(Outbox::Has(failed[0], "reason", "move_uninstaller_failed"));
  EXPECT_TRUE(Outbox::Has(failed[0], "error_code", "1004"));
  EXPECT_FALSE(log_->Has(L"installerPath: "));
  EXPECT_FALSE(oku::PathExists(install_ + L"\\okuinfo"));
  // A new installation takes back the records it wrote; the window learns 1004.
  EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath"));
  EXPECT_FALSE(ProductValuePresent(L"UninstallString"));
  EXPECT_FALSE(ProductValuePresent(L"InstallerName"));
  EXPECT_EQ(run.context.failedCode.load(), 1004);
}

TEST_F(PipelineTest, StartInstallationStopsBeforeTheInstallationThreadOnEachFailure) {
  const std::wstring blocker = scratch_.Child(L"a file");
  ASSERT_TRUE(oku::test::WriteFileBytes(blocker, "x"));
  const std::wstring held = scratch_.Child(L"held");
  ASSERT_TRUE(::CreateDirectoryW(held.c_str(), nullptr));
  ASSERT_TRUE(oku::test::WriteFileBytes(held + L"\\mini_installer.exe", "busy"));
  struct Case {
    const char* label;
    std::wstring workingDir;
    std::wstring installDir;
    bool controls;
    const wchar_t* box;  // text of the "Error" box, or null
    std::vector<std::wstring> lines;
    int failedCode;  // what the window is told (0: nothing)
  };
  const std::wstring missingWork = scratch_.Child(L"no such work");
  const std::vector<Case> cases = {
      {"no install controls", work_, install_, false, nullptr, {}, 0},
      {"working directory not set", L"", install_, true, L"临时目录不存在，安装无法继续",
       {L"❌ 临时目录无效或不存在: (未设置)"}, 3},
      {"working directory missing", missingWork, install_, true, L"临时目录不存在，安装无法继续",
       {L"❌ 临时目录无效或不存在: " + missingWork}, 3},
      {"directory cannot be created", work_, blocker + L"\\Application", true, L"创建安装目录失败",
       {L"Failed to create install directory"}, 1000},
      {"install file held open", work_, held, true, nullptr,
       {L"[UI-Extract] 开始解压所有安装文件到安装目录", L"[ERROR] 安装文件解压失败，停止安装"}, 1001},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ReopenLog(L"start" + std::to_wstring(++index) + L".log");
    Outbox outbox;
    Installation& run = NewInstallation(c.installDir, c.workingDir);
    run.context.controls = c.controls;
    std::unique_ptr<oku::test::FileLocker> locker;
    if (c.installDir == held) {
      locker = std::make_unique<oku::test::FileLocker>(held + L"\\mini_installer.exe", L"exclusive");
      ASSERT_TRUE(locker->holding());
    }
    std::vector<std::wstring> boxes;
    {
      oku::test::BoxAnswerer answerer(L"Error", IDOK);
      StartInstallation(run.context);
      boxes = answerer.Finish();
    }
    locker.reset();
    if (c.box) {
      EXPECT_EQ(boxes, std::vector<std::wstring>{c.box});
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    ExpectLogged(c.lines);
    EXPECT_EQ(log_->Has(L"[UI-StartInstallation] 开始安装流程"), c.controls);
    EXPECT_EQ(run.context.failures.load(), c.failedCode ? 1 : 0);
    EXPECT_EQ(run.context.failedCode.load(), c.failedCode);
    // It returned before the auto-start step and the thread: nothing of either happened.
    EXPECT_EQ(oku::test::RunValue(), L"");
    EXPECT_FALSE(ProductValuePresent(L"OkuInstallPath"));
    EXPECT_TRUE(outbox.Events("setup_installation_started").empty());
    if (c.installDir == held) {
      const auto failed = outbox.Events("setup_extract_install_files_failed");
      ASSERT_EQ(failed.size(), 1u);
      EXPECT_TRUE(Outbox::Has(failed[0], "error", "extract_failed"));
      EXPECT_TRUE(Outbox::Has(failed[0], "failed_file", "mini_installer.exe"));
      EXPECT_TRUE(Outbox::Has(failed[0], "mode", "ui"));
      EXPECT_TRUE(Outbox::Has(failed[0], "failed_count", "1"));
      EXPECT_TRUE(Outbox::Has(failed[0], "error_code", "32")) << failed[0];  // sharing violation
    }
  }
}

TEST_F(PipelineTest, AdministratorModeOnlyForARecordedDirectoryThisUserCannotWrite) {
  const std::wstring existing = scratch_.Child(L"existing");
  ASSERT_TRUE(::CreateDirectoryW(existing.c_str(), nullptr));
  struct Case {
    const char* label;
    std::wstring dir;
    bool fromRegistry;
  } cases[] = {
      {"chosen directory", existing, false},
      {"recorded, writable", existing, true},
      {"recorded, not there yet", scratch_.Child(L"later"), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Installation& run = NewInstallation(c.dir, work_);
    run.context.fromRegistry = c.fromRegistry;
    EXPECT_FALSE(UseAdministratorMode(run.context));
  }
  EXPECT_FALSE(log_->Has(L"useAdministratorMode true"));
  EXPECT_EQ(oku::test::CountOccurrences(log_->Text(), L"useAdministratorMode false"), 3);
  // The permission probe leaves nothing behind.
  EXPECT_FALSE(oku::PathExists(scratch_.Child(L"later")));
}

TEST_F(PipelineTest, ProductIsNotLaunchedTwice) {
  ASSERT_TRUE(::CreateDirectoryW(scratch_.Child(L"Oku compass").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW(install_.c_str(), nullptr));
  const std::wstring exe = install_ + L"\\oku.compass.exe";
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::ProductBin(L"new") + L"\\oku.compass.exe", exe));
  ScopedEnv exitLater(L"OKU_DEMO_EXIT_AFTER_MS", L"60000");  // never outlives the test for long
  Installation& run = NewInstallation(install_, work_);

  ASSERT_EQ(oku::test::CountProcesses(L"oku.compass.exe"), 0);
  OnLaunchBtnClick(run.context);
  ASSERT_EQ(oku::test::WaitForProcessCount(L"oku.compass.exe", 1, 30000), 1);
  EXPECT_FALSE(log_->Has(L"Process is running, wait for 1 second"));
  EXPECT_FALSE(log_->Has(L"Failed to launch application."));

  // The completion message again (or a product its own installer already started).
  OnLaunchBtnClick(run.context);
  EXPECT_EQ(oku::test::WaitForProcessCount(L"oku.compass.exe", 2, 3000), 1);
  ExpectLogged({L"OnLaunchBtnClick m_customInstallPath: " + exe, L"Process is running, wait for 1 second"});
  EXPECT_EQ(oku::test::CountOccurrences(log_->Text(), L"OnLaunchBtnClick m_customInstallPath: "), 2);
}

// A product that is not there cannot be started: the failure is logged (a shell error box, if the
// system shows one, is answered).
TEST_F(PipelineTest, LaunchOfAMissingProductIsLogged) {
  Installation& run = NewInstallation(scratch_.Child(L"nothing installed"), work_);
  {
    oku::test::BoxAnswerer answerer(L"Error", IDOK);
    OnLaunchBtnClick(run.context);
    answerer.Finish();
  }
  ExpectLogged({L"OnLaunchBtnClick m_customInstallPath: " + scratch_.Child(L"nothing installed") + L"\\oku.compass.exe",
                L"Failed to launch application."});
  EXPECT_EQ(oku::test::CountProcesses(L"oku.compass.exe"), 0);
}

}  // namespace
