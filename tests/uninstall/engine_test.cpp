// UninstallEngine against a staged installation whose version folder holds the demo product's
// setup.exe (exit code and uninstall entry steered by OKU_DEMO_SETUP_EXIT_CODE and
// OKU_DEMO_SETUP_KEEP_ENTRY). The engine runs in a driver process; its message boxes are found by
// caption and answered; its events are read back from lantern_sdk.dll's outbox.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/registry.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"
#include "uninstall/robust_delete.h"

namespace {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Oku.compass";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass";
constexpr wchar_t kClassesKey[] = L"SOFTWARE\\Classes\\okucompass";
constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Velmora\\oku.compass";
constexpr wchar_t kPv[] = L"147.0.7731.5020";

bool KeyExists(const wchar_t* key) { return oku::test::RegistryKeyExists(HKEY_CURRENT_USER, key); }

void ClearProductKeys() {
  for (const wchar_t* key : {kProductKey, kUninstallKey, kClassesKey, kVendorKey}) ::RegDeleteTreeW(HKEY_CURRENT_USER, key);
}

struct EngineRun {
  bool finished = false;
  DWORD result = 0;
  oku::test::AnsweredBox box;
};

class Engine : public testing::Test {
 protected:
  void SetUp() override {
    ClearProductKeys();
    install_ = scratch_.Child(L"Oku.compass");
    const std::wstring version = std::wstring(L"\\") + kPv;
    for (const std::wstring& sub : std::vector<std::wstring>{L"", L"\\uninstall", L"\\okuinfo", version, version + L"\\Installer"}) {
      ::CreateDirectoryW((install_ + sub).c_str(), nullptr);
    }
    oku::test::WriteFileBytes(install_ + L"\\oku.compass.exe", "exe");
    oku::test::WriteFileBytes(install_ + L"\\uninstall\\OkuUninstall.exe", "uninstaller");
    oku::test::WriteFileBytes(install_ + L"\\" + kPv + L"\\resources.pak", "pak");
    setup_ = install_ + L"\\" + kPv + L"\\Installer\\setup.exe";
    ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\product\\new\\setup.exe", setup_));

    EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kProductKey, L"OkuInstallPath", install_));
    EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kProductKey, L"pv", kPv));
    EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kUninstallKey, L"UninstallString", L"\"" + setup_ + L"\" --uninstall"));
    EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, std::wstring(kClassesKey) + L"\\shell\\open\\command", nullptr, L"x"));
    EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kVendorKey, L"dummy", L"x"));

    // The analytics library, so that the events arrive with their parameters.
    lantern_ = scratch_.Child(L"lantern");
    ::CreateDirectoryW(lantern_.c_str(), nullptr);
    for (const wchar_t* dll : {L"lantern_sdk.dll", L"tessel.dll"}) {
      oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\" + dll, lantern_ + L"\\" + dll);
    }
    outbox_ = scratch_.Child(L"outbox.jsonl");
    ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", outbox_.c_str());
    ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", nullptr);
    ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_KEEP_ENTRY", nullptr);
    ::SetEnvironmentVariableW(L"OKU_FAKE_SETUP_HANG_MS", nullptr);
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", nullptr);
    ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_KEEP_ENTRY", nullptr);
    ::SetEnvironmentVariableW(L"OKU_FAKE_SETUP_HANG_MS", nullptr);
    ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", nullptr);
    ClearProductKeys();
    oku::test::ForgetPendingOperations(L"okutest_");
    oku::test::ForgetPendingOperations(L"oku_del_");
  }

  // Runs the driver; when boxCaption is given, waits for that box, records and closes it.
  EngineRun RunEngine(const std::wstring& flags, const wchar_t* boxCaption = nullptr) {
    EngineRun run;
    std::wstring commandLine = L"\"" + oku::test::BinDirectory() + L"\\test-helpers\\uninstall_engine_driver.exe\" --log \"" +
                               scratch_.path() + L"\" --lantern \"" + lantern_ + L"\" " + flags;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      return run;
    }
    oku::KernelHandle process(info.hProcess);
    oku::KernelHandle thread(info.hThread);
    if (boxCaption) run.box = oku::test::AnswerMessageBox(boxCaption, IDOK, 30000);
    if (::WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.get(), 99);
      ::WaitForSingleObject(process.get(), 5000);
      return run;
    }
    run.finished = true;
    ::GetExitCodeProcess(process.get(), &run.result);
    return run;
  }
  std::wstring Log() const { return oku::test::ReadTestLog(scratch_.Child(L"engine.log")); }
  // Outbox lines (UTF-8 JSON) of one event.
  std::vector<std::string> Events(const std::string& name) const {
    return oku::test::OutboxEventLines(oku::test::ReadFileBytes(outbox_), name);
  }
  std::wstring VersionFolder() const { return install_ + L"\\" + kPv; }

  // A fresh path per test: the demo setup.exe removes its version folder from a detached helper
  // after it exited, which must never reach the next test's installation.
  static int NextRun() {
    static int run = 0;
    return ++run;
  }
  oku::test::ScratchDirectory scratch_{L"engine" + std::to_wstring(NextRun())};
  std::wstring install_, setup_, lantern_, outbox_;
};

