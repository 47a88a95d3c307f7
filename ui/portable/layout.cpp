#include "ui/portable/layout.h"

#include <algorithm>
#include <cstdint>

namespace DuiLib {
namespace {

UiRect Inner(const LayoutBox& box) {
  UiRect r{box.rect.left + box.inset.left, box.rect.top + box.inset.top, box.rect.right - box.inset.right,
           box.rect.bottom - box.inset.bottom};
  return r;
}

UiSize Estimate(const LayoutChild& c, UiSize available) {
  if (c.estimate) return c.estimate(available);
  return UiSize{c.fixedWidth, c.fixedHeight};
}

int Clamp(int v, int lo, int hi) {
  if (v < lo) v = lo;
  if (v > hi) v = hi;
  return v;
}

}  // namespace

std::vector<UiRect> LayoutVertical(const LayoutBox& box, const std::vector<LayoutChild>& children) {
  std::vector<UiRect> out(children.size());
  const UiRect inner = Inner(box);
  const UiSize available{inner.Width(), inner.Height()};

  // A child's own fixed width, else its maximum width, caps the width it is offered.
  const auto offered = [&](const LayoutChild& c) {
    UiSize s = available;
    const int cap = c.fixedWidth != 0 ? c.fixedWidth : c.maxWidth;
    if (cap < s.cx) s.cx = cap;
    return s;
  };

  int adjustables = 0;
  int fixedTotal = 0;
  int count = 0;
  std::vector<UiSize> estimates(children.size());
  for (std::size_t k = 0; k < children.size(); ++k) {
    const LayoutChild& c = children[k];
    UiSize sz = Estimate(c, offered(c));
    if (sz.cy == 0) {
      ++adjustables;
    } else {
      sz.cy = Clamp(sz.cy, c.minHeight, c.maxHeight);
      fixedTotal += sz.cy + c.padding.top + c.padding.bottom;
    }
    estimates[k] = sz;
    ++count;
  }
  if (count > 0) fixedTotal += box.childPadding * (count - 1);
  int expand = 0;
  if (adjustables > 0) expand = std::max(0, (available.cy - fixedTotal) / adjustables);

  int posY = inner.top;
  int remaining = available.cy;
  int fixedToCome = fixedTotal;
  int adjustable = 0;
  for (std::size_t k = 0; k < children.size(); ++k) {
    const LayoutChild& c = children[k];
    const UiSize offer = offered(c);
    UiSize sz = estimates[k];
    remaining -= c.padding.top;
    fixedToCome -= c.padding.top + c.padding.bottom;
    if (k > 0) fixedToCome -= box.childPadding;
    if (sz.cy == 0) {
      ++adjustable;
      sz.cy = expand;
      if (adjustable == adjustables) sz.cy = std::max(0, remaining - c.padding.bottom - fixedToCome);
      sz.cy = Clamp(sz.cy, c.minHeight, c.maxHeight);
    } else {
      sz.cy = Clamp(sz.cy, c.minHeight, c.maxHeight);
      fixedToCome -= sz.cy;
    }
    int width = c.maxWidth != 0 ? c.maxWidth : available.cx - c.padding.left - c.padding.right;
    if (width > offer.cx) width = offer.cx;
    if (width < c.minWidth) width = c.minWidth;

    int left = inner.left + c.padding.left;
    if (box.align == ChildAlign::kCenter) {
      left = inner.left + (available.cx - width) / 2;
    } else if (box.align == ChildAlign::kRight) {
      left = inner.right - c.padding.right - width;
    }
    const int top = posY + c.padding.top;
    out[k] = UiRect{left, top, left + width, top + sz.cy};
    posY += sz.cy + c.padding.top + c.padding.bottom + box.childPadding;
    remaining -= sz.cy + c.padding.bottom + box.childPadding;
  }
  return out;
}

std::vector<UiRect> LayoutHorizontal(const LayoutBox& box, const std::vector<LayoutChild>& children) {
  std::vector<UiRect> out(children.size());
  const UiRect inner = Inner(box);
  const UiSize available{inner.Width(), inner.Height()};

  // The height offered: the fixed height, else the maximum height, never above the available.
  const auto offered = [&](const LayoutChild& c) {
    UiSize s = available;
    const int cap = c.fixedHeight != 0 ? c.fixedHeight : c.maxHeight;
    if (cap < s.cy) s.cy = cap;
    return s;
  };

  int adjustables = 0;
  int fixedTotal = 0;
  int count = 0;
  std::vector<UiSize> estimates(children.size());
  for (std::size_t k = 0; k < children.size(); ++k) {
    const LayoutChild& c = children[k];
    ++count;
    if (c.fixedWidth == 0) {  // stretchable: its estimate is not asked for
      ++adjustables;
      continue;
    }
    UiSize sz = Estimate(c, offered(c));
    sz.cx = Clamp(sz.cx, c.minWidth, c.maxWidth);
    fixedTotal += sz.cx + c.padding.left + c.padding.right;
    estimates[k] = sz;
  }
  if (count > 0) fixedTotal += box.childPadding * (count - 1);
  int expand = 0;
  if (adjustables > 0) expand = std::max(0, (available.cx - fixedTotal) / adjustables);

  int posX = inner.left;
  int remaining = available.cx;
  int fixedToCome = fixedTotal;
  int adjustable = 0;
  for (std::size_t k = 0; k < children.size(); ++k) {
    const LayoutChild& c = children[k];
    const UiSize offer = offered(c);
    UiSize sz = Estimate(c, offer);
    remaining -= c.padding.left;
    fixedToCome -= c.padding.left + c.padding.right;
    if (k > 0) fixedToCome -= box.childPadding;
    if (c.fixedWidth == 0 || sz.cx == 0) {
      ++adjustable;
      sz.cx = expand;
      if (adjustable == adjustables) sz.cx = std::max(0, remaining - c.padding.right - fixedToCome);
      sz.cx = Clamp(sz.cx, c.minWidth, c.maxWidth);
    } else {
      sz.cx = Clamp(sz.cx, c.minWidth, c.maxWidth);
      fixedToCome -= sz.cx;
    }
    int height = c.maxHeight != 0 ? c.maxHeight : available.cy - c.padding.top - c.padding.bottom;
    if (height > offer.cy) height = offer.cy;
    if (height < c.minHeight) height = c.minHeight;

    int top = inner.top + c.padding.top;
    if (box.valign == ChildVAlign::kVCenter) {
      top = inner.top + (available.cy - height) / 2;
    } else if (box.valign == ChildVAlign::kBottom) {
      top = inner.bottom - c.padding.bottom - height;
    }
    const int left = posX + c.padding.left;
    out[k] = UiRect{left, top, left + sz.cx, top + height};
    posX += sz.cx + c.padding.left + c.padding.right + box.childPadding;
    remaining -= sz.cx + c.padding.right + box.childPadding;
  }
  return out;
}

std::vector<UiRect> LayoutOverlay(const LayoutBox& box, const std::vector<LayoutChild>& children) {
  std::vector<UiRect> out(children.size());
  const UiRect inner = Inner(box);
  for (std::size_t k = 0; k < children.size(); ++k) {
    const LayoutChild& c = children[k];
    const int w = Clamp(inner.Width(), c.minWidth, c.maxWidth);
    const int h = Clamp(inner.Height(), c.minHeight, c.maxHeight);
    out[k] = UiRect{inner.left, inner.top, inner.left + w, inner.top + h};
  }
  return out;
}

UiRect ProgressFillRect(const UiRect& item, bool horizontal, int minimum, int maximum, int value) {
  if (maximum <= minimum) maximum = minimum + 1;
  value = Clamp(value, minimum, maximum);
  const std::int64_t range = static_cast<std::int64_t>(maximum) - minimum;
  const std::int64_t part = static_cast<std::int64_t>(value) - minimum;
  UiRect fill = item;
  if (horizontal) {
    fill.right = item.left + static_cast<int>(part * item.Width() / range);
  } else {
    fill.top = item.bottom - static_cast<int>(part * item.Height() / range);
  }
  return fill;
}

}  // namespace DuiLib
