// window-closer: waits until a program's window of the given class is up and serving messages,
// then ends that program (what a user closing it half-way would leave behind is not the point:
// the caller wants everything the window loads to have been loaded).
//   window-closer.exe --class <name> [--timeout <ms>]
// Exit codes: 0 found and ended, 1 no such window within the timeout, 2 bad arguments, 3 the
// window's process could not be ended.
#include <windows.h>

#include <string>

#include "common/handles.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring className;
  DWORD timeoutMs = 60000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring key = argv[i];
    if (key == L"--class") className = argv[i + 1];
    else if (key == L"--timeout") timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
    else return 2;
  }
  if (className.empty()) return 2;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  HWND window = nullptr;
  while (!window || !::IsWindowVisible(window)) {
    if (::GetTickCount64() > deadline) return 1;
    ::Sleep(100);
    window = ::FindWindowW(className.c_str(), nullptr);
  }
  // Three round trips through its message loop, with a repaint asked for in between, so the
  // first paint (images, theme, composition) has happened.
  DWORD_PTR result = 0;
  for (int i = 0; i < 3; ++i) {
    ::InvalidateRect(window, nullptr, TRUE);
    ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &result);
    ::Sleep(300);
  }
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  oku::KernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
  if (!process || !::TerminateProcess(process.get(), 0)) return 3;
  ::WaitForSingleObject(process.get(), 10000);
  return 0;
}
