// The per-window paint manager: owns one window's control tree, lays it out and paints it
// into an off-screen bitmap, dispatches the window's messages and delivers notifications. It
// composes the window's resource cache (fonts, images), its input routing and its native
// windows (edit box, tooltip), and passes their public calls on.
#pragma once

#include <windows.h>

#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/handles.h"
#include "ui/input_router.h"
#include "ui/native_host.h"
#include "ui/portable/geometry.h"
#include "ui/resource_cache.h"
#include "ui/ui_defs.h"

namespace DuiLib {

class CControlUI;
class CEditUI;

class CPaintManagerUI {
 public:
  CPaintManagerUI();
  ~CPaintManagerUI();
  CPaintManagerUI(const CPaintManagerUI&) = delete;
  CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

  // --- process-wide state ---
  static void SetInstance(HINSTANCE instance) { CResourceCacheUI::SetInstance(instance); }
  static HINSTANCE GetInstance() { return CResourceCacheUI::GetInstance(); }
  // Appends a backslash unless the path already ends in "\" or "/".
  static void SetResourcePath(const std::wstring& path) { CResourceCacheUI::SetResourcePath(path); }
  static const std::wstring& GetResourcePath() { return CResourceCacheUI::GetResourcePath(); }
  // Gets and dispatches messages until WM_QUIT; returns its exit code.
  static int MessageLoop();
  // Lets the paint managers of toolkit windows filter msg; true when it was consumed.
  static bool TranslateMessage(const MSG* msg);
  // Releases the shared fonts.
  static void Term() { CResourceCacheUI::Term(); }

  // --- window ---
  void Init(HWND hWnd);
  HWND GetPaintWindow() const { return m_hWndPaint; }
  POINT GetMousePos() const { return m_input.GetMousePos(); }
  SIZE GetClientSize() const;

  // --- window settings (root element attributes) ---
  void SetWindowAttribute(const std::wstring& name, const std::wstring& value);
  std::wstring GetWindowCustomAttribute(const std::wstring& name) const;
  SIZE GetInitSize() const { return m_szInitWindowSize; }
  void SetInitSize(int cx, int cy);
  RECT GetCaptionRect() const { return m_rcCaption; }
  RECT GetSizeBox() const { return m_rcSizeBox; }
  SIZE GetRoundCorner() const { return m_szRoundCorner; }
  SIZE GetMinInfo() const { return m_szMinWindow; }
  SIZE GetMaxInfo() const { return m_szMaxWindow; }
  bool IsShowUpdateRect() const { return m_bShowUpdateRect; }
  bool IsNoActivate() const { return m_bNoActivate; }

  DWORD GetDefaultFontColor() const { return m_dwDefaultFontColor; }
  DWORD GetDefaultDisabledColor() const { return m_dwDefaultDisabledColor; }
  DWORD GetDefaultLinkFontColor() const { return m_dwDefaultLinkFontColor; }
  DWORD GetDefaultLinkHoverFontColor() const { return m_dwDefaultLinkHoverFontColor; }
  DWORD GetDefaultSelectedBkColor() const { return m_dwDefaultSelectedBkColor; }

  // --- fonts ---
  // Adds or replaces font id: face copied into the default GUI font's description, height
  // -size, bold adds 700 to the weight.
  HFONT AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                bool shared = false) {
    return m_resources.AddFont(id, face, size, bold, underline, italic, shared);
  }
  HFONT GetFont(int id) { return m_resources.GetFont(id); }  // -1 or an unknown id: the default font
  const TFontInfo* GetFontInfo(int id) { return m_resources.GetFontInfo(id); }  // never null
  const TFontInfo* GetDefaultFontInfo() { return m_resources.GetDefaultFontInfo(); }

  // --- images ---
  // Loads (once) and caches by name: resource directory + name, else the name as given, or a
  // resource of type when type is not empty. Null when it cannot be found or decoded.
  const TImageInfo* GetImageEx(const std::wstring& name, const std::wstring& type = L"", DWORD mask = 0,
                               bool hsl = false) {
    (void)hsl;
    return m_resources.GetImageEx(name, type, mask);
  }
  const TImageInfo* GetImage(const std::wstring& name) const { return m_resources.GetImage(name); }

  // --- default attribute lists by class name ---
  void AddDefaultAttributeList(const std::wstring& controlName, const std::wstring& list);
  std::wstring GetDefaultAttributeList(const std::wstring& controlName) const;

  // --- control tree ---
  bool AttachDialog(CControlUI* root);
  CControlUI* GetRoot() const { return m_pRoot; }
  CControlUI* FindControl(const std::wstring& name) const;
  CControlUI* FindControl(POINT pt) const;
  // Controls report their removal so no pointer to them stays behind.
  void ReapObjects(CControlUI* control);
  bool InitControls(CControlUI* control, CControlUI* parent = nullptr);

