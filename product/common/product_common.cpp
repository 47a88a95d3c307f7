#include "product/common/product_common.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <mutex>

#include "common/handles.h"

namespace oku::product {
namespace {

struct LogState {
  std::mutex lock;
  std::wstring path;
};

LogState& Logger() {
  static LogState state;
  return state;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::vector<unsigned> VersionParts(const std::wstring& version) {
  std::vector<unsigned> parts;
  unsigned current = 0;
  for (wchar_t c : version) {
    if (c == L'.') {
      parts.push_back(current);
      current = 0;
    } else if (c >= L'0' && c <= L'9') {
      current = current * 10 + static_cast<unsigned>(c - L'0');
    }
  }
  parts.push_back(current);
  return parts;
}

std::wstring LowerCase(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

}  // namespace

void OpenLog(const std::wstring& path) {
  LogState& state = Logger();
  std::lock_guard<std::mutex> guard(state.lock);
  CreateDirectoryTree(ParentDirectory(path));
  FileHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  state.path = file ? path : std::wstring();
}

void Log(const std::wstring& line) {
  LogState& state = Logger();
  std::lock_guard<std::mutex> guard(state.lock);
  if (state.path.empty()) return;
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  wchar_t stamp[64];
  swprintf(stamp, 64, L"[%04u-%02u-%02u %02u:%02u:%02u.%03u] ", now.wYear, now.wMonth, now.wDay, now.wHour,
           now.wMinute, now.wSecond, now.wMilliseconds);
  const std::string bytes = Utf8(stamp + line + L"\r\n");
  FileHandle file(::CreateFileW(state.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

Switches Switches::FromCommandLine() {
  Switches switches;
  int count = 0;
  LocalMemory argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv) return switches;
  auto** items = static_cast<wchar_t**>(argv.get());
  for (int i = 1; i < count; ++i) switches.arguments_.emplace_back(items[i]);
  return switches;
}

bool Switches::Has(const std::wstring& name) const {
  const std::wstring prefix = L"--" + name;
  return std::any_of(arguments_.begin(), arguments_.end(), [&](const std::wstring& argument) {
    return argument == prefix || argument.rfind(prefix + L"=", 0) == 0;
  });
}

std::wstring Switches::Value(const std::wstring& name) const {
  const std::wstring prefix = L"--" + name + L"=";
  for (const auto& argument : arguments_) {
    if (argument.rfind(prefix, 0) == 0) return argument.substr(prefix.size());
  }
  return std::wstring();
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 1024);
  if (n == 0 || n >= 1024) return std::wstring();
  return std::wstring(buffer, n);
}

std::optional<DWORD> EnvironmentNumber(const wchar_t* name) {
  const std::wstring text = EnvironmentText(name);
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
    return std::nullopt;
  }
  return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10));
}

int CompareVersions(const std::wstring& a, const std::wstring& b) {
  std::vector<unsigned> left = VersionParts(a);
  std::vector<unsigned> right = VersionParts(b);
  const size_t n = std::max(left.size(), right.size());
  left.resize(n, 0);
  right.resize(n, 0);
  if (left < right) return -1;
  return left == right ? 0 : 1;
}

bool IsVersionFolderName(const std::wstring& name) { return !name.empty() && name[0] >= L'0' && name[0] <= L'9'; }

bool WriteString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WriteDword(const std::wstring& key, const wchar_t* name, DWORD value) {
  return ::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof(value)) == ERROR_SUCCESS;
}

std::wstring ReadString(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  return buffer;
}

bool DeleteValue(const std::wstring& key, const wchar_t* name) {
  const LONG result = ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), name);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool DeleteKeyTree(const std::wstring& key) {
  const LONG result = ::RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return false;
  // RegDeleteTreeW leaves the key itself behind when given a subkey path.
  const LONG removed = ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

std::wstring Join(const std::wstring& directory, const std::wstring& name) { return directory + L"\\" + name; }

std::wstring ParentDirectory(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FileName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
  if (n == 0 || n >= MAX_PATH * 2) return path;
  return std::wstring(buffer, n);
}

std::wstring ExecutablePath() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2) return std::wstring();
  return std::wstring(buffer, n);
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDirectoryTree(const std::wstring& path) {
  if (path.empty() || DirectoryExists(path)) return !path.empty();
  const int result = ::SHCreateDirectoryExW(nullptr, FullPath(path).c_str(), nullptr);
  return result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS;
}

