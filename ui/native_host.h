// The native windows a paint manager hosts over its drawn controls: the EDIT box of the edit
// control being typed into, and the tracking tooltip of the hot control.
#pragma once

#include <windows.h>

#include "common/handles.h"

namespace DuiLib {

class CControlUI;
class CEditUI;
class CResourceCacheUI;

class CNativeHostUI {
 public:
  // fonts: where the edit box's font comes from; outlives this object.
  explicit CNativeHostUI(CResourceCacheUI& fonts);
  ~CNativeHostUI();
  CNativeHostUI(const CNativeHostUI&) = delete;
  CNativeHostUI& operator=(const CNativeHostUI&) = delete;

  // The window the native windows are created in.
  void Init(HWND parent) { m_hWndParent = parent; }

  // --- the edit box ---
  HWND GetEditWindow() const { return m_hwndEdit.get(); }
  // Shows the box over edit's text rectangle, with its text, font and limits, and focuses it.
  void ShowEdit(CEditUI* edit);
  // Destroys the box (the parent takes back a focus it had) and repaints its control.
  void HideEdit();
  // Hides the box when control is the one it edits, which is going away.
  void Reap(CControlUI* control);

  // --- the tooltip ---
  // Shows hot's tooltip (if it has one) under the client point mouse.
  void ShowToolTip(CControlUI* hot, POINT mouse);
  void HideToolTip();
  void DestroyToolTip() { m_hwndTooltip.reset(); }

  // The parent's messages about the native windows: the edit box's colours (its text colour
  // falls back to defaultTextColor or defaultDisabledColor) and commands, the deferred removal of
  // the box, and the parent's destruction. Returns whether uMsg was handled, with its result.
  bool HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD defaultTextColor, DWORD defaultDisabledColor,
                     LRESULT& lRes);

 private:
  CResourceCacheUI& m_fonts;
  HWND m_hWndParent = nullptr;
  oku::WindowHandle m_hwndTooltip;
  bool m_bTooltipAdded = false;
  oku::WindowHandle m_hwndEdit;
  CEditUI* m_pEditOwner = nullptr;
  oku::GdiBrush m_editBrush;
};

}  // namespace DuiLib
