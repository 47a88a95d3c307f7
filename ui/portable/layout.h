// Layout arithmetic of containers, vertical and horizontal layouts and the progress fill,
// over plain rectangles. The controls feed their sizes in; nothing here knows about windows.
#pragma once

#include <functional>
#include <vector>

#include "ui/portable/geometry.h"

namespace DuiLib {

enum class ChildAlign { kLeft, kCenter, kRight };
enum class ChildVAlign { kTop, kVCenter, kBottom };

// One visible, non-floating child as its parent layout sees it.
struct LayoutChild {
  int fixedWidth = 0;   // 0 = not fixed
  int fixedHeight = 0;  // 0 = not fixed
  int minWidth = 0;
  int minHeight = 0;
  int maxWidth = 9999;
  int maxHeight = 9999;
  UiRect padding;
  // EstimateSize(available); 0 in a dimension means "stretch". Defaults to the fixed size.
  std::function<UiSize(UiSize)> estimate;
};

struct LayoutBox {
  UiRect rect;  // the container's item rectangle
  UiRect inset;
  int childPadding = 0;
  ChildAlign align = ChildAlign::kLeft;
  ChildVAlign valign = ChildVAlign::kTop;
};

// Rectangles for the children, in order.
std::vector<UiRect> LayoutVertical(const LayoutBox& box, const std::vector<LayoutChild>& children);
std::vector<UiRect> LayoutHorizontal(const LayoutBox& box, const std::vector<LayoutChild>& children);
// Every child fills the inner rectangle, clamped to its own limits.
std::vector<UiRect> LayoutOverlay(const LayoutBox& box, const std::vector<LayoutChild>& children);

// The filled part of a progress bar (range repaired and value clamped first).
UiRect ProgressFillRect(const UiRect& item, bool horizontal, int minimum, int maximum, int value);

}  // namespace DuiLib
