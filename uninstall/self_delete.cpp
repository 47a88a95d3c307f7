#include "uninstall/self_delete.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "common/file_system.h"
#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "uninstall/portable/deletion_commands.h"
#include "uninstall/robust_delete.h"

namespace {

constexpr wchar_t kRemovalSwitch[] = L"--remove-directory-after-exit=";
constexpr DWORD kParentWaitMs = 60000;
constexpr DWORD kDelayMs = 2000;
constexpr int kRemovalAttempts = 5;

bool IsLinkOrMissing(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring SystemProgram(const wchar_t* name) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::wstring(system, length) + L"\\" + name;
}

// Starts a hidden, detached child; commandLine holds no path a caller gave.
bool StartDetached(const std::wstring& application, std::wstring commandLine, const std::wstring& directory) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, directory.empty() ? nullptr : directory.c_str(),
                        &startup, &info)) {
    return false;
  }
  oku::KernelHandle process(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  return true;
}

// Has this copy of the program deleted once it has ended: a command interpreter started in the
// copy's own folder deletes it by its bare file name, so no caller-given path reaches cmd.exe.
void DeleteOwnCopyAfterExit() {
  const std::wstring self = oku::ExecutablePath();
  const std::wstring directory = self.substr(0, self.find_last_of(L'\\'));
  const std::wstring name = oku::BaseNameOf(self);
  bool plainName = !name.empty();
  for (wchar_t c : name) {
    if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
          c == L'.')) {
      plainName = false;
    }
  }
  const std::wstring cmd = SystemProgram(L"cmd.exe");
  if (plainName && !cmd.empty() &&
      StartDetached(cmd, L"cmd.exe /d /c \"ping -n 3 127.0.0.1 >nul & del /f /q " + name + L"\"", directory)) {
    return;
  }
  ::MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

bool NeedsSelfDelete(const std::wstring& installPath) {
  if (installPath.empty() || installPath.size() + 3 >= MAX_PATH) return false;
  const std::vector<std::wstring> pending = PendingRestartDeletions();
  oku::DirectoryListing listing(installPath);
  if (!listing.ok()) return false;
  for (const oku::DirectoryEntry entry : listing) {
    const std::wstring name = entry.name();
    if (entry.IsDirectory() && !entry.IsLink() && oku::EqualsIgnoreCaseAscii(name, L"uninstall")) continue;
    if (!entry.IsDirectory() && IsInstallerLeftoverName(name)) continue;
    if (IsGoneAtRestart(installPath + L"\\" + name, pending)) continue;
    return false;
  }
  return true;
}

