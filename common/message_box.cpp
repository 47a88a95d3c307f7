#include "common/message_box.h"

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
  return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}
