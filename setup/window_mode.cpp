#include "setup/window_mode.h"

#include <objbase.h>

#include <memory>

#include "common/paths.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/exit_codes.h"
#include "setup/pre_install_checks.h"
#include "setup/window/main_window.h"
#include "telemetry/event_reporter.h"
#include "ui/ui_lib.h"
#include "uninstall/self_delete.h"

namespace {

// After the window has closed (no worker thread runs then): the reporter is shut down, the
// working directory emptied, the installer copy in the chosen directory deleted, and the
// lantern directory left to the self-delete script.
void CleanUpAfterClose(CMainWindow& window) {
  EventReporter::Instance().Uninit();
  DeleteAllFilesInDirectory(window.GetWorkingDirectory());
  const std::wstring installerCopy = oku::JoinPath(window.GetCustomInstallPath(), L"mini_installer.exe");
  if (oku::FileExists(installerCopy)) ::DeleteFileW(installerCopy.c_str());
  CreateAndRunSelfDeleteDirScript(window.m_lanternDir);
}

}  // namespace

int RunWindowMode(const WindowModeSettings& settings) {
  const HRESULT com = ::CoInitialize(nullptr);
  if (FAILED(com)) {
    LogError(L"CoInitialize 失败，错误代码：" + oku::ToWide(com));
    return kExitStartFailed;
  }
  int exitCode = 0;
  DuiLib::CPaintManagerUI::SetInstance(settings.instance);
  DuiLib::CPaintManagerUI::SetResourcePath(settings.workingDir);

  auto window = std::make_unique<CMainWindow>(settings.isUpdate);
  window->m_lanternDir = settings.lanternDir;
  window->m_workingDir = settings.workingDir;
  if (window->Create(nullptr, L"OkuSetup", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0, 0, 0, 640, 460)) {
    window->CenterWindow();
    window->ShowWindow(true, true);
    DuiLib::CPaintManagerUI::MessageLoop();  // until the window is gone
    if (window->HasClosed()) CleanUpAfterClose(*window);
    exitCode = window->ExitCode();
  } else {
    LogError(L"创建主窗口失败，错误码: " + oku::ToWide(::GetLastError()));
    exitCode = kExitStartFailed;
  }
  // A window still open (the loop ended otherwise) is destroyed before its object goes.
  if (::IsWindow(window->GetHWND())) ::DestroyWindow(window->GetHWND());
  window.reset();
  DuiLib::CPaintManagerUI::Term();
  ::CoUninitialize();
  return exitCode;
}
