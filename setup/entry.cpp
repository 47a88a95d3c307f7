#include "setup/entry.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/message_box.h"
#include "common/portable/text.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "setup/exit_codes.h"
#include "setup/portable/install_options.h"
#include "setup/startup.h"
#include "telemetry/event_reporter.h"

namespace {

constexpr wchar_t kMutexName[] = L"OkuSetup_Global_Mutex";
constexpr wchar_t kWindowClass[] = L"OkuSetup";
constexpr wchar_t kUpdateBoxCaption[] = L"更新提示";

// Held for the life of the process and never destroyed; the system releases it at exit.
oku::KernelHandle& InstanceMutex() {
  static oku::KernelHandle& mutex = *new oku::KernelHandle();
  return mutex;
}

bool UpdateBoxAlreadyShown() { return ::FindWindowW(L"#32770", kUpdateBoxCaption) != nullptr; }

}  // namespace

void MoveWindowToActiveMonitor(HWND window) {
  HMONITOR monitor = ::MonitorFromWindow(::GetForegroundWindow(), MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetMonitorInfoW(monitor, &info)) return;
  const bool maximized = ::IsZoomed(window) != FALSE;
  if (maximized) ::ShowWindow(window, SW_RESTORE);
  RECT rect{};
  ::GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const RECT& work = info.rcWork;
  const int x = work.left + ((work.right - work.left) - width) / 2;
  const int y = work.top + ((work.bottom - work.top) - height) / 2;
  ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOSIZE);
  if (maximized) ::ShowWindow(window, SW_MAXIMIZE);
}

namespace {

// The command line split as CommandLineToArgvW does (the program path in element 0); false when
// it cannot be split.
bool SplitCommandLine(const wchar_t* commandLine, std::vector<std::wstring>& arguments) {
  if (!commandLine) return false;
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(commandLine, &count);
  if (!argv) return false;
  oku::LocalMemory owner(reinterpret_cast<HLOCAL>(argv));
  arguments.assign(argv, argv + count);
  return true;
}

bool AsksForSilentMode(const std::vector<std::wstring>& arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    if (IsSilentSwitch(arguments[i])) return true;
  }
  return false;
}

}  // namespace

bool CommandLineAsksForSilentMode(const wchar_t* commandLine) {
  std::vector<std::wstring> arguments;
  return SplitCommandLine(commandLine, arguments) && AsksForSilentMode(arguments);
}

int CheckSingleInstance(bool quiet) {
  oku::KernelHandle& stored = InstanceMutex();
  stored.reset();  // before creating: a handle still held would make the name exist already
  stored.reset(::CreateMutexW(nullptr, FALSE, kMutexName));
  const DWORD error = ::GetLastError();
  if (!stored) {
    LogInfo(L"CreateMutex 失败，错误码: " + oku::ToWide(error));
    if (quiet) {
      LogInfo(L"静默模式，不显示提示框: 安装器启动失败，请稍后尝试！");
    } else {
      ShowMessageBox(nullptr, L"安装器启动失败，请稍后尝试！", L"错误", MB_OK | MB_ICONERROR);
    }
    return kExitStartFailed;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    LogInfo(L"检测到已有安装器进程（互斥体已存在），尝试置顶已有窗口");
    ReportInstallerBlocked("already_running");  // queued; the reporter is not initialised yet
    if (HWND existing = ::FindWindowW(kWindowClass, nullptr)) {
      LogInfo(L"找到已有安装器窗口，移动到活跃窗口并置顶显示");
      MoveWindowToActiveMonitor(existing);
      ::SetForegroundWindow(existing);
      ::ShowWindow(existing, SW_SHOWNORMAL);
    } else {
      LogInfo(L"未找到已有安装器窗口");
      if (quiet) {
        LogInfo(L"静默模式，不显示提示框: oku 正在更新中，请稍后重试");
      } else if (!UpdateBoxAlreadyShown()) {
        ShowMessageBox(nullptr, L"oku 正在更新中，请稍后重试", kUpdateBoxCaption, MB_OK | MB_ICONINFORMATION);
      }
    }
    return kExitAlreadyRunning;
  }
  LogInfo(L"检查通过，允许继续安装");
  return 0;
}

int RunInstallerEntry(HINSTANCE instance, const wchar_t* commandLineText) {
  const DWORD startTick = ::GetTickCount();
  InitLogInTempDir(L"oku_install.log");
  GenerateSessionId();
  const std::wstring sessionId = GetSessionId();
  const std::wstring bar(40, L'=');
  LogInfo(bar);
  LogInfo(L"🔑 Session ID: " + sessionId);
  LogInfo(L"⏱️ 启动时间: " + oku::ToWide(startTick) + L"ms");
  LogInfo(bar);
  EventReporter::Instance().SetStartTime(startTick);

  // The command line is split once; only its silent switches count before the gate (a refused
  // silent start shows no box), the rest is read after it.
  std::vector<std::wstring> arguments;
  const bool split = SplitCommandLine(::GetCommandLineW(), arguments);
  int exitCode = CheckSingleInstance(split && AsksForSilentMode(arguments));
  if (exitCode == 0) {
    LogInfo(std::wstring(L"Command line arguments: ") + (commandLineText ? commandLineText : L""));
    if (!split) {
      LogInfo(L"Failed to parse command line arguments.");
      exitCode = kExitStartFailed;
    } else {
      std::vector<std::wstring> lines;
      const InstallOptions options = ParseInstallOptions(arguments, lines);
      for (const std::wstring& line : lines) LogInfo(line);
      exitCode = RunStartupSequence(options, startTick, instance);
    }
  }
  RecordLogPath(CloseLogFile());
  EventReporter::Shutdown();
  return exitCode;
}
