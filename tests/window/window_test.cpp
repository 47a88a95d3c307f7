// The installer's window operated like a user under Xvfb: each scenario starts the real
// OkuSetup.exe in a fresh prefix, clicks its controls with real mouse input, answers its boxes
// and reads back what it did (screen, registry, files, processes, analytics outbox).
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/dpi_awareness.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"
#include "tests/window/window_driver.h"

namespace {

using namespace oku::window_test;
namespace L = oku::window_test::layout;

constexpr DWORD kWindowTimeout = 90000;
constexpr DWORD kInstallTimeout = 240000;
constexpr std::uint32_t kBarBackground = 0xE4E4E4;
constexpr std::uint32_t kFadedGreen = 0x94D5B6;  // the accent at alpha 110 over white: a disabled button

// An event parameter as the outbox records it: ["key","value"], JSON-escaped.
std::string Param(const std::string& key, const std::wstring& value) {
  std::string escaped;
  for (const char c : oku::Utf8FromWide(value)) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return "[\"" + key + "\",\"" + escaped + "\"]";
}

// The lines appear in the log in this order.
::testing::AssertionResult LoggedInOrder(const std::wstring& log, const std::vector<std::wstring>& lines) {
  std::size_t at = 0;
  for (const std::wstring& line : lines) {
    const std::size_t found = log.find(line, at);
    if (found == std::wstring::npos) return ::testing::AssertionFailure() << "not logged in order: " << oku::Utf8FromWide(line);
    at = found + line.size();
  }
  return ::testing::AssertionSuccess();
}

class WindowScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    EnablePerMonitorDpiAwareness();
    ::CoInitialize(nullptr);
    LinkCjkFontToDialogFonts();
  }
  void TearDown() override { ::CoUninitialize(); }

  // Starts the installer and waits for its window.
  HWND Open(Program& program) {
    EXPECT_TRUE(program.Started());
    HWND window = WaitForSetupWindow(kWindowTimeout);
    EXPECT_NE(window, nullptr) << "no OkuSetup window";
    if (window) ::SetForegroundWindow(window);
    return window;
  }

  // A silent installation into the default directory (or dir), as the starting state.
  static void InstallSilently(const std::wstring& dir = L"") {
    std::wstring command = Quote(SetupExe()) + L" /S";
    if (!dir.empty()) command += L" /d=" + dir;
    Program silent(command);
    ASSERT_EQ(silent.Wait(kInstallTimeout), 0u) << "silent installation failed";
  }

  static bool InstallButtonShown(HWND window, int dpi) {
    return LongestRun(CaptureScreen(), window, L::kInstallButtonEdge, dpi, kGreen) > Scale(80, dpi);
  }
  static bool ProgressBarShown(HWND window, int dpi) {
    const Screen screen = CaptureScreen();
    return LongestRun(screen, window, L::kProgressBar, dpi, kBarBackground, 12) +
               LongestRun(screen, window, L::kProgressBar, dpi, kGreen) >
           Scale(200, dpi);
  }
  static int BarFill(const Screen& screen, HWND window, int dpi) {
    return LongestRun(screen, window, L::kProgressBar, dpi, kGreen);
  }

  // After the completion: the product's window, the installer gone with exit code 0.
  static void ExpectCompletion(Program& setup, const std::string& shot) {
    HWND product = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (product = FindProductWindow()) != nullptr; }, kInstallTimeout))
        << "the product was not launched";
    EXPECT_EQ(setup.Wait(60000), 0u);
    EXPECT_EQ(FindSetupWindow(), nullptr);
    if (product) {
      ::Sleep(500);
      Snapshot(shot);
    }
  }
};

