#include "telemetry/event_reporter.h"
#include "common/product_names.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <shared_mutex>
#include <string_view>
#include <utility>

#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/session_log.h"
#include "common/version_info.h"
#include "telemetry/lantern_records.h"
#include "telemetry/tessel_manager.h"

namespace {

using LnInitFn = std::int32_t(__cdecl*)(const LanternConfig* config);
using LnUninitFn = void(__cdecl*)();
using LnReportFn = std::int32_t(__cdecl*)(const char* eventCode, const LanternParam* params, std::uint32_t count,
                                          std::int32_t flags);
using LnSetCommonParamsFn = std::int32_t(__cdecl*)(const LanternParam* params, std::uint32_t count);
using LnGetDeviceIdFn = const char*(__cdecl*)();

// The library's entry points: null until resolved, null again after Uninit.
std::atomic<LnInitFn> g_lnInitSdk{nullptr};
std::atomic<LnUninitFn> g_lnUninitSdk{nullptr};
std::atomic<LnReportFn> g_lnReport{nullptr};
std::atomic<LnSetCommonParamsFn> g_lnSetCommonParams{nullptr};
std::atomic<LnGetDeviceIdFn> g_lnGetDeviceId{nullptr};

constexpr char kEventCode[] = "OKU_COMPASS_KEY_EVENT";
constexpr std::size_t kCommonSlots = 20;

struct DelayedEvent {
  std::string name;
  EventParams params;
};

// Set while this thread holds the reporter's exclusive lock, so that a report raised from inside
// Init (a callback of the device-identifier library) does not wait for itself.
thread_local bool t_holdsExclusive = false;

std::wstring Wide(std::string_view utf8) { return oku::WideFromUtf8(utf8); }

// Copies text into a fixed field, cut on a character boundary so that the NUL always fits.
void CopyField(char* field, std::size_t size, std::string_view text) {
  const std::string_view cut = oku::Utf8PrefixOnBoundary(text, size - 1);
  std::memcpy(field, cut.data(), cut.size());
  field[cut.size()] = '\0';
}

void FillParam(LanternParam& param, std::string_view key, std::string_view value) {
  CopyField(param.key, sizeof(param.key), key);
  CopyField(param.value, sizeof(param.value), value);
}

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

void ClearEntryPoints() {
  g_lnInitSdk.store(nullptr);
  g_lnUninitSdk.store(nullptr);
  g_lnReport.store(nullptr);
  g_lnSetCommonParams.store(nullptr);
  g_lnGetDeviceId.store(nullptr);
}

}  // namespace

struct EventReporter::State {
  std::unique_ptr<DllLoader> sdk;
  bool initialized = false;
  std::wstring directory;
  std::string platform = "win";
  std::string hardwareOs;
  std::string version;
  std::string launchChannel = "default";
  std::string installMode = "unknown";
  LanternParam common[kCommonSlots] = {};
  std::uint32_t commonCount = 0;
  std::vector<DelayedEvent> delayed;
  DWORD startTick = 0;
  bool sdkConfigured = false;  // LN_InitSDK was called on the library now loaded
  bool tesselStarted = false;  // this Init asked the device-identifier client to load tessel.dll

  // Sending threads share this lock; Init, Uninit, queueing and process exit take it alone, so
  // the library is never unloaded under a thread that is inside LN_Report.
  std::shared_mutex lock;
  bool closed = false;  // the reporter was shut down: events are dropped

  DWORD Elapsed(DWORD now) const { return startTick != 0 ? now - startTick : 0; }

  bool InitLocked();
  void UnloadAfterFailedInit();
  bool LoadSdk();
  bool InitConfig();
  void InitCommonParams();
  void SetCommonParams(const EventParams& params);
  void Send(const std::string& name, const EventParams& params, DWORD elapsed);
  void Queue(const std::string& name, const EventParams& params, DWORD elapsed);
  void FlushDelayedEvents();
  void UninitLocked();
};

