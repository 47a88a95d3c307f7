// A stand-in for the component's setup.exe that touches no files: exits with
// OKU_DEMO_SETUP_EXIT_CODE (default 19) and removes the component's uninstall entry unless
// OKU_DEMO_SETUP_KEEP_ENTRY is "1". With OKU_FAKE_SETUP_HANG_MS it then hangs that long (at most
// five minutes, so a test that dies does not leave it behind for long) before it exits.
// Lets a test stage the exact directory state it checks.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t text[32] = {};
  DWORD code = 19;
  if (::GetEnvironmentVariableW(L"OKU_DEMO_SETUP_EXIT_CODE", text, 32) > 0) code = std::wcstoul(text, nullptr, 10);
  wchar_t keep[8] = {};
  ::GetEnvironmentVariableW(L"OKU_DEMO_SETUP_KEEP_ENTRY", keep, 8);
  if (std::wcscmp(keep, L"1") != 0) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass");
  }
  wchar_t hang[32] = {};
  if (::GetEnvironmentVariableW(L"OKU_FAKE_SETUP_HANG_MS", hang, 32) > 0) {
    const unsigned long ms = std::wcstoul(hang, nullptr, 10);
    ::Sleep(ms < 300000 ? ms : 300000);
  }
  return static_cast<int>(code);
}
