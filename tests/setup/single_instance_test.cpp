// A second installer is refused while the first holds "OkuSetup_Global_Mutex": the running
// installer's window is brought to the centre of the active monitor, or, without a window,
// the user is told once.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/handles.h"
#include "common/portable/text.h"
#include "setup/entry.h"
#include "tests/support/test_support.h"

namespace {

std::wstring InstallerPath() { return oku::test::BinDirectory() + L"\\OkuSetup.exe"; }

std::wstring LogDirectory() { return oku::test::TempDirectory() + L"\\OkuSetupLogs"; }

std::string InstallerLog() { return oku::test::ReadFileBytes(LogDirectory() + L"\\oku_install.log"); }

// The log a start wrote beside a log held by a running installer: "oku_install.<process id>.log".
std::string LogBesideTheHeldOne() {
  WIN32_FIND_DATAW data;
  oku::FindHandle find(::FindFirstFileW((LogDirectory() + L"\\oku_install.*.log").c_str(), &data));
  std::string text;
  if (!find) return text;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"oku_install.previous.log") text += oku::test::ReadFileBytes(LogDirectory() + L"\\" + name);
  } while (::FindNextFileW(find.get(), &data));
  return text;
}

// Plays the first installer: owns the mutex, optionally with a window of class "OkuSetup".
class FirstInstaller {
 public:
  explicit FirstInstaller(bool withWindow) {
    mutex_.reset(::CreateMutexW(nullptr, FALSE, L"OkuSetup_Global_Mutex"));
    if (withWindow) {
      thread_ = std::thread([this] { RunWindow(); });
      while (!window_.load()) ::Sleep(10);
    }
  }
  ~FirstInstaller() {
    if (thread_.joinable()) {
      ::PostMessageW(window_.load(), WM_CLOSE, 0, 0);
      thread_.join();
    }
  }
  HWND window() const { return window_.load(); }

 private:
  void RunWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == WM_DESTROY) ::PostQuitMessage(0);
      return ::DefWindowProcW(h, m, w, l);
    };
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OkuSetup";
    ::RegisterClassW(&wc);
    HWND window = ::CreateWindowExW(0, L"OkuSetup", L"OkuSetup", WS_POPUP | WS_VISIBLE, 3, 5, 640, 460, nullptr,
                                    nullptr, wc.hInstance, nullptr);
    window_.store(window);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::UnregisterClassW(L"OkuSetup", wc.hInstance);
  }

  oku::KernelHandle mutex_;
  std::thread thread_;
  std::atomic<HWND> window_{nullptr};
};

int CountUpdateBoxes() {
  int count = 0;
  HWND box = nullptr;
  while ((box = ::FindWindowExW(nullptr, box, L"#32770", L"更新提示")) != nullptr) ++count;
  return count;
}