namespace {

// The reporter's state; null until the reporter is created. A thread that still reports while
// the process exits finds it closed, never freed.
std::atomic<EventReporter::State*> g_state{nullptr};

class ExclusiveLock {
 public:
  explicit ExclusiveLock(std::shared_mutex& mutex) : mutex_(mutex), owns_(!t_holdsExclusive) {
    if (owns_) {
      mutex_.lock();
      t_holdsExclusive = true;
    }
  }
  ~ExclusiveLock() {
    if (owns_) {
      t_holdsExclusive = false;
      mutex_.unlock();
    }
  }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  std::shared_mutex& mutex_;
  bool owns_;
};

class SharedLock {
 public:
  explicit SharedLock(std::shared_mutex& mutex) : mutex_(mutex), owns_(!t_holdsExclusive) {
    if (owns_) mutex_.lock_shared();
  }
  ~SharedLock() { Release(); }
  void Release() {
    if (owns_) mutex_.unlock_shared();
    owns_ = false;
  }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

 private:
  std::shared_mutex& mutex_;
  bool owns_;
};

// Record 0 is ("action", name), then the parameters in key order; one zeroed block per event.
std::unique_ptr<LanternParam[]> BuildRecords(const std::string& name, const EventParams& params, std::wstring* details) {
  std::unique_ptr<LanternParam[]> records(new LanternParam[params.size() + 1]());
  FillParam(records[0], "action", name);
  std::size_t i = 1;
  for (const auto& [key, value] : params) {
    FillParam(records[i++], key, value);
    if (details) *details += L"\n    " + Wide(key) + L" = " + Wide(value);
  }
  return records;
}

}  // namespace

bool EventReporter::State::LoadSdk() {
  LogInfo(L"开始初始化 Lantern SDK!");
  const std::wstring path = oku::JoinPath(directory, L"lantern_sdk.dll");
  LogInfo(L"dll 路径：" + path);
  sdk.reset();
  ClearEntryPoints();
  sdk = std::make_unique<DllLoader>(path.c_str());
  if (!sdk->IsLoaded()) {
    LogInfo(L"加载 SDK 失败! dll 路径：" + path);
    sdk.reset();
    return false;
  }
  const HMODULE module = sdk->GetHandle();
  const auto init = Resolve<LnInitFn>(module, "LN_InitSDK");
  const auto uninit = Resolve<LnUninitFn>(module, "LN_UninitSDK");
  const auto report = Resolve<LnReportFn>(module, "LN_Report");
  const auto setCommon = Resolve<LnSetCommonParamsFn>(module, "LN_SetCommonParams");
  const auto deviceId = Resolve<LnGetDeviceIdFn>(module, "LN_GetLanternDeviceId");
  if (!init || !uninit || !report || !setCommon || !deviceId) {
    // None is kept: pointers into a library that is unloaded next must not survive.
    LogInfo(L"获取 Lantern SDK 函数指针失败!");
    sdk.reset();
    return false;
  }
  g_lnInitSdk.store(init);
  g_lnUninitSdk.store(uninit);
  g_lnReport.store(report);
  g_lnSetCommonParams.store(setCommon);
  g_lnGetDeviceId.store(deviceId);
  LogInfo(L"初始化 Lantern SDK 成功!");
  return true;
}

bool EventReporter::State::InitConfig() {
  LogInfo(L"开始初始化 Lantern 配置");
  const std::wstring dataDirectory = oku::JoinPath(directory, L"lantern");
  if (!oku::DirectoryExists(dataDirectory) && !::CreateDirectoryW(dataDirectory.c_str(), nullptr)) {
    LogInfo(L"创建文件夹失败!" + dataDirectory);
    return false;
  }
  const std::string dataDirectoryUtf8 = oku::Utf8FromWide(dataDirectory);
  LanternConfig config;
  std::memset(&config, 0, sizeof(config));
  if (dataDirectoryUtf8.size() >= sizeof(config.dataDirectory)) {
    // A cut path would name another directory; the library is better left uninitialised.
    LogWarning(L"Lantern 数据目录路径过长: " + dataDirectory);
    return false;
  }
  CopyField(config.appKey, sizeof(config.appKey), kAnalyticsAppKey);
  config.enabled = 1;
  CopyField(config.osMajorVersion, sizeof(config.osMajorVersion), hardwareOs);
  CopyField(config.appVersion, sizeof(config.appVersion), version);
  CopyField(config.sdkVersion, sizeof(config.sdkVersion), "1.0");
  config.debug = 0;
  CopyField(config.dataDirectory, sizeof(config.dataDirectory), dataDirectoryUtf8);
  config.persistent = 1;
  config.flushIntervalMs = 1000;
  if (const LnInitFn init = g_lnInitSdk.load()) {
    sdkConfigured = true;
    init(&config);
  }
  LogInfo(L"初始化 Lantern 配置成功!");
  return true;
}

