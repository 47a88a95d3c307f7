// Registry helpers shared by the installation steps and the uninstall engine. Each call opens and
// closes its own key, writes one session-log line and returns a plain result; none throws.
#pragma once

#include <windows.h>

#include <string>

// Creates or opens root\keyPath with KEY_WRITE and sets the value (null name: the default value).
// True when the value was written.
[[nodiscard]] bool SetRegistryValue(HKEY root, const std::wstring& keyPath, const wchar_t* valueName,
                                    DWORD type, const BYTE* data, DWORD size);
// True when the value existed and was deleted.
[[nodiscard]] bool DeleteRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);
// True only when the key existed and was deleted with everything below it.
[[nodiscard]] bool DeleteRegistryKeyTree(HKEY root, const std::wstring& keyPath);
// The value's text (bounded by the size the registry returned), empty when anything fails.
std::wstring ReadRegistryString(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);

std::wstring GetRootKeyName(HKEY root);
std::wstring GetRegistryOpenErrorText(LONG code);
std::wstring GetRegistryWriteErrorText(LONG code);

// Convenience writers for the two value kinds the programs store. REG_SZ is written with its NUL.
[[nodiscard]] bool SetRegistryString(HKEY root, const std::wstring& keyPath, const wchar_t* valueName,
                                     const std::wstring& text);
[[nodiscard]] bool SetRegistryDword(HKEY root, const std::wstring& keyPath, const wchar_t* valueName, DWORD value);

// Stores a session log's final path (what CloseLogFile returned) in the product key, without a
// NUL: as "OkuInstallLogPath" when the file name contains "install" but not "uninstall", else as
// "OkuUninstallLogPath". Nothing for an empty path.
void RecordLogPath(const std::wstring& finalPath);