TEST(SingleInstance, ExistingWindowIsCentredOnTheActiveMonitorAndTheStartEnds) {
  FirstInstaller first(true);
  // The first installer's session log, open as a running installer holds it.
  ::CreateDirectoryW(LogDirectory().c_str(), nullptr);
  const std::wstring firstLog = LogDirectory() + L"\\oku_install.log";
  const std::string firstLines = "=== OKU Setup Log ===\nthe first installer's lines\n";
  ASSERT_TRUE(oku::test::WriteFileBytes(firstLog, firstLines));
  oku::FileHandle held(::CreateFileW(firstLog.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  const auto result = oku::test::RunChild(L"\"" + InstallerPath() + L"\" /S /D=C:\\ignored", 60000);
  ASSERT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1618u) << "a refused start is not a success";

  MONITORINFO info{};
  info.cbSize = sizeof(info);
  ::GetMonitorInfoW(::MonitorFromWindow(::GetForegroundWindow(), MONITOR_DEFAULTTONEAREST), &info);
  RECT rect{};
  ::GetWindowRect(first.window(), &rect);
  const RECT& work = info.rcWork;
  EXPECT_EQ(rect.left, work.left + ((work.right - work.left) - 640) / 2);
  EXPECT_EQ(rect.top, work.top + ((work.bottom - work.top) - 460) / 2);
  EXPECT_EQ(rect.right - rect.left, 640);

  EXPECT_EQ(InstallerLog(), firstLines) << "the running installer's log is never truncated";
  const std::string log = LogBesideTheHeldOne();
  EXPECT_NE(log.find("检测到已有安装器进程（互斥体已存在），尝试置顶已有窗口"), std::string::npos);
  EXPECT_NE(log.find("找到已有安装器窗口，移动到活跃窗口并置顶显示"), std::string::npos);
  EXPECT_EQ(log.find("Command line arguments:"), std::string::npos);  // refused before parsing
}

// A maximised window is restored, centred and maximised again: restored later, it sits in the
// middle of the work area at its own size.
TEST(SingleInstance, MaximisedWindowIsCentredInItsRestoredPlacement) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = ::DefWindowProcW;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"OkuSetupMaximisedProbe";
  ::RegisterClassW(&wc);
  oku::WindowHandle owner(::CreateWindowExW(0, wc.lpszClassName, L"probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 3, 5,
                                            640, 460, nullptr, nullptr, wc.hInstance, nullptr));
  const HWND window = owner.get();
  ASSERT_NE(window, nullptr);
  ::ShowWindow(window, SW_MAXIMIZE);
  ASSERT_TRUE(::IsZoomed(window));

  MoveWindowToActiveMonitor(window);
  EXPECT_TRUE(::IsZoomed(window)) << "maximised again";
  ::ShowWindow(window, SW_RESTORE);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  ::GetMonitorInfoW(::MonitorFromWindow(::GetForegroundWindow(), MONITOR_DEFAULTTONEAREST), &info);
  RECT rect{};
  ::GetWindowRect(window, &rect);
  const RECT& work = info.rcWork;
  EXPECT_EQ(rect.right - rect.left, 640);
  EXPECT_EQ(rect.bottom - rect.top, 460);
  EXPECT_EQ(rect.left, work.left + ((work.right - work.left) - 640) / 2);
  EXPECT_EQ(rect.top, work.top + ((work.bottom - work.top) - 460) / 2);
  owner.reset();  // before its class goes
  ::UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

TEST(SingleInstance, WithoutAWindowTheUpdateBoxIsShownOnce) {
  FirstInstaller first(false);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring commandLine = L"\"" + InstallerPath() + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  oku::KernelHandle second(info.hProcess);
  oku::KernelHandle secondThread(info.hThread);

  // Wait until the second start shows its box, then start a third one while it is open.
  const ULONGLONG deadline = ::GetTickCount64() + 30000;
  while (CountUpdateBoxes() == 0 && ::GetTickCount64() < deadline) ::Sleep(50);
  ASSERT_EQ(CountUpdateBoxes(), 1);
  const auto third = oku::test::RunChild(commandLine, 60000);
  EXPECT_FALSE(third.timedOut);
  EXPECT_EQ(third.exitCode, 1618u);
  EXPECT_EQ(CountUpdateBoxes(), 1);

  const auto box = oku::test::AnswerMessageBox(L"更新提示", IDOK, 10000);
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"oku 正在更新中，请稍后重试");
  ASSERT_EQ(::WaitForSingleObject(second.get(), 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(second.get(), &code);
  EXPECT_EQ(code, 1618u);
  EXPECT_NE(InstallerLog().find("未找到已有安装器窗口"), std::string::npos);
}

TEST(SingleInstance, RefusedSilentStartShowsNoBoxAndEndsWithItsCode) {
  FirstInstaller first(false);
  for (const wchar_t* silent : {L" quiet", L" /s", L" /S /D=C:\\ignored"}) {
    const auto result = oku::test::RunChild(L"\"" + InstallerPath() + L"\"" + silent, 60000);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1618u) << oku::Utf8FromWide(silent);
    EXPECT_EQ(CountUpdateBoxes(), 0) << "a silent start waited for somebody";
    EXPECT_NE(InstallerLog().find("静默模式，不显示提示框: oku 正在更新中，请稍后重试"), std::string::npos);
  }
  // Only a whole silent switch counts: "/Sx" is no silent request, so the box comes.
  EXPECT_FALSE(CommandLineAsksForSilentMode(L"setup.exe /Sx /D=C:\\quiet"));
  EXPECT_FALSE(CommandLineAsksForSilentMode(L"\"quiet\\setup.exe\""));
  EXPECT_TRUE(CommandLineAsksForSilentMode(L"setup.exe update quiet"));
}

}  // namespace
