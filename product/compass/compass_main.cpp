// oku.compass.exe of the demo product: one window that shows the product name and version in
// large text, so that a start is visible on a screenshot. Creates the user profile on first start.
#include <windows.h>

#include <string>

#include "common/handles.h"
#include "product/common/product_common.h"

namespace {

constexpr wchar_t kVersion[] = L"" OKU_PRODUCT_VERSION;
constexpr wchar_t kWindowClass[] = L"OkuCompassDemo";
constexpr UINT_PTR kExitTimer = 1;

bool g_autoStart = false;

void EnsureProfile() {
  namespace p = oku::product;
  const std::wstring profile = p::ProfileDirectory();
  if (profile.empty() || p::DirectoryExists(profile)) return;
  p::CreateDirectoryTree(p::Join(profile, L"Default"));
  const std::string state = "{\"browser\":{\"last_version\":\"" OKU_PRODUCT_VERSION "\"}}\n";
  p::WriteFileBytes(p::Join(profile, L"Local State"), state.data(), static_cast<DWORD>(state.size()));
  const std::string preferences = "{\"profile\":{\"name\":\"Default\"}}\n";
  p::WriteFileBytes(p::Join(profile, L"Default\\Preferences"), preferences.data(),
                    static_cast<DWORD>(preferences.size()));
}

void DrawLine(HDC dc, RECT area, int height, int weight, const std::wstring& text) {
  oku::GdiObject font(::CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial"));
  HGDIOBJ previous = ::SelectObject(dc, font.get());
  ::DrawTextW(dc, text.c_str(), -1, &area, DT_CENTER | DT_SINGLELINE | DT_VCENTER);
  ::SelectObject(dc, previous);
}

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(window, &paint);
  RECT client;
  ::GetClientRect(window, &client);
  oku::GdiObject background(::CreateSolidBrush(RGB(22, 56, 112)));
  ::FillRect(dc, &client, static_cast<HBRUSH>(background.get()));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(255, 255, 255));
  const int third = (client.bottom - client.top) / 3;
  DrawLine(dc, {client.left, client.top + third / 2, client.right, client.top + third * 3 / 2}, 72, FW_BOLD,
           oku::product::kProductName);
  DrawLine(dc, {client.left, client.top + third * 3 / 2, client.right, client.top + third * 2 + third / 3}, 44,
           FW_NORMAL, std::wstring(L"Version ") + kVersion);
  if (g_autoStart) {
    DrawLine(dc, {client.left, client.top + third * 2 + third / 3, client.right, client.bottom}, 24, FW_NORMAL,
             L"started with Windows");
  }
  ::EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_TIMER:
      if (wParam == kExitTimer) ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const auto switches = oku::product::Switches::FromCommandLine();
  g_autoStart = switches.Has(L"win-auto-start");
  EnsureProfile();

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(101));
  windowClass.lpszClassName = kWindowClass;
  if (!::RegisterClassExW(&windowClass)) return 1;

  const std::wstring title = std::wstring(oku::product::kProductName) + L" " + kVersion;
  HWND window = ::CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  800, 480, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ::ShowWindow(window, show);
  ::UpdateWindow(window);
  if (auto exitAfter = oku::product::EnvironmentNumber(L"OKU_DEMO_EXIT_AFTER_MS")) {
    ::SetTimer(window, kExitTimer, *exitAfter, nullptr);
  }

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
