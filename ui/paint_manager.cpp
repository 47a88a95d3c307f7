#include "ui/paint_manager.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "common/paths.h"
#include "common/portable/text.h"
#include "ui/controls.h"
#include "ui/portable/values.h"
#include "ui/render.h"

namespace DuiLib {
namespace {

struct SharedState {
  HINSTANCE instance = nullptr;
  std::wstring resourcePath;
  std::vector<CPaintManagerUI*> preMessages;
  std::map<int, std::unique_ptr<TFontInfo>> sharedFonts;
};

SharedState& Shared() {
  static SharedState state;
  return state;
}

// Private messages of the manager's window: queued notifications and the deferred removal of
// the native edit box. Registered so they never collide with a window's own WM_USER range.
UINT AsyncNotifyMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"DuiLib.AsyncNotify");
  return message;
}
UINT HideEditMessage() {
  static const UINT message = ::RegisterWindowMessageW(L"DuiLib.HideNativeEdit");
  return message;
}

LOGFONTW DefaultGuiLogFont() {
  LOGFONTW lf{};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  return lf;
}

std::unique_ptr<TFontInfo> MakeFont(const LOGFONTW& lf, HDC measure) {
  auto info = std::make_unique<TFontInfo>();
  info->hFont.reset(::CreateFontIndirectW(&lf));
  if (!info->hFont) return nullptr;
  info->sFontName = lf.lfFaceName;
  info->iSize = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
  info->bBold = lf.lfWeight >= FW_BOLD;
  info->bUnderline = lf.lfUnderline != 0;
  info->bItalic = lf.lfItalic != 0;
  if (measure) {
    render::SelectScope select(measure, info->hFont.get());
    ::GetTextMetricsW(measure, &info->tm);
  }
  return info;
}

}  // namespace

CPaintManagerUI::CPaintManagerUI() = default;

CPaintManagerUI::~CPaintManagerUI() {
  auto& list = Shared().preMessages;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  HideNativeEdit();
  m_hwndTooltip.reset();
  CControlUI* root = std::exchange(m_pRoot, nullptr);
  delete root;
}

// --- process-wide state ---

void CPaintManagerUI::SetInstance(HINSTANCE instance) { Shared().instance = instance; }

HINSTANCE CPaintManagerUI::GetInstance() {
  if (!Shared().instance) Shared().instance = ::GetModuleHandleW(nullptr);
  return Shared().instance;
}

void CPaintManagerUI::SetResourcePath(const std::wstring& path) {
  std::wstring value = path;
  if (value.empty() || (value.back() != L'\\' && value.back() != L'/')) value += L'\\';
  Shared().resourcePath = std::move(value);
}

const std::wstring& CPaintManagerUI::GetResourcePath() { return Shared().resourcePath; }

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
  const std::vector<CPaintManagerUI*> managers = Shared().preMessages;
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

void CPaintManagerUI::Term() { Shared().sharedFonts.clear(); }

// --- window ---

void CPaintManagerUI::Init(HWND hWnd) {
  m_hWndPaint = hWnd;
  auto& list = Shared().preMessages;
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

// --- fonts ---

HDC CPaintManagerUI::GetMeasureDC() {
  if (!m_hDcMeasure) m_hDcMeasure.reset(::CreateCompatibleDC(nullptr));
  return m_hDcMeasure.get();
}

HFONT CPaintManagerUI::AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                               bool shared) {
  LOGFONTW lf = DefaultGuiLogFont();
  const std::size_t n = std::min<std::size_t>(face.size(), LF_FACESIZE - 1);
  std::fill(std::begin(lf.lfFaceName), std::end(lf.lfFaceName), L'\0');
  std::copy_n(face.c_str(), n, lf.lfFaceName);
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfHeight = -size;
  if (bold) lf.lfWeight += FW_BOLD;
  if (underline) lf.lfUnderline = TRUE;
  if (italic) lf.lfItalic = TRUE;
  std::unique_ptr<TFontInfo> info = MakeFont(lf, GetMeasureDC());
  if (!info) return nullptr;
  info->iSize = size;
  info->bBold = bold;
  HFONT font = info->hFont.get();
  auto& table = shared ? Shared().sharedFonts : m_fonts;
  table[id] = std::move(info);  // an existing id is replaced
  return font;
}

const TFontInfo* CPaintManagerUI::GetDefaultFontInfo() {
  if (!m_defaultFont) {
    LOGFONTW lf = DefaultGuiLogFont();
    lf.lfCharSet = DEFAULT_CHARSET;
    m_defaultFont = MakeFont(lf, GetMeasureDC());
    if (!m_defaultFont) m_defaultFont = std::make_unique<TFontInfo>();
  }
  return m_defaultFont.get();
}

