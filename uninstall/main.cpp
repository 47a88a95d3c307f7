// OkuUninstall.exe: removes the installed Oku.compass for the current user.
#include <windows.h>

#include "common/session_log.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/) {
  InitLogInTempDir(L"oku_uninstall.log");
  LogInfo(L"================== Oku.compass Uninstaller ==================");
  CloseLogFile();
  return 0;
}