TEST_F(Engine, ComponentRemovedMeansRegistryKeysRemovedAndSuccess) {
  ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", L"19");
  const EngineRun run = RunEngine(L"");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.result, 0u);
  EXPECT_FALSE(KeyExists(kClassesKey));
  EXPECT_FALSE(KeyExists(kVendorKey));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"cmdLine: \"" + setup_ +
                     L"\" --uninstall --force-uninstall --verbose-logging --enable-logging --log-file=\"" + install_ +
                     L"\\uninstall\\chrome_uninstall.log\" --delete-profile"),
            std::wstring::npos);
  EXPECT_NE(log.find(L"oku should delete !!!"), std::wstring::npos);
  EXPECT_NE(log.find(L"setup.exe exitCode: 19"), std::wstring::npos);
  EXPECT_NE(log.find(L"Chrome uninstall success!"), std::wstring::npos);
  EXPECT_NE(log.find(L"卸载成功！"), std::wstring::npos);
  EXPECT_EQ(Events("uninstall_begin").size(), 1u);
  EXPECT_EQ(Events("uninstall_registry_start").size(), 1u);
  const auto done = Events("uninstall_delete_files_done");
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].find("skip_reason"), std::string::npos);
  EXPECT_NE(done[0].find("[\"keep_user_data\",\"false\"]"), std::string::npos);
}

TEST_F(Engine, EntryLeftInPlaceKeepsTheKeysAndFails) {
  ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", L"19");
  ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_KEEP_ENTRY", L"1");
  const EngineRun run = RunEngine(L"--unsilent-chrome --keep-user-data");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.result, 1u);
  EXPECT_TRUE(KeyExists(kClassesKey));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"cmdLine: \"" + setup_ + L"\" --uninstall --verbose-logging --enable-logging --log-file=\"" +
                     install_ + L"\\uninstall\\chrome_uninstall.log\"\n"),
            std::wstring::npos);
  EXPECT_NE(log.find(L"oku shouldn't delete !!!!!!!"), std::wstring::npos);
  EXPECT_NE(log.find(L"卸载失败！"), std::wstring::npos);
  EXPECT_TRUE(Events("uninstall_registry_start").empty());
  const auto done = Events("uninstall_delete_files_done");
  ASSERT_EQ(done.size(), 1u);
  EXPECT_NE(done[0].find("[\"skip_reason\",\"chrome_not_deleted\"]"), std::string::npos);
  EXPECT_NE(done[0].find("[\"keep_user_data\",\"true\"]"), std::string::npos);
}