  CControlUI* GetFocus() const { return m_input.GetFocus(); }
  void SetFocus(CControlUI* control) { m_input.SetFocus(control); }
  CControlUI* GetHotControl() const { return m_input.GetHotControl(); }
  CControlUI* GetClickTarget() const { return m_input.GetClickTarget(); }

  // Marks the whole tree for layout and invalidates the window.
  void NeedUpdate();
  bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
  void Invalidate(const RECT& rc);

  // Lays the tree out over rcClient when needed and paints rcPaint into hdc (also used to
  // render into a caller's bitmap).
  void Render(HDC hdc, const RECT& rcClient, const RECT& rcPaint);
  // The off-screen bitmap of the last WM_PAINT (null before the first paint).
  HBITMAP GetOffscreenBitmap() const { return m_offscreen.get(); }
  const std::uint32_t* GetOffscreenBits() const { return m_offscreenBits; }
  SIZE GetOffscreenSize() const { return m_offscreenSize; }
  // A memory DC compatible with the screen, for text measurement.
  HDC GetMeasureDC() { return m_resources.GetMeasureDC(); }

  // --- notifications ---
  bool AddNotifier(INotifyUI* notifier);
  bool RemoveNotifier(INotifyUI* notifier);
  bool AddPreMessageFilter(IMessageFilterUI* filter);
  bool RemovePreMessageFilter(IMessageFilterUI* filter);
  bool AddMessageFilter(IMessageFilterUI* filter);
  bool RemoveMessageFilter(IMessageFilterUI* filter);
  void SendNotify(CControlUI* control, const std::wstring& type, WPARAM wParam = 0, LPARAM lParam = 0,
                  bool async = false, bool enableRepeat = false);
  void SendNotify(TNotifyUI& msg, bool async = false, bool enableRepeat = false);
  // Delivers the queued asynchronous notifications now.
  void FlushAsyncNotifications();

  // Pre-translation stage (pre-message filters, then the keyboard filters).
  bool PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
  // Handles the window's messages for the control tree; returns whether it handled uMsg.
  bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

  // The native edit box of the focused edit control (null when none is shown).
  HWND GetNativeEditWindow() const { return m_native.GetEditWindow(); }
  void ShowNativeEdit(CEditUI* edit) { m_native.ShowEdit(edit); }
  void HideNativeEdit() { m_native.HideEdit(); }

 private:
  void EnsureOffscreen(int cx, int cy);
  void LayoutIfNeeded(const RECT& rcClient);
  void RebuildNameMap();

  HWND m_hWndPaint = nullptr;
  CControlUI* m_pRoot = nullptr;
  std::unordered_map<std::wstring, CControlUI*> m_mNameHash;
  std::vector<INotifyUI*> m_aNotifiers;
  std::vector<IMessageFilterUI*> m_aPreMessageFilters;
  std::vector<IMessageFilterUI*> m_aMessageFilters;
  std::deque<TNotifyUI> m_aAsyncNotify;
  bool m_bAsyncPosted = false;

  bool m_bUpdateNeeded = false;
  bool m_bFirstLayout = true;

  oku::GdiBitmap m_offscreen;
  std::uint32_t* m_offscreenBits = nullptr;
  SIZE m_offscreenSize{};

  // window settings
  SIZE m_szInitWindowSize{};
  RECT m_rcCaption{};
  RECT m_rcSizeBox{};
  SIZE m_szRoundCorner{};
  SIZE m_szMinWindow{};
  SIZE m_szMaxWindow{};
  bool m_bShowUpdateRect = false;
  bool m_bNoActivate = false;
  std::map<std::wstring, std::wstring> m_mWindowCustomAttr;
  std::map<std::wstring, std::wstring> m_mDefaultAttrs;

  DWORD m_dwDefaultFontColor = 0xFF000000;
  DWORD m_dwDefaultDisabledColor = 0xFFA7A6AA;
  DWORD m_dwDefaultLinkFontColor = 0xFF0000FF;
  DWORD m_dwDefaultLinkHoverFontColor = 0xFFD3215F;
  DWORD m_dwDefaultSelectedBkColor = 0xFFBAE4FF;

  // The parts composed, in dependency order: the native windows take their font from the
  // resources, the input routing uses the tooltip and the edit box.
  CResourceCacheUI m_resources;
  CNativeHostUI m_native{m_resources};
  CInputRouterUI m_input{*this, m_native};
};

}  // namespace DuiLib
