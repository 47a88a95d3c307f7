#include "setup/window/main_window.h"

#include <windows.h>
#include <windowsx.h>
#include <dwmapi.h>
#include <shlobj.h>

#include <string>

#include "common/handles.h"
#include "common/message_box.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/session_log.h"
#include "common/shortcuts.h"
#include "common/version_info.h"
#include "setup/install_records.h"
#include "setup/pipeline.h"
#include "setup/pre_install_checks.h"
#include "telemetry/event_reporter.h"
#include "resources/payload_ids.h"
#include "workspace/payload.h"

using DuiLib::CButtonUI;
using DuiLib::CContainerUI;
using DuiLib::CControlUI;
using DuiLib::CEditUI;
using DuiLib::CLabelUI;
using DuiLib::CPaintManagerUI;
using DuiLib::CProgressUI;
using DuiLib::TNotifyUI;
using oku::ToWide;
using oku::Utf8FromWide;

namespace {

constexpr UINT kWorkersEndedMessage = WM_APP + 1;     // posted when the last worker thread ended
constexpr UINT kShowOptionsViewMessage = WM_APP + 2;  // sent by a worker thread
constexpr UINT kInstallFailedMessage = WM_APP + 3;    // posted by a worker thread, wParam: the code
constexpr int kCaptionHeight = 40;                    // at 96 DPI, like the sizes below
constexpr int kMessageSpacerHeight = 16;              // "optionBlank" under a path message
constexpr int kCornerSize = 8;                        // the window region's corner ellipse
constexpr wchar_t kProductExe[] = L"oku.compass.exe";
constexpr wchar_t kCheckedImage[] = L"file='autostart_check_box_selected.png'";
constexpr wchar_t kUncheckedImage[] = L"file='autostart_check_box.png'";

struct ScaledSize {
  const wchar_t* name;
  int width;   // 0: left alone
  int height;  // 0: left alone
};

const ScaledSize kScaledSizes[] = {
    {L"topBlank", 0, 50},           {L"titleBarLayout", 0, 40},       {L"iconLayout", 0, 128},
    {L"appIcon", 128, 128},         {L"appNameBlank", 0, 13},         {L"appName", 0, 16},
    {L"installBtnBlank", 0, 32},    {L"installBtnLayout", 0, 40},     {L"installbtn", 104, 32},
    {L"installProgress", 296, 2},   {L"fileselectbtn", 24, 24},       {L"customOptionLayout", 0, 16},
    {L"autostartCheckboxLayout", 0, 16}, {L"customoptionbtn", 76, 16}, {L"autostart_checkbox", 92, 16},
    {L"customOptionBlank", 0, 14},  {L"pathInputContainer", 320, 32}, {L"pathinput", 280, 32},
    {L"pathInputLeftBlank", 8, 0},  {L"fileselectbtnLayout", 0, 32},  {L"closebtn", 40, 40},
    {L"minbtn", 40, 40},            {L"optionBlank", 0, 32},          {L"pathInputLayout", 0, 32},
};

const char* StateText(bool enabled) { return enabled ? "enabled" : "disabled"; }

void Report(const char* name, const EventParams& params) { EventReporter::Instance().Report(name, params); }

DWORD WINAPI PreInstallThreadEntry(LPVOID parameter) {
  CMainWindow& window = *static_cast<CMainWindow*>(parameter);
  const DWORD result = PreInstallThreadProc(window);
  window.WorkerEnded();  // last use of the window
  return result;
}

}  // namespace

CMainWindow::CMainWindow(bool isUpdateMode) : m_isUpdateMode(isUpdateMode) {}

CMainWindow::~CMainWindow() = default;

// The installer's only window: when it is gone the message loop ends.
void CMainWindow::OnFinalMessage(HWND hWnd) {
  WindowImplBase::OnFinalMessage(hWnd);
  ::PostQuitMessage(0);
}