TEST_F(Engine, FailedComponentUninstallCleansTheBareDirectory) {
  // A stand-in setup.exe that leaves the files alone, in an installation already down to the
  // bare state (the demo one would also remove its folder itself, racing the cleanup).
  ::DeleteFileW((install_ + L"\\oku.compass.exe").c_str());
  ::DeleteFileW((install_ + L"\\" + kPv + L"\\resources.pak").c_str());
  ::RemoveDirectoryW((install_ + L"\\okuinfo").c_str());
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\test-helpers\\fake\\setup.exe", setup_));
  ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", L"20");
  const EngineRun run = RunEngine(L"--keep-user-data");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.result, 0u);
  EXPECT_FALSE(KeyExists(kClassesKey));
  EXPECT_FALSE(oku::PathExists(VersionFolder()));
  EXPECT_TRUE(oku::FileExists(install_ + L"\\uninstall\\OkuUninstall.exe"));
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"chrome 卸载失败"), std::wstring::npos);
  EXPECT_NE(log.find(L"Installation directory is in minimal state, safe to cleanup"), std::wstring::npos);
  EXPECT_NE(log.find(L"Successfully deleted version directory: " + VersionFolder()), std::wstring::npos);
  EXPECT_FALSE(Events("uninstall_delete_dir_done").empty());

  // Not bare (a file at the top): the component's failure leaves everything in place.
  ::CreateDirectoryW(VersionFolder().c_str(), nullptr);
  ::CreateDirectoryW((VersionFolder() + L"\\Installer").c_str(), nullptr);
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\test-helpers\\fake\\setup.exe", setup_));
  oku::test::WriteFileBytes(install_ + L"\\oku.compass.exe", "exe");
  EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kProductKey, L"pv", kPv));
  const EngineRun second = RunEngine(L"--keep-user-data");
  ASSERT_TRUE(second.finished);
  EXPECT_TRUE(oku::FileExists(setup_));
  EXPECT_NE(Log().find(L"Installation directory contains other files, skipping cleanup"), std::wstring::npos);
}

// A setup.exe that cannot be started counts as exit code 20, so the bare directory is still
// cleaned; the entry nobody removed keeps the result at 1.
TEST_F(Engine, SetupThatCannotStartCountsAs20AndTheCleanupRuns) {
  ::DeleteFileW((install_ + L"\\oku.compass.exe").c_str());
  ::DeleteFileW((install_ + L"\\" + kPv + L"\\resources.pak").c_str());
  ::RemoveDirectoryW((install_ + L"\\okuinfo").c_str());
  ASSERT_TRUE(oku::test::WriteFileBytes(setup_, "not a program"));
  const EngineRun run = RunEngine(L"--silent-oku");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.result, 1u);
  EXPECT_FALSE(oku::PathExists(VersionFolder()));
  EXPECT_TRUE(oku::FileExists(install_ + L"\\uninstall\\OkuUninstall.exe"));
  const std::wstring log = Log();
  size_t at = 0;
  for (const std::wstring& line : {std::wstring(L"Failed to create uninstall process, error code: "),
                                   std::wstring(L"oku shouldn't delete !!!!!!!"), std::wstring(L"setup.exe exitCode: 20\n"),
                                   std::wstring(L"chrome 卸载失败"),
                                   std::wstring(L"Successfully deleted version directory: ") + VersionFolder()}) {
    const size_t found = log.find(line, at);
    ASSERT_NE(found, std::wstring::npos) << oku::Utf8FromWide(line) << "\n" << oku::Utf8FromWide(log);
    at = found;
  }
}

// Without --force a running product is only logged; the removal goes on and the product runs on.
TEST_F(Engine, RunningProductWithoutForceIsOnlyLogged) {
  const std::wstring elsewhere = scratch_.Child(L"running");
  ::CreateDirectoryW(elsewhere.c_str(), nullptr);
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), elsewhere + L"\\oku.compass.exe"));
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\test-helpers\\fake\\setup.exe", setup_));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring line = L"\"" + elsewhere + L"\\oku.compass.exe\" --timeout 60000";
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  oku::KernelHandle product(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  ::Sleep(200);
  const EngineRun run = RunEngine(L"--silent-oku");
  const bool stillRunning = ::WaitForSingleObject(product.get(), 0) == WAIT_TIMEOUT;
  ::TerminateProcess(product.get(), 0);
  ::WaitForSingleObject(product.get(), 5000);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.result, 0u);
  EXPECT_TRUE(stillRunning);
  const std::wstring log = Log();
  EXPECT_NE(log.find(L"oku.compass.exe is running. Please close it first or use --force."), std::wstring::npos);
  EXPECT_EQ(log.find(L"is running, now kill it."), std::wstring::npos);
  EXPECT_TRUE(Events("uninstall_stop_app_start").empty());
}