class WindowInstall : public WindowScenario {};
class WindowOptions : public WindowScenario {};
class WindowChecks : public WindowScenario {};
class WindowUpdate : public WindowScenario {};
class WindowInstance : public WindowScenario {};
class WindowHighDpi : public WindowScenario {};
class WindowFailure : public WindowScenario {
 protected:
  // Clicks install and waits for the red failure message in place of the progress.
  static bool InstallAndAwaitFailure(HWND window, int dpi) {
    ClickControl(window, L::kInstallButton, dpi);
    return WaitUntil([&] { return CountReddish(CaptureScreen(), window, L::kInfoLabel, dpi) > 40; }, kInstallTimeout);
  }
  // What every failed attempt shows: the code and the log's place in the log, no product started,
  // the close button working, and the code as the exit code.
  static void ExpectFailureEnd(Program& setup, HWND window, int dpi, DWORD code) {
    const std::wstring log = SessionLogText();
    EXPECT_NE(log.find(L"安装失败，错误码: " + std::to_wstring(code) + L"，日志: "), std::wstring::npos);
    const auto failed = OutboxEvents("setup_ui_installation_failed");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_NE(failed[0].find("[\"error_code\",\"" + std::to_string(code) + "\"]"), std::string::npos) << failed[0];
    EXPECT_TRUE(InstallButtonShown(window, dpi)) << "no way to try again";
    EXPECT_EQ(FindProductWindow(), nullptr);
    EXPECT_EQ(CountProcesses(L"oku.compass.exe"), 0);
    ::SetForegroundWindow(window);
    ClickControl(window, L::kCloseButton, dpi);
    EXPECT_EQ(setup.Wait(60000), code);
    EXPECT_EQ(FindSetupWindow(), nullptr);
    // A failed new installation leaves no records: the next run is a new installation again.
    EXPECT_EQ(ReadProductValue(L"OkuInstallPath"), L"");
    EXPECT_EQ(ReadProductValue(L"UninstallString"), L"");
  }
};

TEST_F(WindowInstall, OptionsViewInstallProgressAndCompletion) {
  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  EXPECT_EQ(dpi, 96);
  RECT rect{};
  ::GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 640);
  EXPECT_EQ(rect.bottom - rect.top, 460);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((rect.left + rect.right) / 2, (work.left + work.right) / 2, 2) << "not centred";
  EXPECT_NEAR((rect.top + rect.bottom) / 2, (work.top + work.bottom) / 2, 2) << "not centred";

  const std::wstring workingDir = LoggedWorkingDirectory(SessionLogText());
  ASSERT_FALSE(workingDir.empty());
  EXPECT_TRUE(PathExists(workingDir + L"\\main.xml"));

  // Options view: install button, the path field, the check box ticked.
  const Screen options = Snapshot("options_view");
  EXPECT_NEAR(LongestRun(options, window, L::kInstallButtonEdge, dpi, kGreen), 102, 3);
  EXPECT_GT(CountColour(options, window, L::kTickBox, dpi, kGreen), 30);
  const auto initialized = OutboxEvents("setup_ui_window_initialized");
  ASSERT_EQ(initialized.size(), 1u);
  EXPECT_NE(initialized[0].find(Param("is_update_mode", L"false")), std::string::npos) << initialized[0];
  for (const char* group : {"lantern", "core", "ui"}) {
    EXPECT_EQ(OutboxEvents(std::string("setup_extract_") + group + "_resources_completed").size(), 1u) << group;
  }

  ClickControl(window, L::kInstallButton, dpi);
  ASSERT_TRUE(WaitUntil([&] { return ProgressBarShown(window, dpi); }, 30000)) << "no progress view";
  EXPECT_FALSE(InstallButtonShown(window, dpi));
  const auto clicked = OutboxEvents("setup_ui_click_install");
  ASSERT_EQ(clicked.size(), 1u);
  EXPECT_NE(clicked[0].find("[\"auto_start\",\"true\"]"), std::string::npos);
  EXPECT_NE(clicked[0].find(Param("install_path", DefaultInstallDir())), std::string::npos) << clicked[0];
  EXPECT_NE(clicked[0].find(Param("is_override", L"false")), std::string::npos) << clicked[0];

  // The bar grows with the posted percentages and its text changes with it.
  Screen previous = CaptureScreen();
  int previousFill = BarFill(previous, window, dpi);
  int changes = 0;
  bool midShot = false;
  WaitUntil(
      [&] {
        if (!FindSetupWindow()) return true;
        const Screen now = CaptureScreen();
        if (!FindSetupWindow()) return true;
        const int fill = BarFill(now, window, dpi);
        EXPECT_GE(fill + 1, previousFill) << "the bar went back";
        if (fill > previousFill + 2) {
          ++changes;
          const RECT text = {0, 319, 640, 341};
          int differing = 0;
          POINT origin{0, 0};
          ::ClientToScreen(window, &origin);
          for (int y = text.top; y < text.bottom; ++y) {
            for (int x = text.left; x < text.right; ++x) {
              if (now.At(origin.x + x, origin.y + y) != previous.At(origin.x + x, origin.y + y)) ++differing;
            }
          }
          EXPECT_GT(differing, 0) << "the percentage text did not change with the bar";
          if (!midShot && fill > 296 / 5 && fill < 296 * 4 / 5) {
            SaveScreenshot(now, "progress_view");
            midShot = true;
          }
          previous = now;
          previousFill = fill;
        }
        return false;
      },
      kInstallTimeout, 200);
  EXPECT_GE(changes, 2);

  ExpectCompletion(setup, "product_launched");
  const std::wstring dir = DefaultInstallDir();
  EXPECT_TRUE(PathExists(dir + L"\\oku.compass.exe"));
  EXPECT_TRUE(PathExists(dir + L"\\uninstall\\OkuUninstall.exe"));
  EXPECT_FALSE(PathExists(dir + L"\\mini_installer.exe"));
  EXPECT_EQ(ReadProductValue(L"OkuInstallPath"), dir);
  EXPECT_TRUE(PathExists(DesktopDirectory() + L"\\oku.lnk"));
  EXPECT_FALSE(PathExists(DesktopDirectory() + L"\\oku.compass.lnk"));
  EXPECT_FALSE(PathExists(workingDir)) << "working directory left behind";
  EXPECT_EQ(OutboxEvents("setup_complete_installation").size(), 1u);
  // The window's own lines, from its start to the progress view.
  const std::wstring log = oku::WideFromUtf8(oku::test::ReadFileBytes(dir + L"\\oku_install.log"));
  EXPECT_TRUE(LoggedInOrder(log, {L"设置阴影！", L"设置字体，dpi 为：96", L"m_pAutoStart visible", L"显示关闭按钮",
                                  L"显示最小化按钮", L"显示安装按钮", L"显示文件选择按钮", L"隐藏进度条", L"隐藏进度文本",
                                  L"m_pPathInputContainer visible", L"m_pPathInput visible", L"startProgress",
                                  L"隐藏关闭按钮", L"隐藏最小化按钮", L"隐藏安装按钮", L"隐藏文件选择按钮", L"显示进度条",
                                  L"显示进度文本", L"预处理线程创建成功"}));
}

