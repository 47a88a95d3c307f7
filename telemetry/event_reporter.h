// Analytics events through the maker's library lantern_sdk.dll, loaded at run time by path.
// Events reported before Init are queued and sent in one batch when Init succeeds. The reporter
// is created on first use and never destroyed; the programs end it with Shutdown.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Ordered map of UTF-8 keys to UTF-8 values (byte-wise key order).
using EventParams = std::map<std::string, std::string>;

class EventReporter {
 public:
  static EventReporter& Instance();

  // Loads directory\lantern_sdk.dll and initialises it (flushing the queue); true when
  // initialised. A failed Init leaves no library of that directory loaded.
  [[nodiscard]] bool Init(const std::wstring& directory);
  void Report(const std::string& name, const EventParams& params);
  void Uninit();
  // The end of reporting for the process, after the session log is closed: Uninit, queued events
  // dropped, every later report ignored; then the device-identifier client it owns is shut down.
  // Nothing when the reporter was never created.
  static void Shutdown();
  void SetInstallMode(bool quiet);
  void SetStartTime(DWORD tick);
  bool IsInitialized() const;

  struct State;  // defined in event_reporter.cpp

 private:
  EventReporter();
  ~EventReporter() = default;
  std::unique_ptr<State> state_;
};

// Reports its start event at once and its completed (or failed) event when finished.
class EventScope {
 public:
  EventScope(std::string startName, std::string completedName, const char* failedName, EventParams params);
  ~EventScope();
  EventScope(const EventScope&) = delete;
  EventScope& operator=(const EventScope&) = delete;

  void SetError(const std::string& error);
  void SetFailure(std::uint32_t code, const std::string& error);
  void Finish();
  EventParams& Params() { return params_; }

 private:
  std::string startName_;
  std::string completedName_;
  std::string failedName_;
  bool hasFailedName_ = false;
  EventParams params_;
  bool success_ = true;
  bool finished_ = false;
};

inline const char* BoolText(bool value) { return value ? "true" : "false"; }

void ReportInstallerStarted(bool silent, bool update, bool customPath, const std::string& osVersion);
void ReportInstallerBlocked(const std::string& reason);
void ReportInstallerFailed(const std::string& reason, const EventParams& extra = {});
void ReportEnvironmentCheck(const std::string& checkType, const std::string& result, const EventParams& extra = {});
void ReportInstallationStarted(const std::wstring& installPath, bool autoLaunch, bool isOverride, bool adminMode);
void ReportLanternInitialized(std::uint64_t milliseconds, const std::wstring& strategyName);
