/* planted-dll: a stand-in for a system DLL dropped beside a program by someone else. When any
 * process maps it, it leaves "<its own path>.loaded" beside itself, holding the process's command
 * line, so a test can tell afterwards that the loader took it. It exports nothing and does no
 * other work: a program that really needed its exports would fail to start, which the tests
 * see as well. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameW(instance, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(marker, L".loaded");
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    const wchar_t* commandLine = GetCommandLineW();
    DWORD written = 0;
    WriteFile(file, commandLine, (DWORD)(lstrlenW(commandLine) * sizeof(wchar_t)), &written, NULL);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, NULL);
    CloseHandle(file);
  }
  return TRUE;
}
