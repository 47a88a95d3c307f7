#include "ui/window_base.h"

#include <windowsx.h>

#include "common/message_box.h"
#include "common/paths.h"

namespace DuiLib {

// --- CWindowWnd ---

bool CWindowWnd::RegisterWindowClass() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = GetClassStyle();
  wc.lpfnWndProc = &CWindowWnd::WindowProc;
  wc.hInstance = CPaintManagerUI::GetInstance();
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = WindowClassName();
  if (::RegisterClassExW(&wc)) return true;
  return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CWindowWnd::Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, int x, int y,
                        int cx, int cy, HMENU hMenu) {
  if (!RegisterWindowClass()) return nullptr;
  m_hWnd = ::CreateWindowExW(dwExStyle, WindowClassName(), pstrName, dwStyle, x, y, cx, cy, hwndParent, hMenu,
                             CPaintManagerUI::GetInstance(), this);
  return m_hWnd;
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  CWindowWnd* self = nullptr;
  if (uMsg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    self = static_cast<CWindowWnd*>(cs->lpCreateParams);
    if (self) {
      self->m_hWnd = hWnd;
      ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  } else {
    self = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (uMsg == WM_NCDESTROY && self) {
      const LRESULT result = ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
      ::SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
      self->m_hWnd = nullptr;
      self->OnFinalMessage(hWnd);  // may delete self
      return result;
    }
  }
  if (self) return self->HandleMessage(uMsg, wParam, lParam);
  return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::CenterWindow() {
  if (!::IsWindow(m_hWnd)) return;
  RECT rcWindow{};
  ::GetWindowRect(m_hWnd, &rcWindow);
  MONITORINFO mi{};
  mi.cbSize = sizeof(mi);
  ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
  const RECT area = mi.rcWork;
  RECT center = area;
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner && ::IsWindowVisible(owner)) ::GetWindowRect(owner, &center);
  const int width = rcWindow.right - rcWindow.left;
  const int height = rcWindow.bottom - rcWindow.top;
  int x = (center.left + center.right) / 2 - width / 2;
  int y = (center.top + center.bottom) / 2 - height / 2;
  if (x < area.left) {
    x = area.left;
  } else if (x + width > area.right) {
    x = area.right - width;
  }
  if (y < area.top) {
    y = area.top;
  } else if (y + height > area.bottom) {
    y = area.bottom - height;
  }
  ::SetWindowPos(m_hWnd, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWindowWnd::ShowWindow(bool bShow, bool bTakeFocus) {
  if (!::IsWindow(m_hWnd)) return;
  ::ShowWindow(m_hWnd, bShow ? (bTakeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

void CWindowWnd::Close(UINT nRet) {
  if (!::IsWindow(m_hWnd)) return;
  ::PostMessageW(m_hWnd, WM_CLOSE, static_cast<WPARAM>(nRet), 0);
}

void CWindowWnd::ResizeClient(int cx, int cy) {
  RECT rc{};
  if (!::GetClientRect(m_hWnd, &rc)) return;
  if (cx != -1) rc.right = cx;
  if (cy != -1) rc.bottom = cy;
  const DWORD style = static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
  ::AdjustWindowRectEx(&rc, style, ::GetMenu(m_hWnd) != nullptr, exStyle);
  ::SetWindowPos(m_hWnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT CWindowWnd::SendMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageW(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CWindowWnd::PostMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(m_hWnd, uMsg, wParam, lParam);
}

void CWindowWnd::SetIcon(UINT nRes) {
  HINSTANCE module = CPaintManagerUI::GetInstance();
  HICON big = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(nRes), IMAGE_ICON,
                                              ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                              LR_DEFAULTCOLOR | LR_SHARED));
  if (big) ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  HICON small = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(nRes), IMAGE_ICON,
                                                ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                LR_DEFAULTCOLOR | LR_SHARED));
  if (small) ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

// --- WindowImplBase ---

void WindowImplBase::OnFinalMessage(HWND hWnd) {
  (void)hWnd;
  m_PaintManager.RemovePreMessageFilter(this);
  m_PaintManager.RemoveNotifier(this);
}

void WindowImplBase::Notify(TNotifyUI& msg) {
  if (msg.sType == L"click") OnClick(msg);
}

void WindowImplBase::OnClick(TNotifyUI& msg) {
  if (!msg.pSender) return;
  const std::wstring& name = msg.pSender->GetName();
  if (name == L"closebtn") {
    Close(1);
  } else if (name == L"minbtn") {
    SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
  } else if (name == L"maxbtn") {
    SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  } else if (name == L"restorebtn") {
    SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
  }
}

LRESULT WindowImplBase::ResponseDefaultKeyEvent(WPARAM wParam) {
  if (wParam == VK_RETURN) return FALSE;
  if (wParam == VK_ESCAPE) {
    Close(1);
    return TRUE;
  }
  return FALSE;
}

LRESULT WindowImplBase::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) {
  (void)lParam;
  if (uMsg == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
    const LRESULT result = ResponseDefaultKeyEvent(wParam);
    bHandled = result != FALSE;
    return result;
  }
  return 0;
}

CControlUI* WindowImplBase::CreateControl(const wchar_t* pstrClass) {
  (void)pstrClass;
  return nullptr;
}

#define OKU_UNHANDLED_HOOK(name)                                                          \
  LRESULT WindowImplBase::name(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) { \
    (void)uMsg;                                                                           \
    (void)wParam;                                                                         \
    (void)lParam;                                                                         \
    bHandled = FALSE;                                                                     \
    return 0;                                                                             \
  }
OKU_UNHANDLED_HOOK(OnClose)
OKU_UNHANDLED_HOOK(OnDestroy)
OKU_UNHANDLED_HOOK(OnSetFocus)
OKU_UNHANDLED_HOOK(OnKillFocus)
OKU_UNHANDLED_HOOK(OnChar)
OKU_UNHANDLED_HOOK(OnKeyDown)
OKU_UNHANDLED_HOOK(OnMouseWheel)
OKU_UNHANDLED_HOOK(OnMouseHover)
OKU_UNHANDLED_HOOK(OnLButtonDown)
OKU_UNHANDLED_HOOK(OnLButtonUp)
OKU_UNHANDLED_HOOK(OnMouseMove)
OKU_UNHANDLED_HOOK(HandleCustomMessage)
#undef OKU_UNHANDLED_HOOK

LRESULT WindowImplBase::OnNcActivate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)lParam;
  if (::IsIconic(m_hWnd)) bHandled = FALSE;
  return wParam == 0 ? TRUE : FALSE;
}

LRESULT WindowImplBase::OnNcCalcSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)bHandled;
  if (wParam && ::IsZoomed(m_hWnd)) {
    auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    if (::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi)) {
      RECT& client = params->rgrc[0];
      if (client.left < mi.rcWork.left) client.left = mi.rcWork.left;
      if (client.top < mi.rcWork.top) client.top = mi.rcWork.top;
      if (client.right > mi.rcWork.right) client.right = mi.rcWork.right;
      if (client.bottom > mi.rcWork.bottom) client.bottom = mi.rcWork.bottom;
    }
  }
  return 0;
}

