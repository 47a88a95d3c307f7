// Removal of the installation directory after the uninstaller has exited: the decision, and the
// delayed removal that does it. The directory reaches the remover as a program argument, never
// through a command interpreter, so no character of its name can make another folder the target.
#pragma once

#include <string>
#include <vector>

// True when the directory holds nothing but its "uninstall" folder (any letter case), the
// installer's own leftovers at its top level, and entries that go at the next restart.
bool NeedsSelfDelete(const std::wstring& installPath);

// Why a directory may not be handed to the delayed removal; empty when it may. It must be a
// fully qualified path below a drive root or share, name an existing directory that is not a
// link, and hold no control character.
std::wstring SelfDeleteRefusal(const std::wstring& directory);

// Starts a copy of the running program from %TEMP% that waits for this process to end, waits two
// seconds more, removes the directory with everything in it (links as links), registers what a
// held file keeps for deletion at restart, and then has its own copy deleted. Logs and returns
// false when the directory is refused or the copy cannot start.
bool StartDirectoryRemovalAfterExit(const std::wstring& directory);

// The copy's side. IsDirectoryRemovalCommand recognises its arguments (program path excluded);
// RunDirectoryRemoval does the work and returns the copy's exit code: 0 removed, 1 left in place
// (refused, or changed meanwhile), 2 removed except entries that go at restart.
bool IsDirectoryRemovalCommand(const std::vector<std::wstring>& arguments);
int RunDirectoryRemoval(const std::vector<std::wstring>& arguments);

// Writes %TEMP%\_deldir.bat and starts it hidden with the directory as its argument; the script
// waits two seconds, removes the directory with everything in it and deletes itself. Refuses
// (with a log line) a directory or script path that cmd.exe could read as anything else.
void CreateAndRunSelfDeleteDirScript(const std::wstring& directory);
