// Text helpers free of the platform: UTF-8/UTF-16 conversion that never splits a character,
// decimal rendering, and printf-style formatting into std::wstring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace oku {

// UTF-16 -> UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);
// UTF-8 -> UTF-16. Invalid sequences become U+FFFD.
std::wstring WideFromUtf8(std::string_view text);

// The longest prefix of text that is at most maxBytes long and does not end inside a UTF-8
// sequence (a cut never splits a character).
std::string_view Utf8PrefixOnBoundary(std::string_view text, std::size_t maxBytes);

// Decimal text of any integer (signed values keep their sign).
template <typename T>
  requires std::is_integral_v<T>
std::wstring ToWide(T value) {
  if constexpr (std::is_signed_v<T>) {
    return std::to_wstring(static_cast<long long>(value));
  } else {
    return std::to_wstring(static_cast<unsigned long long>(value));
  }
}
template <typename T>
  requires std::is_integral_v<T>
std::string ToNarrow(T value) {
  if constexpr (std::is_signed_v<T>) {
    return std::to_string(static_cast<long long>(value));
  } else {
    return std::to_string(static_cast<unsigned long long>(value));
  }
}

// Formats like swprintf with the C runtime's conversions; no length limit.
std::wstring FormatWide(const wchar_t* format, ...);

bool EqualsIgnoreCaseAscii(std::wstring_view a, std::wstring_view b);
bool StartsWith(std::wstring_view text, std::wstring_view prefix);

}  // namespace oku