LRESULT WindowImplBase::OnNcPaint(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)wParam;
  (void)lParam;
  (void)bHandled;
  return 0;
}

LRESULT WindowImplBase::OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)wParam;
  (void)bHandled;
  POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  ::ScreenToClient(m_hWnd, &pt);
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  if (!::IsZoomed(m_hWnd)) {
    const RECT box = m_PaintManager.GetSizeBox();
    const bool top = pt.y < client.top + box.top;
    const bool bottom = pt.y >= client.bottom - box.bottom;
    const bool left = pt.x < client.left + box.left;
    const bool right = pt.x >= client.right - box.right;
    if (top) return left ? HTTOPLEFT : (right ? HTTOPRIGHT : HTTOP);
    if (bottom) return left ? HTBOTTOMLEFT : (right ? HTBOTTOMRIGHT : HTBOTTOM);
    if (left) return HTLEFT;
    if (right) return HTRIGHT;
  }
  // The caption band is l,t,r,b in client coordinates; buttons and edits in it stay clickable.
  const RECT caption = m_PaintManager.GetCaptionRect();
  if (::PtInRect(&caption, pt)) {
    CControlUI* control = m_PaintManager.FindControl(pt);
    if (control && !control->GetInterface(L"Button") && !control->GetInterface(L"Edit")) return HTCAPTION;
  }
  return HTCLIENT;
}

LRESULT WindowImplBase::OnGetMinMaxInfo(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)wParam;
  auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
  MONITORINFO mi{};
  mi.cbSize = sizeof(mi);
  if (::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi)) {
    info->ptMaxPosition = POINT{mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top};
    info->ptMaxSize = POINT{mi.rcWork.right - mi.rcWork.left, mi.rcWork.bottom - mi.rcWork.top};
  }
  const SIZE minimum = m_PaintManager.GetMinInfo();
  if (minimum.cx > 0) info->ptMinTrackSize.x = minimum.cx;
  if (minimum.cy > 0) info->ptMinTrackSize.y = minimum.cy;
  const SIZE maximum = m_PaintManager.GetMaxInfo();
  if (maximum.cx > 0) info->ptMaxTrackSize.x = maximum.cx;
  if (maximum.cy > 0) info->ptMaxTrackSize.y = maximum.cy;
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)wParam;
  (void)lParam;
  const SIZE round = m_PaintManager.GetRoundCorner();
  if (!::IsIconic(m_hWnd) && (round.cx != 0 || round.cy != 0)) {
    RECT rc{};
    ::GetWindowRect(m_hWnd, &rc);
    oku::GdiRegion region(
        ::CreateRoundRectRgn(0, 0, rc.right - rc.left + 1, rc.bottom - rc.top + 1, round.cx, round.cy));
    // The window owns the region once SetWindowRgn succeeds.
    if (region && ::SetWindowRgn(m_hWnd, region.get(), TRUE)) (void)region.release();
  }
  bHandled = FALSE;
  return 0;
}

