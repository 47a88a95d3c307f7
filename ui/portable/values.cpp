#include "ui/portable/values.h"

#include <climits>

namespace DuiLib {
namespace {

bool IsCSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

std::pair<int, std::size_t> ReadInteger(std::wstring_view text, std::size_t pos) {
  std::size_t i = pos;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  const std::size_t digitsStart = i;
  long long value = 0;
  while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[i] - L'0');
    ++i;
  }
  if (i == digitsStart) return {0, pos};
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return {static_cast<int>(value), i};
}

void ReadIntegerList(std::wstring_view text, int* values, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (pos > text.size()) {
      values[k] = 0;
      continue;
    }
    auto [value, end] = ReadInteger(text, pos);
    values[k] = value;
    pos = end + 1;  // the separator may be any single character
  }
}

UiRect ParseRect(std::wstring_view text) {
  int v[4];
  ReadIntegerList(text, v, 4);
  return UiRect{v[0], v[1], v[2], v[3]};
}

UiSize ParseSize(std::wstring_view text) {
  int v[2];
  ReadIntegerList(text, v, 2);
  return UiSize{v[0], v[1]};
}

int ParseInteger(std::wstring_view text) { return ReadInteger(text, 0).first; }

bool ParseBool(std::wstring_view text) { return text == L"true"; }

std::uint32_t ParseColor(std::wstring_view text, bool skipLeadingSpace) {
  std::size_t i = 0;
  if (skipLeadingSpace) {
    while (i < text.size() && static_cast<unsigned>(text[i]) <= 32) ++i;
  }
  if (i < text.size() && text[i] == L'#') ++i;
  // wcstoul(..., 16) from here.
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  if (i + 2 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X') &&
      HexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  unsigned long long value = 0;
  bool overflow = false;
  bool any = false;
  for (; i < text.size(); ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0) break;
    any = true;
    value = value * 16 + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFull) overflow = true, value = 0xFFFFFFFFull;
  }
  if (!any) return 0;
  if (overflow) return 0xFFFFFFFFu;
  std::uint32_t result = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(std::wstring_view text) {
  std::vector<std::pair<std::wstring, std::wstring>> result;
  std::size_t i = 0;
  const auto skip = [&] {
    while (i < text.size() && static_cast<unsigned>(text[i]) <= 32) ++i;
  };
  for (;;) {
    skip();
    if (i >= text.size()) break;
    const std::size_t nameStart = i;
    while (i < text.size() && text[i] != L'=' && static_cast<unsigned>(text[i]) > 32) ++i;
    std::wstring name(text.substr(nameStart, i - nameStart));
    skip();
    if (name.empty() || i >= text.size() || text[i] != L'=') break;
    ++i;
    skip();
    if (i >= text.size() || text[i] != L'"') break;
    const std::size_t close = text.find(L'"', i + 1);
    if (close == std::wstring_view::npos) break;
    result.emplace_back(std::move(name), std::wstring(text.substr(i + 1, close - i - 1)));
    i = close + 1;
  }
  return result;
}

TextAlign ParseHorizontalAlign(std::wstring_view value, TextAlign current) {
  if (value.find(L"left") != std::wstring_view::npos) current.center = false, current.right = false;
  if (value.find(L"center") != std::wstring_view::npos) current.center = true, current.right = false;
  if (value.find(L"right") != std::wstring_view::npos) current.center = false, current.right = true;
  return current;
}

TextVAlign ParseVerticalAlign(std::wstring_view value, TextVAlign current) {
  if (value.find(L"top") != std::wstring_view::npos) current.vcenter = false, current.bottom = false;
  if (value.find(L"vcenter") != std::wstring_view::npos) current.vcenter = true, current.bottom = false;
  if (value.find(L"bottom") != std::wstring_view::npos) current.vcenter = false, current.bottom = true;
  return current;
}

}  // namespace DuiLib
