#include "setup/install_records.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/registry.h"
#include "common/session_log.h"

namespace {

constexpr DWORD kPathChars = 260;
constexpr DWORD kPathBytes = kPathChars * sizeof(wchar_t);

// Best effort, as every writer here: the registry helper logged a failure and the run goes on.
void WriteString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
  (void)SetRegistryString(HKEY_CURRENT_USER, key, name, text);
}

// Text of registry data bounded by its byte count (the data need not end with a NUL).
std::wstring TextOf(const wchar_t* data, DWORD bytes) {
  std::wstring text(data, bytes / sizeof(wchar_t));
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos) text.resize(nul);
  return text;
}

}  // namespace

std::wstring AutoStartCommand(const std::wstring& installPath) {
  return oku::FormatWide(L"\"%ls\\%ls\"  --win-auto-start", installPath.c_str(), L"oku.compass.exe");
}

std::wstring CollapseBackslashRuns(const std::wstring& path) {
  std::wstring result;
  result.reserve(path.size());
  size_t i = 0;
  // "\\server\share" and "\\?\C:\..." mean something else with one backslash; keep their prefix.
  if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
    result = L"\\\\";
    i = 2;
    while (i < path.size() && path[i] == L'\\') ++i;
  }
  for (; i < path.size(); ++i) {
    if (path[i] == L'\\' && i > 0 && path[i - 1] == L'\\') continue;
    result.push_back(path[i]);
  }
  return result;
}

void WriteInstallPathRecords(const std::wstring& installPath) {
  const std::wstring uninstall =
      oku::FormatWide(L"%ls\\%ls\\%ls", installPath.c_str(), L"uninstall", L"OkuUninstall.exe");
  WriteString(kProductRegistryKey, kUninstallStringValue, uninstall);
  WriteString(kProductRegistryKey, kInstallPathValue, installPath);
}

void RegisterUrlProtocol(const std::wstring& installPath) {
  WriteString(kUrlProtocolKey, nullptr, L"okucompass");
  // Best effort: a failure was logged by the helper.
  (void)SetRegistryValue(HKEY_CURRENT_USER, kUrlProtocolKey, kUrlProtocolValue, REG_SZ,
                         reinterpret_cast<const BYTE*>(L""), 0);
  const std::wstring command =
      oku::FormatWide(L"\"%ls\\%ls\" \"%%1\"", installPath.c_str(), L"oku.compass.exe");
  WriteString(kUrlProtocolCommandKey, nullptr, command);
}

void WriteInstallAutoLaunch(bool autoLaunch) {
  // Best effort: a failure was logged by the helper.
  (void)SetRegistryDword(HKEY_CURRENT_USER, kProductRegistryKey, kInstallAutoLaunchValue, autoLaunch ? 1 : 0);
}

void UpdateAutoLaunchRegistry(const std::wstring& installPath, bool createWhenMissing) {
  LogInfo(L"UpdateAutoLaunchRegistry start, installPath: " + installPath);
  const std::wstring wanted = AutoStartCommand(installPath);
  const DWORD wantedBytes = static_cast<DWORD>((wanted.size() + 1) * sizeof(wchar_t));
  const BYTE* wantedData = reinterpret_cast<const BYTE*>(wanted.c_str());

  oku::RegKey key;
  // Created when missing, so that the value exists after every successful installation.
  const LONG opened = ::RegCreateKeyExW(HKEY_CURRENT_USER, kRunRegistryKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                        nullptr, key.put(), nullptr);
  if (opened != ERROR_SUCCESS) {
    LogInfo(L"Failed to open auto launch registry key, error: " + oku::ToWide(static_cast<DWORD>(opened)));
  } else {
    LogInfo(L"Registry key opened successfully for auto launch check");
    wchar_t existing[kPathChars + 1] = {};
    DWORD bytes = kPathBytes;
    const LONG queried = ::RegQueryValueExW(key.get(), kAutoStartValueName, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(existing), &bytes);
    if (queried == ERROR_FILE_NOT_FOUND && !createWhenMissing) {
      LogInfo(L"No existing auto launch entry found, auto start not chosen, none created");
    } else if (queried == ERROR_FILE_NOT_FOUND) {
      LogInfo(L"No existing auto launch entry found, creating new one");
      const LONG set = ::RegSetValueExW(key.get(), kAutoStartValueName, 0, REG_SZ, wantedData, wantedBytes);
      if (set == ERROR_SUCCESS) {
        LogInfo(L"New auto launch registry entry created successfully");
      } else {
        LogInfo(L"Failed to create auto launch registry entry, error: " + oku::ToWide(static_cast<DWORD>(set)));
      }
    } else if (queried != ERROR_SUCCESS) {
      LogInfo(L"Failed to query auto launch registry, error: " + oku::ToWide(static_cast<DWORD>(queried)));
    } else {
      const std::wstring current = TextOf(existing, bytes);
      LogInfo(L"Existing auto launch path found: " + current);
      if (current.empty()) {
        LogInfo(L"Existing auto launch path is empty, no update needed");
      } else if (current.find(installPath) != std::wstring::npos) {
        LogInfo(L"Auto launch path is correct, no update needed");
      } else {
        LogInfo(L"Auto launch path needs update, existing path doesn't contain current install path");
        LogInfo(L"Old path: " + current);
        LogInfo(L"New path: " + wanted);
        const LONG set = ::RegSetValueExW(key.get(), kAutoStartValueName, 0, REG_SZ, wantedData, wantedBytes);
        if (set == ERROR_SUCCESS) {
          LogInfo(L"Auto launch registry updated successfully");
        } else {
          LogInfo(L"Failed to update auto launch registry, error: " + oku::ToWide(static_cast<DWORD>(set)));
        }
      }
    }
    key.reset();
  }
  LogInfo(L"UpdateAutoLaunchRegistry completed");
}

