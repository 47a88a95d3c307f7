// The attribute value syntax of the layout description: integers read like wcstol, lists of
// integers with any one-character separator, "true"-only booleans and AARRGGBB colours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/portable/geometry.h"

namespace DuiLib {

// Reads one decimal integer at text[pos] like wcstol (leading whitespace, optional sign, digits,
// clamped to the 32-bit range). Returns the value and the index where reading stopped; when no
// digits were read the stop index is pos, as wcstol's end pointer is.
std::pair<int, std::size_t> ReadInteger(std::wstring_view text, std::size_t pos);

// Reads count integers, each starting one character after the end of the previous one. A list
// that ends early leaves the remaining values 0 (the reader never looks past the text).
void ReadIntegerList(std::wstring_view text, int* values, std::size_t count);
UiRect ParseRect(std::wstring_view text);  // l,t,r,b
UiSize ParseSize(std::wstring_view text);  // cx,cy
int ParseInteger(std::wstring_view text);

// True only for exactly "true".
bool ParseBool(std::wstring_view text);

// "#AARRGGBB" with optional "#", read like wcstoul base 16. skipLeadingSpace is used for the
// background colours, which also allow whitespace before the "#".
std::uint32_t ParseColor(std::wstring_view text, bool skipLeadingSpace = false);

// name="value" pairs separated by whitespace (default attribute lists). Stops at the first
// malformed pair.
std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(std::wstring_view text);

// Label alignment: the value is searched for substrings; later tests win.
struct TextAlign {
  bool center = false;
  bool right = false;
};
TextAlign ParseHorizontalAlign(std::wstring_view value, TextAlign current);
struct TextVAlign {
  bool vcenter = true;
  bool bottom = false;
};
TextVAlign ParseVerticalAlign(std::wstring_view value, TextVAlign current);

}  // namespace DuiLib
