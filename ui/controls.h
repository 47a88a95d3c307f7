// The eight control classes of the toolkit subset: plain control, container, vertical and
// horizontal layouts, label, button, edit and progress bar.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/ui_defs.h"

namespace DuiLib {

class CPaintManagerUI;

class CControlUI {
 public:
  CControlUI();
  virtual ~CControlUI();
  CControlUI(const CControlUI&) = delete;
  CControlUI& operator=(const CControlUI&) = delete;

  virtual std::wstring GetClass() const { return L"ControlUI"; }
  // The object as the named interface ("Control", "Container", "Label", ...) or null.
  virtual void* GetInterface(const std::wstring& name);

  const std::wstring& GetName() const { return m_sName; }
  void SetName(const std::wstring& name) { m_sName = name; }
  virtual std::wstring GetText() const { return m_sText; }
  virtual void SetText(const std::wstring& text);
  const std::wstring& GetToolTip() const { return m_sToolTip; }
  void SetToolTip(const std::wstring& text) { m_sToolTip = text; }
  int GetToolTipWidth() const { return m_nTooltipWidth; }
  void SetToolTipWidth(int width) { m_nTooltipWidth = width; }
  const std::wstring& GetUserData() const { return m_sUserData; }
  void SetUserData(const std::wstring& text) { m_sUserData = text; }
  UINT_PTR GetTag() const { return m_pTag; }
  void SetTag(UINT_PTR tag) { m_pTag = tag; }

  // --- colours and images ---
  DWORD GetBkColor() const { return m_dwBackColor; }
  void SetBkColor(DWORD color);
  DWORD GetBkColor2() const { return m_dwBackColor2; }
  void SetBkColor2(DWORD color);
  DWORD GetBkColor3() const { return m_dwBackColor3; }
  void SetBkColor3(DWORD color);
  const std::wstring& GetBkImage() const { return m_diBk.sDrawString; }
  void SetBkImage(const std::wstring& description);
  DWORD GetBorderColor() const { return m_dwBorderColor; }
  void SetBorderColor(DWORD color);
  DWORD GetFocusBorderColor() const { return m_dwFocusBorderColor; }
  void SetFocusBorderColor(DWORD color);
  RECT GetBorderSize() const { return m_rcBorderSize; }
  void SetBorderSize(RECT rc);
  void SetBorderSize(int size);
  int GetBorderStyle() const { return m_nBorderStyle; }
  void SetBorderStyle(int style) { m_nBorderStyle = style; }
  SIZE GetBorderRound() const { return m_cxyBorderRound; }
  void SetBorderRound(SIZE cxy);

  // --- position and size ---
  const RECT& GetPos() const { return m_rcItem; }
  virtual void SetPos(RECT rc, bool bNeedInvalidate = true);
  RECT GetPadding() const { return m_rcPadding; }
  void SetPadding(RECT rc);
  SIZE GetFixedXY() const { return m_cXY; }
  void SetFixedXY(SIZE xy);
  int GetFixedWidth() const { return m_cxyFixed.cx; }
  void SetFixedWidth(int cx);
  int GetFixedHeight() const { return m_cxyFixed.cy; }
  void SetFixedHeight(int cy);
  int GetMinWidth() const { return m_cxyMin.cx; }
  void SetMinWidth(int cx);
  int GetMaxWidth() const { return m_cxyMax.cx; }
  void SetMaxWidth(int cx);
  int GetMinHeight() const { return m_cxyMin.cy; }
  void SetMinHeight(int cy);
  int GetMaxHeight() const { return m_cxyMax.cy; }
  void SetMaxHeight(int cy);
  // The fixed width and height; 0 means not fixed.
  virtual SIZE EstimateSize(SIZE szAvailable);

