// Shared types of the window toolkit: notifications, control events, listener interfaces and
// the paint manager's font, image and image-description records.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/handles.h"
#include "ui/portable/image_description.h"

namespace DuiLib {

class CControlUI;
class CPaintManagerUI;

// A notification delivered to the window ("click", "windowinit", "textchanged", ...).
struct tagTNotifyUI {
  std::wstring sType;
  std::wstring sVirtualWnd;
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;  // milliseconds since system start, taken when sent
  POINT ptMouse{};        // last known client point
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
using TNotifyUI = tagTNotifyUI;

enum EventTypeUI {
  UIEVENT_MOUSEMOVE = 1,
  UIEVENT_MOUSELEAVE,
  UIEVENT_MOUSEENTER,
  UIEVENT_MOUSEHOVER,
  UIEVENT_BUTTONDOWN,
  UIEVENT_BUTTONUP,
  UIEVENT_DBLCLICK,
  UIEVENT_KEYDOWN,
  UIEVENT_SETFOCUS,
  UIEVENT_KILLFOCUS,
};

// An input event routed by the paint manager to one control.
struct tagTEventUI {
  int Type = 0;
  CControlUI* pSender = nullptr;
  DWORD dwTimestamp = 0;
  POINT ptMouse{};
  wchar_t chKey = 0;
  WORD wKeyState = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
using TEventUI = tagTEventUI;

class INotifyUI {
 public:
  virtual void Notify(TNotifyUI& msg) = 0;

 protected:
  ~INotifyUI() = default;
};

// Sees a window's messages before they are translated and dispatched (message loop) or
// before the paint manager handles them.
class IMessageFilterUI {
 public:
  virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;

 protected:
  ~IMessageFilterUI() = default;
};

struct tagTFontInfo {
  oku::GdiFont hFont;
  std::wstring sFontName;
  int iSize = 0;
  bool bBold = false;
  bool bUnderline = false;
  bool bItalic = false;
  TEXTMETRICW tm{};
};
using TFontInfo = tagTFontInfo;

// A decoded image: a 32-bit top-down DIB section with premultiplied alpha.
struct tagTImageInfo {
  oku::GdiBitmap hBitmap;
  std::uint32_t* pBits = nullptr;  // owned by hBitmap
  int nX = 0;
  int nY = 0;
  bool bAlpha = false;  // some pixel is not opaque
  std::wstring sResType;
  DWORD dwMask = 0;
};
using TImageInfo = tagTImageInfo;

// An image description parsed at first use, with its load outcome kept until it changes.
struct tagTDrawInfo {
  std::wstring sDrawString;  // the description as written
  bool bParsed = false;
  bool bLoadFailed = false;  // not retried until the description changes
  ImageDescription desc;
  const TImageInfo* pImageInfo = nullptr;  // owned by the paint manager's cache

  void Clear() { *this = tagTDrawInfo{}; }
  void Set(const std::wstring& description) {
    if (description == sDrawString && bParsed) return;
    Clear();
    sDrawString = description;
  }
};
using TDrawInfo = tagTDrawInfo;

}  // namespace DuiLib
