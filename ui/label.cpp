#include <algorithm>

#include "ui/controls.h"
#include "ui/paint_manager.h"
#include "ui/portable/layout.h"
#include "ui/portable/values.h"
#include "ui/render.h"

namespace DuiLib {
namespace {

RECT ToRect(const UiRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

RECT Deflate(const RECT& rc, const RECT& padding) {
  return RECT{rc.left + padding.left, rc.top + padding.top, rc.right - padding.right, rc.bottom - padding.bottom};
}

}  // namespace

// --- CLabelUI ---

void* CLabelUI::GetInterface(const std::wstring& name) {
  if (name == L"Label") return this;
  return CControlUI::GetInterface(name);
}

void CLabelUI::SetText(const std::wstring& text) {
  if (m_sText == text) return;
  m_bNeedEstimateSize = true;
  CControlUI::SetText(text);
}

void CLabelUI::SetTextStyle(UINT style) {
  m_uTextStyle = style;
  Invalidate();
}

void CLabelUI::SetTextColor(DWORD color) {
  m_dwTextColor = color;
  Invalidate();
}

void CLabelUI::SetDisabledTextColor(DWORD color) {
  m_dwDisabledTextColor = color;
  Invalidate();
}

void CLabelUI::SetFont(int index) {
  m_iFont = index;
  m_bNeedEstimateSize = true;
  Invalidate();
}

void CLabelUI::SetTextPadding(RECT rc) {
  m_rcTextPadding = rc;
  m_bNeedEstimateSize = true;
  Invalidate();
}

SIZE CLabelUI::EstimateSize(SIZE szAvailable) {
  if (m_cxyFixed.cx > 0 && m_cxyFixed.cy > 0) return m_cxyFixed;
  if (!m_pManager) return m_cxyFixed;
  if (!m_bNeedEstimateSize && szAvailable.cx == m_szAvailableLast.cx && szAvailable.cy == m_szAvailableLast.cy &&
      m_cxyFixed.cx == m_cxyFixedLast.cx && m_cxyFixed.cy == m_cxyFixedLast.cy) {
    return m_cxyFixedLastResult;
  }
  const TFontInfo* font = m_pManager->GetFontInfo(m_iFont);
  SIZE result = m_cxyFixed;
  if (result.cy == 0) result.cy = font->tm.tmHeight + 8 + m_rcTextPadding.top + m_rcTextPadding.bottom;
  if (result.cx == 0) {
    const SIZE text = render::MeasureText(m_pManager->GetMeasureDC(), font->hFont.get(), m_sText);
    result.cx = text.cx + m_rcTextPadding.left + m_rcTextPadding.right;
  }
  m_szAvailableLast = szAvailable;
  m_cxyFixedLast = m_cxyFixed;
  m_cxyFixedLastResult = result;
  m_bNeedEstimateSize = false;
  return result;
}

void CLabelUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"align") {
    TextAlign a{(m_uTextStyle & DT_CENTER) != 0, (m_uTextStyle & DT_RIGHT) != 0};
    a = ParseHorizontalAlign(value, a);
    m_uTextStyle &= ~(DT_LEFT | DT_CENTER | DT_RIGHT);
    if (a.center) m_uTextStyle |= DT_CENTER;
    if (a.right) m_uTextStyle |= DT_RIGHT;
    Invalidate();
  } else if (name == L"valign") {
    TextVAlign a{(m_uTextStyle & DT_VCENTER) != 0, (m_uTextStyle & DT_BOTTOM) != 0};
    a = ParseVerticalAlign(value, a);
    m_uTextStyle &= ~(DT_TOP | DT_VCENTER | DT_BOTTOM);
    if (a.vcenter) m_uTextStyle |= DT_VCENTER;
    if (a.bottom) m_uTextStyle |= DT_BOTTOM;
    Invalidate();
  } else if (name == L"font") {
    SetFont(ParseInteger(value));
  } else if (name == L"textcolor") {
    SetTextColor(ParseColor(value));
  } else if (name == L"disabledtextcolor") {
    SetDisabledTextColor(ParseColor(value));
  } else if (name == L"textpadding") {
    SetTextPadding(ToRect(ParseRect(value)));
  } else if (name == L"endellipsis") {
    if (ParseBool(value)) {
      m_uTextStyle |= DT_END_ELLIPSIS;
    } else {
      m_uTextStyle &= ~static_cast<UINT>(DT_END_ELLIPSIS);
    }
  } else if (name == L"multiline") {
    if (ParseBool(value)) {
      m_uTextStyle = (m_uTextStyle & ~static_cast<UINT>(DT_SINGLELINE)) | DT_WORDBREAK;
    } else {
      m_uTextStyle = (m_uTextStyle & ~static_cast<UINT>(DT_WORDBREAK)) | DT_SINGLELINE;
    }
  } else if (name == L"showhtml") {
    SetShowHtml(ParseBool(value));
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

DWORD CLabelUI::TextColorForPaint() {
  // Colour 0 means the paint manager's default, taken once at the first paint.
  if (m_dwTextColor == 0 && m_pManager) m_dwTextColor = m_pManager->GetDefaultFontColor();
  if (m_dwDisabledTextColor == 0 && m_pManager) m_dwDisabledTextColor = m_pManager->GetDefaultDisabledColor();
  return IsEnabled() ? m_dwTextColor : m_dwDisabledTextColor;
}

void CLabelUI::PaintText(HDC hDC) {
  const DWORD color = TextColorForPaint();
  if (m_sText.empty() || !m_pManager) return;
  render::DrawText(hDC, Deflate(m_rcItem, m_rcTextPadding), m_sText, color, m_pManager->GetFont(m_iFont),
                   m_uTextStyle);
}

// --- CButtonUI ---

CButtonUI::CButtonUI() { m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER; }

void* CButtonUI::GetInterface(const std::wstring& name) {
  if (name == L"Button") return this;
  return CLabelUI::GetInterface(name);
}

bool CButtonUI::Activate() {
  if (!CControlUI::Activate()) return false;
  if (m_pManager) m_pManager->SendNotify(this, L"click");
  return true;
}

void CButtonUI::SetEnabled(bool enabled) {
  CControlUI::SetEnabled(enabled);
  if (!enabled) m_uButtonState = 0;
}

void CButtonUI::DoEvent(TEventUI& event) {
  const auto inside = [&] { return ::PtInRect(&m_rcItem, event.ptMouse) != FALSE; };
  const UINT before = m_uButtonState;
  switch (event.Type) {
    case UIEVENT_SETFOCUS:
      m_uButtonState |= UISTATE_FOCUSED;
      break;
    case UIEVENT_KILLFOCUS:
      m_uButtonState &= ~UISTATE_FOCUSED;
      break;
    case UIEVENT_KEYDOWN:
      if (IsKeyboardEnabled() && IsEnabled() && (event.chKey == VK_SPACE || event.chKey == VK_RETURN)) Activate();
      return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (inside() && IsEnabled()) m_uButtonState |= UISTATE_PUSHED | UISTATE_CAPTURED;
      break;
    case UIEVENT_MOUSEMOVE:
      if (m_uButtonState & UISTATE_CAPTURED) {
        if (inside()) {
          m_uButtonState |= UISTATE_PUSHED;
        } else {
          m_uButtonState &= ~UISTATE_PUSHED;
        }
      }
      break;
    case UIEVENT_BUTTONUP:
      if (m_uButtonState & UISTATE_CAPTURED) {
        const bool activate = inside() && IsEnabled();
        m_uButtonState &= ~(UISTATE_PUSHED | UISTATE_CAPTURED);
        Invalidate();
        if (activate) Activate();
        return;
      }
      break;
    case UIEVENT_MOUSEENTER:
      if (inside() && IsEnabled()) m_uButtonState |= UISTATE_HOT;
      break;
    case UIEVENT_MOUSELEAVE:
      m_uButtonState &= ~UISTATE_HOT;
      break;
    default:
      break;
  }
  CLabelUI::DoEvent(event);
  if (before != m_uButtonState) Invalidate();
}

void CButtonUI::SetNormalImage(const std::wstring& d) {
  m_diNormal.Set(d);
  Invalidate();
}
void CButtonUI::SetHotImage(const std::wstring& d) {
  m_diHot.Set(d);
  Invalidate();
}
void CButtonUI::SetPushedImage(const std::wstring& d) {
  m_diPushed.Set(d);
  Invalidate();
}
void CButtonUI::SetFocusedImage(const std::wstring& d) {
  m_diFocused.Set(d);
  Invalidate();
}
void CButtonUI::SetDisabledImage(const std::wstring& d) {
  m_diDisabled.Set(d);
  Invalidate();
}

void CButtonUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"normalimage") {
    SetNormalImage(value);
  } else if (name == L"hotimage") {
    SetHotImage(value);
  } else if (name == L"pushedimage") {
    SetPushedImage(value);
  } else if (name == L"focusedimage") {
    SetFocusedImage(value);
  } else if (name == L"disabledimage") {
    SetDisabledImage(value);
  } else if (name == L"hottextcolor") {
    SetHotTextColor(ParseColor(value));
  } else if (name == L"pushedtextcolor") {
    SetPushedTextColor(ParseColor(value));
  } else if (name == L"focusedtextcolor") {
    SetFocusedTextColor(ParseColor(value));
  } else if (name == L"foreimage" || name == L"hotforeimage" || name == L"hotbkcolor" || name == L"fivestatusimage" ||
             name == L"fadedelta") {
    // Outside the subset.
  } else {
    CLabelUI::SetAttribute(name, value);
  }
}