  // --- state ---
  virtual bool IsVisible() const { return m_bVisible; }
  virtual void SetVisible(bool visible = true);
  virtual bool IsEnabled() const { return m_bEnabled; }
  virtual void SetEnabled(bool enabled = true);
  bool IsMouseEnabled() const { return m_bMouseEnabled; }
  void SetMouseEnabled(bool enabled = true) { m_bMouseEnabled = enabled; }
  bool IsKeyboardEnabled() const { return m_bKeyboardEnabled; }
  void SetKeyboardEnabled(bool enabled = true) { m_bKeyboardEnabled = enabled; }
  bool IsContextMenuUsed() const { return m_bMenuUsed; }
  bool IsFocused() const { return m_bFocused; }
  void SetFocus();
  bool IsFloat() const { return m_bFloat; }

  // --- tree ---
  CPaintManagerUI* GetManager() const { return m_pManager; }
  CControlUI* GetParent() const { return m_pParent; }
  virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true);
  // Calls fn for this control and (containers) every descendant, parents first.
  virtual void ForEach(const std::function<void(CControlUI*)>& fn);
  // The topmost visible, mouse-enabled control under pt, or null.
  virtual CControlUI* FindControlAt(POINT pt);

  virtual void Init();
  virtual void DoInit() {}
  void Event(TEventUI& event);
  virtual void DoEvent(TEventUI& event);
  // Fails when the control is invisible or disabled.
  virtual bool Activate();

  void Invalidate();
  bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
  void NeedUpdate();
  void NeedParentUpdate();

  // --- attributes ---
  virtual void SetAttribute(const std::wstring& name, const std::wstring& value);
  // name="value" pairs, as in default attribute lists.
  void ApplyAttributeList(const std::wstring& list);
  void AddCustomAttribute(const std::wstring& name, const std::wstring& value);
  std::wstring GetCustomAttribute(const std::wstring& name) const;  // empty when absent
  bool HasCustomAttribute(const std::wstring& name) const { return m_mCustomAttrs.count(name) != 0; }

  // Listeners of this control's own notifications, called before the window's notifiers.
  std::vector<std::function<void(TNotifyUI&)>> OnNotify;

  // --- painting ---
  // Paints the control (and children) where it meets rcPaint.
  virtual void DoPaint(HDC hDC, const RECT& rcPaint);
  virtual void PaintBkColor(HDC hDC);
  virtual void PaintBkImage(HDC hDC);
  virtual void PaintStatusImage(HDC hDC);
  virtual void PaintText(HDC hDC);
  virtual void PaintBorder(HDC hDC);
  // Draws the description over rcDest (the item rectangle when null); false when nothing drew.
  bool DrawImage(HDC hDC, TDrawInfo& drawInfo, const RECT* rcDest = nullptr);

 protected:
  CPaintManagerUI* m_pManager = nullptr;
  CControlUI* m_pParent = nullptr;
  std::wstring m_sName;
  std::wstring m_sText;
  std::wstring m_sToolTip;
  int m_nTooltipWidth = 300;
  std::wstring m_sUserData;
  UINT_PTR m_pTag = 0;
  bool m_bUpdateNeeded = true;
  bool m_bVisible = true;
  bool m_bEnabled = true;
  bool m_bMouseEnabled = true;
  bool m_bKeyboardEnabled = true;
  bool m_bFocused = false;
  bool m_bFloat = false;
  bool m_bMenuUsed = false;
  bool m_bInited = false;
  RECT m_rcItem{};
  RECT m_rcPaint{};
  RECT m_rcPadding{};
  SIZE m_cXY{};
  SIZE m_cxyFixed{};
  SIZE m_cxyMin{};
  SIZE m_cxyMax{9999, 9999};
  DWORD m_dwBackColor = 0;
  DWORD m_dwBackColor2 = 0;
  DWORD m_dwBackColor3 = 0;
  DWORD m_dwBorderColor = 0;
  DWORD m_dwFocusBorderColor = 0;
  RECT m_rcBorderSize{};
  int m_nBorderStyle = PS_SOLID;
  SIZE m_cxyBorderRound{};
  TDrawInfo m_diBk;
  std::map<std::wstring, std::wstring> m_mCustomAttrs;
};

class CContainerUI : public CControlUI {
 public:
  CContainerUI() = default;
  ~CContainerUI() override;

  std::wstring GetClass() const override { return L"ContainerUI"; }
  void* GetInterface(const std::wstring& name) override;

