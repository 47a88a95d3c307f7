#include "tests/uninstall/removal_test_util.h"

#include <cstdio>
#include <string>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "tests/support/test_support.h"

namespace oku::test {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPending[] = L"PendingFileRenameOperations";

std::vector<std::wstring> ReadMultiString() {
  std::vector<std::wstring> items;
  oku::RegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return items;
  DWORD type = 0, size = 0;
  if (::RegQueryValueExW(key.get(), kPending, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return items;
  std::wstring buffer(size / sizeof(wchar_t) + 2, L'\0');
  if (::RegQueryValueExW(key.get(), kPending, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return items;
  }
  buffer.resize(size / sizeof(wchar_t));
  // Pairs of source and destination; an empty destination is a deletion, so empty items count.
  size_t start = 0;
  while (start < buffer.size()) {
    const size_t end = buffer.find(L'\0', start);
    if (end == std::wstring::npos) {
      items.push_back(buffer.substr(start));
      break;
    }
    items.push_back(buffer.substr(start, end - start));
    start = end + 1;
  }
  // The list ends with an extra NUL, which reads as one trailing empty item.
  if (items.size() % 2 == 1 && items.back().empty()) items.pop_back();
  return items;
}

}  // namespace

std::wstring LockfileExe() { return BinDirectory() + L"\\tools\\lockfile.exe"; }

FileLocker::FileLocker(const std::wstring& path, const std::wstring& mode, DWORD holdMs) {
  // lockfile.exe exits with 3 when it cannot open the file; a handle that another process closed
  // a moment ago can still be in the way, so that case is tried again twice.
  for (int attempt = 0; attempt < 3 && !holding_; ++attempt) {
    if (attempt > 0) ::Sleep(1000);
    if (Start(path, mode, holdMs) != 3) break;
  }
  if (!holding_) std::fprintf(stderr, "FileLocker: lockfile.exe did not take %ls (mode %ls)\n", path.c_str(), mode.c_str());
}

DWORD FileLocker::Start(const std::wstring& path, const std::wstring& mode, DWORD holdMs) {
  const std::wstring eventName = L"oku_lockfile_ready_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                 std::to_wstring(::GetTickCount64());
  oku::KernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  std::wstring commandLine = L"\"" + LockfileExe() + L"\" --timeout " + std::to_wstring(holdMs) + L" --ready " + eventName;
  if (!path.empty()) commandLine += L" --mode " + mode + L" --path \"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return ::GetLastError();
  }
  process_ = oku::OwnProcessHandles(info).process;
  HANDLE waits[2] = {ready.get(), process_.get()};
  holding_ = ::WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
  if (holding_) return 0;
  DWORD code = 0;
  ::GetExitCodeProcess(process_.get(), &code);
  Release();
  return code;
}

void FileLocker::Release() {
  if (!process_) return;
  ::TerminateProcess(process_.get(), 0);
  ::WaitForSingleObject(process_.get(), 10000);
  process_.reset();
  holding_ = false;
}

FileLocker::~FileLocker() { Release(); }

std::vector<std::wstring> PendingDeletions() {
  std::vector<std::wstring> sources;
  const auto items = ReadMultiString();
  for (size_t i = 0; i + 1 < items.size(); i += 2) {
    if (items[i + 1].empty()) sources.push_back(items[i]);
  }
  return sources;
}

bool IsPendingDeletion(const std::wstring& path) {
  for (const auto& source : PendingDeletions()) {
    if (EqualsIgnoreCaseAscii(source, L"\\??\\" + path)) return true;
  }
  return false;
}

void ForgetPendingOperations(const std::wstring& marker) {
  const auto items = ReadMultiString();
  std::wstring kept;
  bool changed = false;
  for (size_t i = 0; i + 1 < items.size(); i += 2) {
    if (items[i].find(marker) != std::wstring::npos) {
      changed = true;
      continue;
    }
    kept += items[i] + L'\0' + items[i + 1] + L'\0';
  }
  if (!changed) return;
  kept += L'\0';
  oku::RegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
  if (kept.size() <= 1) {
    ::RegDeleteValueW(key.get(), kPending);
  } else {
    ::RegSetValueExW(key.get(), kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                     static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
  }
}

void OpenTestLog(const std::wstring& directory, const std::wstring& fileName) {
  CloseLogFile();
  InitLog(directory, fileName);
}

std::wstring ReadTestLog(const std::wstring& path) { return WideFromUtf8(ReadFileBytes(path)); }

int CountOccurrences(const std::wstring& text, const std::wstring& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::wstring::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}

namespace {
std::wstring UnixPathOf(const std::wstring& path) {
  using UnixNameFn = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixNameFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unixName) return std::wstring();
  char* name = unixName(path.c_str());
  std::wstring out = name ? WideFromUtf8(name) : std::wstring();
  if (name) ::HeapFree(::GetProcessHeap(), 0, name);
  return out;
}
}  // namespace

bool MakeUnixSymlink(const std::wstring& target, const std::wstring& linkPath) {
  const std::wstring unixTarget = UnixPathOf(target), unixLink = UnixPathOf(linkPath);
  if (unixTarget.empty() || unixLink.empty()) return false;
  RunChild(L"Z:\\bin\\ln -s " + unixTarget + L" " + unixLink, 20000);
  // Wine may report the Unix child finished before it has run: wait for its result.
  for (int i = 0; i < 200 && ::GetFileAttributesW(linkPath.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(25);
  return ::GetFileAttributesW(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveUnixSymlink(const std::wstring& linkPath) {
  const std::wstring unixLink = UnixPathOf(linkPath);
  if (unixLink.empty()) return;
  RunChild(L"Z:\\bin\\rm -f " + unixLink, 20000);
  for (int i = 0; i < 200 && ::GetFileAttributesW(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(25);
}

bool CopyFileTo(const std::wstring& from, const std::wstring& to) {
  if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) return false;
  return ::SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

}  // namespace oku::test