TEST_F(Engine, BusySetupAndMissingSetupAreAnsweredBoxes) {
  // A setup.exe running from inside the installation (its own, or a newer version's) blocks the
  // removal; a program of that name elsewhere does not, also in a folder whose name merely starts
  // like the installation's. lockfile.exe stands in for the running programs.
  const std::wstring newer = install_ + L"\\148.0.0.0\\Installer";
  ::CreateDirectoryW((install_ + L"\\148.0.0.0").c_str(), nullptr);
  ::CreateDirectoryW(newer.c_str(), nullptr);
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), newer + L"\\setup.exe"));
  const std::wstring elsewhere = install_ + L"_other";
  ::CreateDirectoryW(elsewhere.c_str(), nullptr);
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::LockfileExe(), elsewhere + L"\\setup.exe"));
  const std::wstring productSetup = oku::test::BinDirectory() + L"\\product\\new\\setup.exe";
  enum Running { kNone, kOwn, kNewerVersion, kElsewhere };
  struct Case {
    const char* label;
    const wchar_t* flags;
    Running running;
    bool removeSetup;
    const wchar_t* caption;  // null: no box expected
    const wchar_t* text;
    const wchar_t* logLine;
    DWORD result;
  } cases[] = {
      {"60 with box", L"", kOwn, false, L"提示", L"已有安装器或者卸载器在运行，请稍后再尝试！", L"setup.exe 被其他进程占用", 1},
      {"60 silent", L"--silent-oku", kOwn, false, nullptr, nullptr, L"setup.exe 被其他进程占用", 1},
      {"60 for a newer version's setup.exe", L"--silent-oku", kNewerVersion, false, nullptr, nullptr,
       L"setup.exe 被其他进程占用", 1},
      {"333 with box", L"", kNone, true, L"错误", L"setup 文件缺失", L"setup.exe 文件缺失", 1},
      {"333 silent", L"--silent-oku", kNone, true, nullptr, nullptr, L"没有找到 setup.exe 文件", 1},
      // Last: this one removes the product.
      {"another program's setup.exe", L"", kElsewhere, false, nullptr, nullptr, L"卸载成功！", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ::DeleteFileW(scratch_.Child(L"engine.log").c_str());
    if (c.removeSetup) {
      ::DeleteFileW(setup_.c_str());
    } else {
      ASSERT_TRUE(oku::test::CopyFileTo(c.running == kOwn ? oku::test::LockfileExe() : productSetup, setup_));
    }
    if (c.running == kElsewhere) oku::test::RemoveTree(install_ + L"\\148.0.0.0");
    const std::wstring running = c.running == kOwn            ? setup_
                                 : c.running == kNewerVersion ? newer + L"\\setup.exe"
                                                              : elsewhere + L"\\setup.exe";
    EngineRun run;
    {
      STARTUPINFOW startup{};
      startup.cb = sizeof(startup);
      PROCESS_INFORMATION info{};
      oku::KernelHandle process, thread;
      if (c.running != kNone) {
        std::wstring line = L"\"" + running + L"\" --timeout 60000";
        ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
        process.reset(info.hProcess);
        thread.reset(info.hThread);
        ::Sleep(200);
      }
      run = RunEngine(c.flags, c.caption);
      if (process) {
        ::TerminateProcess(process.get(), 0);
        ::WaitForSingleObject(process.get(), 5000);
      }
    }
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.result, c.result);
    if (c.caption) {
      EXPECT_TRUE(run.box.found);
      EXPECT_EQ(run.box.text, c.text);
    }
    const std::wstring log = Log();
    EXPECT_NE(log.find(c.logLine), std::wstring::npos);
    if (c.result == 0) {
      EXPECT_EQ(log.find(L"setup.exe 正在运行！"), std::wstring::npos);
      EXPECT_FALSE(KeyExists(kClassesKey));
    } else {
      EXPECT_TRUE(KeyExists(kClassesKey));
      EXPECT_TRUE(oku::FileExists(install_ + L"\\oku.compass.exe"));  // nothing was removed
    }
  }
}

