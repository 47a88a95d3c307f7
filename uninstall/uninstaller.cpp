#include "uninstall/uninstaller.h"
#include "common/product_names.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "common/dpi_awareness.h"
#include "common/file_system.h"
#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "common/version_info.h"
#include "telemetry/event_reporter.h"
#include "uninstall/portable/uninstall_options.h"
#include "uninstall/robust_delete.h"
#include "uninstall/self_delete.h"
#include "uninstall/uninstall_engine.h"
#include "workspace/temp_directory_manager.h"

using oku::ToWide;

namespace {



UninstallOptions ReadOptions() {
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!argv) return UninstallOptions{};
  oku::LocalMemory owner(reinterpret_cast<HLOCAL>(argv));
  return ParseUninstallOptions(std::vector<std::wstring>(argv, argv + count));
}

// The files the installer itself leaves in the installation directory (its copy of the product
// installer and its session log); they go with a successful removal so the directory can go too.
void RemoveInstallerLeftovers(const std::wstring& installPath) {
  if (installPath.empty()) return;
  std::vector<std::wstring> names;
  for (const oku::DirectoryEntry entry : oku::DirectoryListing(installPath)) {
    if (!entry.IsDirectory() && !entry.IsLink() && IsInstallerLeftoverName(entry.name())) names.emplace_back(entry.name());
  }
  for (const std::wstring& name : names) {
    const std::wstring path = installPath + L"\\" + name;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    // A read-only copy would keep the directory, and with it the uninstaller, for good.
    const bool deleted = (attributes & FILE_ATTRIBUTE_READONLY) ? ClearReadOnlyAndDelete(path, attributes)
                                                                : ::DeleteFileW(path.c_str()) != FALSE;
    if (deleted) {
      LogInfo(L"已删除安装器遗留文件: " + path);
    } else {
      LogInfo(L"删除安装器遗留文件失败，错误码: " + oku::ToWide(::GetLastError()) + L", 文件路径: " + path);
    }
  }
}

void LogLeftovers(const std::wstring& installPath) {
  oku::DirectoryListing listing(installPath);
  if (!listing.ok()) return;
  LogInfo(L"安装目录下的剩余内容:");
  for (const oku::DirectoryEntry entry : listing) {
    LogInfo(std::wstring(L"  ") + (entry.IsDirectory() ? L"[DIR]" : L"[FILE]") + L" " + entry.name());
  }
}

// Everything between the opened log and the working directory's deletion.
int RunWithWorkspace(TempDirectoryManager& workspace, const UninstallOptions& options) {
  EventReporter& reporter = EventReporter::Instance();
  const std::wstring installPath = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kInstallPathValue);
  const std::wstring pv = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kProductVersionValue);

  if (!workspace.Initialize(157286400, true)) {
    LogInfo(L"Failed to initialize temp directory manager");
    reporter.Report("uninstall_failed", {{"reason", "temp_dir_init_failed"}});
    return 1;
  }

  bool copied = false;
  if (!installPath.empty() && !pv.empty()) {
    const std::wstring versionDir = installPath + L"\\" + pv;
    LogInfo(L"Attempting to copy Lantern files from: " + versionDir);
    copied = workspace.CopyLanternFilesFromDirectory(versionDir.c_str());
    if (copied) {
      LogInfo(L"Successfully copied Lantern files to temp directory");
    } else {
      LogWarning(L"Failed to copy Lantern files from install directory");
    }
  } else {
    LogWarning(L"Cannot find install path or pv from registry, skipping Lantern copy");
  }
  if (copied) {
    LogInfo(L"Initializing Lantern SDK from temp directory...");
    if (reporter.Init(workspace.GetLanternDirectory())) {
      LogInfo(L"Lantern SDK initialized successfully from temp directory");
      reporter.Report("uninstall_lantern_initialized", {{"component", "uninstaller"}, {"source", "temp_directory"}});
    } else {
      LogInfo(L"Failed to initialize Lantern SDK");
    }
  } else {
    LogWarning(L"Skipping Lantern initialization due to copy failure");
  }
  reporter.Report("uninstall_environment_check", {{"check_type", "uninstaller_environment"}, {"result", "pass"}});

  auto engine = std::make_unique<UninstallEngine>(options.force_kill, options.silent_chrome, options.keep_user_data,
                                                  options.silent_oku);
  const int resultCode = engine->Run();
  EventParams params{{"result_code", std::to_string(resultCode)}};
  if (resultCode != 0) {
    params["error_type"] = "uninstall_failed";
    reporter.Report("uninstall_failed", params);
  } else {
    reporter.Report("uninstall_completed", params);
  }

  LogInfo(L"Waiting for reporting to complete...");
  ::Sleep(1000);
  LogInfo(L"Cleaning up Lantern SDK...");
  reporter.Uninit();
  LogInfo(L"Lantern SDK cleanup completed");
  LogInfo(L"Waiting for DLL to fully unload...");
  ::Sleep(500);

  if (resultCode == 0) RemoveInstallerLeftovers(installPath);
  LogInfo(L"检查是否需要自毁卸载，安装路径: " + installPath);
  if (NeedsSelfDelete(installPath)) {
    LogInfo(L"✅ 需要自毁卸载！开始执行自毁脚本...");
    // The remover waits for this process to end: the session log is moved into the directory at
    // close and goes with it.
    if (StartDirectoryRemovalAfterExit(installPath)) {
      LogInfo(L"自毁脚本已启动（延迟2秒后执行）");
    } else {
      LogLeftovers(installPath);
    }
  } else {
    LogInfo(L"❌ 不需要自毁卸载！安装目录下还有其他文件或文件夹");
    LogLeftovers(installPath);
  }
  LogInfo(L"Exiting uninstaller, temp directory will be cleaned up...");
  engine.reset();
  return 0;
}

}  // namespace

int RunUninstaller() {
  const std::wstring programDir = oku::ExecutableDirectory();
  if (programDir.empty()) return 1;

  InitLogInTempDir(L"oku_uninstall.log");
  SetFinalLogPath(programDir);
  LogInfo(L"================== Oku.compass Uninstaller ==================");
  const DWORD major = GetWindowsMajorVersion();
  LogInfo(L"GetWindowsMajorVersion version: " + ToWide(major));
  if (major > 9) EnablePerMonitorDpiAwareness();

  const UninstallOptions options = ReadOptions();
  EventReporter::Instance().Report("uninstall_started", {{"force_kill", BoolText(options.force_kill)},
                                                         {"silent_chrome", BoolText(options.silent_chrome)},
                                                         {"silent_oku", BoolText(options.silent_oku)},
                                                         {"keep_user_data", BoolText(options.keep_user_data)}});
  int exitCode = 1;
  {
    TempDirectoryManager workspace;
    exitCode = RunWithWorkspace(workspace, options);
  }  // deletes the working directory with the analytics library copy
  RecordLogPath(CloseLogFile());
  EventReporter::Shutdown();
  return exitCode;
}