TEST_F(WindowInstall, CloseDuringProgressWaitsForTheInstallation) {
  // The product installer takes its time, so the close requests come while it runs.
  Program setup(Quote(SetupExe()), {{L"OKU_DEMO_INSTALLER_DELAY_MS", L"8000"}});
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  const std::wstring workingDir = LoggedWorkingDirectory(SessionLogText());
  ASSERT_FALSE(workingDir.empty());

  ClickControl(window, L::kInstallButton, dpi);
  ASSERT_TRUE(WaitUntil([] { return CountProcesses(L"mini_installer.exe") > 0; }, 60000));
  ::SetForegroundWindow(window);
  PressKey(VK_ESCAPE);
  PressAltF4();
  ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the system menu's close
  ::Sleep(1500);
  ASSERT_GT(CountProcesses(L"mini_installer.exe"), 0) << "the scenario needs a running product installer";
  EXPECT_NE(FindSetupWindow(), nullptr) << "closed under the running installation";
  EXPECT_TRUE(PathExists(workingDir + L"\\lantern\\lantern_sdk.dll")) << "working directory deleted too early";
  Snapshot("close_deferred");

  ExpectCompletion(setup, "close_deferred_completed");
  EXPECT_FALSE(PathExists(workingDir));
  EXPECT_EQ(OutboxEvents("setup_complete_installation").size(), 1u) << "the reporter was shut down too early";
  const std::wstring log = oku::WideFromUtf8(oku::test::ReadFileBytes(DefaultInstallDir() + L"\\oku_install.log"));
  EXPECT_NE(log.find(L"安装线程仍在运行，关闭窗口推迟到安装线程结束"), std::wstring::npos);
  EXPECT_NE(log.find(L"安装线程已结束，执行推迟的关闭"), std::wstring::npos);
}

