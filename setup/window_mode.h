// Window mode after its payload is on disk: the main window and its message loop.
#pragma once

#include <windows.h>

#include <string>

struct WindowModeSettings {
  HINSTANCE instance = nullptr;
  bool isUpdate = false;
  std::wstring workingDir;
  std::wstring lanternDir;
};

// Runs the window until it has closed. Window mode's exit code is 0 whatever happened inside.
void RunWindowMode(const WindowModeSettings& settings);
