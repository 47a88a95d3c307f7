// Test helper: writes its own product version as GetExeVersion reads it into the file named by
// its first argument. Exit 0 when written, 2 on a usage or write error.
#include <windows.h>

#include <string>

#include "common/handles.h"
#include "common/version_info.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::string version = GetExeVersion();
  oku::FileHandle file(::CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 2;
  DWORD written = 0;
  if (!::WriteFile(file.get(), version.data(), static_cast<DWORD>(version.size()), &written, nullptr)) return 2;
  return written == version.size() ? 0 : 2;
}