TEST_F(WindowOptions, CheckBoxTitleBandAndCancelledPicker) {
  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  const std::wstring workingDir = LoggedWorkingDirectory(SessionLogText());

  // The check box toggles its image and reports both states.
  ClickControl(window, L::kCheckBox, dpi);
  ASSERT_TRUE(WaitUntil([&] { return CountColour(CaptureScreen(), window, L::kTickBox, dpi, kGreen) < 5; }, 10000));
  Snapshot("checkbox_unchecked");
  ClickControl(window, L::kCheckBox, dpi);
  ASSERT_TRUE(WaitUntil([&] { return CountColour(CaptureScreen(), window, L::kTickBox, dpi, kGreen) > 30; }, 10000));
  const auto toggles = OutboxEvents("setup_ui_toggle_autostart");
  ASSERT_EQ(toggles.size(), 2u);
  EXPECT_NE(toggles[0].find("[\"previous_state\",\"enabled\"]"), std::string::npos) << toggles[0];
  EXPECT_NE(toggles[0].find("[\"new_state\",\"disabled\"]"), std::string::npos) << toggles[0];
  EXPECT_NE(toggles[1].find("[\"previous_state\",\"disabled\"]"), std::string::npos) << toggles[1];
  EXPECT_NE(toggles[1].find("[\"new_state\",\"enabled\"]"), std::string::npos) << toggles[1];

  // A double click on the title band changes nothing; a drag there moves the window.
  RECT before{};
  ::GetWindowRect(window, &before);
  DoubleClick(CentreOf(window, L::kTitleBand, dpi));
  ::Sleep(300);
  RECT after{};
  ::GetWindowRect(window, &after);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
  EXPECT_FALSE(::IsZoomed(window));
  const POINT grip = CentreOf(window, L::kTitleBand, dpi);
  Drag(grip, POINT{grip.x - 60, grip.y + 40});
  WaitUntil([&] {
    ::GetWindowRect(window, &after);
    return after.left != before.left;
  }, 5000);
  EXPECT_EQ(after.left - before.left, -60);
  EXPECT_EQ(after.top - before.top, 40);

  // The folder picker, with its title, cancelled.
  ClickControl(window, L::kFolderButton, dpi);
  HWND picker = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (picker = FindFolderPicker(window)) != nullptr; }, 20000));
  ::Sleep(500);
  Snapshot("folder_picker");
  EXPECT_NE(PickerTitleText(picker).find(L"Oku.compass 安装路径"), std::wstring::npos);
  PickerPress(picker, IDCANCEL);
  EXPECT_TRUE(WaitUntil([] { return !OutboxEvents("setup_ui_select_folder_cancelled").empty(); }, 10000));
  const auto selecting = OutboxEvents("setup_ui_click_select_folder");
  ASSERT_EQ(selecting.size(), 1u);
  EXPECT_NE(selecting[0].find(Param("current_path", DefaultInstallDir())), std::string::npos) << selecting[0];
  EXPECT_NE(OutboxEvents("setup_ui_select_folder_cancelled")[0].find(Param("action", L"cancelled")), std::string::npos);

  // Minimise, then close from the title bar: nothing was installed.
  ClickControl(window, L::kMinButton, dpi);
  EXPECT_TRUE(WaitUntil([&] { return ::IsIconic(window) != FALSE; }, 10000));
  const auto minimised = OutboxEvents("setup_ui_click_minimize");
  ASSERT_EQ(minimised.size(), 1u);
  EXPECT_NE(minimised[0].find(Param("action", L"minimize")), std::string::npos) << minimised[0];
  ::ShowWindow(window, SW_RESTORE);
  ::SetForegroundWindow(window);
  ::Sleep(500);
  ClickControl(window, L::kCloseButton, dpi);
  EXPECT_EQ(setup.Wait(60000), 0u);
  EXPECT_EQ(OutboxEvents("setup_ui_click_close").size(), 1u);
  EXPECT_FALSE(oku::test::RegistryKeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Oku.compass"));
  EXPECT_FALSE(workingDir.empty() || PathExists(workingDir));
}

// Opens the picker from the folder button and selects the item path; false when not possible.
bool PickFolder(HWND window, int dpi, const std::vector<std::wstring>& items) {
  ClickControl(window, L::kFolderButton, dpi);
  HWND picker = nullptr;
  if (!WaitUntil([&] { return (picker = FindFolderPicker(window)) != nullptr; }, 20000)) return false;
  ::Sleep(300);
  const bool selected = PickerSelect(picker, items);
  PickerPress(picker, selected ? IDOK : IDCANCEL);
  WaitUntil([&] { return !::IsWindow(picker); }, 10000);
  ::Sleep(500);
  return selected;
}

