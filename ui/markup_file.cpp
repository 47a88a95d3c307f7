// CMarkup's file form: the whole file is read, then parsed as UTF-8.
#include <windows.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "ui/portable/markup.h"

namespace DuiLib {

bool CMarkup::LoadFromFile(const std::wstring& path) {
  Release();
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Fail(L"Error opening file", {}, 0);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return Fail(L"Could not read file", {}, 0);
  if (size.QuadPart == 0) return Fail(L"File is empty", {}, 0);
  if (size.QuadPart > static_cast<LONGLONG>(kMaxBytes)) return Fail(L"File too large", {}, 0);
  std::vector<char> bytes(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
      read != bytes.size()) {
    return Fail(L"Could not read file", {}, 0);
  }
  return LoadFromMem(bytes.data(), bytes.size());
}

}  // namespace DuiLib
