#include <algorithm>

#include "ui/controls.h"
#include "ui/paint_manager.h"
#include "ui/portable/layout.h"
#include "ui/portable/values.h"
#include "ui/render.h"

namespace DuiLib {
namespace {

UiRect ToUi(const RECT& rc) { return UiRect{rc.left, rc.top, rc.right, rc.bottom}; }
RECT ToRect(const UiRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

LayoutChild Describe(CControlUI* c) {
  LayoutChild child;
  child.fixedWidth = c->GetFixedWidth();
  child.fixedHeight = c->GetFixedHeight();
  child.minWidth = c->GetMinWidth();
  child.minHeight = c->GetMinHeight();
  child.maxWidth = c->GetMaxWidth();
  child.maxHeight = c->GetMaxHeight();
  child.padding = ToUi(c->GetPadding());
  child.estimate = [c](UiSize available) {
    const SIZE s = c->EstimateSize(SIZE{available.cx, available.cy});
    return UiSize{static_cast<int>(s.cx), static_cast<int>(s.cy)};
  };
  return child;
}

}  // namespace

CContainerUI::~CContainerUI() {
  for (CControlUI* c : m_items) delete c;
  m_items.clear();
  delete std::exchange(m_pCover, nullptr);
}

void* CContainerUI::GetInterface(const std::wstring& name) {
  if (name == L"Container") return this;
  return CControlUI::GetInterface(name);
}

CControlUI* CContainerUI::GetItemAt(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return m_items[static_cast<std::size_t>(index)];
}

int CContainerUI::GetItemIndex(CControlUI* control) const {
  const auto it = std::find(m_items.begin(), m_items.end(), control);
  return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

bool CContainerUI::Add(CControlUI* control) { return AddAt(control, GetCount()); }

bool CContainerUI::AddAt(CControlUI* control, int index) {
  if (!control || index < 0 || index > GetCount() || GetItemIndex(control) >= 0) return false;
  m_items.insert(m_items.begin() + index, control);
  if (m_pManager) {
    m_pManager->InitControls(control, this);
  } else {
    control->SetManager(nullptr, this, false);
  }
  if (IsVisible()) NeedUpdate();
  return true;
}

bool CContainerUI::Remove(CControlUI* control) {
  const auto it = std::find(m_items.begin(), m_items.end(), control);
  if (it == m_items.end()) return false;
  m_items.erase(it);
  delete control;
  NeedUpdate();
  return true;
}

void CContainerUI::RemoveAll() {
  std::vector<CControlUI*> items;
  items.swap(m_items);
  for (CControlUI* c : items) delete c;
  NeedUpdate();
}

void CContainerUI::SetCover(CControlUI* control) {
  if (control == m_pCover) return;
  delete std::exchange(m_pCover, control);
  if (control) {
    if (m_pManager) {
      m_pManager->InitControls(control, this);
    } else {
      control->SetManager(nullptr, this, false);
    }
  }
  NeedUpdate();
}

void CContainerUI::SetInset(RECT rc) {
  m_rcInset = rc;
  NeedUpdate();
}
void CContainerUI::SetChildPadding(int padding) {
  m_iChildPadding = padding;
  NeedUpdate();
}
void CContainerUI::SetChildAlign(UINT align) {
  m_iChildAlign = align;
  NeedUpdate();
}
void CContainerUI::SetChildVAlign(UINT align) {
  m_iChildVAlign = align;
  NeedUpdate();
}

RECT CContainerUI::InnerRect() const {
  return RECT{m_rcItem.left + m_rcInset.left, m_rcItem.top + m_rcInset.top, m_rcItem.right - m_rcInset.right,
              m_rcItem.bottom - m_rcInset.bottom};
}

void CContainerUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  std::vector<CControlUI*> placed;
  std::vector<LayoutChild> children;
  for (CControlUI* c : m_items) {
    if (!c->IsVisible() || c->IsFloat()) continue;
    placed.push_back(c);
    children.push_back(Describe(c));
  }
  LayoutBox box{ToUi(m_rcItem), ToUi(m_rcInset), m_iChildPadding};
  const std::vector<UiRect> rects = LayoutOverlay(box, children);
  for (std::size_t k = 0; k < placed.size(); ++k) placed[k]->SetPos(ToRect(rects[k]), false);
  if (m_pCover && m_pCover->IsVisible()) m_pCover->SetPos(m_rcItem, false);
}

void CContainerUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"inset") {
    SetInset(ToRect(ParseRect(value)));
  } else if (name == L"childpadding") {
    SetChildPadding(ParseInteger(value));
  } else if (name == L"childalign") {
    if (value == L"left") SetChildAlign(DT_LEFT);
    else if (value == L"center") SetChildAlign(DT_CENTER);
    else if (value == L"right") SetChildAlign(DT_RIGHT);
  } else if (name == L"childvalign") {
    if (value == L"top") SetChildVAlign(DT_TOP);
    else if (value == L"vcenter") SetChildVAlign(DT_VCENTER);
    else if (value == L"bottom") SetChildVAlign(DT_BOTTOM);
  } else if (name == L"mousechild") {
    SetMouseChildEnabled(ParseBool(value));
  } else if (name == L"vscrollbar" || name == L"hscrollbar" || name == L"vscrollbarstyle" ||
             name == L"hscrollbarstyle") {
    // Scroll bars are outside the subset.
  } else {
    CControlUI::SetAttribute(name, value);
  }
}

void CContainerUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init) {
  for (CControlUI* c : m_items) c->SetManager(manager, this, init);
  if (m_pCover) m_pCover->SetManager(manager, this, init);
  CControlUI::SetManager(manager, parent, init);
}

void CContainerUI::ForEach(const std::function<void(CControlUI*)>& fn) {
  fn(this);
  for (CControlUI* c : m_items) c->ForEach(fn);
  if (m_pCover) m_pCover->ForEach(fn);
}

CControlUI* CContainerUI::FindControlAt(POINT pt) {
  if (!m_bVisible || !::PtInRect(&m_rcItem, pt)) return nullptr;
  if (m_pCover) {
    if (CControlUI* hit = m_pCover->FindControlAt(pt)) return hit;
  }
  if (m_bMouseChildEnabled) {
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
      if (CControlUI* hit = (*it)->FindControlAt(pt)) return hit;
    }
  }
  return m_bMouseEnabled ? this : nullptr;
}

void CContainerUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  RECT overlap{};
  if (!::IntersectRect(&overlap, &rcPaint, &m_rcItem)) return;
  CControlUI::DoPaint(hDC, rcPaint);
  if (!m_items.empty()) {
    const RECT inner = InnerRect();
    RECT clipRect{};
    if (::IntersectRect(&clipRect, &overlap, &inner)) {
      render::ClipScope clip(hDC, clipRect);
      for (CControlUI* c : m_items) {
        if (c->IsVisible()) c->DoPaint(hDC, clipRect);
      }
    }
  }
  if (m_pCover && m_pCover->IsVisible()) m_pCover->DoPaint(hDC, overlap);
}

// --- vertical and horizontal layouts ---

namespace {

LayoutBox BoxOf(const RECT& item, const RECT& inset, int childPadding, UINT align, UINT valign) {
  LayoutBox box{ToUi(item), ToUi(inset), childPadding};
  box.align = align == DT_CENTER ? ChildAlign::kCenter : (align == DT_RIGHT ? ChildAlign::kRight : ChildAlign::kLeft);
  box.valign =
      valign == DT_VCENTER ? ChildVAlign::kVCenter : (valign == DT_BOTTOM ? ChildVAlign::kBottom : ChildVAlign::kTop);
  return box;
}

}  // namespace

void* CVerticalLayoutUI::GetInterface(const std::wstring& name) {
  if (name == L"VerticalLayout") return this;
  return CContainerUI::GetInterface(name);
}

void CVerticalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  std::vector<CControlUI*> placed;
  std::vector<LayoutChild> children;
  for (CControlUI* c : m_items) {
    if (!c->IsVisible() || c->IsFloat()) continue;
    placed.push_back(c);
    children.push_back(Describe(c));
  }
  const std::vector<UiRect> rects =
      LayoutVertical(BoxOf(m_rcItem, m_rcInset, m_iChildPadding, m_iChildAlign, m_iChildVAlign), children);
  for (std::size_t k = 0; k < placed.size(); ++k) placed[k]->SetPos(ToRect(rects[k]), false);
  if (m_pCover && m_pCover->IsVisible()) m_pCover->SetPos(m_rcItem, false);
}

void CVerticalLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"sepheight" || name == L"sepimm") return;  // drag separators: outside the subset
  CContainerUI::SetAttribute(name, value);
}

void* CHorizontalLayoutUI::GetInterface(const std::wstring& name) {
  if (name == L"HorizontalLayout") return this;
  return CContainerUI::GetInterface(name);
}

void CHorizontalLayoutUI::SetPos(RECT rc, bool bNeedInvalidate) {
  CControlUI::SetPos(rc, bNeedInvalidate);
  std::vector<CControlUI*> placed;
  std::vector<LayoutChild> children;
  for (CControlUI* c : m_items) {
    if (!c->IsVisible() || c->IsFloat()) continue;
    placed.push_back(c);
    children.push_back(Describe(c));
  }
  const std::vector<UiRect> rects =
      LayoutHorizontal(BoxOf(m_rcItem, m_rcInset, m_iChildPadding, m_iChildAlign, m_iChildVAlign), children);
  for (std::size_t k = 0; k < placed.size(); ++k) placed[k]->SetPos(ToRect(rects[k]), false);
  if (m_pCover && m_pCover->IsVisible()) m_pCover->SetPos(m_rcItem, false);
}

void CHorizontalLayoutUI::SetAttribute(const std::wstring& name, const std::wstring& value) {
  if (name == L"sepwidth" || name == L"sepimm") return;  // drag separators: outside the subset
  CContainerUI::SetAttribute(name, value);
}

}  // namespace DuiLib