// The path field's text, read from the native edit box it shows while focused.
std::wstring ShownPath(HWND window, int dpi) {
  ClickControl(window, L::kPathInput, dpi);
  HWND edit = nullptr;
  WaitUntil([&] { return (edit = ::FindWindowExW(window, nullptr, L"Edit", nullptr)) != nullptr; }, 5000);
  wchar_t text[512] = {};
  // WM_GETTEXT itself: GetWindowText does not ask a control of another process.
  if (edit) ::SendMessageW(edit, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  ClickControl(window, L::kAppIcon, dpi);  // focus away again
  return text;
}

TEST_F(WindowOptions, FolderPickerAndUnusableFolders) {
  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  EXPECT_EQ(ShownPath(window, dpi), DefaultInstallDir());

  ASSERT_TRUE(PickFolder(window, dpi, {L"(C:)"}));
  EXPECT_EQ(ShownPath(window, dpi), L"C:\\oku.compass");
  ASSERT_EQ(OutboxEvents("setup_ui_path_changed").size(), 1u);
  EXPECT_NE(OutboxEvents("setup_ui_path_changed")[0].find("[\"new_path\",\"C:\\\\oku.compass\"]"), std::string::npos);
  EXPECT_NE(OutboxEvents("setup_ui_path_changed")[0].find(Param("old_path", DefaultInstallDir())), std::string::npos);
  Snapshot("folder_picked");

  const bool haveDrives = std::getenv("OKU_DRIVE_R") && std::getenv("OKU_DRIVE_S");
  if (haveDrives) {
    struct Case {
      const wchar_t* item;
      const wchar_t* path;
      const char* shot;
    };
    for (const Case& c : {Case{L"(R:)", L"R:\\oku.compass", "unwritable_folder"},
                          Case{L"(S:)", L"S:\\oku.compass", "too_full_folder"}}) {
      SCOPED_TRACE(c.shot);
      ASSERT_TRUE(PickFolder(window, dpi, {c.item}));
      const Screen screen = Snapshot(c.shot);
      EXPECT_GT(CountReddish(screen, window, L::kInfoLabel, dpi), 40) << "no red message";
      EXPECT_GT(CountColour(screen, window, L::kTickBox, dpi, kGreen), 0);  // still laid out
      EXPECT_EQ(ShownPath(window, dpi), c.path);
      // The disabled install button looks faded and sends nothing.
      EXPECT_FALSE(InstallButtonShown(window, dpi)) << "looks like an enabled button";
      EXPECT_GT(CountColour(screen, window, L::kInstallButtonEdge, dpi, kFadedGreen), 80) << "button not shown";
      ClickControl(window, L::kInstallButton, dpi);
      ::Sleep(800);
      EXPECT_TRUE(OutboxEvents("setup_ui_click_install").empty());
      EXPECT_FALSE(ProgressBarShown(window, dpi));
    }
    // The red text is drawn with a font that has the Chinese glyphs (no boxes).
    const oku::MemoryDC dc(::CreateCompatibleDC(nullptr));
    const oku::GdiFont font(
        ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Microsoft YaHei"));
    const oku::SelectScope select(dc.get(), font.get());
    const std::wstring message = L"当前磁盘空间目录不足1G,请更换安装路径!";
    std::vector<WORD> glyphs(message.size());
    ::GetGlyphIndicesW(dc.get(), message.c_str(), static_cast<int>(message.size()), glyphs.data(),
                       GGI_MARK_NONEXISTING_GLYPHS);
    for (WORD glyph : glyphs) EXPECT_NE(glyph, 0xFFFF) << "a glyph would show as a box";
  } else {
    std::printf("drives R: and S: are not mapped (not root?); unusable folders not tried\n");
  }

  // A good pick clears the message and enables installing there.
  ASSERT_TRUE(PickFolder(window, dpi, {L"(C:)"}));
  EXPECT_LT(CountReddish(CaptureScreen(), window, L::kInfoLabel, dpi), 5);
  EXPECT_TRUE(InstallButtonShown(window, dpi)) << "the enabled look is not back";
  ClickControl(window, L::kInstallButton, dpi);
  EXPECT_TRUE(WaitUntil([&] { return ProgressBarShown(window, dpi) || !FindSetupWindow(); }, 30000));
  ExpectCompletion(setup, "picked_folder_installed");
  EXPECT_EQ(ReadProductValue(L"OkuInstallPath"), L"C:\\oku.compass");
  EXPECT_TRUE(PathExists(L"C:\\oku.compass\\oku.compass.exe"));
}

TEST_F(WindowChecks, RunningProductAnsweredNoThenYes) {
  InstallSilently();
  Program product(Quote(DefaultInstallDir() + L"\\oku.compass.exe"));
  ASSERT_TRUE(WaitUntil([] { return FindProductWindow() != nullptr; }, 60000));

  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);

  ClickControl(window, L::kInstallButton, dpi);
  auto box = oku::test::AnswerMessageBox(L"提示", IDNO, 30000);
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"oku 正在运行中，是否关闭并替换安装？");
  ::Sleep(800);
  EXPECT_TRUE(product.Running());
  EXPECT_TRUE(InstallButtonShown(window, dpi)) << "left the options view after No";

  ClickControl(window, L::kInstallButton, dpi);
  box = oku::test::AnswerMessageBox(L"提示", IDYES, 30000);
  ASSERT_TRUE(box.found);
  EXPECT_NE(product.Wait(30000), STILL_ACTIVE) << "the running product was not ended";
  ExpectCompletion(setup, "running_product_replaced");
}

