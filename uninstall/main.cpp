// OkuUninstall.exe: removes the installed Oku.compass for the current user.
#include <windows.h>

#include "uninstall/uninstaller.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/) {
  // Before anything else loads: DLLs come from the system directory only, never from the folder
  // the program was started from (a Downloads folder holds files nobody controls).
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ::SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
  return RunUninstaller();
}
