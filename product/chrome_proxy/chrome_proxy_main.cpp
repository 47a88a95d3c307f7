// chrome_proxy.exe of the demo product: starts oku.compass.exe from its own folder with the
// arguments it was given, and ends.
#include <windows.h>

#include <string>

#include "common/handles.h"
#include "product/common/product_common.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
  namespace p = oku::product;
  const std::wstring exe = p::Join(p::ParentDirectory(p::ExecutablePath()), p::kExeName);
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (arguments && *arguments) commandLine += std::wstring(L" ") + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return 1;
  }
  oku::KernelHandle process(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  return 0;
}