TEST_F(WindowChecks, DowngradeIsRefused) {
  InstallSilently();
  const std::wstring installed = ReadProductValue(L"pv");
  ASSERT_FALSE(installed.empty());

  Program setup(Quote(VariantExe(L"OkuSetup_window_old.exe")));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  ClickControl(window, L::kInstallButton, dpi);
  ASSERT_TRUE(WaitUntil([] { return ::FindWindowW(L"#32770", L"提示") != nullptr; }, 30000));
  ::Sleep(300);
  Snapshot("downgrade_refused");
  const auto box = oku::test::AnswerMessageBox(L"提示", IDOK, 5000);
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"检测到已安装更高版本，暂不支持低版本安装！");
  ::Sleep(500);
  EXPECT_TRUE(InstallButtonShown(window, dpi));
  EXPECT_FALSE(ProgressBarShown(window, dpi));
  EXPECT_EQ(ReadProductValue(L"pv"), installed);
  ClickControl(window, L::kCloseButton, dpi);
  EXPECT_EQ(setup.Wait(60000), 0u);
}

TEST_F(WindowChecks, EarlierInstallationElsewhereIsRemoved) {
  const std::wstring old = L"C:\\users\\Public\\Earlier\\Application";
  InstallSilently(old);
  ASSERT_TRUE(PathExists(old + L"\\oku.compass.exe"));
  ASSERT_EQ(ReadProductValue(L"OkuInstallPath"), old);

  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  EXPECT_EQ(ShownPath(window, dpi), old) << "the recorded directory is offered";
  ASSERT_TRUE(PickFolder(window, dpi, {L"(C:)"}));
  ClickControl(window, L::kInstallButton, dpi);
  ExpectCompletion(setup, "earlier_installation_replaced");
  const auto clicked = OutboxEvents("setup_ui_click_install");
  ASSERT_EQ(clicked.size(), 1u);
  EXPECT_NE(clicked[0].find(Param("install_path", L"C:\\oku.compass")), std::string::npos) << clicked[0];
  EXPECT_NE(clicked[0].find(Param("is_override", L"true")), std::string::npos) << clicked[0];
  EXPECT_FALSE(PathExists(old + L"\\oku.compass.exe")) << "the earlier installation is still there";
  EXPECT_EQ(ReadProductValue(L"OkuInstallPath"), L"C:\\oku.compass");
  EXPECT_TRUE(PathExists(L"C:\\oku.compass\\oku.compass.exe"));
}

