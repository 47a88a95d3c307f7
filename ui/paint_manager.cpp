#include "ui/paint_manager.h"

#include <algorithm>
#include <utility>

#include "common/portable/text.h"
#include "ui/controls.h"
#include "ui/portable/values.h"
#include "ui/render.h"

namespace DuiLib {
namespace {

// The managers whose windows' messages the message loop lets them filter first.
std::vector<CPaintManagerUI*>& PreMessageManagers() {
  static std::vector<CPaintManagerUI*> managers;
  return managers;
}

// The private message of the manager's window that delivers queued notifications. Registered so
// it never collides with a window's own WM_USER range.
UINT AsyncNotifyMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"DuiLib.AsyncNotify");
  return message;
}

}  // namespace

CPaintManagerUI::CPaintManagerUI() = default;

CPaintManagerUI::~CPaintManagerUI() {
  auto& list = PreMessageManagers();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  m_native.HideEdit();
  m_native.DestroyToolTip();
  CControlUI* root = std::exchange(m_pRoot, nullptr);
  delete root;
}

// --- process-wide state ---

int CPaintManagerUI::MessageLoop() {
  MSG msg{};
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!TranslateMessage(&msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

bool CPaintManagerUI::TranslateMessage(const MSG* msg) {
  if (!msg || !msg->hwnd) return false;
  // The copy lets a filter close (and so unregister) its window.
  const std::vector<CPaintManagerUI*> managers = PreMessageManagers();
  for (CPaintManagerUI* manager : managers) {
    HWND target = msg->hwnd;
    while (target && target != manager->m_hWndPaint) target = ::GetParent(target);
    if (!target) continue;
    LRESULT result = 0;
    if (manager->PreMessageHandler(msg->message, msg->wParam, msg->lParam, result)) return true;
    return false;
  }
  return false;
}

// --- window ---

void CPaintManagerUI::Init(HWND hWnd) {
  m_hWndPaint = hWnd;
  m_native.Init(hWnd);
  m_input.Init(hWnd);
  auto& list = PreMessageManagers();
  if (std::find(list.begin(), list.end(), this) == list.end()) list.push_back(this);
}

SIZE CPaintManagerUI::GetClientSize() const {
  RECT rc{};
  if (m_hWndPaint) ::GetClientRect(m_hWndPaint, &rc);
  return SIZE{rc.right - rc.left, rc.bottom - rc.top};
}

void CPaintManagerUI::SetInitSize(int cx, int cy) {
  m_szInitWindowSize = SIZE{cx, cy};
  if (m_hWndPaint) ::SetWindowPos(m_hWndPaint, nullptr, 0, 0, cx, cy, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

void CPaintManagerUI::SetWindowAttribute(const std::wstring& name, const std::wstring& value) {
  const auto toRect = [](const std::wstring& v) {
    const UiRect r = ParseRect(v);
    return RECT{r.left, r.top, r.right, r.bottom};
  };
  const auto toSize = [](const std::wstring& v) {
    const UiSize s = ParseSize(v);
    return SIZE{s.cx, s.cy};
  };
  if (name == L"size") {
    const SIZE s = toSize(value);
    SetInitSize(s.cx, s.cy);
  } else if (name == L"caption") {
    m_rcCaption = toRect(value);
  } else if (name == L"roundcorner") {
    m_szRoundCorner = toSize(value);
  } else if (name == L"sizebox") {
    m_rcSizeBox = toRect(value);
  } else if (name == L"mininfo") {
    m_szMinWindow = toSize(value);
  } else if (name == L"maxinfo") {
    m_szMaxWindow = toSize(value);
  } else if (name == L"showdirty") {
    m_bShowUpdateRect = ParseBool(value);
  } else if (name == L"noactivate") {
    m_bNoActivate = ParseBool(value);
  } else if (name == L"opacity" || name == L"layeredopacity" || name == L"layeredimage") {
    // Layered windows are outside the subset.
  } else if (name == L"disabledfontcolor") {
    m_dwDefaultDisabledColor = ParseColor(value);
  } else if (name == L"defaultfontcolor") {
    m_dwDefaultFontColor = ParseColor(value);
  } else if (name == L"linkfontcolor") {
    m_dwDefaultLinkFontColor = ParseColor(value);
  } else if (name == L"linkhoverfontcolor") {
    m_dwDefaultLinkHoverFontColor = ParseColor(value);
  } else if (name == L"selectedcolor") {
    m_dwDefaultSelectedBkColor = ParseColor(value);
  } else {
    m_mWindowCustomAttr[name] = value;
  }
}

std::wstring CPaintManagerUI::GetWindowCustomAttribute(const std::wstring& name) const {
  const auto it = m_mWindowCustomAttr.find(name);
  return it == m_mWindowCustomAttr.end() ? std::wstring() : it->second;
}

void CPaintManagerUI::AddDefaultAttributeList(const std::wstring& controlName, const std::wstring& list) {
  m_mDefaultAttrs[controlName] = list;
}

std::wstring CPaintManagerUI::GetDefaultAttributeList(const std::wstring& controlName) const {
  for (const auto& [name, list] : m_mDefaultAttrs) {
    if (oku::EqualsIgnoreCaseAscii(name, controlName)) return list;
  }
  return L"";
}

// --- control tree ---

bool CPaintManagerUI::InitControls(CControlUI* control, CControlUI* parent) {
  if (!control) return false;
  control->SetManager(this, parent ? parent : control->GetParent(), true);
  control->ForEach([this](CControlUI* c) {
    if (!c->GetName().empty()) m_mNameHash.emplace(c->GetName(), c);
  });
  return true;
}

bool CPaintManagerUI::AttachDialog(CControlUI* root) {
  if (!root) return false;
  m_native.HideEdit();
  m_input.Reset();
  if (m_pRoot && m_pRoot != root) {
    CControlUI* old = std::exchange(m_pRoot, nullptr);
    delete old;
  }
  m_pRoot = root;
  m_aAsyncNotify.clear();
  root->SetManager(this, nullptr, true);
  RebuildNameMap();
  m_bUpdateNeeded = true;
  m_bFirstLayout = true;
  if (m_hWndPaint) ::InvalidateRect(m_hWndPaint, nullptr, FALSE);
  return true;
}

void CPaintManagerUI::RebuildNameMap() {
  m_mNameHash.clear();
  if (!m_pRoot) return;
  m_pRoot->ForEach([this](CControlUI* c) {
    if (!c->GetName().empty()) m_mNameHash.emplace(c->GetName(), c);  // first of a name wins
  });
}

CControlUI* CPaintManagerUI::FindControl(const std::wstring& name) const {
  const auto it = m_mNameHash.find(name);
  return it == m_mNameHash.end() ? nullptr : it->second;
}

CControlUI* CPaintManagerUI::FindControl(POINT pt) const { return m_pRoot ? m_pRoot->FindControlAt(pt) : nullptr; }

void CPaintManagerUI::ReapObjects(CControlUI* control) {
  if (!control) return;
  m_input.Reap(control);
  if (m_pRoot == control) m_pRoot = nullptr;
  m_native.Reap(control);
  for (auto it = m_mNameHash.begin(); it != m_mNameHash.end();) {
    it = it->second == control ? m_mNameHash.erase(it) : std::next(it);
  }
  m_aAsyncNotify.erase(std::remove_if(m_aAsyncNotify.begin(), m_aAsyncNotify.end(),
                                      [control](const TNotifyUI& n) { return n.pSender == control; }),
                       m_aAsyncNotify.end());
}

void CPaintManagerUI::NeedUpdate() {
  m_bUpdateNeeded = true;
  if (m_hWndPaint) ::InvalidateRect(m_hWndPaint, nullptr, FALSE);
}

void CPaintManagerUI::Invalidate(const RECT& rc) {
  if (m_hWndPaint) ::InvalidateRect(m_hWndPaint, &rc, FALSE);
}

void CPaintManagerUI::LayoutIfNeeded(const RECT& rcClient) {
  if (!m_pRoot) return;
  if (m_bUpdateNeeded) {
    m_bUpdateNeeded = false;
    if (rcClient.right > rcClient.left && rcClient.bottom > rcClient.top) m_pRoot->SetPos(rcClient, false);
  } else {
    m_pRoot->ForEach([](CControlUI* c) {
      if (c->IsUpdateNeeded() && c->IsVisible()) c->SetPos(c->GetPos(), false);
    });
  }
  if (m_bFirstLayout && m_pRoot) {
    m_bFirstLayout = false;
    SendNotify(m_pRoot, L"windowinit", 0, 0, false);
  }
}

void CPaintManagerUI::Render(HDC hdc, const RECT& rcClient, const RECT& rcPaint) {
  LayoutIfNeeded(rcClient);
  if (!m_pRoot) return;
  render::ClipScope clip(hdc, rcPaint);
  m_pRoot->DoPaint(hdc, rcPaint);
}

void CPaintManagerUI::EnsureOffscreen(int cx, int cy) {
  if (m_offscreen && m_offscreenSize.cx == cx && m_offscreenSize.cy == cy) return;
  m_offscreen = render::CreateDib(cx, cy, &m_offscreenBits);
  m_offscreenSize = m_offscreen ? SIZE{cx, cy} : SIZE{0, 0};
}

// --- notifications ---

bool CPaintManagerUI::AddNotifier(INotifyUI* notifier) {
  if (!notifier || std::find(m_aNotifiers.begin(), m_aNotifiers.end(), notifier) != m_aNotifiers.end()) return false;
  m_aNotifiers.push_back(notifier);
  return true;
}

bool CPaintManagerUI::RemoveNotifier(INotifyUI* notifier) {
  const auto it = std::find(m_aNotifiers.begin(), m_aNotifiers.end(), notifier);
  if (it == m_aNotifiers.end()) return false;
  m_aNotifiers.erase(it);
  return true;
}

bool CPaintManagerUI::AddPreMessageFilter(IMessageFilterUI* filter) {
  if (!filter || std::find(m_aPreMessageFilters.begin(), m_aPreMessageFilters.end(), filter) !=
                     m_aPreMessageFilters.end()) {
    return false;
  }
  m_aPreMessageFilters.push_back(filter);
  return true;
}

bool CPaintManagerUI::RemovePreMessageFilter(IMessageFilterUI* filter) {
  const auto it = std::find(m_aPreMessageFilters.begin(), m_aPreMessageFilters.end(), filter);
  if (it == m_aPreMessageFilters.end()) return false;
  m_aPreMessageFilters.erase(it);
  return true;
}

bool CPaintManagerUI::AddMessageFilter(IMessageFilterUI* filter) {
  if (!filter || std::find(m_aMessageFilters.begin(), m_aMessageFilters.end(), filter) != m_aMessageFilters.end()) {
    return false;
  }
  m_aMessageFilters.push_back(filter);
  return true;
}

bool CPaintManagerUI::RemoveMessageFilter(IMessageFilterUI* filter) {
  const auto it = std::find(m_aMessageFilters.begin(), m_aMessageFilters.end(), filter);
  if (it == m_aMessageFilters.end()) return false;
  m_aMessageFilters.erase(it);
  return true;
}

void CPaintManagerUI::SendNotify(CControlUI* control, const std::wstring& type, WPARAM wParam, LPARAM lParam,
                                 bool async, bool enableRepeat) {
  TNotifyUI msg;
  msg.sType = type;
  msg.pSender = control;
  msg.wParam = wParam;
  msg.lParam = lParam;
  SendNotify(msg, async, enableRepeat);
}

void CPaintManagerUI::SendNotify(TNotifyUI& msg, bool async, bool enableRepeat) {
  msg.ptMouse = m_input.GetMousePos();
  msg.dwTimestamp = ::GetTickCount();
  if (!async) {
    if (msg.pSender) {
      // Copies: a listener may change the lists.
      const auto listeners = msg.pSender->OnNotify;
      for (const auto& listener : listeners) {
        if (listener) listener(msg);
      }
    }
    const std::vector<INotifyUI*> notifiers = m_aNotifiers;
    for (INotifyUI* notifier : notifiers) {
      if (std::find(m_aNotifiers.begin(), m_aNotifiers.end(), notifier) != m_aNotifiers.end()) notifier->Notify(msg);
    }
    return;
  }
  if (!enableRepeat) {
    for (TNotifyUI& pending : m_aAsyncNotify) {
      if (pending.pSender == msg.pSender && pending.sType == msg.sType) {
        pending = msg;
        return;
      }
    }
  }
  m_aAsyncNotify.push_back(msg);
  if (m_hWndPaint && !m_bAsyncPosted) {
    m_bAsyncPosted = ::PostMessageW(m_hWndPaint, AsyncNotifyMessage(), 0, 0) != FALSE;
  }
}

void CPaintManagerUI::FlushAsyncNotifications() {
  m_bAsyncPosted = false;
  while (!m_aAsyncNotify.empty()) {
    TNotifyUI msg = std::move(m_aAsyncNotify.front());
    m_aAsyncNotify.pop_front();
    const DWORD timestamp = msg.dwTimestamp;
    const POINT pt = msg.ptMouse;
    if (msg.pSender) {
      const auto listeners = msg.pSender->OnNotify;
      for (const auto& listener : listeners) {
        if (listener) listener(msg);
      }
    }
    msg.dwTimestamp = timestamp;
    msg.ptMouse = pt;
    const std::vector<INotifyUI*> notifiers = m_aNotifiers;
    for (INotifyUI* notifier : notifiers) {
      if (std::find(m_aNotifiers.begin(), m_aNotifiers.end(), notifier) != m_aNotifiers.end()) notifier->Notify(msg);
    }
  }
}

bool CPaintManagerUI::PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  const std::vector<IMessageFilterUI*> filters = m_aPreMessageFilters;
  for (IMessageFilterUI* filter : filters) {
    bool handled = false;
    const LRESULT result = filter->MessageHandler(uMsg, wParam, lParam, handled);
    if (handled) {
      lRes = result;
      return true;
    }
  }
  return false;
}

bool CPaintManagerUI::MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
  if (!m_hWndPaint) return false;
  {
    const std::vector<IMessageFilterUI*> filters = m_aMessageFilters;
    for (IMessageFilterUI* filter : filters) {
      bool handled = false;
      const LRESULT result = filter->MessageHandler(uMsg, wParam, lParam, handled);
      if (handled) {
        lRes = result;
        return true;
      }
    }
  }
  if (uMsg == AsyncNotifyMessage()) {
    FlushAsyncNotifications();
    lRes = 0;
    return true;
  }
  if (m_native.HandleMessage(uMsg, wParam, lParam, m_dwDefaultFontColor, m_dwDefaultDisabledColor, lRes)) {
    return true;
  }
  switch (uMsg) {
    case WM_ERASEBKGND:
      lRes = 1;
      return true;
    case WM_PAINT: {
      RECT rcClient{};
      ::GetClientRect(m_hWndPaint, &rcClient);
      const oku::PaintScope paint(m_hWndPaint);
      const HDC hdc = paint.dc();
      const int cx = rcClient.right - rcClient.left;
      const int cy = rcClient.bottom - rcClient.top;
      if (hdc && m_pRoot && cx > 0 && cy > 0) {
        RECT rcPaint = paint.paint().rcPaint;
        // A layout moves controls anywhere: repaint everything after one.
        if (m_bUpdateNeeded) rcPaint = rcClient;
        EnsureOffscreen(cx, cy);
        const oku::MemoryDC memory = render::CreateMemoryDC(hdc);
        if (m_offscreen && memory) {
          render::SelectScope select(memory.get(), m_offscreen.get());
          Render(memory.get(), rcClient, rcPaint);
          ::GdiFlush();
          if (m_bShowUpdateRect) {
            const oku::GdiPen pen(::CreatePen(PS_SOLID, 1, RGB(220, 0, 0)));
            render::SelectScope selectPen(memory.get(), pen.get());
            render::SelectScope selectBrush(memory.get(), ::GetStockObject(NULL_BRUSH));
            ::Rectangle(memory.get(), rcPaint.left, rcPaint.top, rcPaint.right, rcPaint.bottom);
          }
          ::BitBlt(hdc, rcPaint.left, rcPaint.top, rcPaint.right - rcPaint.left, rcPaint.bottom - rcPaint.top,
                   memory.get(), rcPaint.left, rcPaint.top, SRCCOPY);
        }
      }
      lRes = 0;
      return true;
    }
    case WM_SIZE:
      if (m_pRoot) NeedUpdate();
      return false;
    default:
      return m_input.HandleMessage(m_pRoot, uMsg, wParam, lParam, lRes);
  }
}

}  // namespace DuiLib
