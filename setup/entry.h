// The installer's entry: session log, banner, single-instance gate, command line, startup
// sequence, log closed.
#pragma once

#include <windows.h>

#include <string>

// Runs the whole installer and returns the process exit code.
int RunInstallerEntry(HINSTANCE instance, const wchar_t* commandLineText);

// Creates the named mutex "OkuSetup_Global_Mutex"; true when this is the only installer.
// A refused start brings the running installer's window forward or tells the user.
bool CheckSingleInstance();

// Centres window in the work area of the monitor that holds the current foreground window.
void MoveWindowToActiveMonitor(HWND window);
