#include "tests/window/window_driver.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wincodec.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>

#include "common/handles.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"

namespace oku::window_test {

namespace {

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int ca = static_cast<int>((a >> shift) & 0xFF);
    const int cb = static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(ca - cb) > tolerance) return false;
  }
  return true;
}

RECT ScreenRect(HWND window, Area area, int dpi) {
  POINT origin{0, 0};
  ::ClientToScreen(window, &origin);
  return RECT{origin.x + Scale(area.left, dpi), origin.y + Scale(area.top, dpi), origin.x + Scale(area.right, dpi),
              origin.y + Scale(area.bottom, dpi)};
}

std::wstring ArtifactDirectory() {
  const char* unixPath = std::getenv("OKU_ARTIFACT_DIR");
  if (!unixPath || !*unixPath) return L"";
  std::wstring path = L"Z:" + oku::WideFromUtf8(unixPath);
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

void SendMouse(DWORD flags) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  ::SendInput(1, &input, sizeof(input));
}

void SendKey(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  ::SendInput(1, &input, sizeof(input));
}

// Memory in another process, for tree-view messages that carry pointers.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, SIZE_T size) : size_(size) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    process_.reset(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (process_) address_ = ::VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) ::VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
  }
  bool Ok() const { return address_ != nullptr; }
  char* Address(SIZE_T offset = 0) const { return static_cast<char*>(address_) + offset; }
  bool Write(SIZE_T offset, const void* data, SIZE_T bytes) {
    return ::WriteProcessMemory(process_.get(), Address(offset), data, bytes, nullptr) != FALSE;
  }
  bool Read(SIZE_T offset, void* data, SIZE_T bytes) {
    return ::ReadProcessMemory(process_.get(), Address(offset), data, bytes, nullptr) != FALSE;
  }

 private:
  oku::KernelHandle process_;
  void* address_ = nullptr;
  SIZE_T size_;
};

std::wstring TreeItemText(HWND tree, HTREEITEM item, RemoteBuffer& buffer) {
  constexpr int kChars = 260;
  TVITEMW tv{};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = reinterpret_cast<wchar_t*>(buffer.Address(sizeof(TVITEMW)));
  tv.cchTextMax = kChars;
  const wchar_t empty = 0;
  buffer.Write(sizeof(TVITEMW), &empty, sizeof(empty));
  buffer.Write(0, &tv, sizeof(tv));
  ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.Address()));
  wchar_t text[kChars + 1] = {};
  buffer.Read(sizeof(TVITEMW), text, kChars * sizeof(wchar_t));
  return text;
}

bool TreeItemRect(HWND tree, HTREEITEM item, RemoteBuffer& buffer, RECT& rect) {
  // TVM_GETITEMRECT takes the item handle in the rectangle's first bytes.
  RECT in{};
  std::memcpy(&in, &item, sizeof(item));
  buffer.Write(0, &in, sizeof(in));
  if (!::SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(buffer.Address()))) return false;
  return buffer.Read(0, &rect, sizeof(rect));
}

