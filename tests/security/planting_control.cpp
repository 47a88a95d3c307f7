// planting-control: a program built the careless way (shlwapi in its import table, a library
// loaded by bare name, no restricted search order). Run beside the marker DLLs it must load
// some, which shows the planting test would see an unprotected program.
#include <windows.h>
#include <shlwapi.h>

int wmain() {
  const BOOL exists = ::PathFileExistsW(L"C:\\");
  const HMODULE theme = ::LoadLibraryW(L"uxtheme.dll");
  return exists && theme ? 0 : 1;
}
