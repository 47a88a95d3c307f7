// Shared pieces of the demo product's programs (oku.compass.exe, chrome_proxy.exe,
// mini_installer.exe, setup.exe): names and keys, a plain log file, switches, registry, files,
// shortcuts and the registration an installed version leaves behind.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace oku::product {

inline constexpr wchar_t kProductName[] = L"Oku.compass";
inline constexpr wchar_t kExeName[] = L"oku.compass.exe";
inline constexpr wchar_t kProxyName[] = L"chrome_proxy.exe";
inline constexpr wchar_t kShortcutName[] = L"oku.compass.lnk";
inline constexpr wchar_t kPublisher[] = L"Velmora";
inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\Oku.compass";
inline constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass";
inline constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Velmora\\oku.compass";

// Exit codes of mini_installer.exe and setup.exe (the uninstall codes are the ones the
// uninstall engine interprets).
inline constexpr DWORD kExitSuccess = 0;
inline constexpr DWORD kExitHigherVersionExists = 4;
inline constexpr DWORD kExitInstallFailed = 7;
inline constexpr DWORD kExitInvalidArchive = 13;
inline constexpr DWORD kExitNotInstalled = 15;
inline constexpr DWORD kExitProductRunning = 16;
inline constexpr DWORD kExitUninstallSuccess = 19;
inline constexpr DWORD kExitUninstallFailed = 20;
inline constexpr DWORD kExitBadCommandLine = 22;

// The run's log: UTF-8 lines appended to one file, each with a local time stamp. Nothing is
// written until Open succeeded.
void OpenLog(const std::wstring& path);
void Log(const std::wstring& line);

// "--name" and "--name=value" switches of the command line (quotes already removed).
class Switches {
 public:
  static Switches FromCommandLine();
  bool Has(const std::wstring& name) const;
  std::wstring Value(const std::wstring& name) const;  // empty when absent

 private:
  std::vector<std::wstring> arguments_;
};

// A decimal environment variable, if it is set and numeric.
std::optional<DWORD> EnvironmentNumber(const wchar_t* name);
std::wstring EnvironmentText(const wchar_t* name);

// -1, 0, 1 for dotted decimal versions; missing parts count as 0.
int CompareVersions(const std::wstring& a, const std::wstring& b);
bool IsVersionFolderName(const std::wstring& name);  // begins with a decimal digit

// Registry under HKEY_CURRENT_USER; each call opens and closes its own key.
bool WriteString(const std::wstring& key, const wchar_t* name, const std::wstring& value);
bool WriteDword(const std::wstring& key, const wchar_t* name, DWORD value);
std::wstring ReadString(const std::wstring& key, const wchar_t* name);
bool DeleteValue(const std::wstring& key, const wchar_t* name);
bool DeleteKeyTree(const std::wstring& key);  // true also when the key was not there

// Files.
std::wstring Join(const std::wstring& directory, const std::wstring& name);
std::wstring ParentDirectory(const std::wstring& path);
std::wstring FileName(const std::wstring& path);
std::wstring FullPath(const std::wstring& path);
std::wstring ExecutablePath();
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
bool CreateDirectoryTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const void* data, DWORD size);
// Copies every file below source into target (created as needed), replacing existing files.
bool CopyTree(const std::wstring& source, const std::wstring& target);
// Deletes path (a file or a whole tree) except keep, which stays with its parent folders.
// Whatever cannot be deleted now is registered for deletion at restart. True when all is gone.
bool DeleteTree(const std::wstring& path, const std::wstring& keep = std::wstring());
std::vector<std::wstring> VersionFolders(const std::wstring& installDir);
// Names in a directory (without "." and ".."), in listing order; empty when it cannot be listed.
std::vector<std::wstring> ListNames(const std::wstring& directory);

// Shell folders and shortcuts.
std::wstring ShellFolder(int csidl);
std::wstring ProfileDirectory();  // %LOCALAPPDATA%\oku.compass\User Data
bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingDir,
                    const std::wstring& description);
std::wstring ShortcutTarget(const std::wstring& linkPath);  // empty when unreadable

// Processes.
struct ProcessOutcome {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0;
};
// Runs commandLine without a window; terminated (exit code 1) after timeoutMs.
ProcessOutcome RunHidden(const std::wstring& commandLine, DWORD timeoutMs);
// Ends every process named exeName whose image lies in directory; returns how many.
int TerminateProcessesIn(const std::wstring& exeName, const std::wstring& directory);
bool IsProcessRunningIn(const std::wstring& exeName, const std::wstring& directory);

// Registration of the installed version in installDir: "pv", the uninstall entry and the
// vendor key. Writes the shortcuts when withShortcuts.
void RegisterInstallation(const std::wstring& installDir, const std::wstring& version, bool withShortcuts);
// Deletes the version folders of installDir other than version.
bool RemoveOtherVersions(const std::wstring& installDir, const std::wstring& version);
// "InstallerResult" (0 success, 1 failure), "InstallerError" (exit code) and the message.
void WriteInstallerResult(DWORD exitCode, const std::wstring& message);

}  // namespace oku::product