void SetAutoStart(const std::wstring& installPath, bool autoStart) {
  if (autoStart) {
    WriteString(kRunRegistryKey, kAutoStartValueName, AutoStartCommand(installPath));
  } else {
    // False also when there was no value to delete; a failure was logged by the helper.
    (void)DeleteRegistryValue(HKEY_CURRENT_USER, kRunRegistryKey, kAutoStartValueName);
  }
}

void WriteVersionRecord(const std::wstring& version) { WriteString(kProductRegistryKey, kVersionValue, version); }

namespace {
void WriteInstallerNameValue(const std::wstring& name) {
  if (name.empty()) {
    LogInfo(L"Installer name is empty, skipping registry write");
    return;
  }
  WriteString(kProductRegistryKey, kInstallerNameValue, name);
}
}  // namespace

void WriteInstallerName() {
  wchar_t path[512] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, 512);
  if (length == 0) {
    LogInfo(L"Failed to get module file name, error code: " + oku::ToWide(::GetLastError()));
    return;
  }
  if (length > 511) LogInfo(L"Module file path is too long, may be truncated");
  const wchar_t* name = ::PathFindFileNameW(path);
  if (!name) {
    LogInfo(L"Failed to extract file name from path");
    return;
  }
  if (*name == L'\0') {
    LogInfo(L"File name is empty");
    return;
  }
  LogInfo(std::wstring(L"Current exe file name: ") + name);
  WriteInstallerNameValue(name);
  LogInfo(std::wstring(L"Successfully wrote installer name to registry: ") + name);
}

void RollBackInstallerName(const std::wstring& backup) {
  if (!backup.empty()) {
    LogInfo(L"Rolling back InstallerName to: " + backup);
    // Best effort: a failure was logged by the helper.
    (void)SetRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kInstallerNameValue, backup);
  } else {
    LogInfo(L"Deleting InstallerName registry value (no original value existed)");
    // False also when there was no value to delete.
    (void)DeleteRegistryValue(HKEY_CURRENT_USER, kProductRegistryKey, kInstallerNameValue);
  }
}

namespace {

// True when text names a path inside installPath (letter case ignored).
bool PointsInto(const std::wstring& text, const std::wstring& installPath) {
  if (installPath.empty()) return false;
  std::wstring lowerText = text;
  std::wstring lowerPath = installPath + L"\\";
  for (auto* s : {&lowerText, &lowerPath}) {
    for (wchar_t& c : *s) c = static_cast<wchar_t>(::towlower(c));
  }
  return lowerText.find(lowerPath) != std::wstring::npos;
}

}  // namespace

void RollBackNewInstallation(const std::wstring& installPath) {
  LogInfo(L"新安装失败，回滚本次写入的记录: " + installPath);
  // Best effort throughout: a value this run never wrote is missing, a failure was logged.
  for (const wchar_t* name : {kInstallPathValue, kUninstallStringValue, kVersionValue, kInstallAutoLaunchValue}) {
    (void)DeleteRegistryValue(HKEY_CURRENT_USER, kProductRegistryKey, name);
  }
  if (PointsInto(ReadRegistryString(HKEY_CURRENT_USER, kRunRegistryKey, kAutoStartValueName), installPath)) {
    (void)DeleteRegistryValue(HKEY_CURRENT_USER, kRunRegistryKey, kAutoStartValueName);
  }
  if (PointsInto(ReadRegistryString(HKEY_CURRENT_USER, kUrlProtocolCommandKey, L""), installPath)) {
    (void)DeleteRegistryKeyTree(HKEY_CURRENT_USER, kUrlProtocolKey);
  }
  for (const std::wstring& uninstaller :
       {installPath + L"\\uninstall\\OkuUninstall.exe", installPath + L"\\OkuUninstall.exe"}) {
    if (::DeleteFileW(uninstaller.c_str())) LogInfo(L"已删除本次放置的卸载器: " + uninstaller);
  }
  ::RemoveDirectoryW((installPath + L"\\uninstall").c_str());
}

