#include "ui/controls.h"

#include <algorithm>

#include "ui/paint_manager.h"
#include "ui/portable/values.h"
#include "ui/render.h"

namespace DuiLib {
namespace {

RECT ToRect(const UiRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

bool IsZero(const UiRect& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }

}  // namespace

CControlUI::CControlUI() = default;

CControlUI::~CControlUI() {
  if (m_pManager) m_pManager->ReapObjects(this);
}

void* CControlUI::GetInterface(const std::wstring& name) {
  return name == L"Control" ? this : nullptr;
}

void CControlUI::SetText(const std::wstring& text) {
  if (m_sText == text) return;
  m_sText = text;
  Invalidate();
}

void CControlUI::SetBkColor(DWORD color) {
  if (m_dwBackColor == color) return;
  m_dwBackColor = color;
  Invalidate();
}
void CControlUI::SetBkColor2(DWORD color) {
  m_dwBackColor2 = color;
  Invalidate();
}
void CControlUI::SetBkColor3(DWORD color) {
  m_dwBackColor3 = color;
  Invalidate();
}

void CControlUI::SetBkImage(const std::wstring& description) {
  if (description == m_diBk.sDrawString && m_diBk.bParsed) return;
  m_diBk.Set(description);
  Invalidate();
}

void CControlUI::SetBorderColor(DWORD color) {
  m_dwBorderColor = color;
  Invalidate();
}
void CControlUI::SetFocusBorderColor(DWORD color) {
  m_dwFocusBorderColor = color;
  Invalidate();
}
void CControlUI::SetBorderSize(RECT rc) {
  m_rcBorderSize = rc;
  Invalidate();
}
void CControlUI::SetBorderSize(int size) { SetBorderSize(RECT{size, size, size, size}); }
void CControlUI::SetBorderRound(SIZE cxy) {
  m_cxyBorderRound = cxy;
  Invalidate();
}

void CControlUI::SetPos(RECT rc, bool bNeedInvalidate) {
  if (rc.right < rc.left) rc.right = rc.left;
  if (rc.bottom < rc.top) rc.bottom = rc.top;
  const RECT old = m_rcItem;
  m_rcItem = rc;
  m_bUpdateNeeded = false;
  if (bNeedInvalidate && m_pManager && !::EqualRect(&old, &rc)) {
    m_pManager->Invalidate(old);
    m_pManager->Invalidate(rc);
  }
}

void CControlUI::SetPadding(RECT rc) {
  m_rcPadding = rc;
  NeedParentUpdate();
}

void CControlUI::SetFixedXY(SIZE xy) {
  m_cXY = xy;
  NeedParentUpdate();
}

void CControlUI::SetFixedWidth(int cx) {
  if (cx < 0 || m_cxyFixed.cx == cx) return;
  m_cxyFixed.cx = cx;
  NeedParentUpdate();
}
void CControlUI::SetFixedHeight(int cy) {
  if (cy < 0 || m_cxyFixed.cy == cy) return;
  m_cxyFixed.cy = cy;
  NeedParentUpdate();
}
void CControlUI::SetMinWidth(int cx) {
  if (cx < 0 || m_cxyMin.cx == cx) return;
  m_cxyMin.cx = cx;
  NeedParentUpdate();
}
void CControlUI::SetMaxWidth(int cx) {
  if (cx < 0 || m_cxyMax.cx == cx) return;
  m_cxyMax.cx = cx;
  NeedParentUpdate();
}
void CControlUI::SetMinHeight(int cy) {
  if (cy < 0 || m_cxyMin.cy == cy) return;
  m_cxyMin.cy = cy;
  NeedParentUpdate();
}
void CControlUI::SetMaxHeight(int cy) {
  if (cy < 0 || m_cxyMax.cy == cy) return;
  m_cxyMax.cy = cy;
  NeedParentUpdate();
}

SIZE CControlUI::EstimateSize(SIZE szAvailable) {
  (void)szAvailable;
  return m_cxyFixed;
}

void CControlUI::SetVisible(bool visible) {
  if (m_bVisible == visible) return;
  m_bVisible = visible;
  if (!visible && m_pManager) {
    CControlUI* focus = m_pManager->GetFocus();
    for (CControlUI* c = focus; c; c = c->GetParent()) {
      if (c == this) {
        m_pManager->SetFocus(nullptr);
        break;
      }
    }
  }
  NeedParentUpdate();
}

void CControlUI::SetEnabled(bool enabled) {
  if (m_bEnabled == enabled) return;
  m_bEnabled = enabled;
  Invalidate();
}

void CControlUI::SetFocus() {
  if (m_pManager) m_pManager->SetFocus(this);
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
  m_pManager = manager;
  m_pParent = parent;
  if (init && manager) Init();
}

void CControlUI::ForEach(const std::function<void(CControlUI*)>& fn) { fn(this); }

CControlUI* CControlUI::FindControlAt(POINT pt) {
  if (!m_bVisible || !m_bMouseEnabled) return nullptr;
  return ::PtInRect(&m_rcItem, pt) ? this : nullptr;
}

void CControlUI::Init() {
  if (m_bInited) return;
  m_bInited = true;
  DoInit();
}

void CControlUI::Event(TEventUI& event) { DoEvent(event); }

void CControlUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_SETFOCUS) {
    m_bFocused = true;
    Invalidate();
  } else if (event.Type == UIEVENT_KILLFOCUS) {
    m_bFocused = false;
    Invalidate();
  }
}

