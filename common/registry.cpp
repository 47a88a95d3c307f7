#include "common/registry.h"
#include "common/product_names.h"

#include <algorithm>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"

std::wstring GetRootKeyName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return L"HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return L"HKEY_CURRENT_CONFIG";
  return L"Unknown HKEY";
}

namespace {
std::wstring UnknownError(LONG code) { return L"未知错误，错误码：" + oku::ToWide(static_cast<long>(code)); }
}  // namespace

std::wstring GetRegistryOpenErrorText(LONG code) {
  switch (code) {
    case ERROR_SUCCESS: return L"操作成功";
    case ERROR_FILE_NOT_FOUND: return L"找不到指定的注册表项";
    case ERROR_ACCESS_DENIED: return L"拒绝访问（权限不足）";
    case ERROR_INVALID_HANDLE: return L"无效的句柄";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return L"内存不足";
    case ERROR_INVALID_PARAMETER: return L"无效的参数";
    case ERROR_INVALID_NAME: return L"注册表项名无效";
    case ERROR_BADDB: return L"注册表数据库格式错误";
    case ERROR_CANTOPEN: return L"无法打开注册表项";
    case ERROR_CANTWRITE: return L"无法写入注册表";
    case ERROR_REGISTRY_CORRUPT: return L"注册表损坏";
    case ERROR_KEY_DELETED: return L"注册表项已被删除";
    default: return UnknownError(code);
  }
}

std::wstring GetRegistryWriteErrorText(LONG code) {
  switch (code) {
    case ERROR_SUCCESS: return L"操作成功";
    case ERROR_FILE_NOT_FOUND: return L"找不到指定的注册表项";
    case ERROR_ACCESS_DENIED: return L"拒绝访问（权限不足）";
    case ERROR_INVALID_HANDLE: return L"无效的句柄";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return L"内存不足";
    case ERROR_WRITE_PROTECT: return L"介质为写保护状态";
    case ERROR_INVALID_PARAMETER: return L"无效的参数";
    case ERROR_MORE_DATA: return L"缓冲区太小，数据未能完全写入";
    case ERROR_CANTWRITE: return L"无法写入注册表";
    default: return UnknownError(code);
  }
}

bool SetRegistryValue(HKEY root, const std::wstring& keyPath, const wchar_t* valueName, DWORD type,
                      const BYTE* data, DWORD size) {
  const std::wstring displayName = valueName ? valueName : L"default";
  oku::RegKey key;
  const LONG created = ::RegCreateKeyExW(root, keyPath.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
  LogInfo(GetRootKeyName(root) + L"\\" + keyPath + GetRegistryOpenErrorText(created));
  if (created != ERROR_SUCCESS) return false;
  const LONG written = ::RegSetValueExW(key.get(), valueName, 0, type, data, size);
  key.reset();
  LogInfo(GetRootKeyName(root) + L"\\" + keyPath + L"\\" + displayName + GetRegistryWriteErrorText(written));
  return written == ERROR_SUCCESS;
}

bool DeleteRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName) {
  LogInfo(L"Deleting registry key " + keyPath + L" " + valueName);
  oku::RegKey key;
  LONG status = ::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, key.put());
  if (status == ERROR_SUCCESS) {
    status = ::RegDeleteValueW(key.get(), valueName.c_str());
    key.reset();
    if (status == ERROR_SUCCESS) {
      LogInfo(L"Successfully deleted registry key " + keyPath + L" " + valueName);
      return true;
    }
  }
  LogInfo(L"Failed to delete registry key " + keyPath + L" " + valueName + L", error code: " +
          oku::ToWide(static_cast<long>(status)));
  return false;
}

bool DeleteRegistryKeyTree(HKEY root, const std::wstring& keyPath) {
  const LONG status = ::RegDeleteTreeW(root, keyPath.c_str());
  if (status == ERROR_SUCCESS) {
    LogInfo(L"Successfully deleted registry key: " + keyPath);
    return true;
  }
  if (status == ERROR_FILE_NOT_FOUND) {
    LogInfo(L"Registry key not found: " + keyPath);
    return false;
  }
  LogInfo(L"Failed to delete registry key: " + keyPath + L", error code: " + oku::ToWide(static_cast<long>(status)));
  return false;
}

std::wstring ReadRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName) {
  oku::RegKey key;
  if (::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    LogInfo(L"Failed to open registry key: " + keyPath);
    return std::wstring();
  }
  wchar_t buffer[MAX_PATH] = {};
  DWORD size = sizeof(buffer);
  const LONG status = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buffer), &size);
  key.reset();
  if (status == ERROR_SUCCESS) {
    // The stored data need not end in a NUL: bound the text by the size returned.
    const size_t chars = std::min<size_t>(size / sizeof(wchar_t), MAX_PATH);
    std::wstring text(buffer, chars);
    text = text.substr(0, text.find(L'\0'));
    LogInfo(L"Found pv value in registry: " + text);
    return text;
  }
  if (status == ERROR_FILE_NOT_FOUND) {
    LogInfo(L"Registry value not found: " + valueName);
  } else if (status == ERROR_MORE_DATA) {
    LogInfo(L"Registry value is too long: " + valueName);
  } else {
    LogInfo(L"Failed to query registry value: " + valueName);
  }
  return std::wstring();
}

bool SetRegistryString(HKEY root, const std::wstring& keyPath, const wchar_t* valueName, const std::wstring& text) {
  return SetRegistryValue(root, keyPath, valueName, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool SetRegistryDword(HKEY root, const std::wstring& keyPath, const wchar_t* valueName, DWORD value) {
  return SetRegistryValue(root, keyPath, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void RecordLogPath(const std::wstring& finalPath) {
  if (finalPath.empty()) return;
  const std::wstring fileName = finalPath.substr(finalPath.find_last_of(L'\\') + 1);
  const wchar_t* valueName = kUninstallLogPathValue;
  if (fileName.find(L"uninstall") == std::wstring::npos && fileName.find(L"install") != std::wstring::npos) {
    valueName = kInstallLogPathValue;
  }
  // Best effort: the helper reported a failure and the run ends anyway.
  (void)SetRegistryValue(HKEY_CURRENT_USER, kProductRegistryKey, valueName, REG_SZ,
                         reinterpret_cast<const BYTE*>(finalPath.c_str()),
                         static_cast<DWORD>(finalPath.size() * sizeof(wchar_t)));
}