LRESULT WindowImplBase::OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  if ((wParam & 0xFFF0) == SC_CLOSE) {
    bHandled = TRUE;
    SendMessage(WM_CLOSE);
    return 0;
  }
  const BOOL wasZoomed = ::IsZoomed(m_hWnd);
  const LRESULT result = ::DefWindowProcW(m_hWnd, uMsg, wParam, lParam);
  if (::IsZoomed(m_hWnd) != wasZoomed) {
    const bool zoomed = !wasZoomed;
    if (CControlUI* maxButton = m_PaintManager.FindControl(L"maxbtn")) maxButton->SetVisible(!zoomed);
    if (CControlUI* restoreButton = m_PaintManager.FindControl(L"restorebtn")) restoreButton->SetVisible(zoomed);
  }
  return result;
}

LONG WindowImplBase::GetStyle() {
  LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
  style &= ~WS_CAPTION;
  style |= WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  return style;
}

LRESULT WindowImplBase::OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled) {
  (void)uMsg;
  (void)wParam;
  (void)lParam;
  (void)bHandled;
  ::SetWindowLongW(m_hWnd, GWL_STYLE, GetStyle());
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  ::SetWindowPos(m_hWnd, nullptr, client.left, client.top, client.right - client.left, client.bottom - client.top,
                 SWP_FRAMECHANGED);

  m_PaintManager.Init(m_hWnd);
  m_PaintManager.AddPreMessageFilter(this);
  if (CPaintManagerUI::GetResourcePath().empty()) {
    CPaintManagerUI::SetResourcePath(oku::JoinPath(oku::ExecutableDirectory(), SkinFolderName()));
  }
  CDialogBuilder builder;
  CControlUI* root = builder.Create(SkinFileName(), L"", this, &m_PaintManager);
  if (!root) {
    ShowMessageBox(nullptr, L"加载资源文件失败", L"Duilib", MB_OK | MB_ICONERROR);
    ::ExitProcess(1);
  }
  m_PaintManager.AttachDialog(root);
  m_PaintManager.AddNotifier(this);
  InitWindow();
  return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  BOOL handled = TRUE;
  switch (uMsg) {
    case WM_CREATE: result = OnCreate(uMsg, wParam, lParam, handled); break;
    case WM_DESTROY: result = OnDestroy(uMsg, wParam, lParam, handled); break;
    case WM_SIZE: result = OnSize(uMsg, wParam, lParam, handled); break;
    case WM_SETFOCUS: result = OnSetFocus(uMsg, wParam, lParam, handled); break;
    case WM_KILLFOCUS: result = OnKillFocus(uMsg, wParam, lParam, handled); break;
    case WM_CLOSE: result = OnClose(uMsg, wParam, lParam, handled); break;
    case WM_GETMINMAXINFO: result = OnGetMinMaxInfo(uMsg, wParam, lParam, handled); break;
    case WM_NCCALCSIZE: result = OnNcCalcSize(uMsg, wParam, lParam, handled); break;
    case WM_NCHITTEST: result = OnNcHitTest(uMsg, wParam, lParam, handled); break;
    case WM_NCPAINT: result = OnNcPaint(uMsg, wParam, lParam, handled); break;
    case WM_NCACTIVATE: result = OnNcActivate(uMsg, wParam, lParam, handled); break;
    case WM_KEYDOWN: result = OnKeyDown(uMsg, wParam, lParam, handled); break;
    case WM_CHAR: result = OnChar(uMsg, wParam, lParam, handled); break;
    case WM_SYSCOMMAND: result = OnSysCommand(uMsg, wParam, lParam, handled); break;
    case WM_MOUSEMOVE: result = OnMouseMove(uMsg, wParam, lParam, handled); break;
    case WM_LBUTTONDOWN: result = OnLButtonDown(uMsg, wParam, lParam, handled); break;
    case WM_LBUTTONUP: result = OnLButtonUp(uMsg, wParam, lParam, handled); break;
    case WM_MOUSEWHEEL: result = OnMouseWheel(uMsg, wParam, lParam, handled); break;
    case WM_MOUSEHOVER: result = OnMouseHover(uMsg, wParam, lParam, handled); break;
    default: handled = FALSE; break;
  }
  if (handled) return result;

  handled = FALSE;
  result = HandleCustomMessage(uMsg, wParam, lParam, handled);
  if (handled) return result;
  LRESULT managed = 0;
  if (m_PaintManager.MessageHandler(uMsg, wParam, lParam, managed)) return managed;
  return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

}  // namespace DuiLib