bool CControlUI::Activate() { return IsVisible() && IsEnabled(); }

void CControlUI::Invalidate() {
  if (!m_bVisible || !m_pManager) return;
  m_pManager->Invalidate(m_rcItem);
}

void CControlUI::NeedUpdate() {
  if (!m_bVisible) return;
  m_bUpdateNeeded = true;
  Invalidate();
}

void CControlUI::NeedParentUpdate() {
  if (m_pParent) {
    m_pParent->NeedUpdate();
    m_pParent->Invalidate();
  } else {
    m_bUpdateNeeded = true;
    if (m_pManager) m_pManager->NeedUpdate();
  }
}

void CControlUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"name") {
    SetName(value);
  } else if (name == L"text") {
    SetText(value);
  } else if (name == L"tooltip") {
    SetToolTip(value);
  } else if (name == L"userdata") {
    SetUserData(value);
  } else if (name == L"width") {
    SetFixedWidth(ParseInteger(value));
  } else if (name == L"height") {
    SetFixedHeight(ParseInteger(value));
  } else if (name == L"minwidth") {
    SetMinWidth(ParseInteger(value));
  } else if (name == L"minheight") {
    SetMinHeight(ParseInteger(value));
  } else if (name == L"maxwidth") {
    SetMaxWidth(ParseInteger(value));
  } else if (name == L"maxheight") {
    SetMaxHeight(ParseInteger(value));
  } else if (name == L"pos") {
    const UiRect r = ParseRect(value);
    SetFixedXY(SIZE{r.left, r.top});
    SetFixedWidth(r.right - r.left);
    SetFixedHeight(r.bottom - r.top);
  } else if (name == L"padding") {
    SetPadding(ToRect(ParseRect(value)));
  } else if (name == L"bkcolor" || name == L"bkcolor1") {
    SetBkColor(ParseColor(value, true));
  } else if (name == L"bkcolor2") {
    SetBkColor2(ParseColor(value, true));
  } else if (name == L"bkcolor3") {
    SetBkColor3(ParseColor(value, true));
  } else if (name == L"bordercolor") {
    SetBorderColor(ParseColor(value));
  } else if (name == L"focusbordercolor") {
    SetFocusBorderColor(ParseColor(value));
  } else if (name == L"bordersize") {
    if (value.find(L',') == std::wstring::npos) {
      SetBorderSize(ParseInteger(value));
    } else {
      SetBorderSize(ToRect(ParseRect(value)));
    }
  } else if (name == L"borderstyle") {
    SetBorderStyle(ParseInteger(value));
  } else if (name == L"borderround") {
    const UiSize s = ParseSize(value);
    SetBorderRound(SIZE{s.cx, s.cy});
  } else if (name == L"bkimage") {
    SetBkImage(value);
  } else if (name == L"visible") {
    SetVisible(ParseBool(value));
  } else if (name == L"enabled") {
    SetEnabled(ParseBool(value));
  } else if (name == L"mouse") {
    SetMouseEnabled(ParseBool(value));
  } else if (name == L"keyboard") {
    SetKeyboardEnabled(ParseBool(value));
  } else if (name == L"menu") {
    m_bMenuUsed = ParseBool(value);
  } else if (name == L"float" || name == L"shortcut" || name == L"tag" || name == L"virtualwnd" ||
             name == L"colorhsl") {
    // Outside the subset.
  } else {
    AddCustomAttribute(name, value);
  }
}