bool WriteFileBytes(const std::wstring& path, const void* data, DWORD size) {
  if (!CreateDirectoryTree(ParentDirectory(path))) return false;
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  if (::WriteFile(file.get(), data, size, &written, nullptr) && written == size) return true;
  // A cut-short file would pass for an installed one: remove it, keeping the write's error.
  const DWORD error = ::GetLastError() ? ::GetLastError() : ERROR_DISK_FULL;
  file.reset();
  ::DeleteFileW(path.c_str());
  ::SetLastError(error);
  return false;
}

bool CopyTree(const std::wstring& source, const std::wstring& target) {
  if (!CreateDirectoryTree(target)) return false;
  WIN32_FIND_DATAW data;
  FindHandle find(::FindFirstFileW(Join(source, L"*").c_str(), &data));
  if (!find) return false;
  bool ok = true;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring from = Join(source, name);
    const std::wstring to = Join(target, name);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyTree(from, to) && ok;
    } else {
      ::SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        Log(L"copy failed: " + from + L" -> " + to + L", error " + std::to_wstring(::GetLastError()));
        ok = false;
      }
    }
  } while (::FindNextFileW(find.get(), &data));
  return ok;
}

bool DeleteTree(const std::wstring& path, const std::wstring& keep) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (!keep.empty() && LowerCase(path) == LowerCase(keep)) return true;
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (::DeleteFileW(path.c_str())) return true;
    Log(L"cannot delete " + path + L", error " + std::to_wstring(::GetLastError()) + L"; deleted at restart");
    ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
  }
  bool ok = true;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW data;
    FindHandle find(::FindFirstFileW(Join(path, L"*").c_str(), &data));
    if (find) {
      do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        ok = DeleteTree(Join(path, name), keep) && ok;
      } while (::FindNextFileW(find.get(), &data));
    }
  }
  // A folder holding the kept file stays; that is not a failure.
  const std::wstring prefix = LowerCase(path) + L"\\";
  if (!keep.empty() && LowerCase(keep).rfind(prefix, 0) == 0) return ok;
  if (::RemoveDirectoryW(path.c_str())) return ok;
  Log(L"cannot remove folder " + path + L", error " + std::to_wstring(::GetLastError()) + L"; removed at restart");
  ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return false;
}

std::vector<std::wstring> VersionFolders(const std::wstring& installDir) {
  std::vector<std::wstring> folders;
  WIN32_FIND_DATAW data;
  FindHandle find(::FindFirstFileW(Join(installDir, L"*").c_str(), &data));
  if (!find) return folders;
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsVersionFolderName(data.cFileName)) {
      folders.emplace_back(data.cFileName);
    }
  } while (::FindNextFileW(find.get(), &data));
  return folders;
}

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
    return std::wstring();
  }
  return buffer;
}

std::wstring ProfileDirectory() {
  const std::wstring local = ShellFolder(CSIDL_LOCAL_APPDATA);
  return local.empty() ? std::wstring() : local + L"\\oku.compass\\User Data";
}

bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingDir,
                    const std::wstring& description) {
  ComApartment com;
  ComPtr<IShellLinkW> link;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void());
  if (FAILED(hr)) {
    Log(L"shell link object unavailable, hr " + std::to_wstring(hr));
    return false;
  }
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(workingDir.c_str());
  link->SetDescription(description.c_str());
  link->SetIconLocation(target.c_str(), 0);
  ComPtr<IPersistFile> file;
  hr = link->QueryInterface(IID_IPersistFile, file.put_void());
  if (SUCCEEDED(hr)) hr = file->Save(linkPath.c_str(), TRUE);
  Log(L"shortcut " + linkPath + (SUCCEEDED(hr) ? L" written" : L" not written, hr " + std::to_wstring(hr)));
  return SUCCEEDED(hr);
}

std::wstring ShortcutTarget(const std::wstring& linkPath) {
  ComApartment com;
  ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
    return std::wstring();
  }
  ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(linkPath.c_str(), STGM_READ))) {
    return std::wstring();
  }
  wchar_t target[MAX_PATH] = {};
  if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return std::wstring();
  return target;
}

