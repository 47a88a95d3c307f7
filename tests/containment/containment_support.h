// What both containment test files share: run timeouts and listings for failure messages.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace oku::containment {

constexpr DWORD kInstallTimeoutMs = 180000;
constexpr DWORD kUninstallTimeoutMs = 120000;

using oku::e2e::Within;

// Entries of a listing on one line, for a failure message.
inline std::wstring Joined(const std::vector<std::wstring>& entries) {
  std::wstring text;
  for (const std::wstring& entry : entries) text += (text.empty() ? L"" : L" | ") + entry;
  return text;
}

}  // namespace oku::containment