HWND FindChildOfClass(HWND parent, const wchar_t* className) {
  struct Search {
    const wchar_t* name;
    HWND found;
  } search{className, nullptr};
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[64] = {};
        ::GetClassNameW(child, name, 64);
        if (::lstrcmpiW(name, s->name) == 0) {
          s->found = child;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

std::uint32_t Screen::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
}

Screen CaptureScreen() {
  Screen screen;
  const int width = ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int height = ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
  const oku::WindowDC desktop(nullptr);
  if (!desktop) return screen;
  const oku::MemoryDC memory(::CreateCompatibleDC(desktop.get()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const oku::GdiBitmap bitmap(::CreateDIBSection(desktop.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (memory && bitmap) {
    const oku::SelectScope select(memory.get(), bitmap.get());
    if (::BitBlt(memory.get(), 0, 0, width, height, desktop.get(), ::GetSystemMetrics(SM_XVIRTUALSCREEN),
                 ::GetSystemMetrics(SM_YVIRTUALSCREEN), SRCCOPY | CAPTUREBLT)) {
      ::GdiFlush();
      screen.width = width;
      screen.height = height;
      const auto* source = static_cast<const std::uint32_t*>(bits);
      screen.pixels.assign(source, source + static_cast<size_t>(width) * height);
    }
  }
  return screen;
}

bool SaveScreenshot(const Screen& screen, const std::string& name) {
  const std::wstring directory = ArtifactDirectory();
  if (directory.empty() || screen.Empty()) return directory.empty();
  ::SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
  const std::wstring path = directory + L"\\" + oku::WideFromUtf8(name) + L".png";
  std::vector<std::uint32_t> opaque(screen.pixels);
  for (auto& pixel : opaque) pixel |= 0xFF000000u;

  IWICImagingFactory* factory = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)))) {
    return false;
  }
  bool saved = false;
  IWICStream* stream = nullptr;
  IWICBitmapEncoder* encoder = nullptr;
  IWICBitmapFrameEncode* frame = nullptr;
  if (SUCCEEDED(factory->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
      SUCCEEDED(frame->SetSize(screen.width, screen.height))) {
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (SUCCEEDED(frame->SetPixelFormat(&format)) && IsEqualGUID(format, GUID_WICPixelFormat32bppBGRA)) {
      saved = SUCCEEDED(frame->WritePixels(screen.height, screen.width * 4, screen.width * screen.height * 4,
                                           reinterpret_cast<BYTE*>(opaque.data()))) &&
              SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
  }
  if (frame) frame->Release();
  if (encoder) encoder->Release();
  if (stream) stream->Release();
  factory->Release();
  return saved;
}

Screen Snapshot(const std::string& name) {
  Screen screen = CaptureScreen();
  SaveScreenshot(screen, name);
  return screen;
}

int CountColour(const Screen& screen, HWND window, Area area, int dpi, std::uint32_t rgb, int tolerance) {
  const RECT r = ScreenRect(window, area, dpi);
  int count = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      if (Near(screen.At(x, y), rgb, tolerance)) ++count;
    }
  }
  return count;
}

int CountReddish(const Screen& screen, HWND window, Area area, int dpi) {
  const RECT r = ScreenRect(window, area, dpi);
  int count = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      const std::uint32_t p = screen.At(x, y);
      const int red = (p >> 16) & 0xFF, green = (p >> 8) & 0xFF, blue = p & 0xFF;
      if (red > 150 && green < 110 && blue < 110) ++count;
    }
  }
  return count;
}

int LongestRun(const Screen& screen, HWND window, Area area, int dpi, std::uint32_t rgb, int tolerance) {
  const RECT r = ScreenRect(window, area, dpi);
  const int y = (r.top + r.bottom) / 2;
  int best = 0, run = 0;
  for (int x = r.left - 8; x < r.right + 8; ++x) {
    run = Near(screen.At(x, y), rgb, tolerance) ? run + 1 : 0;
    if (run > best) best = run;
  }
  return best;
}

HWND FindSetupWindow() {
  HWND window = ::FindWindowW(L"OkuSetup", L"OkuSetup");
  return window && ::IsWindowVisible(window) ? window : nullptr;
}

HWND WaitForSetupWindow(DWORD timeoutMs) {
  HWND window = nullptr;
  WaitUntil([&] { return (window = FindSetupWindow()) != nullptr; }, timeoutMs);
  if (window) ::Sleep(500);  // first layout and paint
  return window;
}

int WindowDpi(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return ::MulDiv(rect.right - rect.left, 96, 640);
}

int Scale(int value96, int dpi) { return ::MulDiv(value96, dpi, 96); }

POINT CentreOf(HWND window, Area area, int dpi) {
  const RECT r = ScreenRect(window, area, dpi);
  return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void MoveMouse(POINT point) {
  ::SetCursorPos(point.x, point.y);
  INPUT input{};
  input.type = INPUT_MOUSE;
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN);
  input.mi.dx = static_cast<LONG>((static_cast<long long>(point.x) * 65536 + width - 1) / width);
  input.mi.dy = static_cast<LONG>((static_cast<long long>(point.y) * 65536 + height - 1) / height);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  ::SendInput(1, &input, sizeof(input));
  ::Sleep(80);
}