void CMainWindow::InitWindow() {
  int dpiX = 96;
  int dpiY = 96;
  if (const oku::WindowDC dc(m_hWnd); dc) {
    dpiX = ::GetDeviceCaps(dc.get(), LOGPIXELSX);
    dpiY = ::GetDeviceCaps(dc.get(), LOGPIXELSY);
  }
  m_dpiX = dpiX;  // the resize below already rounds the corners for this DPI
  m_dpiY = dpiY;
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, ::MulDiv(640, dpiX, 96), ::MulDiv(460, dpiY, 96),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  m_workerNotifyWindow = m_hWnd;
  SetupControls(dpiX, dpiY);

  const InstallPathChoice startPath = GetInstallPathFromRegistry();
  m_customInstallPath = startPath.path;
  m_isPathFromRegistry = startPath.fromRegistry;
  ShowOptionsView();
  m_pCurve = std::make_unique<ProgressSimulator>(m_hWnd);
  Report("setup_ui_window_initialized", {{"is_update_mode", BoolText(m_isUpdateMode)}});

  if (m_isUpdateMode) {
    KillProcessByName(kProductExe);
    startProgress();
    StartInstallation(*this);
  }
}

void CMainWindow::SetupControls(int dpiX, int dpiY) {
  EnableWindowShadow();
  SetIcon(101);
  SetupFonts(dpiY);

  m_pInstallBtn = dynamic_cast<CButtonUI*>(Find(L"installbtn"));
  m_pPathInput = dynamic_cast<CEditUI*>(Find(L"pathinput"));
  m_pFileSelectBtn = dynamic_cast<CButtonUI*>(Find(L"fileselectbtn"));
  m_pProgressText = dynamic_cast<CLabelUI*>(Find(L"progressText"));
  m_pInstallProgress = dynamic_cast<CProgressUI*>(Find(L"installProgress"));
  m_pPathInputContainer = dynamic_cast<CContainerUI*>(Find(L"pathInputContainer"));
  m_pAutoStart = dynamic_cast<CButtonUI*>(Find(L"autostart_checkbox"));

  ScaleControlsForDpi(dpiX, dpiY);
  if (CControlUI* custom = Find(L"customoptionbtn")) custom->SetVisible(false);
  if (m_pPathInput) m_pPathInput->SetReadOnly(true);
  UpdateAutoStartCheckbox();
  if (m_pInstallProgress) {
    m_pInstallProgress->SetHorizontal(true);
    m_pInstallProgress->SetForeImage(L"color='#FF079D55'");
  }
  if (CControlUI* root = m_PaintManager.GetRoot()) root->SetBkImage(L"file='background.png'");
}

void CMainWindow::SetupFonts(int dpi) {
  LogInfo(L"设置字体，dpi 为：" + ToWide(dpi));
  m_PaintManager.AddFont(1, L"Microsoft YaHei", ::MulDiv(14, dpi, 96), true, false, false, false);
  m_PaintManager.AddFont(2, L"Microsoft YaHei", ::MulDiv(12, dpi, 96), false, false, false, false);
}

void CMainWindow::ScaleControlsForDpi(int dpiX, int dpiY) {
  m_dpiX = dpiX;
  m_dpiY = dpiY;
  for (const ScaledSize& row : kScaledSizes) {
    CControlUI* control = Find(row.name);
    if (!control) continue;
    if (row.width) control->SetFixedWidth(::MulDiv(row.width, dpiX, 96));
    if (row.height) control->SetFixedHeight(::MulDiv(row.height, dpiY, 96));
  }
}

void CMainWindow::EnableWindowShadow() {
  LogInfo(L"设置阴影！");
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 0;
  version.wServicePackMajor = 0;
  DWORDLONG mask = 0;
  mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = ::VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  if (!::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask)) {
    LogInfo(L"当前系统不是Windows Vista或更高版本");
    return;
  }
  BOOL composition = FALSE;
  const HRESULT query = ::DwmIsCompositionEnabled(&composition);
  if (SUCCEEDED(query) && composition) {
    const MARGINS margins{1, 1, 1, 1};
    const HRESULT extended = ::DwmExtendFrameIntoClientArea(m_hWnd, &margins);
    if (FAILED(extended)) LogInfo(L"调用 DwmExtendFrameIntoClientArea API 失败，错误代码:" + ToWide(extended));
  } else {
    LogInfo(L"无法调用 DwmExtendFrameIntoClientArea API ，错误代码：" + ToWide(query));
  }
}

