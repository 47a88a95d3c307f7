#include "ui/portable/image_description.h"

#include "ui/portable/values.h"

namespace DuiLib {
namespace {

bool IsSpace(wchar_t c) { return static_cast<unsigned>(c) <= 32; }

void Apply(ImageDescription& d, std::wstring_view key, std::wstring_view value) {
  if (key == L"file" || key == L"res") {
    d.file.assign(value);
  } else if (key == L"restype") {
    d.resType.assign(value);
  } else if (key == L"color") {
    d.isColor = true;
    d.color = ParseColor(value);
  } else if (key == L"dest") {
    d.dest = ParseRect(value);
  } else if (key == L"source") {
    d.source = ParseRect(value);
  } else if (key == L"corner" || key == L"scale9") {
    d.corner = ParseRect(value);
  } else if (key == L"mask") {
    d.mask = ParseColor(value);
  } else if (key == L"fade") {
    const int fade = ParseInteger(value);
    d.fade = fade < 0 ? 0 : (fade > 255 ? 255 : fade);
  } else if (key == L"hole") {
    d.hole = ParseBool(value);
  } else if (key == L"xtiled") {
    d.xtiled = ParseBool(value);
  } else if (key == L"ytiled") {
    d.ytiled = ParseBool(value);
  } else if (key == L"hsl") {
    d.hsl = ParseBool(value);
  }
}

}  // namespace

ImageDescription ParseImageDescription(std::wstring_view text) {
  ImageDescription d;
  std::size_t i = 0;
  bool first = true;
  for (;;) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    const std::size_t keyStart = i;
    while (i < text.size() && text[i] != L'=' && !IsSpace(text[i])) ++i;
    const std::wstring_view key = text.substr(keyStart, i - keyStart);
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size() || text[i] != L'=') {
      if (first) d.file.assign(text);
      break;
    }
    ++i;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size() || text[i] != L'\'') break;
    ++i;
    const std::size_t close = text.find(L'\'', i);
    if (close == std::wstring_view::npos) break;
    Apply(d, key, text.substr(i, close - i));
    first = false;
    i = close + 1;
    if (!(i + 1 < text.size() && text[i] == L' ')) break;
    ++i;
  }
  return d;
}

}  // namespace DuiLib