TEST_F(WindowUpdate, UpdateModeReinstallsWithoutOptions) {
  InstallSilently();
  // An empty Run value stays empty unless the check box's choice were applied.
  {
    oku::RegKey run;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr,
                                0, KEY_SET_VALUE, nullptr, run.put(), nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(run.get(), L"oku.compass", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
  }
  Program product(Quote(DefaultInstallDir() + L"\\oku.compass.exe"));
  ASSERT_TRUE(WaitUntil([] { return FindProductWindow() != nullptr; }, 60000));

  Program setup(Quote(SetupExe()) + L" update");
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  EXPECT_NE(product.Wait(30000), STILL_ACTIVE) << "the running product was not ended";
  const Screen screen = Snapshot("update_mode");
  if (FindSetupWindow()) {
    EXPECT_LT(LongestRun(screen, window, L::kInstallButtonEdge, dpi, kGreen), 40) << "install button shown";
    EXPECT_LT(CountColour(screen, window, L::kTickBox, dpi, kGreen), 5) << "check box shown";
  }
  ExpectCompletion(setup, "update_mode_completed");
  const auto value = oku::test::QueryRegistryValue(
      HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"oku.compass");
  EXPECT_TRUE(value.present);
  EXPECT_EQ(value.AsString(), L"");
  EXPECT_TRUE(OutboxEvents("setup_ui_click_install").empty());
  const auto initialized = OutboxEvents("setup_ui_window_initialized");
  ASSERT_EQ(initialized.size(), 1u);
  EXPECT_NE(initialized[0].find(Param("is_update_mode", L"true")), std::string::npos) << initialized[0];
}

TEST_F(WindowInstance, SecondInstallerBringsTheWindowBack) {
  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  ::SetWindowPos(window, nullptr, 3, 3, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Program second(Quote(SetupExe()));
  EXPECT_EQ(second.Wait(60000), 1618u) << "a refused start is not a success";
  RECT rect{};
  ::GetWindowRect(window, &rect);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_NEAR((rect.left + rect.right) / 2, (work.left + work.right) / 2, 2);
  EXPECT_NEAR((rect.top + rect.bottom) / 2, (work.top + work.bottom) / 2, 2);
  EXPECT_EQ(::GetForegroundWindow(), window);
  EXPECT_TRUE(setup.Running());
  Snapshot("second_instance");
  ClickControl(window, L::kCloseButton, dpi);
  EXPECT_EQ(setup.Wait(60000), 0u);
}

TEST_F(WindowHighDpi, LaidOutFor144Dpi) {
  SetLogPixels(144);
  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  RECT rect{};
  ::GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 960);
  EXPECT_EQ(rect.bottom - rect.top, 690);
  const int dpi = WindowDpi(window);
  ASSERT_EQ(dpi, 144);
  const Screen screen = Snapshot("dpi_144");
  EXPECT_NEAR(LongestRun(screen, window, L::kInstallButtonEdge, dpi, kGreen), 154, 4);  // 104 wide, scaled
  EXPECT_GT(CountColour(screen, window, L::kTickBox, dpi, kGreen), 60);
  // The title band drags the window over its whole scaled height (60 pixels).
  RECT before{};
  ::GetWindowRect(window, &before);
  const POINT grip = CentreOf(window, Area{0, 30, 560, 40}, dpi);
  ASSERT_GT(grip.y - before.top, 40);
  Drag(grip, POINT{grip.x + 50, grip.y + 30});
  RECT after{};
  WaitUntil([&] {
    ::GetWindowRect(window, &after);
    return after.left != before.left;
  }, 5000);
  EXPECT_EQ(after.left - before.left, 50);
  EXPECT_EQ(after.top - before.top, 30);
  // The toggle and the close button at their scaled places.
  ClickControl(window, L::kCheckBox, dpi);
  EXPECT_TRUE(WaitUntil([] { return OutboxEvents("setup_ui_toggle_autostart").size() == 1; }, 10000));
  ClickControl(window, L::kCloseButton, dpi);
  EXPECT_EQ(setup.Wait(60000), 0u);
}

TEST_F(WindowFailure, FailingProductInstallerShowsItsCodeAndEndsWithIt) {
  Program setup(Quote(SetupExe()), {{L"OKU_DEMO_INSTALLER_EXIT_CODE", L"7"}});
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  ASSERT_TRUE(InstallAndAwaitFailure(window, dpi)) << "no failure view";
  Snapshot("failure_view");
  EXPECT_FALSE(ProgressBarShown(window, dpi));
  const auto failed = OutboxEvents("setup_installer_failed");
  ASSERT_FALSE(failed.empty());
  EXPECT_NE(failed.back().find("[\"error_code\",\"7\"]"), std::string::npos) << failed.back();
  EXPECT_TRUE(OutboxEvents("setup_complete_installation").empty());
  ExpectFailureEnd(setup, window, dpi, 7);
  EXPECT_TRUE(oku::test::ReadFileBytes(DefaultInstallDir() + L"\\oku_install.log").size() > 0)
      << "the log is where the message said";
}

TEST_F(WindowFailure, FailureBeforeTheProductInstallerShowsItsCode) {
  // A folder where an install file must go: writing the install files fails (1001).
  const std::wstring dir = DefaultInstallDir();
  ASSERT_EQ(::SHCreateDirectoryExW(nullptr, (dir + L"\\dockit.dll").c_str(), nullptr), ERROR_SUCCESS);
  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  ASSERT_TRUE(InstallAndAwaitFailure(window, dpi)) << "stuck in the progress view";
  Snapshot("failure_before_product_installer");
  EXPECT_EQ(SessionLogText().find(L"mini_installer.exe 进程创建成功"), std::wstring::npos)
      << "the product installer ran";
  EXPECT_EQ(OutboxEvents("setup_extract_install_files_failed").size(), 1u);
  ExpectFailureEnd(setup, window, dpi, 1001);
}

TEST_F(WindowFailure, ClearedAutoStartBoxLeavesNoRunValue) {
  Program setup(Quote(SetupExe()));
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  ClickControl(window, L::kCheckBox, dpi);
  ASSERT_TRUE(WaitUntil([&] { return CountColour(CaptureScreen(), window, L::kTickBox, dpi, kGreen) < 5; }, 10000));
  ClickControl(window, L::kInstallButton, dpi);
  ExpectCompletion(setup, "installed_without_autostart");
  EXPECT_EQ(ReadProductValue(L"OkuInstallPath"), DefaultInstallDir());
  wchar_t value[512] = {};
  DWORD bytes = sizeof(value);
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"oku.compass",
                           RRF_RT_REG_SZ, nullptr, value, &bytes),
            ERROR_FILE_NOT_FOUND)
      << "Run value: " << oku::Utf8FromWide(value);
  const auto done = OutboxEvents("setup_complete_installation");
  ASSERT_EQ(done.size(), 1u);
  EXPECT_NE(done[0].find("[\"auto_launch\",\"false\"]"), std::string::npos) << done[0];
}

