#include "uninstall/portable/deletion_commands.h"

namespace oku {

namespace {

bool IsPowerShellSingleQuote(wchar_t c) {
  return c == L'\'' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B';
}

bool HasControlCharacter(std::wstring_view text) {
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

}  // namespace

bool CmdCanCarryPath(std::wstring_view path) {
  if (path.empty() || HasControlCharacter(path)) return false;
  return path.find_first_of(L"%!\"") == std::wstring_view::npos;
}

bool PowerShellCanCarryPath(std::wstring_view path) {
  if (path.empty() || HasControlCharacter(path)) return false;
  // A double quote (also the typographic ones PowerShell treats alike) would end the -Command argument.
  return path.find_first_of(L"\"\u201C\u201D\u201E") == std::wstring_view::npos;
}

std::wstring PowerShellSingleQuoted(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + 2);
  out += L'\'';
  for (wchar_t c : text) {
    out += c;
    if (IsPowerShellSingleQuote(c)) out += c;
  }
  out += L'\'';
  return out;
}

std::wstring CmdDeleteFileCommand(std::wstring_view path) {
  if (!CmdCanCarryPath(path)) return std::wstring();
  return L"cmd.exe /C del /F /Q \"" + std::wstring(path) + L"\"";
}

std::wstring CmdRemoveDirectoryCommand(std::wstring_view path) {
  if (!CmdCanCarryPath(path)) return std::wstring();
  return L"cmd.exe /C rmdir /S /Q \"" + std::wstring(path) + L"\"";
}

std::wstring PowerShellDeleteFileCommand(std::wstring_view path) {
  if (!PowerShellCanCarryPath(path)) return std::wstring();
  return L"powershell.exe -Command \"Remove-Item -LiteralPath " + PowerShellSingleQuoted(path) + L" -Force\"";
}

std::wstring PowerShellRemoveDirectoryCommand(std::wstring_view path) {
  if (!PowerShellCanCarryPath(path)) return std::wstring();
  return L"powershell.exe -Command \"Remove-Item -LiteralPath " + PowerShellSingleQuoted(path) +
         L" -Recurse -Force\"";
}

std::wstring BaseNameOf(std::wstring_view path) {
  const size_t slash = path.find_last_of(L'\\');
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

bool LooksLikeLogFile(std::wstring_view path) {
  return path.size() > 3 && path.find(L".log") != std::wstring_view::npos;
}

}  // namespace oku
