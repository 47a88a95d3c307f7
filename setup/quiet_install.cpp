#include "setup/quiet_install.h"
#include "common/product_names.h"

#include <windows.h>
#include <shlobj.h>

#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "common/shortcuts.h"
#include "common/version_info.h"
#include "setup/delta_install.h"
#include "setup/exit_codes.h"
#include "setup/install_records.h"
#include "setup/pre_install_checks.h"
#include "setup/product_installer.h"
#include "telemetry/event_reporter.h"
#include "resources/payload_ids.h"
#include "workspace/payload.h"

using oku::JoinPath;
using oku::ToNarrow;
using oku::Utf8FromWide;

namespace {

constexpr std::uint64_t kWaitLimitMs = 180000;

const ResourceEntry kSilentInstallFiles[] = {
    payload::kMiniInstallerExe,
    payload::kOkuUninstallExe,
};

std::wstring DefaultInstallDirectory() {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, base))) return std::wstring();
  return std::wstring(base) + L"\\oku.compass\\Application";
}

// Checks a requested directory before anything is written; 0 when it may be used.
int CheckRequestedDirectory(const std::wstring& targetPath) {
  if (!HasInstallPermission(targetPath)) {
    LogInfo(L"No permission to install.");
    ReportInstallerFailed("permission_denied",
                          {{"target_path", Utf8FromWide(targetPath)}, {"is_admin", BoolText(IsProcessElevated())}});
    return kQuietNoPermission;
  }
  if (checkDiskSpace(targetPath.c_str())) {
    LogInfo(L"Disk space is less than 1G.");
    ULARGE_INTEGER available{}, total{}, free{};
    if (::GetDiskFreeSpaceExW(targetPath.c_str(), &available, &total, &free)) {
      ReportInstallerFailed("disk_space_insufficient", {{"available_space_mb", ToNarrow(available.QuadPart / 1048576)},
                                                        {"required_space_mb", "1024"},
                                                        {"target_path", Utf8FromWide(targetPath)}});
    } else {
      ReportInstallerFailed("disk_space_insufficient");
    }
    return kQuietDiskSpace;
  }
  return 0;
}

}  // namespace

// Polls while the product installer started from D\mini_installer.exe still runs (a process of
// that name elsewhere is not ours), at most limitMs; the elapsed seconds go into the scope.
// Not static: the tests call it with a short limit.
void WaitForProductInstaller(const std::wstring& installDir, EventScope& scope, std::uint64_t limitMs) {
  const std::wstring image = JoinPath(installDir, L"mini_installer.exe");
  std::uint64_t elapsed = 0;
  while (!OpenProcessesByImage(L"mini_installer.exe", image).empty()) {
    if (elapsed > limitMs - 1) {
      LogInfo(L"mini_installer.exe is timeout!!!");
      ReportInstallerFailed("timeout", {{"elapsed_seconds", ToNarrow(elapsed / 1000)}});
      break;
    }
    ::Sleep(1000);
    elapsed += 1000;
  }
  LogInfo(L"mini_installer.exe is completed!!!");
  scope.Params()["elapsed_seconds"] = ToNarrow(elapsed / 1000);
}

namespace {

// The product installer's copy in the installation directory has done its work (or will not
// run); left there it would outlive an uninstall.
void RemoveInstallerCopy(const std::wstring& installDir) {
  const std::wstring copied = JoinPath(installDir, L"mini_installer.exe");
  if (!oku::FileExists(copied)) return;
  if (::DeleteFileW(copied.c_str())) {
    LogInfo(L"已删除安装目录中的 mini_installer.exe: " + copied);
  } else {
    LogInfo(L"删除安装目录中的 mini_installer.exe 失败，错误码: " + oku::ToWide(::GetLastError()));
  }
}

// Step 9 of every run that got that far: the working directory's files, the records in the log,
// and the desktop shortcut's short name.
int FinishQuietInstall(const std::wstring& workingDir, const std::wstring& installDir, int result) {
  LogInfo(L"[Step9] 清理临时文件");
  EventScope scope("setup_cleanup_temp_files_start", "setup_cleanup_temp_files_completed", nullptr,
                   {{"temp_dir", Utf8FromWide(workingDir)}});
  DeleteAllFilesInDirectory(workingDir);
  RemoveInstallerCopy(installDir);
  logRegistryValue();
  RenameDesktopShortcut(L"oku.compass", L"oku");
  LogInfo(L"QuietInstall result: " + oku::ToWide(result));
  return result;
}

}  // namespace