const TFontInfo* CPaintManagerUI::GetFontInfo(int id) {
  if (id >= 0) {
    if (auto it = m_fonts.find(id); it != m_fonts.end()) return it->second.get();
    if (auto it = Shared().sharedFonts.find(id); it != Shared().sharedFonts.end()) return it->second.get();
  }
  return GetDefaultFontInfo();
}

HFONT CPaintManagerUI::GetFont(int id) { return GetFontInfo(id)->hFont.get(); }

// --- images ---

const TImageInfo* CPaintManagerUI::GetImage(const std::wstring& name) const {
  const auto it = m_images.find(name);
  return it == m_images.end() ? nullptr : it->second.get();
}

const TImageInfo* CPaintManagerUI::GetImageEx(const std::wstring& name, const std::wstring& type, DWORD mask,
                                              bool hsl) {
  (void)hsl;
  if (name.empty()) return nullptr;
  if (auto it = m_images.find(name); it != m_images.end() && it->second) return it->second.get();
  std::unique_ptr<TImageInfo> image;
  if (!type.empty()) {
    HINSTANCE module = GetInstance();
    const bool numeric = std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    const wchar_t* resName = numeric ? MAKEINTRESOURCEW(ParseInteger(name)) : name.c_str();
    if (HRSRC res = ::FindResourceW(module, resName, type.c_str())) {
      if (HGLOBAL loaded = ::LoadResource(module, res)) {
        image = render::LoadImageMemory(::LockResource(loaded), ::SizeofResource(module, res), mask);
      }
    }
  } else {
    const std::wstring inDirectory = GetResourcePath() + name;
    if (oku::FileExists(inDirectory)) {
      image = render::LoadImageFile(inDirectory, mask);
    } else if (oku::FileExists(name)) {
      image = render::LoadImageFile(name, mask);
    }
  }
  if (!image) return nullptr;
  image->sResType = type;
  const TImageInfo* result = image.get();
  m_images[name] = std::move(image);
  return result;
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
  HideNativeEdit();
  m_pFocus = m_pEventHover = m_pEventClick = nullptr;
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
  if (m_pFocus == control) m_pFocus = nullptr;
  if (m_pEventHover == control) m_pEventHover = nullptr;
  if (m_pEventClick == control) m_pEventClick = nullptr;
  if (m_pRoot == control) m_pRoot = nullptr;
  if (m_pEditOwner && static_cast<CControlUI*>(m_pEditOwner) == control) HideNativeEdit();
  for (auto it = m_mNameHash.begin(); it != m_mNameHash.end();) {
    it = it->second == control ? m_mNameHash.erase(it) : std::next(it);
  }
  m_aAsyncNotify.erase(std::remove_if(m_aAsyncNotify.begin(), m_aAsyncNotify.end(),
                                      [control](const TNotifyUI& n) { return n.pSender == control; }),
                       m_aAsyncNotify.end());
}

void CPaintManagerUI::SetFocus(CControlUI* control) {
  if (m_hWndPaint) {
    HWND focused = ::GetFocus();
    if (focused != m_hWndPaint && (!m_hwndEdit || focused != m_hwndEdit.get())) ::SetFocus(m_hWndPaint);
  }
  if (control == m_pFocus) return;
  if (m_pFocus) {
    CControlUI* old = m_pFocus;
    m_pFocus = nullptr;
    EventTo(old, UIEVENT_KILLFOCUS, m_ptLastMousePos);
  }
  if (control && control->GetManager() == this && control->IsVisible() && control->IsEnabled()) {
    m_pFocus = control;
    EventTo(control, UIEVENT_SETFOCUS, m_ptLastMousePos);
  }
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
  msg.ptMouse = m_ptLastMousePos;
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

// --- input ---

void CPaintManagerUI::EventTo(CControlUI* control, int type, POINT pt, WPARAM wParam, LPARAM lParam) {
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

void CPaintManagerUI::ShowToolTip() {
  CControlUI* hot = m_pEventHover;
  if (!hot || hot->GetToolTip().empty() || !m_hWndPaint) return;
  if (!m_hwndTooltip) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    m_hwndTooltip.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                          WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                          CW_USEDEFAULT, CW_USEDEFAULT, m_hWndPaint, nullptr, GetInstance(), nullptr));
    if (!m_hwndTooltip) return;
  }
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  ti.hwnd = m_hWndPaint;
  ti.uId = 1;
  ti.rect = hot->GetPos();
  std::wstring text = hot->GetToolTip();
  ti.lpszText = text.data();
  ::SendMessageW(m_hwndTooltip.get(), m_bTooltipAdded ? TTM_SETTOOLINFOW : TTM_ADDTOOLW, 0,
                 reinterpret_cast<LPARAM>(&ti));
  m_bTooltipAdded = true;
  const int width = hot->GetToolTipWidth() > 0 ? std::min(hot->GetToolTipWidth(), 300) : 300;
  ::SendMessageW(m_hwndTooltip.get(), TTM_SETMAXTIPWIDTH, 0, width);
  POINT screen = m_ptLastMousePos;
  ::ClientToScreen(m_hWndPaint, &screen);
  ::SendMessageW(m_hwndTooltip.get(), TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x, screen.y + 20));
  ::SendMessageW(m_hwndTooltip.get(), TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
}