void CButtonUI::PaintStatusImage(HDC hDC) {
  TDrawInfo* chosen = &m_diNormal;
  if (!IsEnabled()) {
    chosen = &m_diDisabled;
  } else if (m_uButtonState & UISTATE_PUSHED) {
    chosen = &m_diPushed;
  } else if (m_uButtonState & UISTATE_HOT) {
    chosen = &m_diHot;
  } else if (IsFocused()) {
    chosen = &m_diFocused;
  }
  // An empty or unloadable state image falls back to the normal one.
  if (chosen != &m_diNormal && DrawImage(hDC, *chosen)) return;
  DrawImage(hDC, m_diNormal);
}

void CButtonUI::PaintText(HDC hDC) {
  DWORD color = TextColorForPaint();
  if (IsEnabled()) {
    if ((m_uButtonState & UISTATE_PUSHED) && m_dwPushedTextColor != 0) {
      color = m_dwPushedTextColor;
    } else if ((m_uButtonState & UISTATE_HOT) && m_dwHotTextColor != 0) {
      color = m_dwHotTextColor;
    } else if (IsFocused() && m_dwFocusedTextColor != 0) {
      color = m_dwFocusedTextColor;
    }
  }
  if (m_sText.empty() || !m_pManager) return;
  render::DrawText(hDC, Deflate(m_rcItem, m_rcTextPadding), m_sText, color, m_pManager->GetFont(m_iFont),
                   m_uTextStyle);
}

