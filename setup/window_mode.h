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

// Runs the window until it has closed and returns window mode's exit code: 0 after a successful
// installation or when the user closed before installing, the failure's code when the last
// installation attempt failed, 1008 when the window could not be created.
[[nodiscard]] int RunWindowMode(const WindowModeSettings& settings);
