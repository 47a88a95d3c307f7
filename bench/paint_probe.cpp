// Time from process start to the first painted frame of a program's window, seen from outside:
// starts the program, polls for its visible top-level window (by class), then reads the screen
// under the window until the accent colour of its first frame shows; then closes it (WM_CLOSE).
// With a session log path and a marker text, also the time from the marker line's timestamp to
// the painted frame (the log's timestamps are local time in milliseconds).
// Usage: paint_probe.exe <exe> <window class> <rounds> [<log path> <marker>] [-- args...]
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench_timing.h"

namespace {

using bench::Now;

constexpr std::uint32_t kAccent = 0x079D55;  // RGB of the install button and the bare window
constexpr int kMinAccentPixels = 400;
constexpr double kTimeoutS = 30;

// Local time as milliseconds on one scale (as the session log writes it).
std::int64_t LocalMs(const SYSTEMTIME& st) {
  FILETIME ft;
  ::SystemTimeToFileTime(&st, &ft);
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000);
}

std::int64_t LocalNowMs() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return LocalMs(st);
}

bool Near(std::uint32_t pixel, std::uint32_t rgb) {
  for (int shift = 0; shift < 24; shift += 8) {
    const int a = static_cast<int>((pixel >> shift) & 0xFF);
    const int b = static_cast<int>((rgb >> shift) & 0xFF);
    if (std::abs(a - b) > 40) return false;
  }
  return true;
}

// Pixels of the window's screen rectangle in the accent colour.
int AccentPixels(HWND window) {
  RECT r;
  if (!::GetWindowRect(window, &r)) return 0;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return 0;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  int count = 0;
  if (memory && bitmap) {
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    if (::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT)) {
      ::GdiFlush();
      const auto* pixels = static_cast<const std::uint32_t*>(bits);
      for (int i = 0; i < width * height; ++i) {
        if (Near(pixels[i] & 0xFFFFFF, kAccent)) ++count;
      }
    }
    ::SelectObject(memory, previous);
  }
  if (bitmap) ::DeleteObject(bitmap);
  if (memory) ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return count;
}

// Timestamp (local ms) of the first line holding marker, and of the first timestamped line; -1 when absent.
void ReadLog(const std::wstring& path, const std::string& marker, std::int64_t* first, std::int64_t* marked) {
  *first = -1;
  *marked = -1;
  std::ifstream in(path.c_str(), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    SYSTEMTIME st{};
    int y, mo, d, h, mi, s, ms;
    if (std::sscanf(line.c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms) != 7) continue;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    const std::int64_t t = LocalMs(st);
    if (*first < 0) *first = t;
    if (*marked < 0 && line.find(marker) != std::string::npos) *marked = t;
  }
}

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(std::max(size, 1)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: paint_probe <exe> <window class> <rounds> [<log path> <marker>] [-- args]\n");
    return 2;
  }
  const std::wstring exe = argv[1];
  const wchar_t* windowClass = argv[2];
  const int rounds = std::max(1, _wtoi(argv[3]));
  std::wstring logPath;
  std::string marker;
  int next = 4;
  if (argc >= 6 && std::wstring(argv[4]) != L"--") {
    logPath = argv[4];
    marker = Utf8(argv[5]);
    next = 6;
  }
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (next < argc && std::wstring(argv[next]) == L"--") {
    for (int i = next + 1; i < argc; ++i) commandLine += std::wstring(L" ") + argv[i];
  }

  int failures = 0;
  for (int round = 1; round <= rounds; ++round) {
    if (::FindWindowW(windowClass, nullptr)) {
      std::fprintf(stderr, "probe: a window of that class is already open\n");
      return 1;
    }
    if (!logPath.empty()) ::DeleteFileW(logPath.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    const std::int64_t launchLocal = LocalNowMs();
    const double t0 = Now();
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      std::fprintf(stderr, "probe: CreateProcess failed (%lu)\n", ::GetLastError());
      return 1;
    }
    double visible = -1;
    double painted = -1;
    std::int64_t paintedLocal = 0;
    HWND window = nullptr;
    while (Now() - t0 < kTimeoutS) {
      if (!window) {
        HWND found = ::FindWindowW(windowClass, nullptr);
        if (found && ::IsWindowVisible(found)) {
          window = found;
          visible = Now() - t0;
        }
      }
      if (window && AccentPixels(window) >= kMinAccentPixels) {
        painted = Now() - t0;
        paintedLocal = LocalNowMs();
        break;
      }
      if (::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
      ::Sleep(1);
    }
    if (window) ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.hProcess, 1);
      ::WaitForSingleObject(process.hProcess, 5000);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    if (painted < 0) {
      std::printf("round %d no_paint visible_ms %.1f\n", round, visible * 1000);
      ++failures;
      continue;
    }
    std::printf("round %d visible_ms %.1f painted_ms %.1f", round, visible * 1000, painted * 1000);
    if (!logPath.empty()) {
      std::int64_t first = -1;
      std::int64_t marked = -1;
      ReadLog(logPath, marker, &first, &marked);
      if (first >= 0) std::printf(" first_log_line_ms %lld", static_cast<long long>(first - launchLocal));
      if (marked >= 0) std::printf(" after_marker_ms %lld", static_cast<long long>(paintedLocal - marked));
    }
    std::printf("\n");
    std::fflush(stdout);
    ::Sleep(300);
  }
  return failures == 0 ? 0 : 1;
}
