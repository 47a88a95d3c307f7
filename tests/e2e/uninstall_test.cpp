// The installed OkuUninstall.exe on a clean machine with the demo product installed silently:
// options, removal of files and records, self-deletion, leftovers, analytics.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace oku::e2e;

std::wstring ProfileDirectory() { return LocalAppData() + L"\\oku.compass\\User Data"; }
std::wstring Uninstaller() { return DefaultInstallDir() + L"\\uninstall\\OkuUninstall.exe"; }

// Installs the demo product and starts it once, so that it made its profile folder.
void InstallAndUseTheProduct() {
  ASSERT_EQ(RunProgram(Quote(SetupExe()) + L" /S").exitCode, 0u);
  RunOptions briefly;
  briefly.environment = {{L"OKU_DEMO_EXIT_AFTER_MS", L"1000"}};
  ASSERT_EQ(RunProgram(Quote(DefaultInstallDir() + L"\\oku.compass.exe"), briefly).exitCode, 0u);
  ASSERT_TRUE(IsDirectory(ProfileDirectory()));
  ::DeleteFileW(OutboxPath().c_str());
}

std::wstring UninstallLog() { return ReadText(DefaultInstallDir() + L"\\uninstall\\oku_uninstall.log"); }

// The product's records are gone; the installer's own key keeps the chosen directory for a
// later installation.
bool NoProductRecords() {
  return !ProductValuePresent(L"pv") && RunValue().empty() && UrlProtocolCommand().empty() &&
         !oku::test::RegistryKeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Velmora\\oku.compass") &&
         !oku::test::RegistryKeyExists(HKEY_CURRENT_USER,
                                       L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass");
}

TEST(Uninstall, NoArgumentsRemovesEverything) {
  InstallAndUseTheProduct();
  const Outcome run = RunProgram(Quote(Uninstaller()));
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_TRUE(PathExists(DefaultInstallDir())) << "the self-delete script waits before it removes the directory";
  EXPECT_TRUE(WaitUntil([] { return !PathExists(DefaultInstallDir()); }, 30000))
      << "left: " << (ListTree(DefaultInstallDir()).empty() ? L"" : ListTree(DefaultInstallDir()).front());
  EXPECT_FALSE(IsDirectory(ProfileDirectory())) << "the profile goes unless --keep-user-data";
  EXPECT_TRUE(NoProductRecords());
  EXPECT_TRUE(StrayWorkingDirectories().empty());

  const std::vector<Event> events = OutboxEvents();
  const std::vector<std::string> actions = Actions(events);
  ASSERT_GE(actions.size(), 4u);
  EXPECT_EQ(actions[0], "uninstall_started");
  EXPECT_EQ(actions[1], "uninstall_lantern_initialized");
  EXPECT_EQ(actions[2], "uninstall_environment_check");
  EXPECT_EQ(actions.back(), "uninstall_completed");
  EXPECT_EQ(events[0].Param("force_kill"), "false");
  EXPECT_EQ(events[0].Param("silent_chrome"), "true");
  EXPECT_EQ(events[0].Param("silent_oku"), "false");
  EXPECT_EQ(events[0].Param("keep_user_data"), "false");
  EXPECT_EQ(events.back().Param("result_code"), "0");
}

// Every option, spelled exactly; other spellings are ignored.
TEST(Uninstall, OptionsReachTheEngine) {
  InstallAndUseTheProduct();
  const Outcome run = RunProgram(Quote(Uninstaller()) + L" --keep-user-data --unsilent-chrome --silent-oku --Force -force");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(WaitUntil([] { return !PathExists(DefaultInstallDir()); }, 30000));
  EXPECT_TRUE(IsDirectory(ProfileDirectory())) << "--keep-user-data keeps the profile";
  EXPECT_TRUE(NoProductRecords());
  const std::vector<Event> events = OutboxEvents();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].action, "uninstall_started");
  EXPECT_EQ(events[0].Param("force_kill"), "false");
  EXPECT_EQ(events[0].Param("silent_chrome"), "false");
  EXPECT_EQ(events[0].Param("silent_oku"), "true");
  EXPECT_EQ(events[0].Param("keep_user_data"), "true");
}

TEST(Uninstall, ForceEndsTheRunningProduct) {
  InstallAndUseTheProduct();
  const oku::KernelHandle product(StartProcess(Quote(DefaultInstallDir() + L"\\oku.compass.exe")));
  ASSERT_TRUE(product);
  ASSERT_TRUE(WaitUntil([] { return CountProcesses(L"oku.compass.exe") == 1; }, 20000));

  const Outcome run = RunProgram(Quote(Uninstaller()) + L" --force");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(::WaitForSingleObject(product.get(), 10000), WAIT_OBJECT_0);
  ::TerminateProcess(product.get(), 1);
  EXPECT_TRUE(WaitUntil([] { return !PathExists(DefaultInstallDir()); }, 30000));
  EXPECT_NE(FindEvent(OutboxEvents(), "uninstall_stop_app_done"), nullptr);
}

// A file another process holds open survives the run: no self-delete, the leftovers listed.
TEST(Uninstall, LockedFileKeepsTheDirectoryAndIsListed) {
  InstallAndUseTheProduct();
  const std::wstring dir = DefaultInstallDir();
  const std::wstring locked = dir + L"\\held_by_another_program.dat";
  const oku::FileHandle holder(::CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(holder);

  const Outcome run = RunProgram(Quote(Uninstaller()));
  EXPECT_EQ(run.exitCode, 0u);
  ::Sleep(4000);  // longer than the self-delete script's own wait
  EXPECT_TRUE(PathExists(locked));
  EXPECT_TRUE(PathExists(dir + L"\\uninstall"));
  const std::wstring log = UninstallLog();
  EXPECT_NE(log.find(L"❌ 不需要自毁卸载！安装目录下还有其他文件或文件夹"), std::wstring::npos);
  EXPECT_NE(log.find(L"安装目录下的剩余内容:"), std::wstring::npos);
  EXPECT_NE(log.find(L"  [FILE] held_by_another_program.dat"), std::wstring::npos) << log;
}

// Nothing recorded about the version: no analytics, the engine refuses (5), the exit code is 0.
TEST(Uninstall, WithoutRecordedVersionLeavesTheProduct) {
  InstallAndUseTheProduct();
  DeleteProductValue(L"pv");
  const Outcome run = RunProgram(Quote(Uninstaller()));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());
  ::Sleep(3000);
  EXPECT_TRUE(PathExists(DefaultInstallDir() + L"\\oku.compass.exe"));
  EXPECT_TRUE(ProductValuePresent(L"OkuInstallPath"));
  EXPECT_TRUE(OutboxEvents().empty()) << "events stay queued without the analytics library";
  const std::wstring log = UninstallLog();
  EXPECT_NE(log.find(L"Cannot find install path or pv from registry, skipping Lantern copy"), std::wstring::npos);
  EXPECT_NE(log.find(L"卸载器初始化失败！"), std::wstring::npos);
  EXPECT_TRUE(StrayWorkingDirectories().empty());
}

}  // namespace