void Click(POINT point) {
  MoveMouse(point);
  SendMouse(MOUSEEVENTF_LEFTDOWN);
  ::Sleep(60);
  SendMouse(MOUSEEVENTF_LEFTUP);
  ::Sleep(150);
}

void DoubleClick(POINT point) {
  MoveMouse(point);
  for (int i = 0; i < 2; ++i) {
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    ::Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTUP);
    ::Sleep(30);
  }
  ::Sleep(150);
}

void Drag(POINT from, POINT to) {
  MoveMouse(from);
  SendMouse(MOUSEEVENTF_LEFTDOWN);
  ::Sleep(100);
  for (int step = 1; step <= 10; ++step) {
    MoveMouse(POINT{from.x + (to.x - from.x) * step / 10, from.y + (to.y - from.y) * step / 10});
  }
  SendMouse(MOUSEEVENTF_LEFTUP);
  ::Sleep(200);
}

void PressKey(WORD key) {
  SendKey(key, false);
  ::Sleep(40);
  SendKey(key, true);
  ::Sleep(150);
}

void PressAltF4() {
  SendKey(VK_MENU, false);
  ::Sleep(40);
  SendKey(VK_F4, false);
  ::Sleep(40);
  SendKey(VK_F4, true);
  SendKey(VK_MENU, true);
  ::Sleep(150);
}

void ClickControl(HWND window, Area area, int dpi) { Click(CentreOf(window, area, dpi)); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(pollMs);
  }
}

HWND FindFolderPicker(HWND owner) {
  struct Search {
    HWND owner;
    HWND found;
  } search{owner, nullptr};
  ::EnumWindows(
      [](HWND candidate, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[16] = {};
        ::GetClassNameW(candidate, name, 16);
        if (::lstrcmpW(name, L"#32770") == 0 && ::GetWindow(candidate, GW_OWNER) == s->owner &&
            ::IsWindowVisible(candidate) && FindChildOfClass(candidate, WC_TREEVIEWW)) {
          s->found = candidate;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool PickerSelect(HWND picker, const std::vector<std::wstring>& path, int depth) {
  HWND tree = FindChildOfClass(picker, WC_TREEVIEWW);
  if (!tree) return false;
  RemoteBuffer buffer(tree, 4096);
  if (!buffer.Ok()) return false;
  HTREEITEM parent = nullptr;  // null: the whole tree
  for (const std::wstring& part : path) {
    // Breadth first below parent, expanding as a user opens folders.
    std::deque<std::pair<HTREEITEM, int>> queue;
    auto children = [&](HTREEITEM item, int level) {
      if (item) ::SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
      HTREEITEM child = item ? reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                          reinterpret_cast<LPARAM>(item)))
                             : reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
      while (child) {
        queue.emplace_back(child, level);
        child = reinterpret_cast<HTREEITEM>(
            ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
      }
    };
    children(parent, 1);
    HTREEITEM found = nullptr;
    while (!queue.empty() && !found) {
      auto [item, level] = queue.front();
      queue.pop_front();
      if (TreeItemText(tree, item, buffer).find(part) != std::wstring::npos) {
        found = item;
      } else if (level < depth) {
        children(item, level + 1);
      }
    }
    if (!found) return false;
    parent = found;
  }
  ::SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(parent));
  RECT rect{};
  if (TreeItemRect(tree, parent, buffer, rect)) {
    POINT point{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ::ClientToScreen(tree, &point);
    Click(point);
  }
  if (::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0) != reinterpret_cast<LRESULT>(parent)) {
    ::SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(parent));
  }
  return ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0) == reinterpret_cast<LRESULT>(parent);
}

std::wstring PickerTitleText(HWND picker) {
  std::wstring texts;
  HWND child = nullptr;
  while ((child = ::FindWindowExW(picker, child, L"Static", nullptr)) != nullptr) {
    wchar_t text[512] = {};
    ::GetWindowTextW(child, text, 512);
    texts += text;
    texts += L"\n";
  }
  return texts;
}