void EventReporter::State::InitCommonParams() {
  LogInfo(L"开始初始化 Lantern 公共参数");
  TesselManager& tessel = TesselManager::Instance();
  tesselStarted = true;
  tessel.Init(directory);
  const std::string t36 = tessel.GetT36();
  LogInfo(L"获取到 tessel: " + Wide(t36));
  SetCommonParams(EventParams{{"platform", platform},
                              {"hardware_os", hardwareOs},
                              {"version", version},
                              {"launch_channel", launchChannel},
                              {"t36", t36},
                              {"is_setup", "true"}});
  LogInfo(L"初始化 Lantern 公共参数成功!");
}

void EventReporter::State::SetCommonParams(const EventParams& params) {
  LogInfo(L"设置 Lantern 公共参数");
  commonCount = static_cast<std::uint32_t>(std::min(params.size(), kCommonSlots));
  if (commonCount == 0) return;
  std::memset(common, 0, sizeof(common));
  std::uint32_t slot = 0;
  for (const auto& [key, value] : params) {
    if (slot == kCommonSlots) {
      // The table has 20 slots; the library never sees the rest.
      LogWarning(L"Lantern 公共参数超过 20 个，忽略: " + Wide(key));
      continue;
    }
    FillParam(common[slot], key, value);
    LogInfo(Wide(common[slot].key) + L" = " + Wide(common[slot].value));
    ++slot;
  }
  if (const LnSetCommonParamsFn set = g_lnSetCommonParams.load()) set(common, commonCount);
  LogInfo(L"设置 Lantern 公共参数成功!");
  const LnGetDeviceIdFn getDeviceId = g_lnGetDeviceId.load();
  const char* deviceId = getDeviceId ? getDeviceId() : nullptr;
  if (deviceId && deviceId[0] != '\0') {
    LogInfo(L"device id: " + Wide(deviceId));
  } else {
    LogWarning(L"获取 device id 失败或为空");
  }
}

void EventReporter::State::Queue(const std::string& name, const EventParams& params, DWORD elapsed) {
  delayed.push_back(DelayedEvent{name, params});
  LogInfo(L"[延迟上报 | +" + oku::ToWide(elapsed) + L"ms] " + Wide(name) + L" (待 Lantern 初始化后发送)");
}

void EventReporter::State::Send(const std::string& name, const EventParams& params, DWORD elapsed) {
  const DWORD t0 = ::GetTickCount();
  LogInfo(L"[上报开始 | +" + oku::ToWide(elapsed) + L"ms] " + Wide(name));
  EventParams p = params;
  if (p.find("install_mode") == p.end()) p["install_mode"] = installMode;

  std::wstring details = L"\n    action = " + Wide(name);
  for (std::uint32_t i = 0; i < commonCount; ++i) {
    if (common[i].key[0] != '\0') details += L"\n    " + Wide(common[i].key) + L" = " + Wide(common[i].value);
  }
  const std::string sessionId = GetSessionIdUtf8();
  if (!sessionId.empty()) {
    p["session_id"] = sessionId;
    details += L"\n    session_id = " + Wide(sessionId);
  }
  if (startTick != 0) {
    p["elapsed_time_ms"] = oku::ToNarrow(elapsed);
    details += L"\n    elapsed_time_ms = " + oku::ToWide(elapsed);
  }
  const std::unique_ptr<LanternParam[]> records = BuildRecords(name, p, &details);
  if (const LnReportFn report = g_lnReport.load()) {
    report(kEventCode, records.get(), static_cast<std::uint32_t>(p.size() + 1), 0);
  }
  const DWORD api = ::GetTickCount() - t0;
  if (!name.empty()) {
    LogInfo(L"[上报完成 | +" + oku::ToWide(elapsed) + L"ms | API耗时:" + oku::ToWide(api) + L"ms]" + details);
  }
}

