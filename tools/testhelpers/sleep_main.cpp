// Test helper: a process that just exists for a while. Its lifetime is bounded by its own
// argument (default 30 s, at most 300 s) so a test that dies never leaves it behind for long.
// An optional second argument names an event that is set once the process runs its own code,
// so a test can wait for a fully started process before it acts on it.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  long seconds = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 30;
  if (seconds < 1) seconds = 1;
  if (seconds > 300) seconds = 300;
  if (argc > 2) {
    if (HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2])) {
      ::SetEvent(ready);
      ::CloseHandle(ready);
    }
  }
  ::Sleep(static_cast<DWORD>(seconds) * 1000);
  return 0;
}
