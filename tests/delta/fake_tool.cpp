// Stand-in for the update package's tools (7za.exe, zucchini.exe, setup.exe), told apart by its
// own file name. OKU_FAKE_<NAME>_EXIT sets the exit code (default 0), OKU_FAKE_<NAME>_SLEEP_MS a
// pause before it (at most 60 s, so a forgotten one ends by itself). On success "7za a" writes the
// stand-in base archive to its archive argument and "zucchini -apply" the new one to its output.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

std::wstring OwnName() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = path;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  name = name.substr(0, name.find(L'.'));
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
  return name;
}

long EnvNumber(const std::wstring& name, long fallback) {
  wchar_t value[32] = {};
  const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value, 32);
  return length > 0 && length < 32 ? std::wcstol(value, nullptr, 10) : fallback;
}

bool WriteText(const wchar_t* path, const char* text) {
  FILE* file = _wfopen(path, L"wb");
  if (!file) return false;
  std::fputs(text, file);
  return std::fclose(file) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring prefix = L"OKU_FAKE_" + OwnName() + L"_";
  const long sleepMs = EnvNumber(prefix + L"SLEEP_MS", 0);
  if (sleepMs > 0) ::Sleep(static_cast<DWORD>(sleepMs < 60000 ? sleepMs : 60000));
  const int code = static_cast<int>(EnvNumber(prefix + L"EXIT", 0));
  if (code != 0) return code;
  if (argc == 9 && std::wcscmp(argv[1], L"a") == 0 && !WriteText(argv[7], OKU_FAKE_BASE_ARCHIVE)) return 90;
  if (argc == 5 && std::wcscmp(argv[1], L"-apply") == 0 && !WriteText(argv[4], OKU_FAKE_NEW_ARCHIVE)) return 91;
  return 0;
}
