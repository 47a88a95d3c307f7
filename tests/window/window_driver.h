// Drives the installer's real window like a user: finds the "OkuSetup" window, clicks controls
// at their laid-out positions with real mouse input (SendInput), types keys, operates the shell
// folder picker, reads the screen back and keeps screenshots as build artifacts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/handles.h"
#include "tests/support/test_support.h"

namespace oku::window_test {

// Client rectangles of the window's controls at 96 DPI, as laid out from main.xml after the
// window's own rescaling (options view without a path message).
struct Area {
  int left, top, right, bottom;
};
namespace layout {
inline constexpr Area kCloseButton{600, 0, 640, 40};
inline constexpr Area kMinButton{560, 0, 600, 40};
inline constexpr Area kTitleBand{0, 0, 560, 40};
inline constexpr Area kAppIcon{256, 90, 384, 218};
inline constexpr Area kInstallButton{268, 279, 372, 311};
inline constexpr Area kInstallButtonEdge{268, 282, 372, 284};  // a row above the button's text
inline constexpr Area kProgressBar{172, 279, 468, 281};
inline constexpr Area kProgressText{0, 319, 640, 341};
inline constexpr Area kPathInput{168, 333, 448, 365};
inline constexpr Area kFolderButton{448, 337, 472, 361};
inline constexpr Area kInfoLabel{0, 365, 640, 385};
inline constexpr Area kCheckBox{274, 397, 366, 413};
inline constexpr Area kCheckBoxAfterMessage{274, 401, 366, 417};  // below the red message
// The tick box inside the check box image (its left sixth).
inline constexpr Area kTickBox{276, 400, 286, 410};
}  // namespace layout

inline constexpr std::uint32_t kGreen = 0x079D55;  // RGB of the accent colour

struct Screen {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top-down
  std::uint32_t At(int x, int y) const;
  bool Empty() const { return pixels.empty(); }
};
Screen CaptureScreen();
// Writes <OKU_ARTIFACT_DIR>\<name>.png (no-op without the variable); false when that failed.
bool SaveScreenshot(const Screen& screen, const std::string& name);
// Captures and saves in one go.
Screen Snapshot(const std::string& name);

// Pixels of area (client coordinates of the window at dpi) whose colour is within tolerance of rgb.
int CountColour(const Screen& screen, HWND window, Area area, int dpi, std::uint32_t rgb, int tolerance = 40);
// Pixels of area whose red channel dominates (red text).
int CountReddish(const Screen& screen, HWND window, Area area, int dpi);
// Length of the longest run of rgb along the row through area's vertical middle.
int LongestRun(const Screen& screen, HWND window, Area area, int dpi, std::uint32_t rgb, int tolerance = 40);

// The installer's window (class and title "OkuSetup"), null when none.
HWND FindSetupWindow();
HWND WaitForSetupWindow(DWORD timeoutMs);
// The DPI the window was laid out for, from its width (640 at 96 DPI).
int WindowDpi(HWND window);
// area's centre (client coordinates at dpi) in screen coordinates.
POINT CentreOf(HWND window, Area area, int dpi);
int Scale(int value96, int dpi);

void MoveMouse(POINT point);
void Click(POINT point);
void DoubleClick(POINT point);
void Drag(POINT from, POINT to);
void PressKey(WORD key);
void PressAltF4();
void ClickControl(HWND window, Area area, int dpi);

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs = 100);

// The shell folder picker owned by owner, null when none is shown.
HWND FindFolderPicker(HWND owner);
// Selects the first tree item whose text contains one of the parts, searching breadth first
// (expanding items) to the given depth, with a real click on it; false when not found.
bool PickerSelect(HWND picker, const std::vector<std::wstring>& path, int depth = 3);
std::wstring PickerTitleText(HWND picker);  // the static text above the tree
void PickerPress(HWND picker, int buttonId);  // real click on IDOK / IDCANCEL

// A started program; terminated in the destructor if it is still running.
class Program {
 public:
  Program(const std::wstring& commandLine, const std::vector<std::pair<std::wstring, std::wstring>>& env = {});
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  bool Started() const { return process_.valid(); }
  // Exit code, or STILL_ACTIVE when it did not end within the timeout.
  DWORD Wait(DWORD timeoutMs);
  bool Running() const;

 private:
  oku::KernelHandle process_;
};

using oku::test::DefaultInstallDir;
using oku::test::LocalAppData;
using oku::test::Quote;
using oku::test::SetupExe;
using oku::test::VariantExe;
std::wstring DesktopDirectory();

// The session log of the running (or last) installer: %TEMP%\OkuSetupLogs\oku_install.log.
std::wstring SessionLogText();
// The working directory the installer logged ("主临时目录: "), empty before it did.
std::wstring LoggedWorkingDirectory(const std::wstring& log);

// Lines of one event ("action" record equal to name) in the analytics outbox
// (%LOCALAPPDATA%\Velmora\Lantern\outbox.jsonl, or LANTERN_OUTBOX).
std::vector<std::string> OutboxEvents(const std::string& name);

bool PathExists(const std::wstring& path);
std::wstring ReadProductValue(const wchar_t* name);  // HKCU\SOFTWARE\Oku.compass
int CountProcesses(const wchar_t* imageName);
HWND FindProductWindow();  // the demo product's window, visible
// Sets the system DPI that new processes start with (Wine's LogPixels).
void SetLogPixels(DWORD dpi);
// Links the CJK font to the system dialog fonts, so the picker's and the boxes' Chinese texts
// render as on a Chinese Windows (the window's own labels use "Microsoft YaHei").
void LinkCjkFontToDialogFonts();

}  // namespace oku::window_test
