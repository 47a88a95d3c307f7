#include "setup/window_mode.h"

#include <objbase.h>

#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/exit_codes.h"
#include "setup/window/main_window.h"
#include "ui/ui_lib.h"

int RunWindowMode(const WindowModeSettings& settings) {
  const HRESULT com = ::CoInitialize(nullptr);
  if (FAILED(com)) {
    LogError(L"CoInitialize 失败，错误代码：" + oku::ToWide(com));
    return kExitStartFailed;
  }
  int exitCode = 0;
  DuiLib::CPaintManagerUI::SetInstance(settings.instance);
  DuiLib::CPaintManagerUI::SetResourcePath(settings.workingDir);

  // The window deletes itself after its last message (OnFinalMessage).
  auto* window = new CMainWindow(settings.isUpdate);
  window->m_lanternDir = settings.lanternDir;
  window->m_workingDir = settings.workingDir;
  window->m_exitCodeSink = &exitCode;  // outlives the window: written until its last message
  if (window->Create(nullptr, L"OkuSetup", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0, 0, 0, 640, 460)) {
    window->CenterWindow();
    window->ShowWindow(true, true);
    DuiLib::CPaintManagerUI::MessageLoop();
  } else {
    // A window that got as far as WM_NCCREATE has already deleted itself; one that did not is left.
    LogError(L"创建主窗口失败，错误码: " + oku::ToWide(::GetLastError()));
    exitCode = kExitStartFailed;
  }
  DuiLib::CPaintManagerUI::Term();
  ::CoUninitialize();
  return exitCode;
}
