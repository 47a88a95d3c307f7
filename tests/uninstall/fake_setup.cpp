// A stand-in for the component's setup.exe that touches no files: exits with
// OKU_DEMO_SETUP_EXIT_CODE (default 19) and removes the component's uninstall entry unless
// OKU_DEMO_SETUP_KEEP_ENTRY is "1". Lets a test stage the exact directory state it checks.
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
  return static_cast<int>(code);
}
