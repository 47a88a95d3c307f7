// OkuSetup.exe: the per-user installer of Oku.compass.
#include <windows.h>

#include "setup/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR commandLine, int /*show*/) {
  return RunInstallerEntry(instance, commandLine);
}