// --- CEditUI ---

CEditUI::CEditUI() {
  m_rcTextPadding = RECT{4, 3, 4, 3};
  m_dwBackColor = 0xFFFFFFFF;
  m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
}

void* CEditUI::GetInterface(const std::wstring& name) {
  if (name == L"Edit") return this;
  return CLabelUI::GetInterface(name);
}

void CEditUI::SetText(const std::wstring& text) {
  CLabelUI::SetText(text);
  if (m_pManager && m_pManager->GetNativeEditWindow() && m_pManager->GetFocus() == this) {
    ::SetWindowTextW(m_pManager->GetNativeEditWindow(), m_sText.c_str());
  }
}

void CEditUI::SetReadOnly(bool readOnly) {
  m_bReadOnly = readOnly;
  if (m_pManager && m_pManager->GetNativeEditWindow() && m_pManager->GetFocus() == this) {
    ::SendMessageW(m_pManager->GetNativeEditWindow(), EM_SETREADONLY, readOnly ? TRUE : FALSE, 0);
  }
  Invalidate();
}

void CEditUI::SetPasswordMode(bool password) {
  m_bPasswordMode = password;
  Invalidate();
}

void CEditUI::SetMaxChar(int maxChar) {
  m_uMaxChar = maxChar;
  if (m_pManager && m_pManager->GetNativeEditWindow() && m_pManager->GetFocus() == this) {
    ::SendMessageW(m_pManager->GetNativeEditWindow(), EM_LIMITTEXT, static_cast<WPARAM>(std::max(0, maxChar)), 0);
  }
}

RECT CEditUI::GetEditRect() const { return Deflate(m_rcItem, m_rcTextPadding); }

void CEditUI::OnNativeTextChanged(const std::wstring& text) {
  if (text == m_sText) return;
  m_sText = text;
  m_bNeedEstimateSize = true;
  if (m_pManager) m_pManager->SendNotify(this, L"textchanged");
}

void CEditUI::SetEnabled(bool enabled) {
  CControlUI::SetEnabled(enabled);
  if (!enabled && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
}

void CEditUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CLabelUI::SetPos(rc, bNeedInvalidate);
  if (m_pManager && m_pManager->GetNativeEditWindow() && m_pManager->GetFocus() == this) {
    m_pManager->HideNativeEdit();
    m_pManager->ShowNativeEdit(this);
  }
}

void CEditUI::SetVisible(bool visible) {
  CLabelUI::SetVisible(visible);
  if (!visible && m_pManager && m_pManager->GetFocus() == this) m_pManager->SetFocus(nullptr);
}

