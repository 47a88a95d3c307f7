#include "setup/startup.h"

#include <optional>
#include <string>

#include "common/dpi_awareness.h"
#include "common/message_box.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "common/version_info.h"
#include "setup/delta_install.h"
#include "setup/exit_codes.h"
#include "setup/payload_groups.h"
#include "setup/quiet_install.h"
#include "setup/window_mode.h"
#include "telemetry/event_reporter.h"
#include "workspace/payload.h"
#include "workspace/temp_directory_manager.h"

using oku::Utf8FromWide;

namespace {

constexpr std::uint64_t kRequiredWorkingSpace = 157286400;  // 150 MiB

// Unloads the analytics libraries when the run ends: after the last events, before the working
// directory that holds them is deleted (a loaded library cannot be deleted).
struct ReporterShutdown {
  ~ReporterShutdown() { EventReporter::Instance().Uninit(); }
};

// A silent run answers with its exit code alone: a modal box would hold an unattended
// installation until somebody came to close it.
void ShowStartupFailure(bool quiet, const wchar_t* text) {
  if (quiet) {
    LogInfo(std::wstring(L"静默模式，不显示提示框: ") + text);
    return;
  }
  ShowMessageBox(nullptr, text, L"安装失败", MB_OK | MB_ICONERROR);
}

void MarkExtractionFailed(EventScope& scope, const BatchExtractResult& result) {
  if (!result.failedFiles.empty()) scope.Params()["failed_file"] = Utf8FromWide(result.failedFiles[0]);
  scope.SetFailure(result.lastError, "extract_failed");
}


}  // namespace

