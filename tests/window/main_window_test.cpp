// CMainWindow in this process, built from the shipped resources/main.xml: its DPI handling, its
// progress text, the failure view's spacing, the window region, the title band and the disabled
// install button, read back from its controls, its off-screen bitmap and its session log. Nothing
// here presses install, so no installation runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/progress_simulator.h"
#include "setup/window/main_window.h"
#include "tests/support/test_support.h"
#include "ui/ui_lib.h"

namespace {

using DuiLib::CControlUI;
using DuiLib::CPaintManagerUI;

std::wstring ShippedResources() {
  const char* source = std::getenv("OKU_SOURCE_DIR");
  std::wstring path = L"Z:" + oku::WideFromUtf8(source ? source : "") + L"/resources/";
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// The real window under its own class name, so that nothing looking for "OkuSetup" finds it; its
// last message does not end the test's message loop (no quit message).
class ProbedWindow : public CMainWindow {
 public:
  ProbedWindow() : CMainWindow(false) {}
  const wchar_t* WindowClassName() const override { return L"OkuSetupUnderTest"; }
  void OnFinalMessage(HWND hWnd) override { DuiLib::WindowImplBase::OnFinalMessage(hWnd); }
  CPaintManagerUI& Manager() { return m_PaintManager; }
};

void Pump(const std::function<bool()>& done, DWORD timeoutMs = 3000) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!done() && ::GetTickCount64() < deadline) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!CPaintManagerUI::TranslateMessage(&msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
    if (!done()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

// The sizes the window gives its controls, at 96 DPI (0: not set).
struct Size96 {
  const wchar_t* name;
  int width, height;
};
constexpr Size96 kSizes96[] = {
    {L"topBlank", 0, 50},           {L"titleBarLayout", 0, 40},       {L"iconLayout", 0, 128},
    {L"appIcon", 128, 128},         {L"appNameBlank", 0, 13},         {L"appName", 0, 16},
    {L"installBtnBlank", 0, 32},    {L"installBtnLayout", 0, 40},     {L"installbtn", 104, 32},
    {L"installProgress", 296, 2},   {L"fileselectbtn", 24, 24},       {L"customOptionLayout", 0, 16},
    {L"autostartCheckboxLayout", 0, 16}, {L"customoptionbtn", 76, 16}, {L"autostart_checkbox", 92, 16},
    {L"customOptionBlank", 0, 14},  {L"pathInputContainer", 320, 32}, {L"pathinput", 280, 32},
    {L"pathInputLeftBlank", 8, 0},  {L"fileselectbtnLayout", 0, 32},  {L"closebtn", 40, 40},
    {L"minbtn", 40, 40},            {L"optionBlank", 0, 32},          {L"pathInputLayout", 0, 32},
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitLog(dir_.path(), L"window.log");
    CPaintManagerUI::SetResourcePath(ShippedResources());
    window_ = new ProbedWindow;
    window_->m_workingDir = dir_.path();
    window_->m_lanternDir = dir_.Child(L"lantern");
    ASSERT_NE(window_->Create(nullptr, L"OkuSetup", WS_VISIBLE | WS_OVERLAPPEDWINDOW, 0, 0, 0, 640, 460), nullptr);
    ::UpdateWindow(*window_);
    Pump([] { return false; }, 200);
  }
  void TearDown() override {
    if (window_) {
      if (::IsWindow(*window_)) ::DestroyWindow(*window_);
      delete window_;
    }
    CloseLogFile();
  }

  std::wstring LogText() const { return oku::WideFromUtf8(oku::test::ReadFileBytes(dir_.Child(L"window.log"))); }
  // The lines appear in this order, from the position on; returns the position after the last.
  static ::testing::AssertionResult InOrder(const std::wstring& log, const std::vector<std::wstring>& lines,
                                            std::size_t from = 0) {
    std::size_t at = from;
    for (const std::wstring& line : lines) {
      const std::size_t found = log.find(line, at);
      if (found == std::wstring::npos) return ::testing::AssertionFailure() << "missing in order: " << oku::Utf8FromWide(line);
      at = found + line.size();
    }
    return ::testing::AssertionSuccess();
  }

  CControlUI* Find(const wchar_t* name) { return window_->Manager().FindControl(name); }
  // Sends the DPI change with the window's current place resized for dpi (96 when it is 0).
  LRESULT ChangeDpi(WPARAM wParam, int dpiForSize) {
    RECT place{};
    ::GetWindowRect(*window_, &place);
    place.right = place.left + ::MulDiv(640, dpiForSize, 96);
    place.bottom = place.top + ::MulDiv(460, dpiForSize, 96);
    const LRESULT result = ::SendMessageW(*window_, WM_DPICHANGED, wParam, reinterpret_cast<LPARAM>(&place));
    ::UpdateWindow(*window_);
    return result;
  }
  LRESULT HitTest(int x, int y) {
    POINT point{x, y};
    ::ClientToScreen(*window_, &point);
    return ::SendMessageW(*window_, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
  }
  // The window region is the rounded rectangle with the corner ellipse scaled for the DPI.
  ::testing::AssertionResult RegionRoundedFor(int dpiX, int dpiY) {
    RECT rect{};
    ::GetWindowRect(*window_, &rect);
    const oku::GdiRegion actual(::CreateRectRgn(0, 0, 0, 0));
    if (::GetWindowRgn(*window_, actual.get()) == ERROR) {
      return ::testing::AssertionFailure() << "no window region";
    }
    const oku::GdiRegion expected(::CreateRoundRectRgn(0, 0, rect.right - rect.left + 1, rect.bottom - rect.top + 1,
                                                       ::MulDiv(8, dpiX, 96), ::MulDiv(8, dpiY, 96)));
    // The system keeps the part inside the window.
    const oku::GdiRegion window(::CreateRectRgn(0, 0, rect.right - rect.left, rect.bottom - rect.top));
    ::CombineRgn(expected.get(), expected.get(), window.get(), RGN_AND);
    if (!::EqualRgn(actual.get(), expected.get())) {
      RECT a{}, e{};
      ::GetRgnBox(actual.get(), &a);
      ::GetRgnBox(expected.get(), &e);
      const DWORD na = ::GetRegionData(actual.get(), 0, nullptr);
      const DWORD ne = ::GetRegionData(expected.get(), 0, nullptr);
      return ::testing::AssertionFailure() << "region is not rounded for " << dpiX << "x" << dpiY << " box " << a.left
                                           << "," << a.top << "," << a.right << "," << a.bottom << " vs " << e.left << ","
                                           << e.top << "," << e.right << "," << e.bottom << " data " << na << " vs " << ne;
    }
    return ::testing::AssertionSuccess();
  }
  void ExpectScaledFor(int dpiX, int dpiY) {
    for (const Size96& row : kSizes96) {
      CControlUI* control = Find(row.name);
      ASSERT_NE(control, nullptr) << oku::Utf8FromWide(row.name);
      EXPECT_EQ(control->GetFixedWidth(), ::MulDiv(row.width, dpiX, 96)) << oku::Utf8FromWide(row.name);
      EXPECT_EQ(control->GetFixedHeight(), ::MulDiv(row.height, dpiY, 96)) << oku::Utf8FromWide(row.name);
    }
    EXPECT_EQ(window_->Manager().GetFontInfo(1)->iSize, ::MulDiv(14, dpiY, 96));
    EXPECT_EQ(window_->Manager().GetFontInfo(2)->iSize, ::MulDiv(12, dpiY, 96));
    EXPECT_TRUE(RegionRoundedFor(dpiX, dpiY));
    // The title band drags the window over its scaled height, the buttons in it stay clickable.
    const RECT close = Find(L"closebtn")->GetPos();
    EXPECT_EQ(HitTest(10, ::MulDiv(40, dpiY, 96) - 1), HTCAPTION);
    EXPECT_EQ(HitTest(10, ::MulDiv(40, dpiY, 96)), HTCLIENT);
    EXPECT_EQ(HitTest(close.left + 2, close.bottom - 2), HTCLIENT);
  }

  oku::test::ScratchDirectory dir_{L"main_window"};
  ProbedWindow* window_ = nullptr;
};

TEST_F(MainWindowTest, OpensScaledForTheScreenWithItsLogLines) {
  const int dpi = ::GetDeviceCaps(oku::WindowDC(nullptr).get(), LOGPIXELSY);
  ExpectScaledFor(dpi, dpi);
  EXPECT_TRUE(InOrder(LogText(), {L"设置阴影！", L"设置字体，dpi 为：" + std::to_wstring(dpi), L"m_pAutoStart visible",
                                  L"显示关闭按钮", L"显示最小化按钮", L"显示安装按钮", L"显示文件选择按钮", L"隐藏进度条",
                                  L"隐藏进度文本", L"m_pPathInputContainer visible", L"m_pPathInput visible"}));
}

TEST_F(MainWindowTest, DpiChangeRescalesFromTheMessage) {
  struct Case {
    WPARAM wParam;
    int dpiX, dpiY;  // what the window lays out for
    bool fallback;   // a zero half: 96 for both
  };
  const Case cases[] = {
      {MAKEWPARAM(144, 144), 144, 144, false},
      {MAKEWPARAM(120, 168), 120, 168, false},
      {MAKEWPARAM(0, 144), 96, 96, true},
      {MAKEWPARAM(144, 0), 96, 96, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wParam);
    ASSERT_EQ(ChangeDpi(MAKEWPARAM(192, 192), 192), 0);  // away from the expected sizes first
    const std::size_t logged = LogText().size();
    EXPECT_EQ(ChangeDpi(c.wParam, c.dpiY), 0);
    RECT rect{};
    ::GetWindowRect(*window_, &rect);
    EXPECT_EQ(rect.right - rect.left, ::MulDiv(640, c.dpiY, 96)) << "the suggested rectangle";
    ExpectScaledFor(c.dpiX, c.dpiY);
    const std::wstring log = LogText();
    std::vector<std::wstring> lines{L"Dpi 发生变化！", L"设置阴影！"};
    if (c.fallback) lines.push_back(L"获取 dpi 值有问题，启用默认 dpi 值！");
    lines.push_back(L"设置字体，dpi 为：" + std::to_wstring(c.dpiY));
    EXPECT_TRUE(InOrder(log, lines, logged));
    EXPECT_EQ(log.find(L"获取 dpi 值有问题", logged) != std::wstring::npos, c.fallback);
  }
}

TEST_F(MainWindowTest, DpiChangeWithoutItsParametersChangesNothing) {
  ASSERT_EQ(ChangeDpi(MAKEWPARAM(144, 144), 144), 0);
  for (const bool noRect : {false, true}) {
    const std::size_t logged = LogText().size();
    RECT place{0, 0, 100, 100};
    const WPARAM wParam = noRect ? MAKEWPARAM(96, 96) : 0;
    const LPARAM lParam = noRect ? 0 : reinterpret_cast<LPARAM>(&place);
    EXPECT_EQ(::SendMessageW(*window_, WM_DPICHANGED, wParam, lParam), 0);
    ExpectScaledFor(144, 144);
    EXPECT_TRUE(InOrder(LogText(), {L"Dpi 发生变化！", L"wParam 或者 lParam 无效！"}, logged));
  }
}

// The installer's rows at 120 DPI in an 800 x 575 window, options view.
TEST_F(MainWindowTest, LaysOutTheOptionsViewAt120Dpi) {
  ASSERT_EQ(ChangeDpi(MAKEWPARAM(120, 120), 120), 0);
  RECT client{};
  ::GetClientRect(*window_, &client);
  ASSERT_EQ(client.right, 800);
  ASSERT_EQ(client.bottom, 575);
  const auto pos = [&](const wchar_t* name) { return Find(name)->GetPos(); };
  const auto Same = [](const RECT& a, const RECT& b) { return ::EqualRect(&a, &b) != FALSE; };
  // 800 - 115 = 685 shared by two spacers: 342, and the rounding leftover to the second.
  const RECT check = pos(L"autostart_checkbox");
  EXPECT_EQ(check.left, 342);
  EXPECT_EQ(check.right, 457);
  EXPECT_EQ(check.bottom - check.top, 20);
  EXPECT_TRUE(Same(pos(L"minbtn"), RECT{700, 0, 750, 50}));
  EXPECT_TRUE(Same(pos(L"closebtn"), RECT{750, 0, 800, 50}));
  // The path container (400 x 40) is centred; inside it the row of blank, edit and button column.
  const RECT container = pos(L"pathInputContainer");
  EXPECT_TRUE(Same(container, RECT{200, pos(L"pathInputLayout").top, 600, pos(L"pathInputLayout").top + 40}));
  EXPECT_TRUE(Same(pos(L"pathinput"), RECT{210, container.top, 560, container.top + 40}));
  const RECT column = pos(L"fileselectbtnLayout");
  EXPECT_TRUE(Same(column, RECT{560, container.top, 600, container.top + 40}));
  EXPECT_TRUE(Same(pos(L"fileselectbtn"), RECT{560, column.top + 5, 590, column.top + 35}));
  EXPECT_FALSE(Find(L"customoptionbtn")->IsVisible());
}

TEST_F(MainWindowTest, ProgressMessageSetsBarAndText) {
  struct Case {
    WPARAM percent;
    int value;
    const wchar_t* text;
  };
  auto* bar = dynamic_cast<DuiLib::CProgressUI*>(Find(L"installProgress"));
  ASSERT_NE(bar, nullptr);
  for (const Case& c : {Case{0, 0, L"0%"}, Case{57, 57, L"57%"}, Case{100, 100, L"100%"}, Case{150, 100, L"150%"}}) {
    EXPECT_EQ(::SendMessageW(*window_, kProgressMessage, c.percent, 0), 0);
    EXPECT_EQ(bar->GetValue(), c.value);
    EXPECT_EQ(Find(L"progressText")->GetText(), c.text);
  }
}

TEST_F(MainWindowTest, FailureMessageSpacingFollowsTheDpi) {
  ASSERT_EQ(ChangeDpi(MAKEWPARAM(144, 144), 144), 0);
  window_->InstallationFailed(7);
  Pump([&] { return Find(L"infoLabel")->IsVisible(); });
  ASSERT_TRUE(Find(L"infoLabel")->IsVisible());
  EXPECT_EQ(Find(L"optionBlank")->GetFixedHeight(), 24);  // 16 at 96 DPI
  EXPECT_NE(Find(L"infoLabel")->GetText().find(L"7"), std::wstring::npos);
}

// A disabled install button (an unusable folder) does not look like one that installs.
TEST_F(MainWindowTest, DisabledInstallButtonLooksDisabled) {
  CControlUI* button = Find(L"installbtn");
  ASSERT_NE(button, nullptr);
  const RECT at = button->GetPos();
  RECT client{};
  ::GetClientRect(*window_, &client);
  const auto pixel = [&] {
    ::InvalidateRect(*window_, nullptr, FALSE);
    ::UpdateWindow(*window_);
    const std::uint32_t* bits = window_->Manager().GetOffscreenBits();
    return bits ? bits[(at.top + 4) * client.right + at.left + 8] & 0xFFFFFFu : 0u;
  };
  const std::uint32_t enabled = pixel();
  EXPECT_GT(enabled & 0xFF00u, 0x8000u) << std::hex << enabled;  // the green face
  EXPECT_LT(enabled >> 16, 0x40u) << std::hex << enabled;
  button->SetEnabled(false);
  const std::uint32_t disabled = pixel();
  EXPECT_GT(disabled >> 16, 0x80u) << std::hex << disabled;  // faded towards the white background
  button->SetEnabled(true);
  EXPECT_EQ(pixel(), enabled);
}

}  // namespace