void CPaintManagerUI::HideToolTip() {
  if (!m_hwndTooltip || !m_bTooltipAdded) return;
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.hwnd = m_hWndPaint;
  ti.uId = 1;
  ::SendMessageW(m_hwndTooltip.get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
}

void CPaintManagerUI::ShowNativeEdit(CEditUI* edit) {
  if (!edit || !m_hWndPaint) return;
  if (m_hwndEdit && m_pEditOwner == edit) {
    ::SetFocus(m_hwndEdit.get());
    return;
  }
  HideNativeEdit();
  const RECT rc = edit->GetEditRect();
  const TFontInfo* font = GetFontInfo(edit->GetFont());
  DWORD style = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_LEFT;
  if (edit->IsReadOnly()) style |= ES_READONLY;
  if (edit->IsPasswordMode()) style |= ES_PASSWORD;
  if (edit->IsNumberOnly()) style |= ES_NUMBER;
  // A single-line EDIT draws from its top; centre a box of one text line in the text rectangle.
  const int lineHeight = std::min<int>(rc.bottom - rc.top, font->tm.tmHeight + 2);
  const int top = rc.top + (rc.bottom - rc.top - lineHeight) / 2;
  m_pEditOwner = edit;
  m_hwndEdit.reset(::CreateWindowExW(0, L"EDIT", edit->GetText().c_str(), style, rc.left, top, rc.right - rc.left,
                                     lineHeight, m_hWndPaint, nullptr, GetInstance(), nullptr));
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

void CPaintManagerUI::HideNativeEdit() {
  if (!m_hwndEdit) return;
  oku::WindowHandle edit = std::move(m_hwndEdit);
  CEditUI* owner = std::exchange(m_pEditOwner, nullptr);
  if (::GetFocus() == edit.get() && m_hWndPaint) ::SetFocus(m_hWndPaint);
  edit.reset();
  if (owner) owner->Invalidate();
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
  if (uMsg == HideEditMessage()) {
    if (m_hwndEdit && ::GetFocus() != m_hwndEdit.get()) HideNativeEdit();
    lRes = 0;
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
    case WM_MOUSEMOVE: {
      if (!m_bMouseTracking) {
        TRACKMOUSEEVENT tme{sizeof(tme), TME_HOVER | TME_LEAVE, m_hWndPaint, HOVER_DEFAULT};
        m_bMouseTracking = ::TrackMouseEvent(&tme) != FALSE;
      }
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      CControlUI* hit = FindControl(pt);
      if (hit && hit->GetManager() != this) hit = nullptr;
      if (hit != m_pEventHover) {
        HideToolTip();
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
      HideToolTip();
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
        ShowToolTip();
      }
      lRes = 0;
      return true;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      ::SetFocus(m_hWndPaint);
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      HideToolTip();
      CControlUI* hit = FindControl(pt);
      if (!hit || hit->GetManager() != this) return false;
      m_pEventClick = hit;
      hit->SetFocus();
      ::SetCapture(m_hWndPaint);
      if (m_pEventClick) {
        EventTo(m_pEventClick, uMsg == WM_LBUTTONDBLCLK ? UIEVENT_DBLCLICK : UIEVENT_BUTTONDOWN, pt, wParam, lParam);
      }
      return false;
    }
    case WM_LBUTTONUP: {
      const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      m_ptLastMousePos = pt;
      CControlUI* target = std::exchange(m_pEventClick, nullptr);
      if (::GetCapture() == m_hWndPaint) ::ReleaseCapture();
      if (target) EventTo(target, UIEVENT_BUTTONUP, pt, wParam, lParam);
      return false;
    }
    case WM_KEYDOWN:
      if (m_pFocus) EventTo(m_pFocus, UIEVENT_KEYDOWN, m_ptLastMousePos, wParam, lParam);
      return false;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (m_hwndEdit && reinterpret_cast<HWND>(lParam) == m_hwndEdit.get() && m_pEditOwner) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetBkColor(dc, render::ToColorRef(m_pEditOwner->GetNativeEditBkColor()));
        DWORD color = m_pEditOwner->IsEnabled() ? m_pEditOwner->GetTextColor() : m_pEditOwner->GetDisabledTextColor();
        if (color == 0) color = m_pEditOwner->IsEnabled() ? m_dwDefaultFontColor : m_dwDefaultDisabledColor;
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
          ::PostMessageW(m_hWndPaint, HideEditMessage(), 0, 0);
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
