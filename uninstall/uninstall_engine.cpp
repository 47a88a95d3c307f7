#include "uninstall/uninstall_engine.h"
#include "common/product_names.h"

#include <cstdlib>
#include <ctime>

#include "common/handles.h"
#include "common/message_box.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "telemetry/event_reporter.h"

namespace {

constexpr wchar_t kProductProcess[] = L"oku.compass.exe";

// How long a terminated setup.exe may take to be gone.
constexpr DWORD kTerminateWaitMs = 10000;

void Report(const char* name, const EventParams& params) { EventReporter::Instance().Report(name, params); }

}  // namespace

UninstallEngine::UninstallEngine(bool force_kill, bool silent_chrome, bool keep_user_data, bool silent_oku,
                                 DWORD setup_wait_ms)
    : force_kill_(force_kill),
      silent_chrome_(silent_chrome),
      keep_user_data_(keep_user_data),
      silent_oku_(silent_oku),
      setup_wait_ms_(setup_wait_ms) {
  LogInfo(std::wstring(L"是否自动关闭 oku: ") + (force_kill_ ? L"1" : L"0"));
  LogInfo(std::wstring(L"Chrome 卸载器是否弹窗: ") + (silent_chrome_ ? L"0" : L"1"));
  LogInfo(std::wstring(L"是否保留用户数据: ") + (keep_user_data_ ? L"1" : L"0"));
  LogInfo(std::wstring(L"Oku 卸载器是否弹窗: ") + (silent_oku_ ? L"0" : L"1"));
  // Seeds the random part of the deletion temporary names.
  std::srand(static_cast<unsigned>(std::time(nullptr)));
}

int UninstallEngine::Run() {
  const int code = StopRunningProduct();
  if (code != kReady) {
    LogInfo(L"卸载器初始化失败！");
    Report("uninstall_failed", {{"reason", "init_failed"}, {"result_code", oku::ToNarrow(code)}});
    return code;
  }
  LogInfo(L"初始化成功，开始卸载！");
  Report("uninstall_begin", {{"install_path", oku::Utf8FromWide(install_path_)}, {"pv", oku::Utf8FromWide(pv_)}});
  if (RunProductUninstall()) {
    LogInfo(L"卸载成功！");
    return kSuccess;
  }
  LogInfo(L"卸载失败！");
  return kNotConfirmed;
}

int UninstallEngine::StopRunningProduct() {
  const std::wstring name = kProductProcess;
  const bool running = IsProcessRunning(name);
  if (running && force_kill_) {
    LogInfo(name + L" is running, now kill it.");
    Report("uninstall_stop_app_start", {{"process_name", "oku.compass.exe"}});
    if (!KillProcessByName(name)) {
      LogInfo(name + L" kill failed.");
      Report("uninstall_stop_app_fail", {{"process_name", "oku.compass.exe"}, {"error", "kill_failed"}});
      return kProductNotStopped;
    }
    Report("uninstall_stop_app_done", {{"process_name", "oku.compass.exe"}});
  } else if (running) {
    LogInfo(name + L" is running. Please close it first or use --force.");
  }

  install_path_ = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kInstallPathValue);
  pv_ = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kProductVersionValue);
  if (!install_path_.empty() && !pv_.empty()) {
    LogInfo(L"Found installation path from registry: " + install_path_);
    LogInfo(L"Found pv value from registry: " + pv_);
    return kReady;
  }
  LogInfo(L"Could not find required installation information in the registry (OkuInstallPath or pv).");
  return kRegistryInfoMissing;
}

std::wstring UninstallEngine::ComponentUninstallerPath() const {
  return install_path_ + L"\\" + pv_ + L"\\Installer\\setup.exe";
}

std::wstring UninstallEngine::UninstallArguments() const {
  const std::wstring logFile = install_path_ + L"\\uninstall\\chrome_uninstall.log";
  std::wstring arguments = L"--uninstall";
  if (silent_chrome_) arguments += L" --force-uninstall";
  arguments += L" --verbose-logging --enable-logging";
  arguments += L" --log-file=\"" + logFile + L"\"";
  if (!keep_user_data_) arguments += L" --delete-profile";
  return arguments;
}

