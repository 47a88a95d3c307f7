#include "setup/product_installer.h"

#include <shellapi.h>

#include <fstream>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/session_log.h"
#include "uninstall/portable/deletion_commands.h"
#include "common/version_info.h"

using oku::JoinPath;
using oku::ToWide;

namespace {

constexpr wchar_t kMiniInstaller[] = L"mini_installer.exe";

std::wstring CreateProcessErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return L"没有找到文件！";
    case ERROR_PATH_NOT_FOUND: return L"没有找到路径！";
    case ERROR_ACCESS_DENIED: return L"权限不够！";
    case ERROR_OUTOFMEMORY: return L"超过内存限制！";
    case ERROR_BAD_EXE_FORMAT: return L"非法的调用格式！";
    default: return L"不知道什么问题！";
  }
}

// The elevated copy script starts the product installer and waits for it, so its own exit code
// is the product installer's: waits for it (five minutes and a margin for the copy) and returns
// that code, or 1003 when it could not be had.
int AwaitElevatedInstaller(HANDLE script) {
  if (!script) {
    LogInfo(L"管理员模式：无法等待提权的安装脚本，结果未知");
    return kLaunchWaitFailed;
  }
  if (::WaitForSingleObject(script, kMiniInstallerWaitMs + 60000) != WAIT_OBJECT_0) {
    LogInfo(L"管理员模式：提权的安装脚本超时");
    return kLaunchWaitFailed;
  }
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(script, &exitCode)) {
    LogInfo(L"获取退出码失败，错误码：" + ToWide(::GetLastError()));
    return kLaunchWaitFailed;
  }
  LogInfo(L"管理员模式：安装脚本结束，退出码：" + ToWide(exitCode));
  return static_cast<int>(exitCode);
}

// Terminates a product installer with exit code 1 and waits for it to be gone: termination is
// asynchronous, and the file stays held until then. False when it outlived ten seconds.
bool TerminateAndAwait(HANDLE process) {
  ::TerminateProcess(process, 1);
  return ::WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
}

}  // namespace

bool MoveUninstaller(const std::wstring& installDir) {
  LogInfo(L"[Step4] 开始移动卸载器位置");
  LogInfo(L"  安装路径: " + installDir);
  const std::wstring uninstallDir = JoinPath(installDir, L"uninstall");
  LogInfo(L"  Uninstall 目录：" + uninstallDir);
  if (::CreateDirectoryW(uninstallDir.c_str(), nullptr)) {
    LogInfo(L"  ✓ Uninstall 目录创建成功");
  } else {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      LogInfo(L"  ❌ Uninstall 目录创建失败，错误码：" + ToWide(error));
      return false;
    }
    LogInfo(L"  ✓ Uninstall 目录已存在");
  }
  const std::wstring source = JoinPath(installDir, L"OkuUninstall.exe");
  const std::wstring target = JoinPath(uninstallDir, L"OkuUninstall.exe");
  LogInfo(L"  源路径：" + source);
  LogInfo(L"  目标路径：" + target);
  if (!oku::PathExists(source)) {
    LogInfo(L"  ❌ 源文件不存在：" + source);
    return false;
  }
  LogInfo(L"  ✓ 源文件存在");
  if (!::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = ::GetLastError();
    LogInfo(L"  ❌ 移动卸载器失败，错误码：" + ToWide(error));
    LogInfo(L"    源路径：" + source);
    LogInfo(L"    目标路径：" + target);
    return false;
  }
  LogInfo(L"[Step4] ✓ 移动卸载器成功！");
  return true;
}

bool EndLeftoverProductInstaller(const std::wstring& installDir, DWORD waitMs) {
  const std::wstring exe = JoinPath(installDir, kMiniInstaller);
  std::vector<oku::KernelHandle> leftovers = OpenProcessesByImage(kMiniInstaller, exe);
  if (leftovers.empty()) return true;
  LogInfo(L"发现上次未完成的安装留下的 mini_installer.exe 进程: " + ToWide(leftovers.size()) + L" 个, 等待其结束");
  const ULONGLONG start = ::GetTickCount64();
  bool allEnded = true;
  for (const auto& process : leftovers) {
    const ULONGLONG spent = ::GetTickCount64() - start;
    const DWORD left = spent < waitMs ? static_cast<DWORD>(waitMs - spent) : 0;
    if (::WaitForSingleObject(process.get(), left) == WAIT_OBJECT_0) continue;
    LogInfo(L"残留的 mini_installer.exe 进程未结束，强制结束, PID: " + ToWide(::GetProcessId(process.get())));
    if (!TerminateAndAwait(process.get())) {
      LogInfo(L"残留的 mini_installer.exe 进程无法结束，错误码: " + ToWide(::GetLastError()));
      allEnded = false;
    }
  }
  if (allEnded) LogInfo(L"残留的 mini_installer.exe 进程已结束");
  return allEnded;
}

