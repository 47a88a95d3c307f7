// What the installation pipeline, its pre-checks and the registry records need from the main
// window. CMainWindow implements it; the pipeline and its tests code against this interface so
// they can run before (or without) a window. Worker threads call these from their own threads:
// the window writes the fields they read before starting them and leaves them alone while the
// progress view is shown.
#pragma once

#include <windows.h>

#include <string>

class ProgressSimulator;

class InstallContext {
 public:
  virtual ~InstallContext() = default;

  // m_customInstallPath: the chosen installation directory.
  virtual std::wstring GetCustomInstallPath() const = 0;

  // m_isPathFromRegistry: the directory came from an earlier installation ("is_override").
  virtual bool IsPathFromRegistry() const = 0;

  // m_isAutoStart: the auto-start check box.
  virtual bool IsAutoStart() const = 0;

  // m_isUpdateMode: the "update" option; skips the checks and leaves the auto-start value alone.
  virtual bool IsUpdateMode() const = 0;

  // The working directory (m_workingDir, or the window's fallback next to the executable).
  virtual std::wstring GetWorkingDirectory() = 0;

  // m_installStartTick: GetTickCount64 when the progress view was shown.
  virtual ULONGLONG GetInstallStartTick() const = 0;

  // The window's handle; null before the window exists.
  virtual HWND GetWindowHandle() const = 0;

  // False when the install button or the progress bar is missing (the installation does not start).
  virtual bool HasInstallControls() const = 0;

  // Returns the window to its options view; called from the pre-check thread.
  virtual void ShowOptionsView() = 0;

  // m_pCurve: the progress simulation the window owns; may be null.
  virtual ProgressSimulator* GetProgressSimulator() = 0;

  // The installation failed with code, the run's exit code unless a retry succeeds. Any thread:
  // the window stops the progress, shows the failure with the code and the log's place, and lets
  // the user close (or try again).
  virtual void InstallationFailed(int code) { (void)code; }

  // Bracket a worker thread that uses this context: WorkerStarting on the starting thread before
  // the thread is created, WorkerEnded as the thread's last call (or by the starter when creation
  // failed). The window holds its close cleanup back until every worker has ended.
  virtual void WorkerStarting() {}
  virtual void WorkerEnded() {}
};