int QuietInstall(const std::wstring& workingDir, bool isAutoLaunch, bool isKill, const std::wstring& targetPath) {
  const std::uint64_t t0 = ::GetTickCount64();
  HMODULE self = ::GetModuleHandleW(nullptr);
  if (HasDeltaPayload(self)) return QuietInstallIncremental(self, workingDir, isKill);

  LogInfo(L"[Step0] 解压安装程序文件");
  EventScope extractScope("setup_extract_install_files_start", "setup_extract_install_files_completed",
                          "setup_extract_install_files_failed",
                          {{"file_count", "2"}, {"target_dir", Utf8FromWide(workingDir)}});
  const BatchExtractResult extracted = ExtractResources(self, kSilentInstallFiles, workingDir);
  if (!extracted.allSucceeded) {
    LogError(L"解压安装文件失败");
    if (!extracted.failedFiles.empty()) extractScope.Params()["failed_file"] = Utf8FromWide(extracted.failedFiles[0]);
    extractScope.SetFailure(extracted.lastError, "extract_failed");
    return kQuietFilesFailed;
  }

  std::wstring installDir = ReadInstallPath();
  LogInfo(L"GetInstallPathFromRegistry path: " + installDir);
  const bool isNewInstall = installDir.empty();
  if (isNewInstall && !targetPath.empty()) {
    if (const int refused = CheckRequestedDirectory(targetPath)) return refused;
    installDir = targetPath;
  } else if (isNewInstall) {
    installDir = DefaultInstallDirectory();
  }

  if (isKill) {
    LogInfo(L"isKill = true, KillProcess");
    ReportEnvironmentCheck("oku_process", "blocked", {{"action", "killed"}});
    KillProcessByName(L"oku.compass.exe");
  }

  const std::wstring sourceInstaller = JoinPath(workingDir, L"mini_installer.exe");
  const std::wstring sourceUninstaller = JoinPath(workingDir, L"OkuUninstall.exe");
  const std::wstring targetInstaller = JoinPath(installDir, L"mini_installer.exe");
  const std::wstring targetUninstaller = JoinPath(installDir, L"OkuUninstall.exe");
  LogInfo(L"[Step3] 准备复制文件");
  LogInfo(L"  mini_installer 源: " + sourceInstaller);
  LogInfo(L"  mini_installer 目标: " + targetInstaller);
  LogInfo(L"  卸载器源: " + sourceUninstaller);
  LogInfo(L"  卸载器目标: " + targetUninstaller);

  LogInfo(L"[Step2] 检查并创建安装目录");
  EventScope createScope("setup_create_install_directory_start", "setup_create_install_directory_completed",
                         "setup_create_install_directory_failed", {{"install_path", Utf8FromWide(installDir)}});
  const int created = ::SHCreateDirectoryExW(nullptr, installDir.c_str(), nullptr);
  if (created == ERROR_SUCCESS) {
    LogInfo(L"Successfully created install directory " + installDir);
    createScope.Params()["status"] = "created";
  } else if (created == ERROR_ALREADY_EXISTS || created == ERROR_FILE_EXISTS) {
    LogInfo(L"Install directory already exists");
    createScope.Params()["status"] = "already_exists";
  } else {
    LogInfo(L"Failed to create install directory");
    createScope.SetFailure(static_cast<std::uint32_t>(created), "create_failed");
    return kQuietCreateDirFailed;
  }

  SetFinalLogPath(installDir);

  LogInfo(L"[Step3] ========== 开始复制文件 ==========");
  EventScope copyScope("setup_copy_install_files_start", "setup_copy_install_files_completed", nullptr,
                       {{"install_path", Utf8FromWide(installDir)}, {"temp_dir", Utf8FromWide(workingDir)}});
  LogInfo(L"[Step3.1] 复制 mini_installer.exe");
  // Best effort: a leftover that cannot be ended was logged; the copy below then fails on the file it holds.
  (void)EndLeftoverProductInstaller(installDir);
  if (!CopyFileWithReport(sourceInstaller, targetInstaller).success) {
    copyScope.SetError("mini_installer_copy_failed");
    RemoveInstallerCopy(installDir);  // a partial copy
    return kQuietFilesFailed;
  }
  LogInfo(L"[Step3.2] 复制卸载器 OkuUninstall.exe");
  if (!CopyFileWithReport(sourceUninstaller, targetUninstaller).success) {
    copyScope.SetError("uninstaller_copy_failed");
    RemoveInstallerCopy(installDir);
    return kQuietFilesFailed;
  }
  LogInfo(L"[Step3] ========== 文件复制完成 ==========");

  LogInfo(L"[Step4] 开始更新注册表");
  EventScope registryScope("setup_update_registry_start", "setup_update_registry_completed", nullptr,
                           {{"install_path", Utf8FromWide(installDir)}});
  WriteInstallPathRecords(installDir);

  LogInfo(L"[Step5] 移动卸载器到 uninstall 目录");
  EventScope moveScope("setup_move_uninstaller_start", "setup_move_uninstaller_completed",
                       "setup_move_uninstaller_failed", {{"install_path", Utf8FromWide(installDir)}});
  if (!MoveUninstaller(installDir)) {
    LogInfo(L"移动卸载器失败，停止安装！");
    moveScope.SetError("move_failed");
    RemoveInstallerCopy(installDir);
    if (isNewInstall) RollBackNewInstallation(installDir);
    return kQuietMoveUninstallerFailed;
  }

  WriteInstallAutoLaunch(isAutoLaunch);
  if (!isAutoLaunch) {
    // Asked for without auto-start: an existing Run value goes too.
    LogInfo(L"disable_autolaunch: 不设置开机自启动");
    // False also when there was no value; a failure was logged and the installation goes on.
    (void)DeleteRegistryValue(HKEY_CURRENT_USER, kRunRegistryKey, kAutoStartValueName);
  } else {
    // A reinstall keeps the user's choice: an existing value is pointed at this directory, a
    // missing one is created only for a new installation.
    UpdateAutoLaunchRegistry(installDir, isNewInstall);
  }
  const std::wstring version = oku::WideFromUtf8(ReadVersionFile(workingDir.c_str()));
  LogInfo(L"version.txt: " + version);
  WriteVersionRecord(version);
  RegisterUrlProtocol(installDir);

  const std::wstring backupName = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kInstallerNameValue);
  LogInfo(backupName.empty() ? std::wstring(L"No original InstallerName to backup")
                             : L"Backup original InstallerName: " + backupName);
  WriteInstallerName();

  ReportInstallationStarted(installDir, isAutoLaunch, false, false);

  int result = 0;
  LogInfo(L"[Step6] 启动 mini_installer.exe");
  EventScope launchScope("setup_launch_mini_installer_start", "setup_launch_mini_installer_completed",
                         "setup_launch_mini_installer_failed", {{"install_path", Utf8FromWide(installDir)}});
  result = LaunchMiniInstaller(InstallerLauncher{nullptr, false}, installDir, workingDir);
  LogInfo(L"StartInstallation result: " + oku::ToWide(result));
  if (result != 0) launchScope.SetFailure(static_cast<std::uint32_t>(result), "launch_failed");

  LogInfo(L"[Step7] 等待 mini_installer.exe 完成");
  EventScope waitScope("setup_wait_mini_installer_start", "setup_wait_mini_installer_completed", nullptr,
                       {{"timeout_seconds", "180"}});
  WaitForProductInstaller(installDir, waitScope, kWaitLimitMs);

  if (result != 0) {
    LogInfo(L"QuietInstall failed");
    RollBackInstallerName(backupName);
    if (isNewInstall) RollBackNewInstallation(installDir);
    // Windows exit codes in unsigned decimal, as the launch scope's failure has it.
    ReportInstallerFailed("installation_failed", {{"error_code", ToNarrow(static_cast<std::uint32_t>(result))},
                                                  {"installation_time", ToNarrow(::GetTickCount64() - t0)}});
  } else {
    LogInfo(L"QuietInstall success");
    if (isNewInstall) {
      LogInfo(L"[Step8] 设置开机自启动");
      WriteQuietSilentInstall(installDir);
      EventReporter::Instance().Report("setup_set_autostart_completed", {{"is_new_install", "true"}});
    }
    EventReporter::Instance().Report("setup_installation_completed",
                                     {{"installation_time", ToNarrow(::GetTickCount64() - t0)},
                                      {"install_mode", "silent"},
                                      {"is_new_install", BoolText(isNewInstall)},
                                      {"auto_launch", BoolText(isAutoLaunch)}});
    LogInfo(L"等待上报完成...");
    ::Sleep(500);
    LogInfo(L"上报等待完成");
  }
  return FinishQuietInstall(workingDir, installDir, result);
}