TEST_F(Engine, HungSetupIsTerminatedAndTheRemovalNotConfirmed) {
  // The stand-in setup.exe hangs far beyond the engine's shortened limit (and beyond the time
  // RunEngine waits for the driver), before or after removing the uninstall entry.
  constexpr DWORD kLimitMs = 2000;
  constexpr DWORD kHangMs = 120000;
  struct Case {
    const char* label;
    bool removesEntry;
  } cases[] = {{"entry kept", false}, {"entry removed before the hang", true}};
  ::SetEnvironmentVariableW(L"OKU_FAKE_SETUP_HANG_MS", std::to_wstring(kHangMs).c_str());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kUninstallKey, L"UninstallString", L"\"" + setup_ + L"\" --uninstall"));
    ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\test-helpers\\fake\\setup.exe", setup_));
    ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_KEEP_ENTRY", c.removesEntry ? nullptr : L"1");
    const std::size_t outboxBefore = oku::test::ReadFileBytes(outbox_).size();
    ::DeleteFileW(scratch_.Child(L"engine.log").c_str());

    const ULONGLONG start = ::GetTickCount64();
    const EngineRun run = RunEngine(L"--silent-oku --setup-wait-ms " + std::to_wstring(kLimitMs));
    const ULONGLONG spent = ::GetTickCount64() - start;
    std::vector<oku::KernelHandle> left = OpenProcessesByImage(L"setup.exe", setup_);
    for (const auto& process : left) {
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), 10000);
    }

    ASSERT_TRUE(run.finished) << oku::Utf8FromWide(Log());
    EXPECT_LT(spent, kHangMs / 2) << "the engine did not wait for the hung setup.exe";
    EXPECT_TRUE(left.empty()) << "the hung setup.exe is gone";
    EXPECT_TRUE(::DeleteFileW(setup_.c_str())) << "nothing holds setup.exe, error " << ::GetLastError();
    EXPECT_EQ(run.result, 1u);
    EXPECT_EQ(KeyExists(kUninstallKey), !c.removesEntry);
    EXPECT_TRUE(KeyExists(kClassesKey));  // the product's keys stay
    EXPECT_TRUE(KeyExists(kVendorKey));

    const std::wstring log = Log();
    for (const std::wstring& line : {std::wstring(L"setup.exe 运行超时，强制结束，超时时间: 2000ms\n"),
                                     std::wstring(L"oku shouldn't delete !!!!!!!"), std::wstring(L"setup.exe exitCode: 258\n"),
                                     std::wstring(L"卸载失败！")}) {
      EXPECT_NE(log.find(line), std::wstring::npos) << oku::Utf8FromWide(line);
    }
    EXPECT_EQ(log.find(L"setup.exe 无法结束"), std::wstring::npos);

    const std::string outbox = oku::test::ReadFileBytes(outbox_);
    const auto timeout = oku::test::OutboxEventLines(outbox, "uninstall_setup_timeout", outboxBefore);
    ASSERT_EQ(timeout.size(), 1u);
    EXPECT_NE(timeout[0].find("[\"timeout_ms\",\"2000\"]"), std::string::npos) << timeout[0];
    std::string setupJson;
    for (const char ch : oku::Utf8FromWide(setup_)) {
      if (ch == '\\') setupJson += '\\';
      setupJson += ch;
    }
    EXPECT_NE(timeout[0].find("[\"setup_path\",\"" + setupJson + "\"]"), std::string::npos) << timeout[0];
    EXPECT_TRUE(oku::test::OutboxEventLines(outbox, "uninstall_registry_start", outboxBefore).empty());
    const auto done = oku::test::OutboxEventLines(outbox, "uninstall_delete_files_done", outboxBefore);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_NE(done[0].find("[\"skip_reason\",\"chrome_not_deleted\"]"), std::string::npos);
  }
}

