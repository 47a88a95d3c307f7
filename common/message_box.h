// Every message box of both programs goes through here, so tests can find and answer them
// like a user does (tools/box-answer) and a release build shows exactly the same boxes.
#pragma once

#include <windows.h>

#include <string>

// MessageBoxW with the given owner (may be null); returns the button pressed (IDOK, IDYES, ...).
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);
