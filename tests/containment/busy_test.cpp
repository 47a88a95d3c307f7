// Containment while something else is busy: a product file another program holds open through
// the uninstallation (only that file stays, and a restart removes it), and an installer still at
// work while an uninstaller runs (its working directory is left alone). Each on a clean machine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "common/handles.h"
#include "tests/containment/containment_support.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"

namespace {

using namespace oku::e2e;
using namespace oku::containment;

// A variable set in this process while a child is started, so that only that child (and what it
// starts) sees it; the previous value comes back when the object goes.
class ChildEnvironment {
 public:
  ChildEnvironment(const wchar_t* name, const wchar_t* value) : name_(name) {
    wchar_t buffer[1024] = {};
    const DWORD n = ::GetEnvironmentVariableW(name, buffer, 1024);
    present_ = n > 0 && n < 1024;
    if (present_) saved_.assign(buffer, n);
    ::SetEnvironmentVariableW(name, value);
  }
  ~ChildEnvironment() { ::SetEnvironmentVariableW(name_.c_str(), present_ ? saved_.c_str() : nullptr); }
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;

 private:
  std::wstring name_;
  bool present_ = false;
  std::wstring saved_;
};

// A started process that is ended (bounded) if the test leaves it running.
class RunningProcess {
 public:
  explicit RunningProcess(HANDLE process) : process_(process) {}
  ~RunningProcess() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process_.get(), 1);
      ::WaitForSingleObject(process_.get(), 10000);
    }
  }
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;
  HANDLE get() const { return process_.get(); }
  explicit operator bool() const { return static_cast<bool>(process_); }

 private:
  oku::KernelHandle process_;
};

// A product file held open without delete sharing while the uninstaller runs: everything else of
// the installation goes (the uninstaller, its folder, the logs); the held file and the folders
// leading to it stay until the restart, which removes them too.
TEST(BusyInstallation, HeldFileStaysAloneUntilRestart) {
  const Outcome install = RunProgram(Quote(SetupExe()) + L" /S", Within(kInstallTimeoutMs));
  ASSERT_FALSE(install.timedOut) << "the installer did not finish";
  ASSERT_EQ(install.exitCode, 0u);
  const std::wstring dir = DefaultInstallDir();
  const std::wstring pv = ProductValue(L"pv");
  ASSERT_FALSE(pv.empty());
  const std::wstring held = dir + L"\\" + pv + L"\\locales\\de.pak";
  ASSERT_TRUE(PathExists(held));

  oku::test::FileLocker holder(held, L"noshare", 300000);
  ASSERT_TRUE(holder.holding()) << "lockfile.exe did not take " << held;
  const std::wstring uninstaller = dir + L"\\uninstall\\OkuUninstall.exe";
  const Outcome uninstall = RunProgram(Quote(uninstaller), Within(kUninstallTimeoutMs));
  ASSERT_FALSE(uninstall.timedOut) << "the uninstaller did not finish";
  EXPECT_EQ(uninstall.exitCode, 0u);

  const std::vector<std::wstring> onlyTheHeldFile = {pv + L"\\", pv + L"\\locales\\", pv + L"\\locales\\de.pak"};
  EXPECT_TRUE(WaitUntil([&] { return ListTree(dir) == onlyTheHeldFile; }, 30000)) << "left: " << Joined(ListTree(dir));

  holder.Release();
  // Wine's restart processing carries out the deletions registered for the next restart.
  const Outcome restart = RunProgram(L"C:\\windows\\system32\\wineboot.exe -r", Within(120000));
  ASSERT_TRUE(restart.started);
  ASSERT_FALSE(restart.timedOut) << "wineboot -r did not finish";
  EXPECT_FALSE(PathExists(dir)) << "left after the restart: " << Joined(ListTree(dir));
}

// An uninstaller run while an installer works: the installer's working directory is not an old
// leftover, so it stays as it is, and the installation completes.
TEST(BusyInstallation, RunningInstallersWorkingDirectoryIsLeftAlone) {
  // An uninstaller of no installation: the built one, copied where it may write its log.
  const std::wstring tools = L"C:\\OkuTools";
  ::CreateDirectoryW(tools.c_str(), nullptr);
  const std::wstring uninstaller = tools + L"\\OkuUninstall.exe";
  ASSERT_TRUE(oku::test::CopyFileTo(oku::test::BinDirectory() + L"\\OkuUninstall.exe", uninstaller));

  // The product installer waits 20 s before it writes anything: the installer stays in its wait.
  HANDLE started = nullptr;
  {
    ChildEnvironment slow(L"OKU_DEMO_INSTALLER_DELAY_MS", L"20000");
    started = StartProcess(Quote(SetupExe()) + L" /S");
  }
  RunningProcess installer(started);
  ASSERT_TRUE(installer) << "cannot start the installer";
  const std::wstring workingDir =
      oku::test::TempDirectory() + L"\\OkuSetup_" + std::to_wstring(::GetProcessId(installer.get()));
  // Its working directory is complete once the product installer runs.
  ASSERT_TRUE(WaitUntil([&] { return IsDirectory(workingDir) && CountProcesses(L"mini_installer.exe") > 0; }, 120000))
      << "no product installer running, working directory " << workingDir
      << (IsDirectory(workingDir) ? L" exists" : L" missing");
  const std::vector<std::wstring> contents = ListTree(workingDir);
  ASSERT_FALSE(contents.empty());

  const Outcome uninstall = RunProgram(Quote(uninstaller), Within(kUninstallTimeoutMs));
  ASSERT_FALSE(uninstall.timedOut) << "the uninstaller did not finish";
  EXPECT_EQ(uninstall.exitCode, 0u);
  ASSERT_EQ(::WaitForSingleObject(installer.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the installer ended before the uninstaller did: its working directory was not observed while it ran";
  EXPECT_TRUE(IsDirectory(workingDir)) << workingDir;
  // The installer may add files of its own meanwhile; none of those it had may be gone.
  const std::vector<std::wstring> now = ListTree(workingDir);
  std::vector<std::wstring> gone;
  std::set_difference(contents.begin(), contents.end(), now.begin(), now.end(), std::back_inserter(gone));
  EXPECT_TRUE(gone.empty()) << workingDir << " lost: " << Joined(gone);

  ASSERT_EQ(::WaitForSingleObject(installer.get(), kInstallTimeoutMs), static_cast<DWORD>(WAIT_OBJECT_0))
      << "the installer did not finish";
  DWORD code = 1;
  ::GetExitCodeProcess(installer.get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(PathExists(DefaultInstallDir() + L"\\oku.compass.exe"));
  EXPECT_EQ(ProductValue(L"pv"), ProductVersionNew());
  EXPECT_TRUE(StrayWorkingDirectories().empty()) << Joined(StrayWorkingDirectories());
}

}  // namespace
