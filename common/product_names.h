// Names the product's records carry, shared by both programs: the registry keys and value names
// under HKEY_CURRENT_USER, and the application key given to the analytics and device-identifier
// libraries. Spelled once here; log lines that name a key print these same texts.
#pragma once

// The product key and its values.
inline constexpr wchar_t kProductRegistryKey[] = L"SOFTWARE\\Oku.compass";
inline constexpr wchar_t kInstallPathValue[] = L"OkuInstallPath";
inline constexpr wchar_t kUninstallStringValue[] = L"UninstallString";
inline constexpr wchar_t kVersionValue[] = L"version";
inline constexpr wchar_t kInstallerNameValue[] = L"InstallerName";
inline constexpr wchar_t kInstallAutoLaunchValue[] = L"InstallAutoLaunch";
inline constexpr wchar_t kQuietSilentInstallValue[] = L"quietSilentInstall";
inline constexpr wchar_t kProductVersionValue[] = L"pv";  // written by the product's own installer
inline constexpr wchar_t kInstallLogPathValue[] = L"OkuInstallLogPath";
inline constexpr wchar_t kUninstallLogPathValue[] = L"OkuUninstallLogPath";

// The product's own uninstall entry (written by its installer), the auto-start Run value and the
// "okucompass" URL protocol.
inline constexpr wchar_t kComponentUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass";
inline constexpr wchar_t kRunRegistryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kAutoStartValueName[] = L"oku.compass";
inline constexpr wchar_t kUrlProtocolKey[] = L"SOFTWARE\\Classes\\okucompass";
inline constexpr wchar_t kUrlProtocolCommandKey[] = L"SOFTWARE\\Classes\\okucompass\\shell\\open\\command";
inline constexpr wchar_t kUrlProtocolValue[] = L"URL Protocol";

// The product's own key (written by its installer, removed by the uninstaller).
inline constexpr wchar_t kProductOwnKey[] = L"SOFTWARE\\Velmora\\oku.compass";

// The application key of the analytics and device-identifier libraries.
inline constexpr char kAnalyticsAppKey[] = "0APP7Q2MXR4DLZ8K";