void CMainWindow::UpdateAutoStartCheckbox() {
  if (!m_pAutoStart) {
    LogInfo(L"m_pAutoStart is not find");
    return;
  }
  if (m_isUpdateMode) {
    m_pAutoStart->SetVisible(false);
    return;
  }
  LogInfo(L"m_pAutoStart visible");
  m_pAutoStart->SetVisible(true);
  m_pAutoStart->SetBkImage(m_isAutoStart ? kCheckedImage : kUncheckedImage);
}

void CMainWindow::SetVisibleIfFound(const wchar_t* name, bool visible, const wchar_t* logLine) {
  CControlUI* control = Find(name);
  if (!control) return;
  control->SetVisible(visible);
  if (logLine) LogInfo(logLine);
}

void CMainWindow::Relayout() {
  m_PaintManager.NeedUpdate();
  ::UpdateWindow(m_hWnd);
}

void CMainWindow::ShowOptionsView() {
  // The toolkit belongs to the window's thread; the pre-check thread's call is carried there.
  if (m_hWnd && ::GetWindowThreadProcessId(m_hWnd, nullptr) != ::GetCurrentThreadId()) {
    ::SendMessageW(m_hWnd, kShowOptionsViewMessage, 0, 0);
    return;
  }
  ShowOptionsViewOnWindowThread();
}

void CMainWindow::ShowOptionsViewOnWindowThread() {
  SetVisibleIfFound(L"closebtn", true, L"显示关闭按钮");
  SetVisibleIfFound(L"minbtn", true, L"显示最小化按钮");
  if (m_pInstallBtn) {
    m_pInstallBtn->SetVisible(true);
    LogInfo(L"显示安装按钮");
  }
  if (m_pFileSelectBtn) {
    m_pFileSelectBtn->SetVisible(true);
    LogInfo(L"显示文件选择按钮");
  }
  if (m_pInstallProgress) {
    m_pInstallProgress->SetVisible(false);
    LogInfo(L"隐藏进度条");
  }
  if (m_pProgressText) {
    m_pProgressText->SetVisible(false);
    LogInfo(L"隐藏进度文本");
  }
  if (m_pPathInputContainer) {
    m_pPathInputContainer->SetVisible(true);
    LogInfo(L"m_pPathInputContainer visible");
  }
  if (m_pPathInput) {
    m_pPathInput->SetText(m_customInstallPath);
    m_pPathInput->SetVisible(true);
    LogInfo(L"m_pPathInput visible");
  }
  if (m_pAutoStart && !m_pAutoStart->IsVisible()) UpdateAutoStartCheckbox();
  Relayout();
}

void CMainWindow::startProgress() {
  if (!m_pInstallBtn || !m_pInstallProgress) return;
  LogInfo(L"startProgress");
  SetVisibleIfFound(L"closebtn", false, L"隐藏关闭按钮");
  SetVisibleIfFound(L"minbtn", false, L"隐藏最小化按钮");
  m_pInstallBtn->SetVisible(false);
  LogInfo(L"隐藏安装按钮");
  if (m_pFileSelectBtn) {
    m_pFileSelectBtn->SetVisible(false);
    LogInfo(L"隐藏文件选择按钮");
  }
  SetVisibleIfFound(L"customoptionbtn", false);
  if (m_pPathInput) m_pPathInput->SetVisible(false);
  if (m_pPathInputContainer) m_pPathInputContainer->SetVisible(false);
  if (m_pAutoStart) m_pAutoStart->SetVisible(false);
  m_pInstallProgress->SetValue(0);
  m_pInstallProgress->SetVisible(true);
  LogInfo(L"显示进度条");
  if (m_pProgressText) {
    m_pProgressText->SetText(L"0%");
    m_pProgressText->SetVisible(true);
    LogInfo(L"显示进度文本");
  }
  Relayout();
  if (m_pCurve) m_pCurve->Start();
  m_installStartTick = ::GetTickCount64();
}