std::wstring SelfDeleteRefusal(const std::wstring& directory) {
  for (wchar_t c : directory) {
    if (c < 0x20 || c == 0x7F) return L"the path holds a control character";
  }
  const bool drivePath = directory.size() > 3 && directory[1] == L':' && directory[2] == L'\\' &&
                         ((directory[0] >= L'A' && directory[0] <= L'Z') || (directory[0] >= L'a' && directory[0] <= L'z'));
  const bool sharePath = directory.size() > 2 && directory.rfind(L"\\\\", 0) == 0 &&
                         directory.find(L'\\', directory.find(L'\\', 2) + 1) != std::wstring::npos;
  if (!drivePath && !sharePath) return L"the path is not a fully qualified directory below a drive root or share";
  if (directory.back() == L'\\' || directory.back() == L'/') return L"the path ends in a separator";
  if (directory.find(L'/') != std::wstring::npos || directory.find(L"\\\\", 2) != std::wstring::npos) {
    return L"the path is not in its plain form";
  }
  for (size_t start = 0; start <= directory.size();) {
    const size_t end = std::min(directory.find(L'\\', start), directory.size());
    const std::wstring_view part = std::wstring_view(directory).substr(start, end - start);
    if (part == L"." || part == L"..") return L"the path holds a relative component";
    start = end + 1;
  }
  const DWORD attributes = ::GetFileAttributesW(directory.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return L"the path is not an existing directory";
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return L"the path is a link";
  return {};
}

bool StartDirectoryRemovalAfterExit(const std::wstring& directory) {
  LogInfo(L"CreateAndRunSelfDeleteDirScript " + directory);
  const std::wstring refusal = SelfDeleteRefusal(directory);
  if (!refusal.empty()) {
    LogWarning(L"安装目录不会被自毁删除（" + refusal + L"）: " + directory);
    return false;
  }
  const std::wstring temp = oku::TempDirectoryPath();
  const std::wstring self = oku::ExecutablePath();
  if (temp.empty() || self.empty()) {
    LogWarning(L"自毁进程无法准备：临时目录或程序路径不可用");
    return false;
  }
  const std::wstring pid = oku::ToWide(::GetCurrentProcessId());
  const std::wstring copy = temp + L"\\oku_deldir_" + pid + L".exe";
  if (!::CopyFileW(self.c_str(), copy.c_str(), FALSE)) {
    LogWarning(L"自毁进程复制失败，错误码: " + oku::ToWide(::GetLastError()) + L", 路径: " + copy);
    return false;
  }
  // Program arguments are split by CommandLineToArgvW alone: a directory name cannot hold a double
  // quote, and it never ends in a backslash here, so it arrives whole and literal.
  const std::wstring commandLine = L"\"" + copy + L"\" " + kRemovalSwitch + pid + L" \"" + directory + L"\"";
  if (!StartDetached(copy, commandLine, temp)) {
    LogWarning(L"自毁进程启动失败，错误码: " + oku::ToWide(::GetLastError()));
    ::DeleteFileW(copy.c_str());
    return false;
  }
  return true;
}

bool IsDirectoryRemovalCommand(const std::vector<std::wstring>& arguments) {
  return arguments.size() == 2 && arguments[0].rfind(kRemovalSwitch, 0) == 0;
}

int RunDirectoryRemoval(const std::vector<std::wstring>& arguments) {
  if (!IsDirectoryRemovalCommand(arguments)) return 1;
  const DWORD parentId = static_cast<DWORD>(std::wcstoul(arguments[0].c_str() + wcslen(kRemovalSwitch), nullptr, 10));
  const std::wstring& directory = arguments[1];
  if (parentId != 0) {
    oku::KernelHandle parent(::OpenProcess(SYNCHRONIZE, FALSE, parentId));
    if (parent) ::WaitForSingleObject(parent.get(), kParentWaitMs);
  }
  ::Sleep(kDelayMs);

  int result = 1;
  // Checked again after the wait: a directory that has meanwhile been filled (a reinstallation at
  // the same path) or replaced by a link stays.
  if (SelfDeleteRefusal(directory).empty() && NeedsSelfDelete(directory)) {
    for (int attempt = 0; attempt < kRemovalAttempts && !IsLinkOrMissing(directory); ++attempt) {
      if (attempt > 0) ::Sleep(1000);
      oku::TreeRemoval quietly(oku::TreeRemoval::Reset::kFilesAndDirectories);
      // Judged by what is left, below: a held file fails the removal and goes at the restart.
      (void)oku::RemoveTree(directory, quietly);
      if (IsLinkOrMissing(directory)) break;
      // What a held file keeps goes at the next restart, the directory itself last of all.
      const std::vector<std::wstring> pending = PendingRestartDeletions();
      bool onlyPendingLeft = false;
      {
        oku::DirectoryListing listing(directory);  // closed before the directory is registered
        onlyPendingLeft = EveryEntryGoneAtRestart(listing, directory, pending);
      }
      if (onlyPendingLeft) {
        ::MoveFileExW(directory.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        result = 2;
        break;
      }
    }
    if (!oku::PathExists(directory)) result = 0;
  }
  DeleteOwnCopyAfterExit();
  return result;
}

void CreateAndRunSelfDeleteDirScript(const std::wstring& directory) {
  LogInfo(L"CreateAndRunSelfDeleteDirScript " + directory);
  // The script lives in %TEMP%, not in the directory it removes: a command interpreter that keeps
  // its batch file open (Wine's does) could otherwise never remove that directory.
  const std::wstring temp = oku::TempDirectoryPath();
  if (temp.empty()) return;
  const std::wstring scriptPath = temp + L"\\_deldir.bat";
  // cmd.exe expands %NAME% on its command line even inside quotes (and Wine's also inside the
  // value of a variable): a path it could read as another one is not handed to it at all.
  if (!SelfDeleteRefusal(directory).empty() || !oku::CmdCanCarryPath(directory) || !oku::CmdCanCarryPath(scriptPath)) {
    LogWarning(L"目录路径无法安全交给 cmd.exe，不执行自毁脚本: " + directory);
    return;
  }
  // Plain ASCII with CRLF and no byte order mark (cmd.exe would read a BOM as part of "@echo off").
  // Where timeout.exe is missing, ping gives the same two seconds; a directory still busy gets up
  // to five attempts. Only labels and gotos: Wine's cmd.exe misreads redirections inside "( )".
  static const char kScript[] =
      "@echo off\r\n"
      "setlocal DisableDelayedExpansion\r\n"
      "timeout /t 2 /nobreak >nul 2>nul || ping -n 3 127.0.0.1 >nul 2>nul\r\n"
      "cd /d \"%TEMP%\"\r\n"
      "set /a oku_try=0\r\n"
      ":oku_retry\r\n"
      "rd /s /q \"%~1\" >nul 2>nul\r\n"
      "if not exist \"%~1\" goto oku_done\r\n"
      "set /a oku_try+=1\r\n"
      "if %oku_try% geq 5 goto oku_done\r\n"
      "ping -n 2 127.0.0.1 >nul 2>nul\r\n"
      "goto oku_retry\r\n"
      ":oku_done\r\n"
      "del \"%~f0\" >nul 2>nul\r\n";
  {
    oku::FileHandle file(::CreateFileW(scriptPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    ::WriteFile(file.get(), kScript, sizeof(kScript) - 1, &written, nullptr);
  }
  // The system's own command interpreter (no AutoRun commands, no delayed expansion) runs the
  // script hidden, detached from this process, with %TEMP% as its current directory.
  const std::wstring cmd = SystemProgram(L"cmd.exe");
  if (cmd.empty()) return;
  ::SetCurrentDirectoryW(temp.c_str());
  const std::wstring commandLine = L"cmd.exe /d /v:off /c \"\"" + scriptPath + L"\" \"" + directory + L"\"\"";
  if (!StartDetached(cmd, commandLine, temp)) {
    LogWarning(L"自毁脚本启动失败，错误码: " + oku::ToWide(::GetLastError()));
  }
}
