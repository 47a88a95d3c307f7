// OkuSetup.exe: the per-user installer of Oku.compass.
#include <windows.h>

#include "setup/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR commandLine, int /*show*/) {
  // Before anything else loads: DLLs come from the system directory only, never from the folder
  // the program was started from (a Downloads folder holds files nobody controls).
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ::SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
  return RunInstallerEntry(instance, commandLine);
}
