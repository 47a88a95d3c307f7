#include "setup/pipeline.h"
#include "common/product_names.h"

#include <shlobj.h>

#include <string>

#include "common/handles.h"
#include "common/message_box.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "common/version_info.h"
#include "setup/install_context.h"
#include "setup/exit_codes.h"
#include "setup/install_records.h"
#include "setup/product_installer.h"
#include "setup/progress_simulator.h"
#include "telemetry/event_reporter.h"
#include "resources/payload_ids.h"
#include "workspace/payload.h"

using oku::ToNarrow;
using oku::Utf8FromWide;

namespace {

const ResourceEntry kWindowInstallFiles[] = {
    payload::kMiniInstallerExe,           payload::kOkuUninstallExe,         payload::kLanternSdkDll,
    payload::kTesselDll,                  payload::kDockitDll,               payload::kCrashpadHandlerExtensionExe,
    payload::kCrashpadHandlerTracerExe,   payload::kClientExtensionDll,      payload::kTracerLoggerDll,
};

DWORD WINAPI InstallThreadEntry(LPVOID parameter) {
  InstallContext& context = *static_cast<InstallContext*>(parameter);
  const DWORD result = InstallThreadProc(context);
  context.WorkerEnded();  // last use of the context
  return result;
}

void ShowError(const wchar_t* text) { ShowMessageBox(nullptr, text, L"Error", MB_OK); }

}  // namespace

bool UseAdministratorMode(InstallContext& context) {
  const bool admin = context.IsPathFromRegistry() && !HasInstallPermission(context.GetCustomInstallPath());
  LogInfo(admin ? L"useAdministratorMode true" : L"useAdministratorMode false");
  return admin;
}

void StartInstallation(InstallContext& context) {
  if (!context.HasInstallControls()) return;
  LogInfo(L"[UI-StartInstallation] 开始安装流程");
  const std::wstring workingDir = context.GetWorkingDirectory();
  if (workingDir.empty() || !oku::DirectoryExists(workingDir)) {
    LogInfo(L"❌ 临时目录无效或不存在: " + (workingDir.empty() ? std::wstring(L"(未设置)") : workingDir));
    ReportInstallerFailed("temp_dir_missing", {{"error_code", std::to_string(kExitWorkingDirFailed)}});
    ShowError(L"临时目录不存在，安装无法继续");
    context.InstallationFailed(kExitWorkingDirFailed);
    return;
  }
  LogInfo(L"  使用临时目录: " + workingDir);

  const std::wstring installDir = context.GetCustomInstallPath();
  const int created = ::SHCreateDirectoryExW(nullptr, installDir.c_str(), nullptr);
  if (created == ERROR_SUCCESS) {
    LogInfo(L"Successfully created install directory " + installDir);
  } else if (created == ERROR_ALREADY_EXISTS || created == ERROR_FILE_EXISTS) {
    LogInfo(L"Install directory already exists");
  } else {
    LogInfo(L"Failed to create install directory");
    ReportInstallerFailed("create_install_directory_failed",
                          {{"error_code", std::to_string(kQuietCreateDirFailed)}, {"system_error", ToNarrow(created)}});
    ShowError(L"创建安装目录失败");
    context.InstallationFailed(kQuietCreateDirFailed);
    return;
  }
  SetFinalLogPath(installDir);
  // Best effort: a leftover that cannot be ended was logged, and the file it holds cannot be replaced.
  (void)EndLeftoverProductInstaller(installDir);

  HMODULE self = ::GetModuleHandleW(nullptr);
  if (!UseAdministratorMode(context)) {
    LogInfo(L"[UI-StartInstallation] 非管理员模式，开始准备安装文件");
    LogInfo(L"[UI-Extract] 开始解压所有安装文件到安装目录");
    const EventParams params{{"file_count", "9"}, {"target_dir", Utf8FromWide(installDir)}, {"mode", "ui"}};
    EventReporter::Instance().Report("setup_extract_install_files_start", params);
    const BatchExtractResult result = ExtractResources(self, kWindowInstallFiles, installDir);
    if (!result.allSucceeded) {
      LogError(L"安装文件解压失败，停止安装");
      EventParams failure{{"error", "extract_failed"},
                          {"error_code", ToNarrow(result.lastError)},
                          {"mode", "ui"},
                          {"failed_count", ToNarrow(result.failed)}};
      if (!result.failedFiles.empty()) failure["failed_file"] = Utf8FromWide(result.failedFiles[0]);
      EventReporter::Instance().Report("setup_extract_install_files_failed", failure);
      context.InstallationFailed(kQuietFilesFailed);
      return;
    }
    LogInfo(L"[UI-StartInstallation] 所有文件解压完成");
    EventReporter::Instance().Report("setup_extract_install_files_completed", params);
  } else {
    LogInfo(L"[UI-StartInstallation] 管理员模式，跳过文件复制");
    // The elevated copy script copies the install files from the working directory: put them there.
    // Best effort, as before: the extraction logs its own summary and failures.
    (void)ExtractResources(self, kWindowInstallFiles, workingDir);
    EventReporter::Instance().Report("setup_extract_install_files_start",
                                     {{"skip_reason", "admin_mode"}, {"install_path", Utf8FromWide(installDir)}});
  }

  if (!context.IsUpdateMode()) SetAutoStart(installDir, context.IsAutoStart());

  context.WorkerStarting();
  if (!oku::StartThread(InstallThreadEntry, &context)) {
    LogError(L"创建安装线程失败，错误码: " + oku::ToWide(::GetLastError()));
    ReportInstallerFailed("install_thread_failed", {{"error_code", std::to_string(kExitStartFailed)}});
    context.InstallationFailed(kExitStartFailed);
    context.WorkerEnded();
  }
}

