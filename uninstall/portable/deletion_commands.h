// Command lines of the last-resort deleters (cmd.exe, PowerShell) and small path helpers of the
// deletion ladder. A path reaches an interpreter only in a form that interpreter cannot read as
// anything but the one literal path; a path it cannot carry safely yields an empty command.
#pragma once

#include <string>
#include <string_view>

namespace oku {

// cmd.exe expands %VAR% (and !VAR! under delayed expansion) even inside double quotes, and a
// double quote would end the quoted text: such paths, control characters and empty paths are refused.
bool CmdCanCarryPath(std::wstring_view path);
// PowerShell's single-quoted literal: every quote character PowerShell accepts as a single quote
// (' and U+2018..U+201B) is doubled. Refuses (false) paths with a double quote or control characters,
// which would break the surrounding command-line argument.
bool PowerShellCanCarryPath(std::wstring_view path);
std::wstring PowerShellSingleQuoted(std::wstring_view text);

// "cmd.exe /C del /F /Q \"path\"" or empty.
std::wstring CmdDeleteFileCommand(std::wstring_view path);
// "cmd.exe /C rmdir /S /Q \"path\"" or empty.
std::wstring CmdRemoveDirectoryCommand(std::wstring_view path);
// "powershell.exe -Command \"Remove-Item -LiteralPath '...' -Force\"" or empty. -LiteralPath, not
// -Path: with -Path, [ ] * ? in a name are wildcards and may match other files.
std::wstring PowerShellDeleteFileCommand(std::wstring_view path);
std::wstring PowerShellRemoveDirectoryCommand(std::wstring_view path);

// The part after the last backslash (the whole text when there is none).
std::wstring BaseNameOf(std::wstring_view path);
// True for paths longer than 3 characters that contain ".log" anywhere.
bool LooksLikeLogFile(std::wstring_view path);

}  // namespace oku
