// Processes found and ended by name (real helper processes), libraries loaded for a scope, ticks.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/process.h"
#include "tests/common/platform_support.h"
#include "tests/support/test_support.h"

using platform_test::Child;
using platform_test::CountLine;
using platform_test::LogLinesSince;
using platform_test::LogMark;
using platform_test::TestHelper;

namespace {

using Lines = std::vector<std::wstring>;

// Copies of the sleeper under names of their own, so no other test's processes can match.
class SleeperTest : public ::testing::Test {
 protected:
  void SetUp() override { platform_test::EnsureLog(); }

  // A sleeper copy named stem_<pid>.exe (mixed case kept as given); returns its bare name.
  std::wstring MakeSleeper(const std::wstring& stem) {
    const std::wstring name = stem + L"_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    const std::wstring path = dir_.Child(name);
    EXPECT_TRUE(::CopyFileW(TestHelper(L"th_sleep.exe").c_str(), path.c_str(), FALSE)) << ::GetLastError();
    return name;
  }
  // Starts a copy and waits until it runs its own code (the helper sets the named event).
  std::unique_ptr<Child> Start(const std::wstring& name) {
    const std::wstring eventName =
        L"platform_sleeper_ready_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++started_);
    oku::KernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    EXPECT_TRUE(ready.valid());
    auto child = std::make_unique<Child>(dir_.Child(name), L"60 " + eventName);
    EXPECT_TRUE(child->started()) << "could not start " << ::testing::PrintToString(name);
    if (child->started() && ready) {
      EXPECT_EQ(::WaitForSingleObject(ready.get(), 30000), WAIT_OBJECT_0) << "sleeper never became ready";
    }
    return child;
  }

  oku::test::ScratchDirectory dir_{L"platform_proc"};
  int started_ = 0;
};

TEST_F(SleeperTest, IsProcessRunningMatchesTheExactNameOnly) {
  const std::wstring name = MakeSleeper(L"PlatSleep");
  auto child = Start(name);
  ASSERT_TRUE(child->started());

  std::size_t mark = LogMark();
  EXPECT_TRUE(IsProcessRunning(name));
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"Checking if process is running: " + name, L"Process found running: " + name}));

  // Case differs only: no match, for finding and for killing alike.
  std::wstring lower = name;
  for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
  ASSERT_NE(lower, name);
  mark = LogMark();
  EXPECT_FALSE(IsProcessRunning(lower));
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"Checking if process is running: " + lower, L"Process not running: " + lower}));
  EXPECT_FALSE(KillProcessByName(lower));
  DWORD code = 0;
  EXPECT_FALSE(child->WaitExit(0, &code)) << "the differently cased kill must not touch the process";

  // Neither a prefix nor the name with a directory matches.
  EXPECT_FALSE(IsProcessRunning(L"PlatSleep"));
  EXPECT_FALSE(IsProcessRunning(dir_.Child(name)));
}

TEST_F(SleeperTest, IsProcessRunningWithoutSuchProcess) {
  const std::wstring name = L"platform_absent_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
  const std::size_t mark = LogMark();
  EXPECT_FALSE(IsProcessRunning(name));
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"Checking if process is running: " + name, L"Process not running: " + name}));
}

TEST_F(SleeperTest, KillProcessByNameEndsEveryInstance) {
  const std::wstring name = MakeSleeper(L"PlatKill");
  const std::wstring bystanderName = MakeSleeper(L"PlatKeep");
  auto first = Start(name);
  auto second = Start(name);
  auto bystander = Start(bystanderName);
  ASSERT_TRUE(first->started() && second->started() && bystander->started());

  const std::size_t mark = LogMark();
  EXPECT_TRUE(KillProcessByName(name));
  const Lines lines = LogLinesSince(mark);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), L"Attempting to kill process: " + name);
  EXPECT_EQ(CountLine(lines, L"Successfully killed process: " + name), 2u);
  EXPECT_EQ(CountLine(lines, L"Process not found for killing: " + name), 0u);
  EXPECT_EQ(lines.size(), 3u);

  // Terminated with exit code 0; the other program keeps running.
  for (Child* child : {first.get(), second.get()}) {
    DWORD code = 99;
    ASSERT_TRUE(child->WaitExit(10000, &code));
    EXPECT_EQ(code, 0u);
  }
  DWORD code = 0;
  EXPECT_FALSE(bystander->WaitExit(0, &code));
  EXPECT_FALSE(IsProcessRunning(name));
  EXPECT_TRUE(IsProcessRunning(bystanderName));
}

TEST_F(SleeperTest, KillProcessByNameWithNoneRunningPausesAndFails) {
  const std::wstring name = L"platform_absent_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
  const std::size_t mark = LogMark();
  const ULONGLONG before = ::GetTickCount64();
  EXPECT_FALSE(KillProcessByName(name));
  const ULONGLONG elapsed = ::GetTickCount64() - before;
  EXPECT_EQ(LogLinesSince(mark),
            (Lines{L"Attempting to kill process: " + name, L"Process not found for killing: " + name}));
  // The one-second pause is part of the contract even when nothing was killed (a lower bound
  // only; the tick counter may step in units of about 16 ms).
  EXPECT_GE(elapsed, 980u);
}

class DllLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { platform_test::EnsureLog(); }
};

TEST_F(DllLoaderTest, NullNameWarnsAndReleasesNothing) {
  const std::size_t mark = LogMark();
  {
    DllLoader loader(nullptr);
    EXPECT_FALSE(loader.IsLoaded());
    EXPECT_EQ(loader.GetHandle(), nullptr);
  }
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"[WARNING] DllLoader: DLL 名称为空"}));
}

TEST_F(DllLoaderTest, MissingDllCarriesTheLoadError) {
  const std::size_t mark = LogMark();
  {
    DllLoader loader(L"platform_no_such_library.dll");
    EXPECT_FALSE(loader.IsLoaded());
  }
  EXPECT_EQ(LogLinesSince(mark),
            (Lines{L"[WARNING] DllLoader: 加载 DLL 失败: platform_no_such_library.dll, 错误码: " +
                   std::to_wstring(ERROR_MOD_NOT_FOUND)}));
}

TEST_F(DllLoaderTest, LoadsForTheScopeAndReleases) {
  // A system library this program does not link, so the loader holds the only reference.
  const wchar_t* kLibrary = L"msimg32.dll";
  ASSERT_EQ(::GetModuleHandleW(kLibrary), nullptr);
  const std::size_t mark = LogMark();
  {
    DllLoader loader(kLibrary);
    ASSERT_TRUE(loader.IsLoaded());
    EXPECT_EQ(loader.GetHandle(), ::GetModuleHandleW(kLibrary));
    EXPECT_NE(::GetProcAddress(loader.GetHandle(), "AlphaBlend"), nullptr);
  }
  EXPECT_EQ(::GetModuleHandleW(kLibrary), nullptr);
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"DllLoader: 成功加载 DLL: msimg32.dll", L"DllLoader: 成功释放 DLL"}));
}

TEST(TickCount, FollowsTheSystemCounter) {
  const std::uint64_t first = GetTickCountMs();
  EXPECT_GT(first, 0u);
  ::Sleep(20);
  EXPECT_GE(GetTickCountMs(), first);
  EXPECT_GE(::GetTickCount64(), first);
}

}  // namespace