void CMainWindow::Notify(TNotifyUI& msg) {
  if (msg.sType != L"click" || !msg.pSender || msg.pSender->GetName().empty()) {
    WindowImplBase::Notify(msg);
    return;
  }
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"customoptionbtn") {
    LogInfo(L"OnCustomOptionBtnClick");
    ShowOptionsView();
  } else if (name == L"fileselectbtn") {
    Report("setup_ui_click_select_folder", {{"current_path", Utf8FromWide(m_customInstallPath)}});
    SelectInstallFolder();
  } else if (name == L"closebtn") {
    Report("setup_ui_click_close", {{"action", "close"}});
    Close(1);
  } else if (name == L"minbtn") {
    Report("setup_ui_click_minimize", {{"action", "minimize"}});
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == L"installbtn") {
    Report("setup_ui_click_install", {{"install_path", Utf8FromWide(m_customInstallPath)},
                                      {"auto_start", BoolText(m_isAutoStart)},
                                      {"is_override", BoolText(m_isPathFromRegistry)}});
    OnInstallBtnClick();
  } else if (name == L"autostart_checkbox") {
    const bool previous = m_isAutoStart;
    ToggleAutoStart();
    Report("setup_ui_toggle_autostart", {{"previous_state", StateText(previous)}, {"new_state", StateText(m_isAutoStart)}});
  } else {
    WindowImplBase::Notify(msg);
  }
}

void CMainWindow::ToggleAutoStart() {
  if (!m_pAutoStart) return;
  m_isAutoStart = !m_isAutoStart;
  m_pAutoStart->SetBkImage(m_isAutoStart ? kCheckedImage : kUncheckedImage);
  LogInfo(L"m_isAutoStart: " + ToWide(m_isAutoStart ? 1 : 0));
}

void CMainWindow::SelectInstallFolder() {
  BROWSEINFOW info{};
  info.hwndOwner = m_hWnd;
  info.lpszTitle = L"Oku.compass 安装路径";
  info.ulFlags = 0x41;  // BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE
  const oku::CoTaskMemory<PIDLIST_ABSOLUTE> selection(::SHBrowseForFolderW(&info));
  if (!selection) {
    Report("setup_ui_select_folder_cancelled", {{"action", "cancelled"}});
    return;
  }
  wchar_t path[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(selection.get(), path)) return;

  std::wstring chosen = path;
  if (!chosen.empty() && chosen.back() == L'\\') chosen.pop_back();
  const std::wstring directory = oku::FormatWide(L"%ls%ls", chosen.c_str(), L"\\oku.compass");
  Report("setup_ui_path_changed", {{"old_path", Utf8FromWide(m_customInstallPath)}, {"new_path", Utf8FromWide(directory)}});
  m_customInstallPath = directory;
  if (m_pInstallBtn) m_pInstallBtn->SetEnabled(true);
  if (m_pPathInput) m_pPathInput->SetText(directory);
  ValidateInstallPath();
}

bool CMainWindow::ValidateInstallPath() {
  auto* info = dynamic_cast<CLabelUI*>(Find(L"infoLabel"));
  CControlUI* blank = Find(L"optionBlank");
  if (info) {
    info->SetVisible(false);
    info->SetText(L"");
  }
  const wchar_t* problem = nullptr;
  if (!HasInstallPermission(m_customInstallPath)) {
    LogInfo(L"No permission to install.");
    problem = L"您选择的文件夹没有权限写入,请更换安装路径!";
  } else if (checkDiskSpace(m_customInstallPath.c_str())) {
    LogInfo(L"Disk space is less than 1G.");
    problem = L"当前磁盘空间目录不足1G,请更换安装路径!";
  } else {
    if (blank) blank->SetFixedHeight(::MulDiv(32, m_dpiY, 96));
    return true;
  }
  if (info) {
    info->SetText(problem);
    info->SetVisible(true);
    info->SetTextColor(0xFFFF0000);
  }
  if (m_pInstallBtn) m_pInstallBtn->SetEnabled(false);
  ShowMessageSpacer();
  return false;
}

// The narrower gap under "infoLabel" while it shows a message.
void CMainWindow::ShowMessageSpacer() {
  if (CControlUI* blank = Find(L"optionBlank")) {
    blank->SetFixedHeight(::MulDiv(kMessageSpacerHeight, m_dpiY, 96));
    blank->SetVisible(true);
  }
}

