#include "common/dpi_awareness.h"

#include <windows.h>

#include "common/handles.h"

void EnablePerMonitorDpiAwareness() {
  const oku::ModuleHandle shcore(::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!shcore) return;
  using SetAwarenessFn = HRESULT(WINAPI*)(int);
  if (auto set = reinterpret_cast<SetAwarenessFn>(
          reinterpret_cast<void*>(::GetProcAddress(shcore.get(), "SetProcessDpiAwareness")))) {
    set(2);  // PROCESS_PER_MONITOR_DPI_AWARE
  }
}