  CControlUI* GetItemAt(int index) const;
  int GetItemIndex(CControlUI* control) const;
  int GetCount() const { return static_cast<int>(m_items.size()); }
  // The container owns added children.
  virtual bool Add(CControlUI* control);
  virtual bool AddAt(CControlUI* control, int index);
  virtual bool Remove(CControlUI* control);  // deletes it
  virtual void RemoveAll();
  CControlUI* GetCover() const { return m_pCover; }
  void SetCover(CControlUI* control);  // owned; replaces (deletes) an earlier cover

  RECT GetInset() const { return m_rcInset; }
  void SetInset(RECT rc);
  int GetChildPadding() const { return m_iChildPadding; }
  void SetChildPadding(int padding);
  UINT GetChildAlign() const { return m_iChildAlign; }
  void SetChildAlign(UINT align);
  UINT GetChildVAlign() const { return m_iChildVAlign; }
  void SetChildVAlign(UINT align);
  bool IsMouseChildEnabled() const { return m_bMouseChildEnabled; }
  void SetMouseChildEnabled(bool enabled = true) { m_bMouseChildEnabled = enabled; }

  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
  void ForEach(const std::function<void(CControlUI*)>& fn) override;
  CControlUI* FindControlAt(POINT pt) override;
  void DoPaint(HDC hDC, const RECT& rcPaint) override;

 protected:
  RECT InnerRect() const;
  std::vector<CControlUI*> m_items;
  CControlUI* m_pCover = nullptr;
  RECT m_rcInset{};
  int m_iChildPadding = 0;
  UINT m_iChildAlign = DT_LEFT;
  UINT m_iChildVAlign = DT_TOP;
  bool m_bMouseChildEnabled = true;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"VerticalLayoutUI"; }
  void* GetInterface(const std::wstring& name) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  std::wstring GetClass() const override { return L"HorizontalLayoutUI"; }
  void* GetInterface(const std::wstring& name) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
};

class CLabelUI : public CControlUI {
 public:
  CLabelUI() = default;
  std::wstring GetClass() const override { return L"LabelUI"; }
  void* GetInterface(const std::wstring& name) override;

  void SetText(const std::wstring& text) override;
  UINT GetTextStyle() const { return m_uTextStyle; }
  void SetTextStyle(UINT style);
  DWORD GetTextColor() const { return m_dwTextColor; }
  void SetTextColor(DWORD color);
  DWORD GetDisabledTextColor() const { return m_dwDisabledTextColor; }
  void SetDisabledTextColor(DWORD color);
  int GetFont() const { return m_iFont; }
  void SetFont(int index);
  RECT GetTextPadding() const { return m_rcTextPadding; }
  void SetTextPadding(RECT rc);
  bool IsShowHtml() const { return m_bShowHtml; }
  void SetShowHtml(bool show = true) { m_bShowHtml = show; }

  SIZE EstimateSize(SIZE szAvailable) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintText(HDC hDC) override;

 protected:
  DWORD TextColorForPaint();
  UINT m_uTextStyle = DT_VCENTER | DT_SINGLELINE;
  DWORD m_dwTextColor = 0;
  DWORD m_dwDisabledTextColor = 0;
  int m_iFont = -1;
  RECT m_rcTextPadding{};
  bool m_bShowHtml = false;
  SIZE m_szAvailableLast{-1, -1};
  SIZE m_cxyFixedLast{};
  SIZE m_cxyFixedLastResult{};
  bool m_bNeedEstimateSize = true;
};

class CButtonUI : public CLabelUI {
 public:
  CButtonUI();
  std::wstring GetClass() const override { return L"ButtonUI"; }
  void* GetInterface(const std::wstring& name) override;

  bool Activate() override;
  void SetEnabled(bool enabled = true) override;
  void DoEvent(TEventUI& event) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(HDC hDC) override;
  void PaintText(HDC hDC) override;