void CMainWindow::OnInstallBtnClick() {
  if (!CheckUninstallerNotRunning() || !CheckProductNotRunning()) return;

  const std::wstring workingDir = GetWorkingDirectory();
  if (!::CreateDirectoryW(workingDir.c_str(), nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) LogInfo(L"创建临时目录失败: " + workingDir + L", 错误码: " + ToWide(error));
  }
  const std::wstring installer = oku::JoinPath(workingDir, L"mini_installer.exe");
  if (oku::FileExists(installer)) {
    LogInfo(L"mini_installer.exe 已存在于临时目录，跳过解压: " + installer);
  } else {
    LogInfo(L"mini_installer.exe 不存在，开始解压到临时目录: " + workingDir);
    if (ExtractResource(CPaintManagerUI::GetInstance(), payload::kMiniInstallerExe.id, installer)) {
      LogInfo(L"mini_installer.exe 已解压到临时目录: " + workingDir);
    } else {
      LogInfo(L"解压 mini_installer.exe 到临时目录失败，将使用当前 EXE 的版本号");
    }
  }

  if (IsDowngrade(*this)) {
    ShowMessageBox(m_hWnd, L"检测到已安装更高版本，暂不支持低版本安装！", L"提示", MB_OK | MB_ICONERROR);
    return;
  }
  if (!ValidateInstallPath()) {
    LogInfo(L"安装路径不可用，取消安装");
    return;
  }
  startProgress();

  WorkerStarting();
  if (oku::StartThread(PreInstallThreadEntry, this)) {
    LogInfo(L"预处理线程创建成功");
  } else {
    WorkerEnded();
    LogInfo(L"创建线程失败，直接进入检查注册表阶段！");
    CheckRegistryAndInstall(*this);
  }
}

std::wstring CMainWindow::GetWorkingDirectory() {
  if (!m_workingDir.empty()) return m_workingDir;
  const std::wstring fallback = oku::FormatWide(L"%ls\\.OkuSetupTemp", oku::ExecutableDirectory().c_str());
  LogWarning(L"⚠️ 使用降级临时目录路径: " + fallback);
  return fallback;
}

void CMainWindow::WorkerStarting() { ++m_activeWorkers; }

void CMainWindow::WorkerEnded() {
  // Once the count reaches 0 the window may close and window mode free it at any moment: read
  // what the notice needs before.
  const HWND window = m_workerNotifyWindow.load();
  if (--m_activeWorkers == 0 && window) ::PostMessageW(window, kWorkersEndedMessage, 0, 0);
}

void CMainWindow::InstallationFailed(int code) {
  const HWND window = m_workerNotifyWindow.load();
  if (window) ::PostMessageW(window, kInstallFailedMessage, static_cast<WPARAM>(static_cast<unsigned>(code)), 0);
}

void CMainWindow::SetExitCode(int code) { m_exitCode = code; }

// The progress stops short of 100 %, nothing is launched, and the options view comes back with
// the close and minimise buttons, the code and the log's place: the user may close or try again.
void CMainWindow::ShowFailureView(int code) {
  if (m_pCurve) m_pCurve->Stop();
  SetExitCode(code);
  const std::wstring logPath = GetFinalLogFilePath();
  LogError(L"安装失败，错误码: " + ToWide(static_cast<unsigned>(code)) + L"，日志: " + logPath);
  Report("setup_ui_installation_failed", {{"error_code", oku::ToNarrow(static_cast<unsigned>(code))},
                                          {"log_path", Utf8FromWide(logPath)}});
  ShowOptionsViewOnWindowThread();
  if (auto* info = dynamic_cast<CLabelUI*>(Find(L"infoLabel"))) {
    info->SetText(L"安装失败（错误码 " + ToWide(static_cast<unsigned>(code)) + L"），日志：" + logPath);
    info->SetTextColor(0xFFFF0000);
    info->SetVisible(true);
  }
  ShowMessageSpacer();
  Relayout();
}

