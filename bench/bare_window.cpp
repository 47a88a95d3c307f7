// Baselines of the installer's start-up figures: with "--exit" the smallest program run (start
// and exit under Wine); with "--desktop" the same after asking for the desktop window (under Wine
// the first such call in a prefix starts its desktop process, which Windows always has running);
// otherwise a bare 640 x 460 window, class and title "OkuBareWindow", painted in the installer's
// accent colour with one FillRect.
#include <windows.h>

#include <cwchar>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      HBRUSH brush = ::CreateSolidBrush(RGB(0x07, 0x9D, 0x55));
      RECT client;
      ::GetClientRect(window, &client);
      ::FillRect(dc, &client, brush);
      ::DeleteObject(brush);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  if (std::wcsstr(commandLine, L"--exit")) return 0;
  if (std::wcsstr(commandLine, L"--desktop")) return ::GetDesktopWindow() ? 0 : 1;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"OkuBareWindow";
  if (!::RegisterClassExW(&windowClass)) return 1;
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - 640) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - 460) / 2;
  HWND window = ::CreateWindowExW(0, L"OkuBareWindow", L"OkuBareWindow", WS_POPUP | WS_VISIBLE, x, y, 640, 460,
                                  nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
