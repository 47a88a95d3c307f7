// Processes by executable name, libraries for the lifetime of a scope, the millisecond tick.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/handles.h"

// True when a process whose bare executable name equals name exactly (case-sensitive) runs.
bool IsProcessRunning(const std::wstring& name);
// Terminates every process of that name, pauses one second; true when at least one was killed.
bool KillProcessByName(const std::wstring& name);
// Processes of that bare executable name whose image is the file at imagePath, each opened for
// waiting on and terminating; one that cannot be opened or queried is left out.
std::vector<oku::KernelHandle> OpenProcessesByImage(const std::wstring& name, const std::wstring& imagePath);
// The same for processes whose image lies anywhere below directory (letter case ignored).
std::vector<oku::KernelHandle> OpenProcessesBelow(const std::wstring& name, const std::wstring& directory);
// True when the process with this identifier still runs; one that exists but cannot be queried
// counts as running. Logs nothing.
bool IsProcessIdRunning(DWORD processId);
// GetTickCount64; the all-ones value reads as 0.
std::uint64_t GetTickCountMs();

// Owns one loaded module; released in the destructor.
class DllLoader {
 public:
  explicit DllLoader(const wchar_t* name);
  ~DllLoader();
  DllLoader(const DllLoader&) = delete;
  DllLoader& operator=(const DllLoader&) = delete;

  bool IsLoaded() const { return module_.valid(); }
  HMODULE GetHandle() const { return module_.get(); }

 private:
  oku::ModuleHandle module_;
};
