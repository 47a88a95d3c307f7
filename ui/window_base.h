// The native window base: CWindowWnd joins a Win32 window to a C++ object; WindowImplBase adds
// a paint manager built from the skin file and turns messages into overridable hooks.
#pragma once

#include <windows.h>

#include <string>

#include "ui/controls.h"
#include "ui/dialog_builder.h"
#include "ui/paint_manager.h"
#include "ui/ui_defs.h"

namespace DuiLib {

class CWindowWnd {
 public:
  CWindowWnd() = default;
  CWindowWnd(const CWindowWnd&) = delete;
  CWindowWnd& operator=(const CWindowWnd&) = delete;

  HWND GetHWND() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  // Registers WindowClassName (style GetClassStyle) on the toolkit's module instance and
  // creates the window with this object as the creation parameter.
  HWND Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, int x = CW_USEDEFAULT,
              int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU hMenu = nullptr);
  // Centres on a visible owner, else on the nearest monitor's work area; stays inside it.
  void CenterWindow();
  // Shown normally when focus is taken, without activation otherwise; hidden when !bShow.
  void ShowWindow(bool bShow = true, bool bTakeFocus = true);
  // Posts WM_CLOSE with wParam = nRet.
  void Close(UINT nRet = IDOK);
  void ResizeClient(int cx = -1, int cy = -1);
  LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
  LRESULT PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
  void SetIcon(UINT nRes);

  // Slots 1-6 of the window's virtual table.
  virtual const wchar_t* WindowClassName() const = 0;
  virtual const wchar_t* GetSuperClassName() const { return nullptr; }
  virtual UINT GetClassStyle() const { return 0; }
  virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
  virtual void OnFinalMessage(HWND hWnd) { (void)hWnd; }
  virtual ~CWindowWnd() = default;

 protected:
  static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
  bool RegisterWindowClass();

  HWND m_hWnd = nullptr;
};

// Message-map base of windows that receive notifications.
class CNotifyPump {
 public:
  virtual ~CNotifyPump() = default;
};

class WindowImplBase : public CWindowWnd,
                       public CNotifyPump,
                       public INotifyUI,
                       public IMessageFilterUI,
                       public IDialogBuilderCallback {
 public:
  WindowImplBase() = default;

  UINT GetClassStyle() const override { return CS_DBLCLKS; }
  LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) override;
  void OnFinalMessage(HWND hWnd) override;
  ~WindowImplBase() override = default;

  // Slots 7-35.
  virtual void InitWindow() {}
  virtual void OnClick(TNotifyUI& msg);
  virtual std::wstring SkinFolderName() = 0;
  virtual std::wstring SkinFileName() = 0;
  virtual LRESULT ResponseDefaultKeyEvent(WPARAM wParam);
  virtual int GetResourceType() const { return 1; }  // a file in the resource directory
  virtual std::wstring GetZIPFileName() const { return L""; }
  virtual const wchar_t* GetResourceID() const { return L""; }
  virtual LRESULT OnClose(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnNcActivate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnNcCalcSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnNcPaint(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnNcHitTest(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnGetMinMaxInfo(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnMouseWheel(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnMouseHover(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnSize(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnChar(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnSysCommand(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnCreate(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnKeyDown(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnKillFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnSetFocus(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnLButtonDown(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnLButtonUp(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT OnMouseMove(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LRESULT HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL& bHandled);
  virtual LONG GetStyle();

  // INotifyUI: "click" goes to OnClick.
  void Notify(TNotifyUI& msg) override;
  // IMessageFilterUI, the keyboard pre-filter: Escape closes, Enter passes on.
  LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) override;
  // IDialogBuilderCallback: no classes beyond the toolkit's own.
  CControlUI* CreateControl(const wchar_t* pstrClass) override;

 protected:
  CPaintManagerUI m_PaintManager;
};

}  // namespace DuiLib
