#include "common/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/session_log.h"

namespace {

// Snapshot of every process; null handle when the system refuses one.
oku::KernelHandle ProcessSnapshot() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  return oku::KernelHandle(snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot);
}

// Calls visit with every process entry until it returns false; false when the system refused a
// snapshot.
template <typename Visit>
bool ForEachProcess(Visit visit) {
  oku::KernelHandle snapshot = ProcessSnapshot();
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (!visit(entry)) break;
  }
  return true;
}

// Exact, case-sensitive comparison with the bare executable name of the entry.
bool NameMatches(const PROCESSENTRY32W& entry, const std::wstring& name) {
  return name == entry.szExeFile;
}

}  // namespace

bool IsProcessRunning(const std::wstring& name) {
  LogInfo(L"Checking if process is running: " + name);
  bool found = false;
  const bool listed = ForEachProcess([&](const PROCESSENTRY32W& entry) {
    found = NameMatches(entry, name);
    return !found;
  });
  if (!listed) {
    LogInfo(L"Failed to create process snapshot.");
    return false;
  }
  LogInfo((found ? L"Process found running: " : L"Process not running: ") + name);
  return found;
}

bool IsProcessIdRunning(DWORD processId) {
  if (processId == 0) return false;
  oku::KernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  // No such process is ERROR_INVALID_PARAMETER; any other refusal means it exists.
  if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;
  return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

bool KillProcessByName(const std::wstring& name) {
  LogInfo(L"Attempting to kill process: " + name);
  bool killed = false;
  const bool listed = ForEachProcess([&](const PROCESSENTRY32W& entry) {
    if (!NameMatches(entry, name)) return true;
    oku::KernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (!process) {
      LogInfo(L"Failed to open process for termination: " + name);
    } else if (::TerminateProcess(process.get(), 0)) {
      LogInfo(L"Successfully killed process: " + name);
      killed = true;
    } else {
      LogInfo(L"Failed to terminate process: " + name);
    }
    return true;
  });
  if (!listed) {
    LogInfo(L"Failed to create process snapshot.");
    return false;
  }
  if (!killed) LogInfo(L"Process not found for killing: " + name);
  // Give terminated processes a moment to release their files before the caller touches them.
  ::Sleep(1000);
  return killed;
}

namespace {

// Processes of that bare name whose full image path satisfies matches, opened for waiting on and
// terminating.
template <typename Matches>
std::vector<oku::KernelHandle> OpenProcessesWhere(const std::wstring& name, Matches matches) {
  std::vector<oku::KernelHandle> found;
  ForEachProcess([&](const PROCESSENTRY32W& entry) {
    if (!oku::SamePath(name, entry.szExeFile)) return true;
    oku::KernelHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                            entry.th32ProcessID));
    if (!process) return true;
    std::wstring image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, image.data(), &length)) return true;
    image.resize(length);
    if (matches(image)) found.push_back(std::move(process));
    return true;
  });
  return found;
}

}  // namespace

std::vector<oku::KernelHandle> OpenProcessesByImage(const std::wstring& name, const std::wstring& imagePath) {
  return OpenProcessesWhere(name, [&](const std::wstring& image) { return oku::SamePath(image, imagePath); });
}

std::vector<oku::KernelHandle> OpenProcessesBelow(const std::wstring& name, const std::wstring& directory) {
  std::wstring root = directory;
  while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
  if (root.empty()) return {};
  return OpenProcessesWhere(name, [&](const std::wstring& image) {
    return image.size() > root.size() + 1 && image[root.size()] == L'\\' &&
           oku::SamePath(image.substr(0, root.size()), root);
  });
}

std::uint64_t GetTickCountMs() {
  const ULONGLONG ticks = ::GetTickCount64();
  return ticks == ~ULONGLONG{0} ? 0 : ticks;
}

DllLoader::DllLoader(const wchar_t* name) {
  if (name == nullptr) {
    LogWarning(L"DllLoader: DLL 名称为空");
    return;
  }
  // A full path loads that file, its own dependencies from beside it or the system directory;
  // a bare name only ever from the system directory.
  const bool fullPath = name[0] != L'\0' && (name[1] == L':' || (name[0] == L'\\' && name[1] == L'\\'));
  module_.reset(::LoadLibraryExW(name, nullptr,
                                 fullPath ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                          : LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module_) {
    const DWORD error = ::GetLastError();
    LogWarning(std::wstring(L"DllLoader: 加载 DLL 失败: ") + name + L", 错误码: " + oku::ToWide(error));
    return;
  }
  LogInfo(std::wstring(L"DllLoader: 成功加载 DLL: ") + name);
}

DllLoader::~DllLoader() {
  if (!module_) return;
  if (module_.close()) {
    LogInfo(L"DllLoader: 成功释放 DLL");
  } else {
    const DWORD error = ::GetLastError();
    LogWarning(L"DllLoader: 释放 DLL 失败, 错误码: " + oku::ToWide(error));
  }
}