void CEditUI::DoEvent(TEventUI& event) {
  switch (event.Type) {
    case UIEVENT_SETFOCUS:
      CLabelUI::DoEvent(event);
      if (IsEnabled() && m_pManager) m_pManager->ShowNativeEdit(this);
      return;
    case UIEVENT_KILLFOCUS:
      CLabelUI::DoEvent(event);
      if (m_pManager) m_pManager->HideNativeEdit();
      return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
      if (IsEnabled() && m_pManager) m_pManager->ShowNativeEdit(this);
      return;
    case UIEVENT_MOUSEENTER:
      if (IsEnabled()) m_bHot = true, Invalidate();
      return;
    case UIEVENT_MOUSELEAVE:
      if (m_bHot) m_bHot = false, Invalidate();
      return;
    default:
      CLabelUI::DoEvent(event);
  }
}

void CEditUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"readonly") {
    SetReadOnly(ParseBool(value));
  } else if (name == L"numberonly") {
    SetNumberOnly(ParseBool(value));
  } else if (name == L"password") {
    SetPasswordMode(ParseBool(value));
  } else if (name == L"autoselall") {
    m_bAutoSelAll = ParseBool(value);
  } else if (name == L"maxchar") {
    SetMaxChar(ParseInteger(value));
  } else if (name == L"normalimage") {
    m_diNormal.Set(value);
  } else if (name == L"hotimage") {
    m_diHot.Set(value);
  } else if (name == L"focusedimage") {
    m_diFocused.Set(value);
  } else if (name == L"disabledimage") {
    m_diDisabled.Set(value);
  } else if (name == L"nativebkcolor") {
    SetNativeEditBkColor(ParseColor(value, true));
  } else {
    CLabelUI::SetAttribute(name, value);
  }
}

void CEditUI::PaintStatusImage(HDC hDC) {
  TDrawInfo* chosen = &m_diNormal;
  if (!IsEnabled()) {
    chosen = &m_diDisabled;
  } else if (IsFocused()) {
    chosen = &m_diFocused;
  } else if (m_bHot) {
    chosen = &m_diHot;
  }
  if (chosen != &m_diNormal && DrawImage(hDC, *chosen)) return;
  DrawImage(hDC, m_diNormal);
}

void CEditUI::PaintText(HDC hDC) {
  const DWORD color = TextColorForPaint();
  if (m_sText.empty() || !m_pManager) return;
  const std::wstring shown = m_bPasswordMode ? std::wstring(m_sText.size(), m_cPasswordChar) : m_sText;
  render::DrawText(hDC, Deflate(m_rcItem, m_rcTextPadding), shown, color, m_pManager->GetFont(m_iFont),
                   DT_SINGLELINE | DT_VCENTER | DT_LEFT);
}

// --- CProgressUI ---

CProgressUI::CProgressUI() {
  m_uTextStyle = DT_SINGLELINE | DT_VCENTER | DT_CENTER;
  m_cxyFixed.cy = 12;
}

void* CProgressUI::GetInterface(const std::wstring& name) {
  if (name == L"Progress") return this;
  return CLabelUI::GetInterface(name);
}

void CProgressUI::SetHorizontal(bool horizontal) {
  if (m_bHorizontal == horizontal) return;
  m_bHorizontal = horizontal;
  Invalidate();
}

void CProgressUI::SetMinValue(int value) {
  m_nMin = value;
  Invalidate();
}

void CProgressUI::SetMaxValue(int value) {
  m_nMax = value;
  Invalidate();
}

void CProgressUI::SetValue(int value) {
  const int maximum = m_nMax <= m_nMin ? m_nMin : m_nMax;
  value = std::clamp(value, m_nMin, maximum);
  if (value == m_nValue) return;
  m_nValue = value;
  Invalidate();
}

void CProgressUI::SetForeImage(const std::wstring& description) {
  m_diFore.Set(description);
  Invalidate();
}

RECT CProgressUI::GetFillRect() const {
  return ToRect(ProgressFillRect(UiRect{m_rcItem.left, m_rcItem.top, m_rcItem.right, m_rcItem.bottom}, m_bHorizontal,
                                 m_nMin, m_nMax, m_nValue));
}

void CProgressUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"foreimage") {
    SetForeImage(value);
  } else if (name == L"hor") {
    SetHorizontal(ParseBool(value));
  } else if (name == L"min") {
    SetMinValue(ParseInteger(value));
  } else if (name == L"max") {
    SetMaxValue(ParseInteger(value));
  } else if (name == L"value") {
    SetValue(ParseInteger(value));
  } else {
    CLabelUI::SetAttribute(name, value);
  }
}

void CProgressUI::PaintStatusImage(HDC hDC) {
  const RECT fill = GetFillRect();
  if (fill.right <= fill.left || fill.bottom <= fill.top) return;
  DrawImage(hDC, m_diFore, &fill);
}

}  // namespace DuiLib
