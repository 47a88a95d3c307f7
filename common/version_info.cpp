#include "common/version_info.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <share.h>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/session_log.h"

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);

constexpr ULONGLONG kMinimumFreeBytes = 1073741824ull;  // 1 GiB

const wchar_t* BinaryTypeName(DWORD type) {
  switch (type) {
    case SCS_32BIT_BINARY: return L"32位 Windows";
    case SCS_DOS_BINARY: return L"MS-DOS";
    case SCS_WOW_BINARY: return L"16位 Windows";
    case SCS_PIF_BINARY: return L"PIF";
    case SCS_POSIX_BINARY: return L"POSIX";
    case SCS_OS216_BINARY: return L"16位 OS/2";
    case SCS_64BIT_BINARY: return L"64位 Windows";
    default: return L"未知";
  }
}

}  // namespace

VersionInfoReader::VersionInfoReader(const std::wstring& filePath) : filePath_(filePath) {
  if (filePath_.empty()) {
    LogWarning(L"VersionInfoReader: 文件路径为空");
    return;
  }
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(filePath_.c_str(), &handle);
  if (size == 0) {
    const DWORD error = ::GetLastError();
    LogWarning(L"VersionInfoReader: 无法获取版本信息大小，文件: " + filePath_ + L", 错误码: " + oku::ToWide(error));
    return;
  }
  try {
    versionData_.assign(size, 0);
  } catch (...) {
    LogWarning(L"VersionInfoReader: 无法获取版本信息，文件: " + filePath_ + L", 错误码: " +
               oku::ToWide(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)));
    return;
  }
  if (!::GetFileVersionInfoW(filePath_.c_str(), 0, size, versionData_.data())) {
    const DWORD error = ::GetLastError();
    versionData_.clear();
    LogWarning(L"VersionInfoReader: 无法获取版本信息，文件: " + filePath_ + L", 错误码: " + oku::ToWide(error));
    return;
  }
  LogInfo(L"VersionInfoReader: 成功加载版本信息: " + filePath_);
  loaded_ = true;
}

std::wstring VersionInfoReader::QueryString(const std::wstring& fieldName) const {
  if (!loaded_) return std::wstring();
  // VerQueryValueW takes a non-const block but only reads it.
  void* block = const_cast<std::uint8_t*>(versionData_.data());
  void* translation = nullptr;
  UINT translationBytes = 0;
  if (!::VerQueryValueW(block, L"\\VarFileInfo\\Translation", &translation, &translationBytes) ||
      translation == nullptr) {
    LogInfo(L"VersionInfoReader: 无法获取语言信息");
    return std::wstring();
  }
  if (translationBytes < 4) return std::wstring();
  // Only the first language/code-page pair is consulted.
  const WORD* pair = static_cast<const WORD*>(translation);
  wchar_t subBlock[128] = {};
  const int written = _snwprintf(subBlock, 127, L"\\StringFileInfo\\%04x%04x\\%ls", pair[0], pair[1], fieldName.c_str());
  void* value = nullptr;
  UINT valueLength = 0;
  if (written > 0 && written < 127 && ::VerQueryValueW(block, subBlock, &value, &valueLength) && value != nullptr && valueLength > 0) {
    const wchar_t* text = static_cast<const wchar_t*>(value);
    return std::wstring(text, wcsnlen(text, valueLength));
  }
  LogInfo(L"VersionInfoReader: 未找到字段 " + fieldName + L", 文件: " + filePath_);
  return std::wstring();
}

std::string GetExeVersion() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    LogWarning(L"GetModuleFileName failed");
    return "unknown";
  }
  const VersionInfoReader reader(path);
  if (!reader.IsLoaded()) {
    LogWarning(std::wstring(L"无法加载 EXE 版本信息: ") + path);
    return "unknown";
  }
  const std::wstring version = reader.GetProductVersion();
  if (version.empty()) {
    LogWarning(std::wstring(L"未能找到 ProductVersion 字段: ") + path);
    return "unknown";
  }
  std::wstring line = L"从 EXE 读取到版本号: " + version;
  if (line.size() > 127) line.resize(127);
  LogInfo(line);
  return oku::Utf8FromWide(version);
}

std::wstring GetFileProductVersion(const std::wstring& filePath) {
  const VersionInfoReader reader(filePath);
  if (!reader.IsLoaded()) {
    LogInfo(L"无法加载版本信息，文件: " + filePath);
    return std::wstring();
  }
  std::wstring version = reader.GetProductVersion();
  if (!version.empty()) {
    LogInfo(L"Found pv value in file: " + version);
    return version;
  }
  LogInfo(L"未能找到 ProductVersion 字段，文件: " + filePath);
  return std::wstring();
}

std::string ReadVersionFile(const wchar_t* directory) {
  if (directory == nullptr) return std::string();
  wchar_t path[MAX_PATH] = {};
  const int written = _snwprintf(path, MAX_PATH, L"%ls\\%ls", directory, L"version.txt");
  if (written < 0 || written >= MAX_PATH) {
    LogInfo(L"构建 version 文件路径时出错！");
    return std::string();
  }
  if (!oku::FileExists(path)) {
    LogInfo(std::wstring(L"version 文件不存在：") + path);
    return std::string();
  }
  // Text mode, other handles may read and write the file meanwhile.
  FILE* file = _wfsopen(path, L"rt", _SH_DENYNO);
  if (file == nullptr) return std::string();
  std::string line;
  try {
    for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) line.push_back(static_cast<char>(c));
  } catch (...) {
    line.clear();
  }
  std::fclose(file);
  return line;
}

