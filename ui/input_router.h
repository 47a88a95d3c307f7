// Routes one window's mouse and keyboard input to its controls: hit testing, hover (enter,
// leave and hover events, the tooltip), the pressed control under mouse capture, and the
// focused control.
#pragma once

#include <windows.h>

namespace DuiLib {

class CControlUI;
class CNativeHostUI;
class CPaintManagerUI;

class CInputRouterUI {
 public:
  // owner: the manager whose controls take part (controls of another are not hit);
  // native: the tooltip and the edit box. Both outlive this object.
  CInputRouterUI(const CPaintManagerUI& owner, CNativeHostUI& native);
  CInputRouterUI(const CInputRouterUI&) = delete;
  CInputRouterUI& operator=(const CInputRouterUI&) = delete;

  // The window whose input is routed.
  void Init(HWND window) { m_hWnd = window; }

  POINT GetMousePos() const { return m_ptLastMousePos; }
  CControlUI* GetFocus() const { return m_pFocus; }
  CControlUI* GetHotControl() const { return m_pEventHover; }
  CControlUI* GetClickTarget() const { return m_pEventClick; }

  // Gives the window the keyboard focus (unless it or the edit box has it) and moves the
  // control focus, with kill-focus and set-focus events; a hidden or disabled control or one of
  // another manager gets none.
  void SetFocus(CControlUI* control);
  // Drops every control it points to (a new tree).
  void Reset();
  // Drops control, which is going away.
  void Reap(CControlUI* control);

  // Mouse moves, leaves and hovers, left-button presses and releases, and key presses, hit tested
  // against root. Returns whether uMsg was handled, with its result.
  bool HandleMessage(CControlUI* root, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

 private:
  CControlUI* HitTest(CControlUI* root, POINT pt) const;
  void EventTo(CControlUI* control, int type, POINT pt, WPARAM wParam = 0, LPARAM lParam = 0);

  const CPaintManagerUI& m_owner;
  CNativeHostUI& m_native;
  HWND m_hWnd = nullptr;
  CControlUI* m_pFocus = nullptr;
  CControlUI* m_pEventHover = nullptr;
  CControlUI* m_pEventClick = nullptr;
  bool m_bMouseTracking = false;
  POINT m_ptLastMousePos{-1, -1};
};

}  // namespace DuiLib
