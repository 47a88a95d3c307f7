// Plain rectangles and sizes for the toolkit's platform-free logic (layout, value parsing).
#pragma once

namespace DuiLib {

struct UiRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  // Makes right >= left and bottom >= top by raising the far edges.
  void Normalize() {
    if (right < left) right = left;
    if (bottom < top) bottom = top;
  }
  friend bool operator==(const UiRect&, const UiRect&) = default;
};

struct UiSize {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const UiSize&, const UiSize&) = default;
};

}  // namespace DuiLib