int RunMiniInstaller(const std::wstring& installDir, DWORD waitMs) {
  const std::wstring exe = JoinPath(installDir, kMiniInstaller);
  const std::wstring logPath = installDir + L"\\okuinfo\\mini_installer_log.log";
  LogInfo(L"installerPath: " + exe);
  LogInfo(L"installerLogPath: " + logPath);
  std::wstring commandLine = L"\"" + exe + L"\"  --verbose-logging --log-file=\"" + logPath + L"\" ";
  if (commandLine.size() > 2047) commandLine.resize(2047);
  LogInfo(L"installerPathStr: " + commandLine);
  // Diagnostics only: a missing installer was logged and fails to start just below.
  (void)LogInstallerFileInfo(exe);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info{};
  // Not created suspended: should this process be stopped before it resumed the child, a
  // suspended orphan would hold mini_installer.exe for good.
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    const DWORD error = ::GetLastError();
    LogInfo(L"无法创建进程: " + exe);
    LogInfo(L"创建进程失败，错误码：" + ToWide(error));
    LogInfo(CreateProcessErrorText(error));
    return kLaunchCreateFailed;
  }
  const auto [process, thread] = oku::OwnProcessHandles(info);
  LogInfo(std::wstring(kMiniInstaller) + L" 进程创建成功，PID: " + ToWide(info.dwProcessId));
  const DWORD wait = ::WaitForSingleObject(process.get(), waitMs);
  if (wait == WAIT_TIMEOUT) {
    LogInfo(std::wstring(kMiniInstaller) + L" 进程超时，直接结束！");
    TerminateAndAwait(process.get());
    return kLaunchWaitFailed;
  }
  if (wait != WAIT_OBJECT_0) {
    LogInfo(L"WaitForSingleObject 出现问题，错误码：" + ToWide(::GetLastError()));
    return kLaunchWaitFailed;
  }
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) {
    LogInfo(L"获取退出码失败，错误码：" + ToWide(::GetLastError()));
    return kLaunchWaitFailed;
  }
  LogInfo(std::wstring(kMiniInstaller) + L" 正常结束，退出码：" + ToWide(exitCode));
  return static_cast<int>(exitCode);
}

int LaunchMiniInstaller(const InstallerLauncher& launcher, const std::wstring& installDir,
                        const std::wstring& workingDir) {
  if (!launcher.useAdministratorMode) return RunMiniInstaller(installDir);

  const std::wstring batch = workingDir + L"\\oku_installer.bat";
  LogInfo(L"LaunchMiniInstaller installerBatPath: " + batch);
  LogInfo(L"LaunchMiniInstaller tempDir: " + workingDir);
  LogInfo(L"LaunchMiniInstaller customPath: " + installDir);
  // The shell hands the script and its argument to cmd.exe, which expands %NAME% (and !NAME!
  // where delayed expansion is on) even inside quotes: such a path could name another folder, and
  // the copy runs with administrator rights. Everything else is carried whole inside quotes.
  if (!oku::CmdCanCarryPath(installDir) || !oku::CmdCanCarryPath(batch)) {
    LogError(L"LaunchMiniInstaller: 路径无法安全交给 cmd.exe，拒绝以管理员身份复制: " + installDir);
    return kLaunchPathRefused;
  }
  const std::wstring parameters = L"\"" + installDir + L"\"";
  LogInfo(L"LaunchMiniInstaller params: " + parameters);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  info.lpFile = batch.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_HIDE;
  const BOOL accepted = ::ShellExecuteExW(&info);
  oku::KernelHandle script(info.hProcess);
  auto result = static_cast<INT_PTR>(reinterpret_cast<ULONG_PTR>(info.hInstApp));
  // The shell's 0 means out of memory; report it as such instead of as the success code 0.
  if (!accepted && result > 32) result = SE_ERR_ACCESSDENIED;
  if (result == 0) result = SE_ERR_OOM;
  if (!accepted || result <= 32) {
    LogInfo(L"ShellExecute oku_installer.bat failed: Result: " + ToWide(static_cast<std::int64_t>(result)));
    return static_cast<int>(result);
  }
  LogInfo(L"ShellExecute oku_installer.bat success result: " + ToWide(static_cast<std::int64_t>(result)));
  return AwaitElevatedInstaller(script.get());
}

void LaunchInstalledProduct(const std::wstring& installDir) {
  const std::wstring exe = JoinPath(installDir, L"oku.compass.exe");
  LogInfo(L"OnLaunchBtnClick m_customInstallPath: " + exe);
  if (IsProcessRunning(L"oku.compass.exe")) {
    LogInfo(L"Process is running, wait for 1 second");
    return;
  }
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(nullptr, L"open", exe.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) LogInfo(L"Failed to launch application.");
}

std::wstring ReadVersionTextForRecord(const std::wstring& workingDir) {
  LogInfo(L"Temp directory: " + workingDir);
  const std::wstring path = workingDir + L"\\version.txt";
  LogInfo(L"Version file path: " + path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    LogInfo(L"ERROR: version.txt file does not exist or cannot be accessed");
    LogInfo(L"GetLastError: " + ToWide(::GetLastError()));
    return std::wstring();
  }
  const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  LogInfo(L"version.txt file exists, size: " + ToWide(size));
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogInfo(L"ERROR: Failed to open version.txt file");
    LogInfo(L"File stream error state: " + ToWide(::GetLastError()));
    return std::wstring();
  }
  std::string line;
  char buffer[512];
  DWORD read = 0;
  bool done = false;
  while (!done && ::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read; ++i) {
      if (buffer[i] == '\n') {
        done = true;
        break;
      }
      line.push_back(buffer[i]);
    }
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  LogInfo(L"Successfully read version.txt, content length: " + ToWide(static_cast<std::uint64_t>(line.size())));
  if (line.empty()) {
    LogInfo(L"WARNING: version.txt is empty");
    return std::wstring();
  }
  std::wstring text;
  for (unsigned char c : line) text.push_back(static_cast<wchar_t>(c));  // widened byte by byte
  LogInfo(L"Version content: [" + text + L"]");
  return text;
}