void WriteQuietSilentInstall(const std::wstring& /*installPath*/) {
  // Best effort: a failure was logged by the helper.
  (void)SetRegistryDword(HKEY_CURRENT_USER, kProductRegistryKey, kQuietSilentInstallValue, 1);
}

std::wstring ReadInstallPath() {
  // One character more than the 520 bytes queried, so a value stored without NUL still ends.
  wchar_t buffer[kPathChars + 1] = {};
  DWORD bytes = kPathBytes;
  std::wstring path;
  oku::RegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kProductRegistryKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    if (::RegQueryValueExW(key.get(), kInstallPathValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) ==
        ERROR_SUCCESS) {
      path = TextOf(buffer, bytes);
    }
  }
  key.reset();
  if (!path.empty()) path = CollapseBackslashRuns(path);
  return path;
}

InstallPathChoice GetInstallPathFromRegistry() {
  InstallPathChoice choice{ReadInstallPath(), false};
  LogInfo(L"GetInstallPathFromRegistry path: " + choice.path);
  if (choice.path.empty()) {
    wchar_t localAppData[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, localAppData))) {
      choice.path = oku::FormatWide(L"%ls%ls", localAppData, L"\\oku.compass\\Application");
    }
  } else {
    choice.fromRegistry = true;
  }
  LogInfo(L"Install path: " + choice.path);
  return choice;
}

void logRegistryValue() {
  LogInfo(L"========== logRegistryValue start ==========");
  oku::RegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kProductRegistryKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
    LogInfo(L"RegOpenKeyEx success");
    // Name and data buffers of 260; a value over them is read whole and its text logged cut to
    // its first 260 bytes (never half a character), and the listing goes on.
    for (DWORD index = 0;; ++index) {
      wchar_t name[kPathChars] = {};
      DWORD nameChars = kPathChars;
      alignas(DWORD) BYTE data[kPathChars + sizeof(wchar_t)] = {};
      DWORD dataBytes = kPathChars;
      DWORD type = 0;
      const LSTATUS status = ::RegEnumValueW(key.get(), index, name, &nameChars, nullptr, &type, data, &dataBytes);
      std::wstring valueName(name, nameChars);
      std::vector<BYTE> whole;
      const BYTE* bytes = data;
      if (status == ERROR_MORE_DATA) {
        DWORD maxName = 0, maxData = 0;
        if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                               &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
          break;
        }
        std::vector<wchar_t> longName(maxName + 1);
        whole.resize(maxData + sizeof(wchar_t));
        nameChars = maxName + 1;
        dataBytes = maxData;
        if (::RegEnumValueW(key.get(), index, longName.data(), &nameChars, nullptr, &type, whole.data(), &dataBytes) !=
            ERROR_SUCCESS) {
          break;
        }
        valueName.assign(longName.data(), nameChars);
        bytes = whole.data();
      } else if (status != ERROR_SUCCESS) {
        break;
      }
      std::wstring line = valueName + L": ";
      if (type == REG_SZ) {
        std::wstring text = TextOf(reinterpret_cast<const wchar_t*>(bytes), std::min<DWORD>(dataBytes, kPathChars));
        if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
        line += text;
      } else if (type == REG_DWORD && dataBytes >= sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, bytes, sizeof(number));
        line += oku::ToWide(number);
      } else {
        line += L"Unsupported type";
      }
      LogInfo(line);
    }
    auto queryDword = [&](const wchar_t* valueName) {
      DWORD value = 0;
      DWORD bytes = sizeof(value);
      DWORD type = 0;
      if (::RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) ==
              ERROR_SUCCESS &&
          type == REG_DWORD) {
        LogInfo(std::wstring(valueName) + L": " + oku::ToWide(value));
      }
    };
    auto queryString = [&](const wchar_t* valueName) {
      wchar_t text[kPathChars / sizeof(wchar_t) + 1] = {};
      DWORD bytes = kPathChars;
      if (::RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes) ==
          ERROR_SUCCESS) {
        LogInfo(std::wstring(valueName) + L": " + TextOf(text, bytes));
      }
    };
    queryDword(L"InstallerError");
    queryDword(L"InstallerResult");
    queryString(L"InstallerResultUIString");
    queryString(kInstallLogPathValue);
    key.reset();
  }
  LogInfo(L"logRegistryValue end");
}