DWORD GetWindowsVersionPart(int selector) {
  const DllLoader ntdll(L"ntdll.dll");
  if (!ntdll.IsLoaded()) {
    LogInfo(L"Failed to load ntdll.dll");
    return static_cast<DWORD>(-1);
  }
  const auto rtlGetVersion =
      reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll.GetHandle(), "RtlGetVersion")));
  if (rtlGetVersion == nullptr) {
    LogInfo(L"Failed to get RtlGetVersion function");
    return static_cast<DWORD>(-1);
  }
  RTL_OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (rtlGetVersion(&info) != 0) {
    LogInfo(L"RtlGetVersion failed");
    return static_cast<DWORD>(-1);
  }
  switch (selector) {
    case 0:
      LogInfo(L"dwMajorVersion: " + oku::ToWide(info.dwMajorVersion));
      return info.dwMajorVersion;
    case 1:
      LogInfo(L"dwMinorVersion: " + oku::ToWide(info.dwMinorVersion));
      return info.dwMinorVersion;
    case 2:
      LogInfo(L"dwBuildNumber: " + oku::ToWide(info.dwBuildNumber));
      return info.dwBuildNumber;
    default:
      return static_cast<DWORD>(-1);
  }
}

std::string GetOSVersionString() {
  const DWORD major = GetWindowsVersionPart(0);
  const DWORD minor = GetWindowsVersionPart(1);
  const DWORD build = GetWindowsVersionPart(2);
  constexpr DWORD kFailed = static_cast<DWORD>(-1);
  if (major == kFailed || minor == kFailed || build == kFailed) return "unknown";
  return oku::ToNarrow(major) + "." + oku::ToNarrow(minor) + "." + oku::ToNarrow(build);
}

bool LogInstallerFileInfo(const std::wstring& path) {
  if (!oku::FileExists(path)) return false;
  SYSTEM_INFO system{};
  ::GetNativeSystemInfo(&system);
  LogInfo(L"处理器架构: " + oku::ToWide(system.wProcessorArchitecture) + L", 处理器数量: " +
          oku::ToWide(system.dwNumberOfProcessors));
  DWORD binaryType = 0;
  if (::GetBinaryTypeW(path.c_str(), &binaryType)) {
    LogInfo(std::wstring(L"二进制类型: ") + BinaryTypeName(binaryType));
  } else {
    const DWORD error = ::GetLastError();
    LogInfo(L"GetBinaryType 失败，错误码：" + oku::ToWide(error));
  }
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // The whole 64-bit size: the low half alone misreports files of 4 GiB and more.
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return false;
  file.reset();
  LogInfo(L"mini_installer.exe 文件大小为: " + oku::ToWide(size.QuadPart) + L" b");
  return true;
}

bool HasInstallPermission(const std::wstring& path) {
  const int status = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
  if (status == ERROR_SUCCESS) {
    LogInfo(L"HasInstallPermission OK path: " + path);
    if (::RemoveDirectoryW(path.c_str())) {
      LogInfo(L"Successfully removed check directory: " + path);
    } else {
      const DWORD error = ::GetLastError();
      LogInfo(L"Failed to remove check directory, error code: " + oku::ToWide(error));
    }
    return true;
  }
  if (status == ERROR_ALREADY_EXISTS) {
    LogInfo(L"check Install directory already exists");
    const std::wstring probe =
        oku::FormatWide(L"%ls\\checkDir_%d", path.c_str(), static_cast<int>(::GetTickCount()));
    if (!::CreateDirectoryW(probe.c_str(), nullptr)) {
      LogInfo(L"Failed to create sub directory: " + probe);
      return false;
    }
    LogInfo(L"Successfully created sub directory: " + probe);
    if (::RemoveDirectoryW(probe.c_str())) {
      LogInfo(L"Successfully removed sub directory: " + probe);
      return true;
    }
    const DWORD error = ::GetLastError();
    LogInfo(L"Failed to remove sub directory, error code: " + oku::ToWide(error));
    return false;
  }
  LogInfo(L"Failed check install directory");
  return false;
}

bool IsProcessElevated() {
  oku::KernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD returned = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned)) return false;
  return elevation.TokenIsElevated != 0;
}

bool checkDiskSpace(const wchar_t* path) {
  LogInfo(std::wstring(L"checkDiskSpace path: ") + (path ? path : L""));
  if (path == nullptr || *path == L'\0') {
    LogInfo(L"path is empty.");
    return false;
  }
  wchar_t root[MAX_PATH] = {};
  wcsncpy(root, path, MAX_PATH - 1);
  if (!::PathStripToRootW(root)) {
    LogInfo(L"Failed to strip to root.");
    return false;
  }
  ULARGE_INTEGER available{}, total{}, totalFree{};
  if (!::GetDiskFreeSpaceExW(root, &available, &total, &totalFree)) return false;
  LogInfo(L"freeBytesAvailable: " + oku::ToWide(available.QuadPart));
  return available.QuadPart < kMinimumFreeBytes;
}
