// Test helper: a toolkit window whose skin file cannot be loaded. Run as
//   ui_probe.exe <resource directory>
// The window base shows its failure box and ends the process with exit code 1.
#include <windows.h>

#include <shellapi.h>

#include "ui/ui_lib.h"

namespace {

class ProbeWindow : public DuiLib::WindowImplBase {
 public:
  const wchar_t* WindowClassName() const override { return L"OkuUiProbe"; }
  std::wstring SkinFolderName() override { return L"skin"; }
  std::wstring SkinFileName() override { return L"missing.xml"; }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  DuiLib::CPaintManagerUI::SetInstance(instance);
  if (argv && argc > 1) DuiLib::CPaintManagerUI::SetResourcePath(argv[1]);
  ProbeWindow window;
  window.Create(nullptr, L"OkuUiProbe", WS_POPUP, 0, 0, 0, 100, 100);
  return 0;
}
