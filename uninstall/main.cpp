// OkuUninstall.exe: removes the installed Oku.compass for the current user.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "uninstall/self_delete.h"
#include "uninstall/uninstaller.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/) {
  // Before anything else loads: DLLs come from the system directory only, never from the folder
  // the program was started from (a Downloads folder holds files nobody controls).
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ::SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
  // A copy of this program started from %TEMP% to remove the installation directory after exit.
  int count = 0;
  if (LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
    oku::LocalMemory owner(reinterpret_cast<HLOCAL>(argv));
    const std::vector<std::wstring> arguments(argv + (count > 0 ? 1 : 0), argv + count);
    if (IsDirectoryRemovalCommand(arguments)) return RunDirectoryRemoval(arguments);
  }
  return RunUninstaller();
}
