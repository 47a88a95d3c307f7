// Small path helpers over std::wstring. Joins use a single backslash, as "%s\%s" does.
#pragma once

#include <windows.h>

#include <string>

namespace oku {

inline std::wstring JoinPath(const std::wstring& directory, const std::wstring& name) {
  return directory + L"\\" + name;
}

bool FileExists(const std::wstring& path);       // exists and is not a directory
bool DirectoryExists(const std::wstring& path);  // exists and is a directory
bool PathExists(const std::wstring& path);       // anything at that path
// Paths compare as the file system does: ignoring case beyond ASCII too ("Ä" and "ä").
bool SamePath(const std::wstring& a, const std::wstring& b);
// Directory of the running executable (no trailing backslash); empty on failure.
std::wstring ExecutableDirectory();
// Full path of the running executable; empty on failure.
std::wstring ExecutablePath();

}  // namespace oku
