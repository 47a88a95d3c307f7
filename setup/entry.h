// The installer's entry: session log, banner, single-instance gate, command line, startup
// sequence, log closed.
#pragma once

#include <windows.h>

#include <string>

// Runs the whole installer and returns the process exit code.
[[nodiscard]] int RunInstallerEntry(HINSTANCE instance, const wchar_t* commandLineText);

// Creates the named mutex "OkuSetup_Global_Mutex"; 0 when this is the only installer, else the
// exit code of the refused start (1618 another installer runs, 1008 no mutex). A refused start
// brings the running installer's window forward or tells the user; a silent one (quiet set)
// shows no box.
[[nodiscard]] int CheckSingleInstance(bool quiet = false);

// True when the command line asks for silent mode ("quiet", "/s" or "/S" as a whole argument).
bool CommandLineAsksForSilentMode(const wchar_t* commandLine);

// Centres window in the work area of the monitor that holds the current foreground window.
void MoveWindowToActiveMonitor(HWND window);
