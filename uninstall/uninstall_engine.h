// UninstallEngine: removal of the installed Oku.compass, used by the uninstaller and by the
// installer (to remove an earlier installation). Stops the running product, runs the browser
// component's own setup.exe in uninstall mode, removes the product's registry keys once the
// component's uninstall entry is gone, and cleans up what a failed component uninstall left.
#pragma once

#include <windows.h>

#include <string>

#include "uninstall/robust_delete.h"

class UninstallEngine {
 public:
  // Run results.
  static constexpr int kSuccess = 0;
  static constexpr int kNotConfirmed = 1;
  static constexpr int kProductNotStopped = 4;
  static constexpr int kRegistryInfoMissing = 5;
  static constexpr int kReady = 6;

  // How long the component's setup.exe may run before it is terminated.
  static constexpr DWORD kSetupWaitMs = 10 * 60 * 1000;
  // The exit code a setup.exe terminated for running too long is given.
  static constexpr DWORD kSetupTimeoutExitCode = WAIT_TIMEOUT;

  // setup_wait_ms exists for tests of the timeout; both programs use the default.
  UninstallEngine(bool force_kill, bool silent_chrome, bool keep_user_data, bool silent_oku,
                  DWORD setup_wait_ms = kSetupWaitMs);

  // 0 removed, 1 removal not confirmed, 4 or 5 preparation failed (nothing removed).
  [[nodiscard]] int Run();
  // 6 ready (installation path and pv read), 4 product could not be stopped, 5 registry values missing.
  [[nodiscard]] int StopRunningProduct();
  // True when the component's uninstaller ended by itself and its uninstall entry is gone. A
  // setup.exe running from inside the installation directory (by its image path) stops it with 60.
  [[nodiscard]] bool RunProductUninstall();
  // Starts "\"path\" arguments" and waits for it up to the setup wait limit; its exit code, 20
  // when it cannot start. One still running then is terminated and awaited, the timeout is
  // reported, timedOut (when given) is set and kSetupTimeoutExitCode returned.
  [[nodiscard]] int RunUninstallProcess(const std::wstring& path, const std::wstring& arguments,
                                        bool* timedOut = nullptr);
  // True when "UninstallString" of the component's uninstall key is empty or missing.
  bool IsUninstallEntryGone();
  // Logs the component's exit code; 60 and 333 show a box unless silent_oku; 20 runs the cleanup.
  void HandleSetupExitCode(DWORD code);

  [[nodiscard]] bool DeleteRegistryEntries();
  void CleanupInstallDirectory();

  // The component uninstaller's argument text for the current options and installation path.
  std::wstring UninstallArguments() const;
  std::wstring ComponentUninstallerPath() const;
  const std::wstring& install_path() const { return install_path_; }
  const std::wstring& pv() const { return pv_; }

 private:
  bool force_kill_;
  bool silent_chrome_;
  bool keep_user_data_;
  bool silent_oku_;
  DWORD setup_wait_ms_;
  std::wstring install_path_;
  std::wstring pv_;
  ChildProcessDeleter deleter_;
};
