// The window's installation settings as a plain InstallContext, for tests that drive the
// installation steps without a window.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "setup/install_context.h"

namespace oku::test {

// The window's installation settings, as CMainWindow holds them.
class TestContext : public InstallContext {
 public:
  std::wstring GetCustomInstallPath() const override { return path; }
  bool IsPathFromRegistry() const override { return fromRegistry; }
  bool IsAutoStart() const override { return autoStart; }
  bool IsUpdateMode() const override { return updateMode; }
  std::wstring GetWorkingDirectory() override { return workingDir; }
  ULONGLONG GetInstallStartTick() const override { return startTick; }
  HWND GetWindowHandle() const override { return window; }
  bool HasInstallControls() const override {
    ++controlsAsked;
    return controls;
  }
  void ShowOptionsView() override { ++optionsViewShown; }
  void InstallationFailed(int code) override {
    failedCode = code;
    ++failures;
  }
  ProgressSimulator* GetProgressSimulator() override { return progress; }

  std::wstring path;
  std::wstring workingDir;
  bool fromRegistry = false;
  bool autoStart = true;
  bool updateMode = false;
  bool controls = true;
  ULONGLONG startTick = 0;
  HWND window = nullptr;
  ProgressSimulator* progress = nullptr;
  mutable std::atomic<int> controlsAsked{0};  // StartInstallation asks first of all
  std::atomic<int> optionsViewShown{0};
  std::atomic<int> failedCode{0};
  std::atomic<int> failures{0};
};

}  // namespace oku::test