// Administrator mode (update mode over a recorded installation this user cannot write) goes
// through the elevated copy script, whose outcome is judged: here the copy cannot write either, so
// the run fails with the script's code instead of passing for a success.
TEST_F(WindowFailure, AdministratorModeOutcomeIsJudged) {
  if (!std::getenv("OKU_DRIVE_R")) GTEST_SKIP() << "drive R: is not mapped (mounting needs root)";
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Oku.compass", L"OkuInstallPath", REG_SZ, L"R:\\locked",
                              sizeof(L"R:\\locked")),
            ERROR_SUCCESS);
  Program setup(Quote(SetupExe()) + L" update");
  HWND window = Open(setup);
  ASSERT_NE(window, nullptr);
  const int dpi = WindowDpi(window);
  ASSERT_TRUE(WaitUntil([&] { return CountReddish(CaptureScreen(), window, L::kInfoLabel, dpi) > 40; }, kInstallTimeout))
      << "the elevated installation was taken for a success";
  Snapshot("administrator_mode_failed");
  const std::wstring log = SessionLogText();
  EXPECT_NE(log.find(L"useAdministratorMode true"), std::wstring::npos);
  EXPECT_NE(log.find(L"管理员模式：安装脚本结束，退出码："), std::wstring::npos);
  EXPECT_EQ(FindProductWindow(), nullptr);
  ::SetForegroundWindow(window);
  ClickControl(window, L::kCloseButton, dpi);
  const DWORD code = setup.Wait(60000);
  EXPECT_NE(code, 0u);
  EXPECT_NE(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(ReadProductValue(L"OkuInstallPath"), L"R:\\locked") << "a reinstall keeps its records";
}

}  // namespace