  void SetNormalImage(const std::wstring& d);
  void SetHotImage(const std::wstring& d);
  void SetPushedImage(const std::wstring& d);
  void SetFocusedImage(const std::wstring& d);
  void SetDisabledImage(const std::wstring& d);
  const std::wstring& GetNormalImage() const { return m_diNormal.sDrawString; }
  void SetHotTextColor(DWORD c) { m_dwHotTextColor = c; }
  void SetPushedTextColor(DWORD c) { m_dwPushedTextColor = c; }
  void SetFocusedTextColor(DWORD c) { m_dwFocusedTextColor = c; }

  // UISTATE_* bits below.
  UINT GetButtonState() const { return m_uButtonState; }
  static constexpr UINT UISTATE_FOCUSED = 0x01;
  static constexpr UINT UISTATE_HOT = 0x04;
  static constexpr UINT UISTATE_PUSHED = 0x08;
  static constexpr UINT UISTATE_DISABLED = 0x20;
  static constexpr UINT UISTATE_CAPTURED = 0x40;

 protected:
  UINT m_uButtonState = 0;
  DWORD m_dwHotTextColor = 0;
  DWORD m_dwPushedTextColor = 0;
  DWORD m_dwFocusedTextColor = 0;
  TDrawInfo m_diNormal, m_diHot, m_diPushed, m_diFocused, m_diDisabled;
};

class CEditUI : public CLabelUI {
 public:
  CEditUI();
  std::wstring GetClass() const override { return L"EditUI"; }
  void* GetInterface(const std::wstring& name) override;

  void SetText(const std::wstring& text) override;
  bool IsReadOnly() const { return m_bReadOnly; }
  void SetReadOnly(bool readOnly);
  bool IsPasswordMode() const { return m_bPasswordMode; }
  void SetPasswordMode(bool password);
  wchar_t GetPasswordChar() const { return m_cPasswordChar; }
  bool IsNumberOnly() const { return m_bNumberOnly; }
  void SetNumberOnly(bool numberOnly) { m_bNumberOnly = numberOnly; }
  int GetMaxChar() const { return m_uMaxChar; }
  void SetMaxChar(int maxChar);
  DWORD GetNativeEditBkColor() const { return m_dwEditbkColor; }
  void SetNativeEditBkColor(DWORD color) { m_dwEditbkColor = color; }
  // The rectangle the native edit box covers (item minus text padding).
  RECT GetEditRect() const;
  // Called by the paint manager when the native box changed the text.
  void OnNativeTextChanged(const std::wstring& text);

  void SetEnabled(bool enabled = true) override;
  void SetPos(RECT rc, bool bNeedInvalidate = true) override;
  void SetVisible(bool visible = true) override;
  void DoEvent(TEventUI& event) override;
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(HDC hDC) override;
  void PaintText(HDC hDC) override;

 protected:
  bool m_bReadOnly = false;
  bool m_bPasswordMode = false;
  bool m_bNumberOnly = false;
  bool m_bAutoSelAll = false;
  wchar_t m_cPasswordChar = L'*';
  int m_uMaxChar = 255;
  DWORD m_dwEditbkColor = 0xFFFFFFFF;
  bool m_bHot = false;
  TDrawInfo m_diNormal, m_diHot, m_diFocused, m_diDisabled;
};

class CProgressUI : public CLabelUI {
 public:
  CProgressUI();
  std::wstring GetClass() const override { return L"ProgressUI"; }
  void* GetInterface(const std::wstring& name) override;

  bool IsHorizontal() const { return m_bHorizontal; }
  void SetHorizontal(bool horizontal = true);
  int GetMinValue() const { return m_nMin; }
  void SetMinValue(int value);
  int GetMaxValue() const { return m_nMax; }
  void SetMaxValue(int value);
  int GetValue() const { return m_nValue; }
  void SetValue(int value);  // clamped into [min, max]
  const std::wstring& GetForeImage() const { return m_diFore.sDrawString; }
  void SetForeImage(const std::wstring& description);
  // The filled part of the bar for the current value.
  RECT GetFillRect() const;

  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(HDC hDC) override;

 protected:
  bool m_bHorizontal = true;
  int m_nMin = 0;
  int m_nMax = 100;
  int m_nValue = 0;
  TDrawInfo m_diFore;
};

}  // namespace DuiLib
