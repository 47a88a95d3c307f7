#include "uninstall/self_delete.h"

#include <windows.h>

#include <string>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"

bool NeedsSelfDelete(const std::wstring& installPath) {
  if (installPath.empty() || installPath.size() + 3 >= MAX_PATH) return false;
  WIN32_FIND_DATAW data;
  oku::FindHandle find(::FindFirstFileW((installPath + L"\\*").c_str(), &data));
  if (!find) return false;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && oku::EqualsIgnoreCaseAscii(name, L"uninstall")) continue;
    return false;
  } while (::FindNextFileW(find.get(), &data));
  return true;
}

void CreateAndRunSelfDeleteDirScript(const std::wstring& directory) {
  LogInfo(L"CreateAndRunSelfDeleteDirScript " + directory);
  // The script lives in %TEMP%, not in the directory it removes: a command interpreter that keeps
  // its batch file open (Wine's does) could otherwise never remove that directory.
  wchar_t temp[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return;
  const std::wstring scriptPath = std::wstring(temp) + L"_deldir.bat";
  // Plain ASCII with CRLF and no byte order mark (cmd.exe would read a BOM as part of "@echo off").
  // Where timeout.exe is missing, ping gives the same two seconds; a directory still busy gets up
  // to five attempts. Only labels and gotos: Wine's cmd.exe misreads redirections inside "( )".
  static const char kScript[] =
      "@echo off\r\n"
      "timeout /t 2 /nobreak >nul 2>nul || ping -n 3 127.0.0.1 >nul 2>nul\r\n"
      "cd /d %TEMP%\r\n"
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
  // The system's own command interpreter runs the script hidden, detached from this process, with
  // %TEMP% as its current directory: neither may keep the directory busy.
  wchar_t system[MAX_PATH] = {};
  const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
  if (systemLength == 0 || systemLength >= MAX_PATH) return;
  std::wstring commandLine = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c \"\"" + scriptPath + L"\" \"" +
                             directory + L"\"\"";
  ::SetCurrentDirectoryW(temp);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, temp,
                       &startup, &info)) {
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
  } else {
    LogWarning(L"自毁脚本启动失败，错误码: " + oku::ToWide(::GetLastError()));
  }
}
