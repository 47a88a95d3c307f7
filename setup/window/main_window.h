// The installer's window: the options view (directory, auto-start, install button) and the
// progress view, built from main.xml. It hands the installation to the pipeline and the
// pre-checks through InstallContext and learns about progress and the end from two posted
// messages. Closing is held back while a worker thread runs (see HandleCustomMessage); the
// cleanup after the close is window mode's, which owns the window.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "setup/install_context.h"
#include "setup/progress_simulator.h"
#include "ui/ui_lib.h"

class CMainWindow : public DuiLib::WindowImplBase, public InstallContext {
 public:
  explicit CMainWindow(bool isUpdateMode);

  // --- window base, in slot order ---
  const wchar_t* WindowClassName() const override { return L"OkuSetup"; }
  UINT GetClassStyle() const override { return 11; }  // CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS
  void OnFinalMessage(HWND hWnd) override;
  ~CMainWindow() override;
  void InitWindow() override;
  std::wstring SkinFolderName() override { return L"skin"; }
  std::wstring SkinFileName() override { return L"main.xml"; }
  LRESULT OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT OnSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) override;
  virtual LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);

  // INotifyUI
  void Notify(DuiLib::TNotifyUI& msg) override;

  // --- InstallContext ---
  std::wstring GetCustomInstallPath() const override { return m_customInstallPath; }
  bool IsPathFromRegistry() const override { return m_isPathFromRegistry; }
  bool IsAutoStart() const override { return m_isAutoStart; }
  bool IsUpdateMode() const override { return m_isUpdateMode; }
  std::wstring GetWorkingDirectory() override;
  ULONGLONG GetInstallStartTick() const override { return m_installStartTick; }
  HWND GetWindowHandle() const override { return m_hWnd; }
  bool HasInstallControls() const override { return m_pInstallBtn && m_pInstallProgress; }
  // From another thread this runs on the window's thread (sent, so it has happened on return).
  void ShowOptionsView() override;
  ProgressSimulator* GetProgressSimulator() override { return m_pCurve.get(); }
  void WorkerStarting() override;
  void WorkerEnded() override;
  void InstallationFailed(int code) override;

  // Window mode's exit code: the last installation attempt's failure code, 0 after a success or
  // when nothing was attempted.
  int ExitCode() const { return m_exitCode; }
  // True once a close request was carried out: no worker thread runs any more and the window has
  // been destroyed (or is being destroyed).
  bool HasClosed() const { return m_closed; }

  // Set by window mode before Create.
  std::wstring m_lanternDir;
  std::wstring m_workingDir;

 private:
  void SetupControls(int dpiX, int dpiY);
  void SetupFonts(int dpi);
  void ScaleControlsForDpi(int dpiX, int dpiY);
  void EnableWindowShadow();
  void UpdateAutoStartCheckbox();
  void ShowOptionsViewOnWindowThread();
  void ShowFailureView(int code);
  void SetExitCode(int code);
  void startProgress();
  void ToggleAutoStart();
  void SelectInstallFolder();
  bool ValidateInstallPath();
  void ShowMessageSpacer();
  void OnInstallBtnClick();
  void SetVisibleIfFound(const wchar_t* name, bool visible, const wchar_t* logLine = nullptr);
  void Relayout();
  void ApplyRoundedRegion();
  DuiLib::CControlUI* Find(const wchar_t* name) const { return m_PaintManager.FindControl(name); }

  bool m_isUpdateMode;
  bool m_isPathFromRegistry = false;
  bool m_isAutoStart = true;
  std::wstring m_customInstallPath;
  DuiLib::CButtonUI* m_pInstallBtn = nullptr;
  DuiLib::CEditUI* m_pPathInput = nullptr;
  DuiLib::CButtonUI* m_pFileSelectBtn = nullptr;
  DuiLib::CLabelUI* m_pProgressText = nullptr;
  DuiLib::CProgressUI* m_pInstallProgress = nullptr;
  DuiLib::CContainerUI* m_pPathInputContainer = nullptr;
  DuiLib::CButtonUI* m_pAutoStart = nullptr;
  std::unique_ptr<ProgressSimulator> m_pCurve;
  ULONGLONG m_installStartTick = 0;
  int m_dpiX = 96;  // the DPI the controls are scaled for
  int m_dpiY = 96;

  // Worker threads (pre-check, installation) that may still use the working directory, the
  // reporter or this object. A close request that arrives meanwhile waits for the last of them.
  std::atomic<int> m_activeWorkers{0};
  std::atomic<HWND> m_workerNotifyWindow{nullptr};
  bool m_closeDeferred = false;
  bool m_closed = false;
  int m_exitCode = 0;
};