// The uninstaller program over an installation whose component keeps its uninstall entry: the
// run ends with 0, the failure travels as "uninstall_failed" with the engine's result, and what
// is left of the installation is listed in the log, which lands beside the program.
TEST_F(Engine, UninstallerReportsAFailedRemovalAndListsWhatIsLeft) {
  const std::wstring uninstaller = install_ + L"\\uninstall\\OkuUninstall.exe";
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\OkuUninstall.exe", uninstaller));
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\test-helpers\\fake\\setup.exe", setup_));
  for (const wchar_t* dll : {L"lantern_sdk.dll", L"tessel.dll"}) {
    ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\" + dll, VersionFolder() + L"\\" + dll));
  }
  ::SetEnvironmentVariableW(L"OKU_DEMO_SETUP_KEEP_ENTRY", L"1");
  const oku::test::ChildResult run = oku::test::RunChild(L"\"" + uninstaller + L"\" --silent-oku", 60000);
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);

  const auto failed = Events("uninstall_failed");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].find("[\"result_code\",\"1\"]"), std::string::npos) << failed[0];
  EXPECT_NE(failed[0].find("[\"error_type\",\"uninstall_failed\"]"), std::string::npos) << failed[0];
  EXPECT_TRUE(Events("uninstall_completed").empty());

  const std::wstring log = oku::test::ReadTestLog(install_ + L"\\uninstall\\oku_uninstall.log");
  size_t at = 0;
  for (const std::wstring& line :
       {std::wstring(L"卸载失败！"), std::wstring(L"检查是否需要自毁卸载，安装路径: ") + install_ + L"\n",
        std::wstring(L"❌ 不需要自毁卸载！安装目录下还有其他文件或文件夹"), std::wstring(L"安装目录下的剩余内容:"),
        std::wstring(L"Exiting uninstaller, temp directory will be cleaned up...")}) {
    const size_t found = log.find(line, at);
    ASSERT_NE(found, std::wstring::npos) << oku::Utf8FromWide(line) << "\n" << oku::Utf8FromWide(log);
    at = found;
  }
  for (const std::wstring& entry : {std::wstring(L"  [DIR] ") + kPv + L"\n", std::wstring(L"  [DIR] okuinfo\n"),
                                    std::wstring(L"  [DIR] uninstall\n"), std::wstring(L"  [FILE] oku.compass.exe\n")}) {
    EXPECT_NE(log.find(entry), std::wstring::npos) << oku::Utf8FromWide(entry);
  }
  EXPECT_EQ(log.find(L"CreateAndRunSelfDeleteDirScript"), std::wstring::npos);
}

TEST_F(Engine, MissingRegistryInformationStopsBeforeAnything) {
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kProductKey, L"pv");
  const EngineRun run = RunEngine(L"");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.result, 5u);
  EXPECT_NE(Log().find(L"Could not find required installation information in the registry (OkuInstallPath or pv)."),
            std::wstring::npos);
  EXPECT_TRUE(oku::FileExists(setup_));
  const auto failed = Events("uninstall_failed");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].find("[\"reason\",\"init_failed\"]"), std::string::npos);
  EXPECT_NE(failed[0].find("[\"result_code\",\"5\"]"), std::string::npos);
}

TEST_F(Engine, MissingClassesKeyLeavesTheVendorKeyUntouched) {
  oku::test::OpenTestLog(scratch_.path(), L"registry.log");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kClassesKey);
  constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kRunKey, L"oku.compass", L"\"C:\\gone\\oku.compass.exe\""));
  EXPECT_FALSE(DeleteRegistryEntries());
  EXPECT_TRUE(KeyExists(kVendorKey));
  // The product is gone either way: its auto-start value goes too.
  EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, kRunKey, L"oku.compass").empty());
  EXPECT_NE(oku::test::ReadTestLog(scratch_.Child(L"registry.log")).find(L"Registry key not found: " + std::wstring(kClassesKey)),
            std::wstring::npos);

  EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, kClassesKey, L"x", L"y"));
  EXPECT_TRUE(DeleteRegistryEntries());
  EXPECT_FALSE(KeyExists(kClassesKey));
  EXPECT_FALSE(KeyExists(kVendorKey));
  EXPECT_TRUE(KeyExists(kProductKey));  // not the engine's to delete
}

}  // namespace
