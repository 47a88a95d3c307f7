// Turns a fuzzer's bytes into the inputs the harnesses feed the parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/portable/text.h"

namespace oku_fuzz {

// Bytes read as UTF-8 text (the form the layout file and the command line reach the programs in),
// so the corpus stays readable. Invalid sequences become U+FFFD in the conversion.
inline std::wstring Wide(const std::uint8_t* data, std::size_t size) {
  return oku::WideFromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
}

// Raw UTF-16 code units (unpaired surrogates and all), for the harnesses that also want text no
// UTF-8 decoder would produce. An odd last byte is dropped.
inline std::wstring RawUtf16(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  text.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

// Splits text at a separator (newline in the corpus files) into the elements of a list.
inline std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    if (end == std::wstring::npos) return parts;
    start = end + 1;
  }
}

}  // namespace oku_fuzz
