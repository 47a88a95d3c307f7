// box-answer: answers a message box like a user. Waits for a dialog with the given caption,
// records its caption and text (UTF-8, one line "caption<TAB>text"), and presses a button.
//   box-answer.exe --caption <text> [--button ok|cancel|yes|no] [--timeout <ms>] [--out <file>]
// Exit codes: 0 answered, 1 no such box within the timeout, 2 bad arguments.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/handles.h"
#include "common/portable/text.h"

namespace {

int ButtonId(const std::wstring& name) {
  if (name == L"ok") return IDOK;
  if (name == L"cancel") return IDCANCEL;
  if (name == L"yes") return IDYES;
  if (name == L"no") return IDNO;
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring caption, outPath, button = L"ok";
  DWORD timeoutMs = 30000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring key = argv[i];
    if (key == L"--caption") caption = argv[i + 1];
    else if (key == L"--button") button = argv[i + 1];
    else if (key == L"--timeout") timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
    else if (key == L"--out") outPath = argv[i + 1];
    else return 2;
  }
  const int buttonId = ButtonId(button);
  if (caption.empty() || buttonId == 0) return 2;

  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  HWND dialog = nullptr;
  while (!(dialog = ::FindWindowW(L"#32770", caption.c_str())) && ::GetTickCount64() < deadline) ::Sleep(50);
  if (!dialog) return 1;

  wchar_t text[2048] = {};
  if (HWND label = ::GetDlgItem(dialog, 0xFFFF)) ::GetWindowTextW(label, text, 2048);
  if (!outPath.empty()) {
    const std::string line = oku::Utf8FromWide(caption + L"\t" + text + L"\n");
    oku::FileHandle file(::CreateFileW(outPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  if (HWND control = ::GetDlgItem(dialog, buttonId)) {
    ::SendMessageW(control, BM_CLICK, 0, 0);
  } else {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
  }
  return 0;
}
