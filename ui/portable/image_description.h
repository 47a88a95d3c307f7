// Image descriptions ("bkimage", state and fore images): a bare file name, or key='value'
// pairs separated by one space.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/portable/geometry.h"

namespace DuiLib {

struct ImageDescription {
  std::wstring file;      // "file" or "res"; the whole text when it is a bare name
  std::wstring resType;   // "restype"
  bool isColor = false;   // "color": a solid fill of colour
  std::uint32_t color = 0;
  UiRect dest;            // relative to the control's top-left; all zero = whole control
  UiRect source;          // within the image; all zero = whole image
  UiRect corner;          // "corner" / "scale9" nine-slice margins
  std::uint32_t mask = 0;
  int fade = 255;
  bool hole = false;
  bool xtiled = false;
  bool ytiled = false;
  bool hsl = false;
};

// Parsing stops at the first malformed pair and keeps what was read before it; unknown keys
// are ignored.
ImageDescription ParseImageDescription(std::wstring_view text);

}  // namespace DuiLib