void EventReporter::State::FlushDelayedEvents() {
  if (delayed.empty()) return;
  const DWORD t = ::GetTickCount();
  const DWORD base = Elapsed(t);
  const std::size_t total = delayed.size();
  const std::string sessionId = GetSessionIdUtf8();
  LogInfo(L"[批量上报开始 | +" + oku::ToWide(base) + L"ms] 共 " + oku::ToWide(total) + L" 个延迟事件");
  std::size_t sent = 0;
  for (std::size_t i = 0; i < total; ++i) {
    const DelayedEvent& event = delayed[i];
    try {
      EventParams p = event.params;
      const DWORD e = Elapsed(::GetTickCount());
      if (!sessionId.empty()) p["session_id"] = sessionId;
      if (startTick != 0) p["elapsed_time_ms"] = oku::ToNarrow(e);
      const LnReportFn report = g_lnReport.load();
      if (!report) {
        LogWarning(L"[批量上报] Lantern 函数指针无效，跳过: " + Wide(event.name));
        continue;
      }
      LogInfo(L"  [上报 " + oku::ToWide(i + 1) + L"/" + oku::ToWide(total) + L" | +" + oku::ToWide(e) + L"ms] " +
              Wide(event.name));
      const std::unique_ptr<LanternParam[]> records = BuildRecords(event.name, p, nullptr);
      const DWORD t0 = ::GetTickCount();
      report(kEventCode, records.get(), static_cast<std::uint32_t>(p.size() + 1), 0);
      LogInfo(L"    ✓ 完成 | API耗时: " + oku::ToWide(::GetTickCount() - t0) + L"ms");
      ++sent;
    } catch (...) {
      // Out of memory for one event's records: the others still go.
    }
  }
  const DWORD d = ::GetTickCount() - t;
  LogInfo(L"[批量上报完成 | +" + oku::ToWide(base + d) + L"ms] 已发送 " + oku::ToWide(sent) + L"/" +
          oku::ToWide(total) + L" 个事件 | 批量耗时: " + oku::ToWide(d) + L"ms");
  delayed.clear();
}

void EventReporter::State::UninitLocked() {
  if (!initialized) return;
  if (const LnUninitFn uninit = g_lnUninitSdk.load()) uninit();
  sdk.reset();
  ClearEntryPoints();
  sdkConfigured = false;
  // The device-identifier library lives in the same directory, which is deleted after this.
  TesselManager::Instance().Release();
  tesselStarted = false;
  initialized = false;
}

bool EventReporter::State::InitLocked() {
  if (!LoadSdk()) return false;
  if (!InitConfig()) return false;
  InitCommonParams();
  LogInfo(L"初始化成功!");
  initialized = true;
  FlushDelayedEvents();
  return true;
}

// An Init that failed after loading the library keeps nothing of it: the library file and the
// directory holding it must stay deletable by the caller.
void EventReporter::State::UnloadAfterFailedInit() {
  if (!sdk && !tesselStarted) return;
  LogInfo(L"初始化失败，卸载 Lantern SDK!");
  if (sdkConfigured) {
    if (const LnUninitFn uninit = g_lnUninitSdk.load()) uninit();
  }
  sdk.reset();
  ClearEntryPoints();
  sdkConfigured = false;
  if (tesselStarted) TesselManager::Instance().Release();
  tesselStarted = false;
}

EventReporter& EventReporter::Instance() {
  static EventReporter& reporter = *new EventReporter();  // never destroyed: see Shutdown
  return reporter;
}

EventReporter::EventReporter() : state_(std::make_unique<State>()) {
  // The device-identifier client this reporter owns; its events come back here.
  TesselManager::Instance().SetReportCallback(
      [](const std::string& name, const EventParams& params) { EventReporter::Instance().Report(name, params); });
  state_->hardwareOs = std::to_string(static_cast<std::int32_t>(GetWindowsMajorVersion()));
  state_->version = GetExeVersion();
  g_state.store(state_.get());
}

void EventReporter::Shutdown() {
  State* state = g_state.load();
  if (!state) return;
  {
    ExclusiveLock lock(state->lock);
    state->UninitLocked();
    state->delayed.clear();
    state->closed = true;
  }
  TesselManager::Instance().Shutdown();
}

bool EventReporter::Init(const std::wstring& directory) {
  State* state = g_state.load();
  try {
    ExclusiveLock lock(state->lock);
    if (state->closed) return false;
    if (state->initialized) return true;
    try {
      state->directory = directory;
      if (state->InitLocked()) return true;
    } catch (...) {
      if (state->initialized) return true;
    }
    state->UnloadAfterFailedInit();
    return false;
  } catch (...) {
    return state->initialized;
  }
}

