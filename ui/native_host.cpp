#include "ui/native_host.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "ui/controls.h"
#include "ui/render.h"
#include "ui/resource_cache.h"

namespace DuiLib {
namespace {

// Posted to the parent when the edit box loses the focus: the box goes once the focus change
// is over. Registered so it never collides with a window's own WM_USER range.
UINT HideEditMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"DuiLib.HideNativeEdit");
  return message;
}

}  // namespace

CNativeHostUI::CNativeHostUI(CResourceCacheUI& fonts) : m_fonts(fonts) {}

CNativeHostUI::~CNativeHostUI() = default;

void CNativeHostUI::ShowToolTip(CControlUI* hot, POINT mouse) {
  if (!hot || hot->GetToolTip().empty() || !m_hWndParent) return;
  if (!m_hwndTooltip) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    m_hwndTooltip.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                          WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                          CW_USEDEFAULT, CW_USEDEFAULT, m_hWndParent, nullptr,
                                          CResourceCacheUI::GetInstance(), nullptr));
    if (!m_hwndTooltip) return;
  }
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  ti.hwnd = m_hWndParent;
  ti.uId = 1;
  ti.rect = hot->GetPos();
  std::wstring text = hot->GetToolTip();
  ti.lpszText = text.data();
  ::SendMessageW(m_hwndTooltip.get(), m_bTooltipAdded ? TTM_SETTOOLINFOW : TTM_ADDTOOLW, 0,
                 reinterpret_cast<LPARAM>(&ti));
  m_bTooltipAdded = true;
  const int width = hot->GetToolTipWidth() > 0 ? std::min(hot->GetToolTipWidth(), 300) : 300;
  ::SendMessageW(m_hwndTooltip.get(), TTM_SETMAXTIPWIDTH, 0, width);
  POINT screen = mouse;
  ::ClientToScreen(m_hWndParent, &screen);
  ::SendMessageW(m_hwndTooltip.get(), TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x, screen.y + 20));
  ::SendMessageW(m_hwndTooltip.get(), TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void CNativeHostUI::HideToolTip() {
  if (!m_hwndTooltip || !m_bTooltipAdded) return;
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.hwnd = m_hWndParent;
  ti.uId = 1;
  ::SendMessageW(m_hwndTooltip.get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}

void CNativeHostUI::ShowEdit(CEditUI* edit) {
  if (!edit || !m_hWndParent) return;
  if (m_hwndEdit && m_pEditOwner == edit) {
    ::SetFocus(m_hwndEdit.get());
    return;
  }
  HideEdit();
  const RECT rc = edit->GetEditRect();
  const TFontInfo* font = m_fonts.GetFontInfo(edit->GetFont());
  DWORD style = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_LEFT;
  if (edit->IsReadOnly()) style |= ES_READONLY;
  if (edit->IsPasswordMode()) style |= ES_PASSWORD;
  if (edit->IsNumberOnly()) style |= ES_NUMBER;
  // A single-line EDIT draws from its top; centre a box of one text line in the text rectangle.
  const int lineHeight = std::min<int>(rc.bottom - rc.top, font->tm.tmHeight + 2);
  const int top = rc.top + (rc.bottom - rc.top - lineHeight) / 2;
  m_pEditOwner = edit;
  m_hwndEdit.reset(::CreateWindowExW(0, L"EDIT", edit->GetText().c_str(), style, rc.left, top, rc.right - rc.left,
                                     lineHeight, m_hWndParent, nullptr, CResourceCacheUI::GetInstance(), nullptr));
  if (!m_hwndEdit) {
    m_pEditOwner = nullptr;
    return;
  }
  m_editBrush.reset(::CreateSolidBrush(render::ToColorRef(edit->GetNativeEditBkColor())));
  ::SendMessageW(m_hwndEdit.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font->hFont.get()), TRUE);
  ::SendMessageW(m_hwndEdit.get(), EM_LIMITTEXT, static_cast<WPARAM>(std::max(0, edit->GetMaxChar())), 0);
  if (edit->IsPasswordMode()) ::SendMessageW(m_hwndEdit.get(), EM_SETPASSWORDCHAR, edit->GetPasswordChar(), 0);
  ::SetFocus(m_hwndEdit.get());
}

void CNativeHostUI::HideEdit() {
  if (!m_hwndEdit) return;
  oku::WindowHandle edit = std::move(m_hwndEdit);
  CEditUI* owner = std::exchange(m_pEditOwner, nullptr);
  if (::GetFocus() == edit.get() && m_hWndParent) ::SetFocus(m_hWndParent);
  edit.reset();
  if (owner) owner->Invalidate();
}

void CNativeHostUI::Reap(CControlUI* control) {
  if (m_pEditOwner && static_cast<CControlUI*>(m_pEditOwner) == control) HideEdit();
}

bool CNativeHostUI::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, DWORD defaultTextColor,
                                  DWORD defaultDisabledColor, LRESULT& lRes) {
  if (uMsg == HideEditMessage()) {
    if (m_hwndEdit && ::GetFocus() != m_hwndEdit.get()) HideEdit();
    lRes = 0;
    return true;
  }
  switch (uMsg) {
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (m_hwndEdit && reinterpret_cast<HWND>(lParam) == m_hwndEdit.get() && m_pEditOwner) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetBkColor(dc, render::ToColorRef(m_pEditOwner->GetNativeEditBkColor()));
        DWORD color = m_pEditOwner->IsEnabled() ? m_pEditOwner->GetTextColor() : m_pEditOwner->GetDisabledTextColor();
        if (color == 0) color = m_pEditOwner->IsEnabled() ? defaultTextColor : defaultDisabledColor;
        ::SetTextColor(dc, render::ToColorRef(color));
        lRes = reinterpret_cast<LRESULT>(m_editBrush.get());
        return true;
      }
      return false;
    case WM_COMMAND:
      if (m_hwndEdit && reinterpret_cast<HWND>(lParam) == m_hwndEdit.get()) {
        if (HIWORD(wParam) == EN_CHANGE && m_pEditOwner) {
          const int length = ::GetWindowTextLengthW(m_hwndEdit.get());
          std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
          text.resize(static_cast<std::size_t>(::GetWindowTextW(m_hwndEdit.get(), text.data(), length + 1)));
          m_pEditOwner->OnNativeTextChanged(text);
        } else if (HIWORD(wParam) == EN_KILLFOCUS) {
          ::PostMessageW(m_hWndParent, HideEditMessage(), 0, 0);
        }
        lRes = 0;
        return true;
      }
      return false;
    case WM_DESTROY:
      HideToolTip();
      return false;
    default:
      return false;
  }
}

}  // namespace DuiLib