LRESULT CMainWindow::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  switch (uMsg) {
    case kProgressMessage: {
      const int percent = static_cast<int>(wParam);
      if (m_pInstallProgress) m_pInstallProgress->SetValue(percent);
      if (m_pProgressText) m_pProgressText->SetText(oku::FormatWide(L"%d%%", percent));
      bHandled = TRUE;
      return 0;
    }
    case kProgressDoneMessage:
      SetExitCode(0);
      logRegistryValue();
      RenameDesktopShortcut(L"oku.compass", L"oku");
      Close(1);
      OnLaunchBtnClick(*this);
      bHandled = TRUE;
      return 0;
    case WM_NCLBUTTONDBLCLK:
      LogInfo(L"WM_NCLBUTTONDBLCLK");
      bHandled = TRUE;
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(wParam, lParam);
      return WindowImplBase::HandleCustomMessage(uMsg, wParam, lParam, bHandled);
    case WM_CLOSE:
      // Escape, Alt+F4, the system menu and the completion all arrive here. Window mode's cleanup
      // after the close unloads the reporter and deletes the working directory, which a running
      // pre-check or installation thread still uses: while one runs, the close waits for the last
      // of them to end.
      if (m_activeWorkers.load() > 0) {
        if (!m_closeDeferred) LogInfo(L"安装线程仍在运行，关闭窗口推迟到安装线程结束");
        m_closeDeferred = true;
        bHandled = TRUE;
        return 0;
      }
      m_closed = true;
      bHandled = FALSE;  // the default processing destroys the window
      return 0;
    case kWorkersEndedMessage:
      if (m_closeDeferred && m_activeWorkers.load() == 0) {
        m_closeDeferred = false;
        LogInfo(L"安装线程已结束，执行推迟的关闭");
        Close(1);
      }
      bHandled = TRUE;
      return 0;
    case kShowOptionsViewMessage:
      ShowOptionsViewOnWindowThread();
      bHandled = TRUE;
      return 0;
    case kInstallFailedMessage:
      ShowFailureView(static_cast<int>(wParam));
      bHandled = TRUE;
      return 0;
    default:
      return WindowImplBase::HandleCustomMessage(uMsg, wParam, lParam, bHandled);
  }
}

LRESULT CMainWindow::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
  LogInfo(L"Dpi 发生变化！");
  if (wParam == 0 || lParam == 0) {
    LogInfo(L"wParam 或者 lParam 无效！");
    return 0;
  }
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  if (!::SetWindowPos(m_hWnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                      suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE)) {
    LogInfo(L"调整窗口失败，直接返回！");
    return 0;
  }
  EnableWindowShadow();
  int dpiX = LOWORD(wParam);
  int dpiY = HIWORD(wParam);
  if (dpiX == 0 || dpiY == 0) {
    LogInfo(L"获取 dpi 值有问题，启用默认 dpi 值！");
    dpiX = 96;
    dpiY = 96;
  }
  ScaleControlsForDpi(dpiX, dpiY);
  SetupFonts(dpiY);
  ApplyRoundedRegion();  // the resize above rounded the corners for the old DPI
  Relayout();
  return 0;
}

LRESULT CMainWindow::OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)wParam;
  (void)bHandled;
  POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ::ScreenToClient(m_hWnd, &point);
  CControlUI* closeButton = Find(L"closebtn");
  CControlUI* minButton = Find(L"minbtn");
  if (!closeButton || !minButton) return HTCLIENT;
  if (point.y < ::MulDiv(kCaptionHeight, m_dpiY, 96) && !::PtInRect(&closeButton->GetPos(), point) &&
      !::PtInRect(&minButton->GetPos(), point)) {
    return HTCAPTION;
  }
  return HTCLIENT;
}

LRESULT CMainWindow::OnSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)wParam;
  (void)lParam;
  ApplyRoundedRegion();
  bHandled = FALSE;
  return 0;
}

void CMainWindow::ApplyRoundedRegion() {
  if (::IsIconic(m_hWnd)) return;
  RECT window{};
  ::GetWindowRect(m_hWnd, &window);
  oku::GdiRegion region(::CreateRoundRectRgn(0, 0, window.right - window.left + 1, window.bottom - window.top + 1,
                                             ::MulDiv(kCornerSize, m_dpiX, 96), ::MulDiv(kCornerSize, m_dpiY, 96)));
  // The window owns the region once SetWindowRgn succeeds.
  if (region && ::SetWindowRgn(m_hWnd, region.get(), TRUE)) (void)region.release();
}