void EventReporter::Report(const std::string& name, const EventParams& params) {
  State* state = g_state.load();
  try {
    {
      SharedLock shared(state->lock);
      if (state->closed) return;
      if (state->initialized && g_lnReport.load()) {
        state->Send(name, params, state->Elapsed(::GetTickCount()));
        return;
      }
    }
    ExclusiveLock lock(state->lock);
    if (state->closed) return;
    const DWORD elapsed = state->Elapsed(::GetTickCount());
    if (state->initialized && g_lnReport.load()) {
      state->Send(name, params, elapsed);
    } else {
      state->Queue(name, params, elapsed);
    }
  } catch (...) {
    // Reporting never disturbs the caller.
  }
}

void EventReporter::Uninit() {
  State* state = g_state.load();
  ExclusiveLock lock(state->lock);
  state->UninitLocked();
}

void EventReporter::SetInstallMode(bool quiet) {
  State* state = g_state.load();
  ExclusiveLock lock(state->lock);
  state->installMode = quiet ? "quiet" : "ui";
  LogInfo(L"[安装模式] " + Wide(state->installMode));
}

void EventReporter::SetStartTime(DWORD tick) {
  State* state = g_state.load();
  ExclusiveLock lock(state->lock);
  state->startTick = tick;
  LogInfo(L"[启动时间] 程序启动时间已记录: " + oku::ToWide(tick) + L"ms");
}

bool EventReporter::IsInitialized() const {
  State* state = g_state.load();
  SharedLock lock(state->lock);
  return state->initialized;
}

EventScope::EventScope(std::string startName, std::string completedName, const char* failedName, EventParams params)
    : startName_(std::move(startName)),
      completedName_(std::move(completedName)),
      failedName_(failedName ? failedName : ""),
      hasFailedName_(failedName != nullptr),
      params_(std::move(params)) {
  EventReporter::Instance().Report(startName_, params_);
}

EventScope::~EventScope() {
  if (!finished_) Finish();
}

void EventScope::SetError(const std::string& error) {
  success_ = false;
  params_["error"] = error;
}

void EventScope::SetFailure(std::uint32_t code, const std::string& error) {
  success_ = false;
  params_["error_code"] = oku::ToNarrow(code);
  params_["error"] = error;
}

void EventScope::Finish() {
  if (finished_) return;
  if (success_) {
    EventReporter::Instance().Report(completedName_, params_);
  } else if (hasFailedName_) {
    EventReporter::Instance().Report(failedName_, params_);
  }
  finished_ = true;
}

void ReportInstallerStarted(bool silent, bool update, bool customPath, const std::string& osVersion) {
  EventReporter::Instance().Report("setup_installer_started", EventParams{{"install_mode", silent ? "silent" : "ui"},
                                                                          {"is_update", BoolText(update)},
                                                                          {"has_custom_path", BoolText(customPath)},
                                                                          {"os_version", osVersion}});
}

void ReportInstallerBlocked(const std::string& reason) {
  EventReporter::Instance().Report("setup_installer_blocked", EventParams{{"reason", reason}});
}

void ReportInstallerFailed(const std::string& reason, const EventParams& extra) {
  EventParams params{{"reason", reason}};
  for (const auto& [key, value] : extra) params[key] = value;
  EventReporter::Instance().Report("setup_installer_failed", params);
}

void ReportEnvironmentCheck(const std::string& checkType, const std::string& result, const EventParams& extra) {
  EventParams params{{"check_type", checkType}, {"result", result}};
  for (const auto& [key, value] : extra) params[key] = value;
  EventReporter::Instance().Report("setup_environment_check", params);
}

void ReportInstallationStarted(const std::wstring& installPath, bool autoLaunch, bool isOverride, bool adminMode) {
  EventReporter::Instance().Report("setup_installation_started",
                                   EventParams{{"install_path", oku::Utf8FromWide(installPath)},
                                               {"auto_launch", BoolText(autoLaunch)},
                                               {"is_override", BoolText(isOverride)},
                                               {"use_admin_mode", BoolText(adminMode)}});
}

void ReportLanternInitialized(std::uint64_t milliseconds, const std::wstring& strategyName) {
  EventReporter::Instance().Report("setup_lantern_initialized",
                                   EventParams{{"init_time_ms", oku::ToNarrow(milliseconds)},
                                               {"temp_dir_strategy", oku::Utf8FromWide(strategyName)}});
}