int RunStartupSequence(const InstallOptions& options, DWORD /*startTick*/, HINSTANCE instance) {
  EventReporter& reporter = EventReporter::Instance();
  reporter.SetInstallMode(options.isQuiet);
  ReportInstallerStarted(options.isQuiet, options.isUpdate, !options.targetPath.empty(), GetOSVersionString());

  // An update package carries no product installer: it runs silently only. Started otherwise it
  // says so and writes nothing.
  if (!options.isQuiet && HasDeltaPayload(instance)) {
    LogError(L"[Delta] 增量更新包只能静默运行（/S），未做任何更改");
    ReportInstallerFailed("update_package_needs_silent_mode");
    ShowMessageBox(nullptr, L"这是静默更新包，请使用 /S 参数运行。未做任何更改。", L"安装失败", MB_OK | MB_ICONERROR);
    return kExitUpdatePackageNeedsSilent;
  }

  // Destroyed last: deletes the working directory after the scopes below have ended.
  TempDirectoryManager workspace;
  if (!workspace.Initialize(kRequiredWorkingSpace, true)) {
    LogError(L"临时目录管理器初始化失败");
    ReportInstallerFailed("temp_dir_init_failed");
    ShowStartupFailure(options.isQuiet, L"无法创建临时目录，请检查磁盘空间或权限后重试");
    return kExitWorkingDirFailed;
  }
  const wchar_t* tempDir = workspace.GetTempDirectory();
  const wchar_t* lanternDir = workspace.GetLanternDirectory();
  if (!tempDir || !lanternDir) {
    LogError(L"获取临时目录路径失败！");
    LogError(std::wstring(L"  tempDir = ") + (tempDir ? tempDir : L"nullptr"));
    LogError(std::wstring(L"  lanternDir = ") + (lanternDir ? lanternDir : L"nullptr"));
    ShowStartupFailure(options.isQuiet, L"临时目录初始化异常，请重试或联系技术支持");
    return kExitWorkingDirFailed;
  }
  const std::wstring workingDir = tempDir;
  const std::wstring lantern = lanternDir;
  LogInfo(std::wstring(L"临时目录策略: ") + workspace.GetStrategyName());
  LogInfo(L"主临时目录: " + workingDir);
  LogInfo(L"Lantern目录: " + lantern);
  const std::uint64_t t0 = ::GetTickCount64();

  ReporterShutdown reporterShutdown;
  // The scopes end in reverse order of opening when this function returns.
  std::optional<EventScope> analyticsScope;
  std::optional<EventScope> coreScope;
  std::optional<EventScope> windowScope;

  LogInfo(L"开始解压上报系统资源...");
  analyticsScope.emplace("setup_extract_lantern_resources_start", "setup_extract_lantern_resources_completed",
                         "setup_extract_lantern_resources_failed",
                         EventParams{{"resource_count", "2"}, {"target_dir", Utf8FromWide(lantern)}});
  const BatchExtractResult analytics = ExtractResources(instance, kAnalyticsGroup, lantern);
  if (!analytics.allSucceeded) {
    LogError(L"解压上报资源失败");
    MarkExtractionFailed(*analyticsScope, analytics);
    ShowStartupFailure(options.isQuiet, L"安装包损坏或磁盘空间不足，请重新下载后重试");
    return kExitPayloadFailed;
  }
  LogInfo(L"上报系统资源解压完成");
  if (reporter.Init(lantern)) {
    LogInfo(L"上报系统初始化完成");
    ReportLanternInitialized(::GetTickCount64() - t0, workspace.GetStrategyName());
  } else {
    LogWarning(L"⚠️ Lantern SDK 初始化失败，安装将继续但无上报");
  }

  if (options.isQuiet && HasDeltaPayload(instance)) {
    LogInfo(L"[Delta] 检测到增量模式，跳过全量核心资源解压，直接进入增量安装");
    const int code = QuietInstall(workingDir, options.isAutoLaunch, options.isKill, options.targetPath);
    LogInfo(L"增量安装结束，结果: " + oku::ToWide(code));
    return code;
  }

  LogInfo(L"开始解压核心安装资源...");
  coreScope.emplace("setup_extract_core_resources_start", "setup_extract_core_resources_completed",
                    "setup_extract_core_resources_failed",
                    EventParams{{"resource_count", "7"}, {"target_dir", Utf8FromWide(workingDir)}});
  const BatchExtractResult core = ExtractResources(instance, kCoreGroup, workingDir);
  if (!core.allSucceeded) {
    LogError(L"解压核心资源失败");
    MarkExtractionFailed(*coreScope, core);
    ShowStartupFailure(options.isQuiet, L"安装包损坏或磁盘空间不足，请重新下载后重试");
    return kExitPayloadFailed;
  }
  LogInfo(L"核心安装资源解压完成");

  if (options.isQuiet) {
    LogInfo(L"静默安装模式 - 跳过UI资源解压");
    const int code = QuietInstall(workingDir, options.isAutoLaunch, options.isKill, options.targetPath);
    LogInfo(L"静默安装结束，结果: " + oku::ToWide(code));
    return code;
  }

  LogInfo(L"UI模式 - 开始解压UI资源...");
  windowScope.emplace("setup_extract_ui_resources_start", "setup_extract_ui_resources_completed", nullptr,
                      EventParams{{"resource_count", "13"}, {"target_dir", Utf8FromWide(workingDir)}});
  const BatchExtractResult window = ExtractResources(instance, kWindowGroup, workingDir);
  LogInfo(L"UI资源解压完成");
  if (window.failed > 0) windowScope->Params()["failed_count"] = std::to_string(window.failed);

  // The window shuts the reporter down when it closes, before this function returns: the group
  // scopes, whose extractions are over, end now so their completion events are not dropped.
  windowScope.reset();
  coreScope.reset();
  analyticsScope.reset();

  const DWORD major = GetWindowsMajorVersion();
  LogInfo(L"GetWindowsMajorVersion version: " + oku::ToWide(major));
  if (major > 9) EnablePerMonitorDpiAwareness();
  const int code = RunWindowMode(WindowModeSettings{instance, options.isUpdate, workingDir, lantern});
  LogInfo(L"窗口模式结束，结果: " + oku::ToWide(code));
  return code;
}
