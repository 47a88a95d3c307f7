// lockfile: keeps a file busy the way real programs do, for the deletion tests.
//   lockfile.exe [--path <file>] [--mode noshare|exclusive|image] [--timeout <ms>] [--ready <event>]
// noshare (default): open with read and write sharing but without FILE_SHARE_DELETE, so
//   DeleteFileW and MoveFileW fail with a sharing violation;
// exclusive: open without any sharing;
// image: map the file as an executable image (like a running program or a loaded library),
//   so DeleteFileW fails with access denied while the file can still be renamed.
// Without --path it only waits (a child that hangs). After taking the lock it signals the
// named event given with --ready, then holds until the timeout (default 60000 ms) or until killed.
// Exit codes: 0 held until the timeout, 2 bad arguments, 3 the file could not be taken.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  std::wstring path, mode = L"noshare", ready;
  DWORD timeoutMs = 60000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring key = argv[i];
    if (key == L"--path") path = argv[i + 1];
    else if (key == L"--mode") mode = argv[i + 1];
    else if (key == L"--timeout") timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
    else if (key == L"--ready") ready = argv[i + 1];
    else return 2;
  }

  HANDLE file = INVALID_HANDLE_VALUE;
  HMODULE image = nullptr;
  if (!path.empty()) {
    if (mode == L"image") {
      image = ::LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
      if (!image) return 3;
    } else if (mode == L"noshare" || mode == L"exclusive") {
      const DWORD share = mode == L"exclusive" ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
      file = ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) return 3;
    } else {
      return 2;
    }
  }
  if (!ready.empty()) {
    if (HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, ready.c_str())) {
      ::SetEvent(event);
      ::CloseHandle(event);
    }
  }
  ::Sleep(timeoutMs);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  if (image) ::FreeLibrary(image);
  return 0;
}
