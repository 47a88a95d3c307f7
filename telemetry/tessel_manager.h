// The device identifier (the "T36") from the maker's library tessel.dll, loaded at run time from a
// directory. TesselBinding wraps the library's exports and caches the identifier; TesselManager
// initialises it once per process for its owner, the event reporter, and reports its own events
// through the callback the owner sets (it knows nothing of the reporter).
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "common/handles.h"

// Load status codes of TesselBinding::Init.
enum TesselLoadStatus : int {
  kTesselLoaded = 0,
  kTesselNoProgramName = 1,
  kTesselProgramNameWithoutBackslash = 2,
  kTesselDllMissing = 3,
  kTesselLoadFailed = 4,
  kTesselInitExportMissing = 5,
  kTesselInitFailed = 6,
  kTesselNoDirectory = 7,
};

using TesselLogCallback = void(__cdecl*)(const char* message);
using TesselIdCallback = void(__cdecl*)(const char* identifier);

class TesselBinding {
 public:
  static TesselBinding& Instance();

  // Loads directory\tessel.dll (a null directory gives 7; an empty one means the program's own
  // directory) and calls its init export once; a load status code. The library stays loaded
  // until Release.
  [[nodiscard]] int Init(const std::string& appKey, TesselLogCallback log, const std::string& channel,
           std::map<std::string, std::string> parameters, const std::string& version, bool flag,
           const wchar_t* directory);
  // The cached identifier, asking the library while the cache is empty; nullopt only when the
  // cache could not be copied.
  std::optional<std::string> GetT36();
  // Fills the cache and calls receive with it at once, or else asks the library to answer later
  // on its own thread. Nothing when the binding is not initialised.
  void GetT36Async(TesselIdCallback receive);

  bool IsInitialized() const { return initialized_.load(); }
  // Unloads the library (so the directory holding it can be deleted); the cached identifier stays.
  void Release();

 private:
  TesselBinding() = default;
  [[nodiscard]] int LoadLibraryFrom(const wchar_t* directory);
  FARPROC Export(const char* name) const;

  std::mutex initLock_;
  std::mutex queryLock_;
  // Written under initLock_ before initialized_ becomes true, released under both locks; read
  // under queryLock_ only while initialized_.
  oku::ModuleHandle module_;
  std::atomic<bool> initialized_{false};
  std::string appKey_;  // written once under initLock_ before initialized_ becomes true
  // The library fills a 70-byte buffer; one byte more keeps a 70-character identifier whole.
  static constexpr int kIdBufferSize = 70;
  char cache_[kIdBufferSize + 1] = {};
};

class TesselManager {
 public:
  using Callback = std::function<void(const std::string&)>;
  // An event of the client: its name and parameters.
  using ReportCallback = std::function<void(const std::string& name, const std::map<std::string, std::string>& params)>;

  static TesselManager& Instance();

  // Where the client's events go; set by its owner before Init. Without one they are dropped.
  void SetReportCallback(ReportCallback report);

  void Init(const std::wstring& directory);
  std::string GetT36();
  void GetT36Async(Callback callback);
  // Unloads the SDK; a later Init loads it again.
  void Release();
  // The end of the client for the process (by its owner's Shutdown): an answer of the SDK's
  // thread that still arrives is dropped.
  void Shutdown();

 private:
  TesselManager();
  ~TesselManager() = default;
  TesselManager(const TesselManager&) = delete;
  TesselManager& operator=(const TesselManager&) = delete;

  [[nodiscard]] bool InitSdk();
  static void __cdecl OnTesselLog(const char* message);
  static void __cdecl OnTesselRecv(const char* identifier);

  std::wstring directory_;
  bool initialized_ = false;
  std::mutex pendingLock_;
  Callback pending_;
  std::mutex reportLock_;  // the SDK's thread reports too
  ReportCallback report_;
};