DWORD InstallThreadProc(InstallContext& context) {
  const std::wstring installDir = context.GetCustomInstallPath();
  const bool admin = UseAdministratorMode(context);
  const InstallerLauncher launcher{context.GetWindowHandle(), admin};
  ReportInstallationStarted(installDir, context.IsAutoStart(), context.IsPathFromRegistry(), admin);
  // A new installation that fails leaves no records behind: the next run starts anew.
  const bool isNewInstall = !context.IsPathFromRegistry() && ReadInstallPath().empty();
  WriteInstallPathRecords(installDir);
  // In administrator mode the elevated copy script places the uninstaller.
  if (!admin && !MoveUninstaller(installDir)) {
    LogInfo(L"移动卸载器失败，停止安装！");
    ReportInstallerFailed("move_uninstaller_failed", {{"error_code", std::to_string(kQuietMoveUninstallerFailed)}});
    if (isNewInstall) RollBackNewInstallation(installDir);
    context.InstallationFailed(kQuietMoveUninstallerFailed);
    return 0;
  }
  const std::wstring backupName = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kInstallerNameValue);
  WriteInstallerName();

  const int result = LaunchMiniInstaller(launcher, installDir, context.GetWorkingDirectory());
  LogInfo(L"StartInstallation result: " + oku::ToWide(result));
  // Measured when its event is sent, after the last records.
  const auto elapsed = [&context] { return ToNarrow(::GetTickCount64() - context.GetInstallStartTick()); };
  if (result != 0) {
    LogInfo(L"Install failed with result: " + oku::ToWide(result));
    RollBackInstallerName(backupName);
    if (isNewInstall) RollBackNewInstallation(installDir);
    ReportInstallerFailed("installation_failed",
                          {{"error_code", std::to_string(static_cast<unsigned>(result))}, {"installation_time", elapsed()}});
    // No 100 %, no product start: the window shows the failure and stays until closed.
    context.InstallationFailed(result);
    return 0;
  }
  {
    LogInfo(L"InstallThreadProc Install success");
    // The check box's choice holds: unticked, the value was removed before the installation and
    // stays so; update mode only repoints an existing value.
    if (context.IsUpdateMode()) {
      UpdateAutoLaunchRegistry(installDir, false);
    } else if (context.IsAutoStart()) {
      UpdateAutoLaunchRegistry(installDir, true);
    }
    RegisterUrlProtocol(installDir);
    const std::wstring version = ReadVersionTextForRecord(context.GetWorkingDirectory());
    if (!version.empty()) {
      WriteVersionRecord(version);
      LogInfo(L"Version registry update completed");
    }
    EventReporter::Instance().Report("setup_complete_installation",
                                     {{"installation_time", elapsed()},
                                      {"install_mode", "ui"},
                                      {"is_new_install", BoolText(!context.IsPathFromRegistry())},
                                      {"auto_launch", BoolText(context.IsAutoStart())}});
    LogInfo(L"等待上报完成...");
    ::Sleep(500);
    LogInfo(L"上报等待完成");
  }
  // Last: the window closes on the end message, and nothing above must be cut short.
  if (ProgressSimulator* progress = context.GetProgressSimulator()) progress->FinishAccelerated();
  return 0;
}

void OnLaunchBtnClick(InstallContext& context) { LaunchInstalledProduct(context.GetCustomInstallPath()); }
