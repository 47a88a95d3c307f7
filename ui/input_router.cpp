#include "ui/input_router.h"

#include <windowsx.h>

#include <utility>

#include "ui/controls.h"
#include "ui/native_host.h"

namespace DuiLib {

CInputRouterUI::CInputRouterUI(const CPaintManagerUI& owner, CNativeHostUI& native)
    : m_owner(owner), m_native(native) {}

void CInputRouterUI::SetFocus(CControlUI* control) {
  if (m_hWnd) {
    HWND focused = ::GetFocus();
    HWND edit = m_native.GetEditWindow();
    if (focused != m_hWnd && (!edit || focused != edit)) ::SetFocus(m_hWnd);
  }
  if (control == m_pFocus) return;
  if (m_pFocus) {
    CControlUI* old = m_pFocus;
    m_pFocus = nullptr;
    EventTo(old, UIEVENT_KILLFOCUS, m_ptLastMousePos);
  }
  if (control && control->GetManager() == &m_owner && control->IsVisible() && control->IsEnabled()) {
    m_pFocus = control;
    EventTo(control, UIEVENT_SETFOCUS, m_ptLastMousePos);
  }
}

void CInputRouterUI::Reset() { m_pFocus = m_pEventHover = m_pEventClick = nullptr; }

void CInputRouterUI::Reap(CControlUI* control) {
  if (m_pFocus == control) m_pFocus = nullptr;
  if (m_pEventHover == control) m_pEventHover = nullptr;
  if (m_pEventClick == control) m_pEventClick = nullptr;
}

CControlUI* CInputRouterUI::HitTest(CControlUI* root, POINT pt) const {
  CControlUI* hit = root ? root->FindControlAt(pt) : nullptr;
  return hit && hit->GetManager() == &m_owner ? hit : nullptr;
}

void CInputRouterUI::EventTo(CControlUI* control, int type, POINT pt, WPARAM wParam, LPARAM lParam) {
  if (!control) return;
  TEventUI event;
  event.Type = type;
  event.pSender = control;
  event.dwTimestamp = ::GetTickCount();
  event.ptMouse = pt;
  event.chKey = static_cast<wchar_t>(wParam);
  event.wKeyState = static_cast<WORD>(wParam);
  event.wParam = wParam;
  event.lParam = lParam;
  control->Event(event);
}

bool CInputRouterUI::HandleMessage(CControlUI* root, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  switch (uMsg) {
    case WM_MOUSEMOVE: {
      if (!m_bMouseTracking) {
        TRACKMOUSEEVENT tme{sizeof(tme), TME_HOVER | TME_LEAVE, m_hWnd, HOVER_DEFAULT};
        m_bMouseTracking = ::TrackMouseEvent(&tme) != FALSE;
      }
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      CControlUI* hit = HitTest(root, pt);
      if (hit != m_pEventHover) {
        m_native.HideToolTip();
        if (CControlUI* old = std::exchange(m_pEventHover, hit)) EventTo(old, UIEVENT_MOUSELEAVE, pt, wParam, lParam);
        if (hit) EventTo(hit, UIEVENT_MOUSEENTER, pt, wParam, lParam);
      }
      if (m_pEventClick) {
        EventTo(m_pEventClick, UIEVENT_MOUSEMOVE, pt, wParam, lParam);
      } else if (m_pEventHover) {
        EventTo(m_pEventHover, UIEVENT_MOUSEMOVE, pt, wParam, lParam);
      }
      return false;
    }
    case WM_MOUSELEAVE: {
      m_bMouseTracking = false;
      m_native.HideToolTip();
      if (CControlUI* old = std::exchange(m_pEventHover, nullptr)) {
        EventTo(old, UIEVENT_MOUSELEAVE, m_ptLastMousePos, wParam, lParam);
      }
      return false;
    }
    case WM_MOUSEHOVER: {
      m_bMouseTracking = false;
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      if (m_pEventHover) {
        EventTo(m_pEventHover, UIEVENT_MOUSEHOVER, pt, wParam, lParam);
        m_native.ShowToolTip(m_pEventHover, m_ptLastMousePos);
      }
      lRes = 0;
      return true;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      ::SetFocus(m_hWnd);
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      m_native.HideToolTip();
      CControlUI* hit = HitTest(root, pt);
      if (!hit) return false;
      m_pEventClick = hit;
      hit->SetFocus();
      ::SetCapture(m_hWnd);
      if (m_pEventClick) {
        EventTo(m_pEventClick, uMsg == WM_LBUTTONDBLCLK ? UIEVENT_DBLCLICK : UIEVENT_BUTTONDOWN, pt, wParam, lParam);
      }
      return false;
    }
    case WM_LBUTTONUP: {
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      CControlUI* target = std::exchange(m_pEventClick, nullptr);
      if (::GetCapture() == m_hWnd) ::ReleaseCapture();
      if (target) EventTo(target, UIEVENT_BUTTONUP, pt, wParam, lParam);
      return false;
    }
    case WM_KEYDOWN:
      if (m_pFocus) EventTo(m_pFocus, UIEVENT_KEYDOWN, m_ptLastMousePos, wParam, lParam);
      return false;
    default:
      return false;
  }
}

}  // namespace DuiLib
