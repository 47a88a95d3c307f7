// Read-only questions about files and the machine: version resources, the installer's own
// version, version.txt, the Windows version, binary type, write permission, elevation, space.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/portable/version_compare.h"

class VersionInfoReader {
 public:
  explicit VersionInfoReader(const std::wstring& filePath);
  bool IsLoaded() const { return loaded_; }
  // A string of the first translation's table ("ProductVersion", ...); empty when absent.
  std::wstring QueryString(const std::wstring& fieldName) const;
  std::wstring GetProductVersion() const { return QueryString(L"ProductVersion"); }

 private:
  std::wstring filePath_;
  std::vector<std::uint8_t> versionData_;
  bool loaded_ = false;
};

// The running executable's ProductVersion as UTF-8, or "unknown".
std::string GetExeVersion();
// The file's ProductVersion, or empty.
std::wstring GetFileProductVersion(const std::wstring& filePath);
// First line of directory\version.txt as bytes, or empty. A null directory gives empty.
std::string ReadVersionFile(const wchar_t* directory);
// Selector 0 major, 1 minor, 2 build, through RtlGetVersion; all ones on failure.
DWORD GetWindowsVersionPart(int selector);
inline DWORD GetWindowsMajorVersion() { return GetWindowsVersionPart(0); }
// "major.minor.build" or "unknown".
std::string GetOSVersionString();
// Logs processor, binary type and size of the product installer; false when it is missing.
[[nodiscard]] bool LogInstallerFileInfo(const std::wstring& path);
bool HasInstallPermission(const std::wstring& path);
bool IsProcessElevated();
// True means "too little space": fewer than 1 GiB is free for the caller on the path's volume.
// False when there is enough, and also when the path or its volume cannot be examined.
bool checkDiskSpace(const wchar_t* path);