void PickerPress(HWND picker, int buttonId) {
  HWND button = ::GetDlgItem(picker, buttonId);
  if (!button) return;
  RECT rect{};
  ::GetWindowRect(button, &rect);
  Click(POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
  if (::IsWindow(picker) && ::IsWindowVisible(picker)) ::SendMessageW(button, BM_CLICK, 0, 0);
}

Program::Program(const std::wstring& commandLine, const std::vector<std::pair<std::wstring, std::wstring>>& env) {
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const auto& [name, value] : env) {
    wchar_t old[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), old, 1024);
    saved.emplace_back(name, length ? std::wstring(old) : std::wstring(L"\x01"));
    ::SetEnvironmentVariableW(name.c_str(), value.c_str());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring mutableLine = commandLine;
  if (::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    process_ = oku::OwnProcessHandles(info).process;
  }
  for (const auto& [name, value] : saved) {
    ::SetEnvironmentVariableW(name.c_str(), value == L"\x01" ? nullptr : value.c_str());
  }
}

Program::~Program() {
  if (!process_) return;
  if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 10000);
  }
}

DWORD Program::Wait(DWORD timeoutMs) {
  if (!process_) return STILL_ACTIVE;
  if (::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(process_.get(), &code);
  return code;
}

bool Program::Running() const { return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }


std::wstring DesktopDirectory() {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}


std::wstring SessionLogText() {
  const std::string bytes = oku::test::ReadFileBytes(oku::test::TempDirectory() + L"\\OkuSetupLogs\\oku_install.log");
  return oku::WideFromUtf8(bytes);
}

std::wstring LoggedWorkingDirectory(const std::wstring& log) {
  const std::wstring marker = L"主临时目录: ";
  const size_t at = log.rfind(marker);
  if (at == std::wstring::npos) return L"";
  const size_t start = at + marker.size();
  const size_t end = log.find_first_of(L"\r\n", start);
  return log.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

std::vector<std::string> OutboxEvents(const std::string& name) {
  const char* custom = std::getenv("LANTERN_OUTBOX");
  const std::wstring path = custom && *custom ? oku::WideFromUtf8(custom)
                                              : LocalAppData() + L"\\Velmora\\Lantern\\outbox.jsonl";
  return oku::test::OutboxEventLines(oku::test::ReadFileBytes(path), name);
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ReadProductValue(const wchar_t* name) {
  const auto value = oku::test::QueryRegistryValue(HKEY_CURRENT_USER, L"SOFTWARE\\Oku.compass", name);
  return value.present ? value.AsString() : L"";
}

int CountProcesses(const wchar_t* imageName) {
  oku::KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, imageName) == 0) ++count;
  }
  return count;
}

HWND FindProductWindow() {
  HWND window = ::FindWindowW(L"OkuCompassDemo", nullptr);
  return window && ::IsWindowVisible(window) ? window : nullptr;
}

void SetLogPixels(DWORD dpi) {
  const wchar_t* keys[] = {L"Control Panel\\Desktop"};
  for (const wchar_t* key : keys) {
    oku::RegKey handle;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, handle.put(), nullptr) ==
        ERROR_SUCCESS) {
      ::RegSetValueExW(handle.get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
    }
  }
  oku::RegKey machine;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts",
                        0, nullptr, 0, KEY_SET_VALUE, nullptr, machine.put(), nullptr) == ERROR_SUCCESS) {
    ::RegSetValueExW(machine.get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
  }
}

void LinkCjkFontToDialogFonts() {
  oku::RegKey key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  static const wchar_t kLink[] = L"wqy-microhei.ttc,WenQuanYi Micro Hei\0";  // REG_MULTI_SZ
  for (const wchar_t* face : {L"Tahoma", L"MS Shell Dlg", L"MS Shell Dlg 2", L"Microsoft Sans Serif"}) {
    ::RegSetValueExW(key.get(), face, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kLink), sizeof(kLink));
  }
}

}  // namespace oku::window_test
