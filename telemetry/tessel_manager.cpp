#include "telemetry/tessel_manager.h"
#include "common/product_names.h"

#include <windows.h>

#include <cstring>
#include <utility>

#include "common/paths.h"
#include "common/portable/text.h"
#include "common/session_log.h"

namespace {

using InitFn = int(__cdecl*)(const char* appKey, TesselLogCallback log, const char* channel, const char* parameters,
                             const char* version, bool flag);
using GetIdFn = int(__cdecl*)(const char* appKey, char* buffer, int size);
using GetIdAsyncFn = int(__cdecl*)(const char* appKey, TesselIdCallback callback);

constexpr std::size_t kMaxDirectoryChars = 1023;

// The manager until it is shut down; the SDK's own thread may call back after that.
std::atomic<TesselManager*> g_manager{nullptr};

void AppendQuoted(std::string& out, const std::string& text) {
  out.push_back('"');
  for (const char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// {"key":"value",...} without blanks.
std::string SerializeParameters(const std::map<std::string, std::string>& parameters) {
  std::string text = "{";
  bool first = true;
  for (const auto& [key, value] : parameters) {
    if (!first) text.push_back(',');
    first = false;
    AppendQuoted(text, key);
    text.push_back(':');
    AppendQuoted(text, value);
  }
  text.push_back('}');
  return text;
}

std::wstring Wide(const std::string& utf8) { return oku::WideFromUtf8(utf8); }

}  // namespace

TesselBinding& TesselBinding::Instance() {
  // Never destroyed: a library still loaded at exit stays loaded (its own threads may still run).
  static TesselBinding& binding = *new TesselBinding();
  return binding;
}

FARPROC TesselBinding::Export(const char* name) const {
  return module_ ? ::GetProcAddress(module_.get(), name) : nullptr;
}

int TesselBinding::LoadLibraryFrom(const wchar_t* directory) {
  if (module_) return kTesselLoaded;
  if (!directory) return kTesselNoDirectory;
  std::wstring folder;
  if (directory[0] == L'\0') {
    wchar_t program[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return kTesselNoProgramName;
    const wchar_t* slash = std::wcsrchr(program, L'\\');
    if (!slash) return kTesselProgramNameWithoutBackslash;
    folder.assign(program, static_cast<std::size_t>(slash - program));
  } else {
    folder.assign(directory, wcsnlen(directory, kMaxDirectoryChars));
  }
  const std::wstring path = oku::JoinPath(folder, L"tessel.dll");
  if (!oku::FileExists(path)) return kTesselDllMissing;
  // Dependencies only from the library's own folder and the system directory.
  oku::ModuleHandle module(
      ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module) return kTesselLoadFailed;
  module_ = std::move(module);
  return kTesselLoaded;
}

int TesselBinding::Init(const std::string& appKey, TesselLogCallback log, const std::string& channel,
                        std::map<std::string, std::string> parameters, const std::string& version, bool flag,
                        const wchar_t* directory) {
  std::lock_guard<std::mutex> lock(initLock_);
  if (initialized_.load()) return kTesselLoaded;
  const int status = LoadLibraryFrom(directory);
  if (status != kTesselLoaded) return status;
  const auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(Export("a1")));
  if (!init) return kTesselInitExportMissing;
  // An empty map passes no parameters text at all; the map goes with this call in every case.
  const std::string serialized = parameters.empty() ? std::string() : SerializeParameters(parameters);
  if (init(appKey.c_str(), log, channel.c_str(), serialized.empty() ? nullptr : serialized.c_str(), version.c_str(),
           flag) != 0) {
    return kTesselInitFailed;
  }
  appKey_ = appKey;
  initialized_.store(true);
  return kTesselLoaded;
}

std::optional<std::string> TesselBinding::GetT36() {
  try {
    std::lock_guard<std::mutex> lock(queryLock_);
    if (initialized_.load() && cache_[0] == '\0') {
      if (const auto get = reinterpret_cast<GetIdFn>(reinterpret_cast<void*>(Export("b")))) {
        char buffer[kIdBufferSize] = {};
        if (get(appKey_.c_str(), buffer, kIdBufferSize) == 0) {
          std::memcpy(cache_, buffer, kIdBufferSize);
          // A library that fills all 70 bytes without a terminator still leaves a terminated cache.
          cache_[kIdBufferSize] = '\0';
        }
      }
    }
    return std::string(cache_, strnlen(cache_, sizeof(cache_)));
  } catch (...) {
    return std::nullopt;
  }
}

void TesselBinding::GetT36Async(TesselIdCallback receive) {
  if (!initialized_.load()) return;
  const std::optional<std::string> cached = GetT36();
  if (cached && !cached->empty()) {
    if (receive) receive(cached->c_str());
    return;
  }
  GetIdAsyncFn ask = nullptr;
  {
    std::lock_guard<std::mutex> lock(queryLock_);
    if (initialized_.load()) ask = reinterpret_cast<GetIdAsyncFn>(reinterpret_cast<void*>(Export("c")));
  }
  if (ask) ask(appKey_.c_str(), receive);
}

TesselManager& TesselManager::Instance() {
  static TesselManager& manager = *new TesselManager();  // never destroyed: see Shutdown
  return manager;
}

TesselManager::TesselManager() { g_manager.store(this); }

void TesselManager::Shutdown() { g_manager.store(nullptr); }

void TesselManager::SetReportCallback(ReportCallback report) {
  std::lock_guard<std::mutex> lock(reportLock_);
  report_ = std::move(report);
}

void TesselManager::Init(const std::wstring& directory) {
  if (initialized_) return;
  directory_ = directory;
  if (InitSdk()) {
    GetT36Async(nullptr);
    initialized_ = true;
  }
}

bool TesselManager::InitSdk() {
  LogInfo(L"初始化 TesselSDK!");
  LogInfo(L"tessel.dll 父目录路径：" + directory_);
  const int code = TesselBinding::Instance().Init(kAnalyticsAppKey, &TesselManager::OnTesselLog, "daily", {{"guid", "yyh"}},
                                                  "1.0.0", true, directory_.c_str());
  if (code != 0) {
    LogInfo(L"初始化 TesselSDK 失败！返回码: " + oku::ToWide(code));
    return false;
  }
  LogInfo(L"初始化 TesselSDK 成功！返回码: " + oku::ToWide(code));
  return true;
}

std::string TesselManager::GetT36() {
  LogInfo(L"获取 T36");
  const std::optional<std::string> cached = TesselBinding::Instance().GetT36();
  if (!cached) {
    LogInfo(L"获取 T36 失败！");
    return std::string();
  }
  return *cached;
}

void TesselManager::GetT36Async(Callback callback) {
  LogInfo(L"异步获取 T36");
  const std::string text = GetT36();
  if (!text.empty() || !initialized_) {
    LogInfo(L"t36_str 为:" + Wide(text));
    if (callback) callback(text);
    return;
  }
  // Not reached by the programs: Init, the only caller, marks the manager initialised afterwards.
  if (callback) {
    LogInfo(L"TesselSDK GetTessel36Async callback");
    std::lock_guard<std::mutex> lock(pendingLock_);
    pending_ = std::move(callback);
  }
  TesselBinding::Instance().GetT36Async(&TesselManager::OnTesselRecv);
}

void __cdecl TesselManager::OnTesselLog(const char* message) {
  LogInfo(L"[TesselManager] TesselSDK LOG: " + Wide(message ? message : ""));
}

void __cdecl TesselManager::OnTesselRecv(const char* identifier) {
  TesselManager* manager = g_manager.load();
  if (!manager) {
    LogInfo(L"TesselSDK 实例为空！");
    return;
  }
  if (!identifier) {
    LogInfo(L"ptm 参数为空！");
    return;
  }
  if (identifier[0] == '\0') {
    LogInfo(L"T36 参数为空！");
    return;
  }
  const std::string text = identifier;
  LogInfo(L"TesselSDK OnTesselRecv: " + Wide(text));
  ReportCallback report;
  {
    std::lock_guard<std::mutex> lock(manager->reportLock_);
    report = manager->report_;
  }
  if (report) report("tessel_event", {{"t36", text}, {"type", "tessel_received"}});
  // The SDK answers on its own thread, so the pending callback is taken under a lock.
  Callback pending;
  {
    std::lock_guard<std::mutex> lock(manager->pendingLock_);
    pending = std::move(manager->pending_);
    manager->pending_ = nullptr;
  }
  if (pending) {
    LogInfo(L"TesselSDK 回调执行: " + Wide(text));
    pending(text);
  }
}

void TesselBinding::Release() {
  std::lock_guard<std::mutex> init(initLock_);
  std::lock_guard<std::mutex> query(queryLock_);
  initialized_ = false;
  module_.reset();
}

void TesselManager::Release() {
  initialized_ = false;
  TesselBinding::Instance().Release();
}
