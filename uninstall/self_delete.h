// Removal of the installation directory after the uninstaller has exited: the decision and the
// delayed batch script that does it.
#pragma once

#include <string>

// True when the directory holds nothing but its "uninstall" folder (any letter case).
bool NeedsSelfDelete(const std::wstring& installPath);
// Writes %TEMP%\_deldir.bat and starts it hidden with the directory as its argument; the script
// waits two seconds, removes the directory with everything in it and deletes itself.
void CreateAndRunSelfDeleteDirScript(const std::wstring& directory);