bool UninstallEngine::RunProductUninstall() {
  LogInfo(L"Starting uninstall process...");
  const std::wstring setupPath = ComponentUninstallerPath();
  const std::wstring arguments = UninstallArguments();
  if (!oku::FileExists(setupPath)) {
    LogInfo(L"setup.exe does not exist: " + setupPath);
    HandleSetupExitCode(333);
    return false;
  }
  // Only a setup.exe running from inside this installation (its own, or a newer version's during an
  // update) blocks the removal: another program of that name is not ours to wait for.
  if (!OpenProcessesBelow(L"setup.exe", install_path_).empty()) {
    LogInfo(L"setup.exe 正在运行！");
    HandleSetupExitCode(60);
    return false;
  }

  EventParams params{{"setup_path", oku::Utf8FromWide(setupPath)}, {"keep_user_data", BoolText(keep_user_data_)}};
  Report("uninstall_delete_files_start", params);
  bool timedOut = false;
  const int exitCode = RunUninstallProcess(setupPath, arguments, &timedOut);
  // A setup.exe stopped part-way leaves the removal unconfirmed, whatever became of the entry.
  const bool gone = !timedOut && IsUninstallEntryGone();
  if (gone) {
    LogInfo(L"oku should delete !!!");
    Report("uninstall_registry_start", {{"action", "delete_oku_registry"}});
    if (DeleteRegistryEntries()) {
      Report("uninstall_registry_done", {{"action", "delete_oku_registry"}});
    } else {
      Report("uninstall_registry_fail", {{"action", "delete_oku_registry"}, {"error", "delete_failed"}});
    }
    Report("uninstall_delete_files_done", params);
  } else {
    LogInfo(L"oku shouldn't delete !!!!!!!");
    params["skip_reason"] = "chrome_not_deleted";
    Report("uninstall_delete_files_done", params);
  }
  HandleSetupExitCode(static_cast<DWORD>(exitCode));
  return gone;
}

int UninstallEngine::RunUninstallProcess(const std::wstring& path, const std::wstring& arguments, bool* timedOut) {
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  LogInfo(L"cmdLine: " + commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    LogInfo(L"Failed to create uninstall process, error code: " + oku::ToWide(::GetLastError()));
    return 20;
  }
  const auto [process, thread] = oku::OwnProcessHandles(info);
  LogInfo(L"Uninstall process started, waiting for it to finish...");
  const DWORD wait = ::WaitForSingleObject(process.get(), setup_wait_ms_);
  if (wait != WAIT_OBJECT_0) {
    if (wait == WAIT_TIMEOUT) {
      LogInfo(L"setup.exe 运行超时，强制结束，超时时间: " + oku::ToWide(setup_wait_ms_) + L"ms");
    } else {
      LogInfo(L"WaitForSingleObject 失败，强制结束 setup.exe，错误码: " + oku::ToWide(::GetLastError()));
    }
    // Termination is asynchronous; the process holds its files until it is gone.
    const bool terminated = ::TerminateProcess(process.get(), kSetupTimeoutExitCode) != FALSE;
    const DWORD terminateError = terminated ? ERROR_SUCCESS : ::GetLastError();
    if (::WaitForSingleObject(process.get(), kTerminateWaitMs) != WAIT_OBJECT_0) {
      LogInfo(L"setup.exe 无法结束，错误码: " + oku::ToWide(terminateError));
    }
    if (wait == WAIT_TIMEOUT) {
      Report("uninstall_setup_timeout",
             {{"timeout_ms", oku::ToNarrow(setup_wait_ms_)}, {"setup_path", oku::Utf8FromWide(path)}});
    }
    if (timedOut) *timedOut = true;
    return static_cast<int>(kSetupTimeoutExitCode);
  }
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.get(), &exitCode);
  LogInfo(L"Uninstall process finished, exit code: " + oku::ToWide(exitCode));
  return static_cast<int>(exitCode);
}

bool UninstallEngine::IsUninstallEntryGone() {
  return ReadRegistryString(HKEY_CURRENT_USER, kComponentUninstallKey, kUninstallStringValue).empty();
}

void UninstallEngine::HandleSetupExitCode(DWORD code) {
  LogInfo(L"setup.exe exitCode: " + oku::ToWide(code));
  switch (code) {
    case 10: LogInfo(L"Operating system API call failed"); break;
    case 14: LogInfo(L"Insufficient user permissions"); break;
    case 15: LogInfo(L"Chrome is not installed!"); break;
    case 16: LogInfo(L"Chrome is running!"); break;
    case 17: LogInfo(L"User has confirmed the uninstallation of Chrome!"); break;
    case 18: LogInfo(L"User has confirmed uninstalling Chrome and deleting the configuration file!"); break;
    case 19: LogInfo(L"Chrome uninstall success!"); break;
    case 20:
      LogInfo(L"chrome 卸载失败");
      CleanupInstallDirectory();
      break;
    case 21: LogInfo(L"User cancels Chrome uninstallation!"); break;
    case 22: LogInfo(L"I don't know what happened (it shouldn't have happened)"); break;
    case 29: LogInfo(L"Uninstallation requires a restart"); break;
    case 60:
      LogInfo(L"setup.exe 被其他进程占用");
      if (!silent_oku_) {
        ShowMessageBox(nullptr, L"已有安装器或者卸载器在运行，请稍后再尝试！", L"提示", MB_OK | MB_ICONINFORMATION);
      }
      break;
    case 333:
      LogInfo(L"没有找到 setup.exe 文件");
      LogInfo(L"setup.exe 文件缺失");
      if (!silent_oku_) ShowMessageBox(nullptr, L"setup 文件缺失", L"错误", MB_OK | MB_ICONERROR);
      break;
    default: LogInfo(L"Others exit code!!!"); break;
  }
}

bool UninstallEngine::DeleteRegistryEntries() { return ::DeleteRegistryEntries(); }

void UninstallEngine::CleanupInstallDirectory() { ::CleanupInstallDirectory(install_path_, pv_, deleter_); }