ProcessOutcome RunHidden(const std::wstring& commandLine, DWORD timeoutMs) {
  ProcessOutcome outcome;
  std::wstring mutableLine = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    Log(L"cannot start " + commandLine + L", error " + std::to_wstring(::GetLastError()));
    return outcome;
  }
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  outcome.started = true;
  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    outcome.timedOut = true;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
  ::GetExitCodeProcess(process.get(), &outcome.exitCode);
  return outcome;
}

namespace {

// Calls visit(process id) for each process named exeName whose image lies in directory.
template <typename Visit>
int ForEachProcessIn(const std::wstring& exeName, const std::wstring& directory, Visit visit) {
  FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));  // invalid value: INVALID_HANDLE_VALUE
  if (!snapshot) return 0;
  const std::wstring wantedDir = LowerCase(FullPath(directory));
  int count = 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (LowerCase(entry.szExeFile) != LowerCase(exeName)) continue;
    KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                       entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process.get(), 0, image, &size)) continue;
    if (LowerCase(ParentDirectory(std::wstring(image, size))) != wantedDir) continue;
    visit(process.get());
    ++count;
  }
  return count;
}

}  // namespace

int TerminateProcessesIn(const std::wstring& exeName, const std::wstring& directory) {
  return ForEachProcessIn(exeName, directory, [](HANDLE process) {
    ::TerminateProcess(process, 1);
    ::WaitForSingleObject(process, 5000);
  });
}

bool IsProcessRunningIn(const std::wstring& exeName, const std::wstring& directory) {
  return ForEachProcessIn(exeName, directory, [](HANDLE) {}) > 0;
}

void RegisterInstallation(const std::wstring& installDir, const std::wstring& version, bool withShortcuts) {
  const std::wstring exe = Join(installDir, kExeName);
  const std::wstring setup = Join(Join(installDir, version), L"Installer\\setup.exe");
  WriteString(kProductKey, L"pv", version);

  SYSTEMTIME today;
  ::GetLocalTime(&today);
  wchar_t date[16];
  swprintf(date, 16, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
  WriteString(kUninstallKey, L"UninstallString", L"\"" + setup + L"\" --uninstall");
  WriteString(kUninstallKey, L"DisplayName", kProductName);
  WriteString(kUninstallKey, L"DisplayVersion", version);
  WriteString(kUninstallKey, L"Version", version);
  WriteString(kUninstallKey, L"DisplayIcon", exe + L",0");
  WriteString(kUninstallKey, L"InstallLocation", installDir);
  WriteString(kUninstallKey, L"Publisher", kPublisher);
  WriteString(kUninstallKey, L"InstallDate", date);
  WriteDword(kUninstallKey, L"NoModify", 1);
  WriteDword(kUninstallKey, L"NoRepair", 1);

  WriteString(kVendorKey, L"InstallPath", installDir);
  WriteString(kVendorKey, L"Version", version);
  Log(L"registered version " + version + L" in " + installDir);

  if (withShortcuts) {
    const std::wstring description = std::wstring(kProductName) + L" browser";
    const std::wstring desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
    const std::wstring programs = ShellFolder(CSIDL_PROGRAMS);
    if (!desktop.empty()) CreateShortcut(Join(desktop, kShortcutName), exe, installDir, description);
    if (!programs.empty()) CreateShortcut(Join(programs, kShortcutName), exe, installDir, description);
  }
}

bool RemoveOtherVersions(const std::wstring& installDir, const std::wstring& version) {
  bool ok = true;
  for (const auto& folder : VersionFolders(installDir)) {
    if (LowerCase(folder) == LowerCase(version)) continue;
    Log(L"removing previous version folder " + folder);
    ok = DeleteTree(Join(installDir, folder)) && ok;
  }
  return ok;
}

void WriteInstallerResult(DWORD exitCode, const std::wstring& message) {
  WriteDword(kProductKey, L"InstallerResult", exitCode == kExitSuccess ? 0 : 1);
  WriteDword(kProductKey, L"InstallerError", exitCode);
  WriteString(kProductKey, L"InstallerResultUIString", message);
}

std::vector<std::wstring> ListNames(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(Join(directory, L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
}

}  // namespace oku::product