void CControlUI::ApplyAttributeList(const std::wstring& list) {
  for (const auto& [name, value] : ParseAttributeList(list)) SetAttribute(name, value);
}

void CControlUI::AddCustomAttribute(const std::wstring& name, const std::wstring& value) {
  if (name.empty()) return;
  m_mCustomAttrs[name] = value;
}

std::wstring CControlUI::GetCustomAttribute(const std::wstring& name) const {
  const auto it = m_mCustomAttrs.find(name);
  return it == m_mCustomAttrs.end() ? std::wstring() : it->second;
}

// --- painting ---

void CControlUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  if (!::IntersectRect(&m_rcPaint, &rcPaint, &m_rcItem)) return;
  const auto steps = [&] {
    PaintBkColor(hDC);
    PaintBkImage(hDC);
    PaintStatusImage(hDC);
    PaintText(hDC);
    PaintBorder(hDC);
  };
  if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0) {
    render::ClipScope clip(hDC, m_rcItem, m_cxyBorderRound);
    steps();
  } else {
    steps();
  }
}

void CControlUI::PaintBkColor(HDC hDC) {
  if (m_dwBackColor == 0) return;
  if (m_dwBackColor2 != 0) {
    render::FillGradient(hDC, m_rcItem, m_dwBackColor, m_dwBackColor2, m_dwBackColor3);
  } else {
    render::FillColor(hDC, m_rcPaint, m_dwBackColor);
  }
}

void CControlUI::PaintBkImage(HDC hDC) {
  if (m_diBk.sDrawString.empty()) return;
  DrawImage(hDC, m_diBk);
}

void CControlUI::PaintStatusImage(HDC hDC) { (void)hDC; }
void CControlUI::PaintText(HDC hDC) { (void)hDC; }

void CControlUI::PaintBorder(HDC hDC) {
  const RECT& b = m_rcBorderSize;
  if (b.left <= 0 && b.top <= 0 && b.right <= 0 && b.bottom <= 0) return;
  const DWORD color = (m_bFocused && m_dwFocusBorderColor != 0) ? m_dwFocusBorderColor : m_dwBorderColor;
  render::DrawBorder(hDC, m_rcItem, b, color, m_cxyBorderRound, m_nBorderStyle);
}

bool CControlUI::DrawImage(HDC hDC, TDrawInfo& drawInfo, const RECT* rcDest) {
  if (drawInfo.sDrawString.empty()) return false;
  if (!drawInfo.bParsed) {
    drawInfo.desc = ParseImageDescription(drawInfo.sDrawString);
    drawInfo.bParsed = true;
  }
  if (drawInfo.bLoadFailed) return false;
  const RECT item = rcDest ? *rcDest : m_rcItem;
  const ImageDescription& d = drawInfo.desc;
  RECT dest = item;
  if (!IsZero(d.dest)) {
    dest = RECT{item.left + d.dest.left, item.top + d.dest.top, item.left + d.dest.right, item.top + d.dest.bottom};
    if (dest.right > item.right) dest.right = item.right;
    if (dest.bottom > item.bottom) dest.bottom = item.bottom;
  }
  if (d.isColor) {
    render::FillColor(hDC, dest, d.color);
    return true;
  }
  if (d.file.empty() || !m_pManager) return false;
  if (!drawInfo.pImageInfo) {
    drawInfo.pImageInfo = m_pManager->GetImageEx(d.file, d.resType, d.mask, d.hsl);
    if (!drawInfo.pImageInfo) {
      drawInfo.bLoadFailed = true;
      return false;
    }
  }
  const TImageInfo& image = *drawInfo.pImageInfo;
  RECT source = ToRect(d.source);
  if (IsZero(d.source)) source = RECT{0, 0, image.nX, image.nY};
  source.left = std::clamp<LONG>(source.left, 0, image.nX);
  source.right = std::clamp<LONG>(source.right, 0, image.nX);
  source.top = std::clamp<LONG>(source.top, 0, image.nY);
  source.bottom = std::clamp<LONG>(source.bottom, 0, image.nY);
  render::DrawImage(hDC, image, dest, source, ToRect(d.corner), d.fade, d.hole);
  return true;
}

}  // namespace DuiLib
