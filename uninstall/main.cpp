// OkuUninstall.exe: removes the installed Oku.compass for the current user.
#include <windows.h>

#include "uninstall/uninstaller.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/, int /*show*/) {
  return RunUninstaller();
}
