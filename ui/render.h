// GDI drawing of the toolkit: colour fills with alpha, gradients, stretched and nine-slice
// image blits, rounded clipping, text and borders. Every GDI object is owned here.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/handles.h"
#include "ui/ui_defs.h"

namespace DuiLib::render {

using oku::SelectScope;

inline oku::MemoryDC CreateMemoryDC(HDC compatible) { return oku::MemoryDC(::CreateCompatibleDC(compatible)); }

// Narrows the DC's clip region to rc (rounded with the corner ellipse when round is non-zero)
// for its lifetime, then restores the previous clip.
class ClipScope {
 public:
  ClipScope(HDC dc, const RECT& rc, SIZE round = SIZE{0, 0});
  ~ClipScope();
  ClipScope(const ClipScope&) = delete;
  ClipScope& operator=(const ClipScope&) = delete;

 private:
  HDC dc_;
  oku::GdiRegion saved_;
  bool hadClip_ = false;
};

inline COLORREF ToColorRef(DWORD argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

// A 32-bit top-down DIB section; bits receives its pixel memory.
oku::GdiBitmap CreateDib(int width, int height, std::uint32_t** bits);

// Colour 0 draws nothing; an opaque colour fills, a translucent one blends.
void FillColor(HDC dc, const RECT& rc, DWORD argb);
// Vertical gradient top -> bottom (and on to a third colour when bottom2 is non-zero).
void FillGradient(HDC dc, const RECT& rc, DWORD top, DWORD bottom, DWORD bottom2);
// Stretches source of the image to dest; corner margins stay unstretched; the image's alpha
// times fade/255 is blended.
void DrawImage(HDC dc, const TImageInfo& image, const RECT& dest, const RECT& source, const RECT& corner,
               int fade, bool hole);
void DrawText(HDC dc, const RECT& rc, const std::wstring& text, DWORD argb, HFONT font, UINT style);
void DrawBorder(HDC dc, const RECT& rc, const RECT& size, DWORD argb, SIZE round, int style);
SIZE MeasureText(HDC dc, HFONT font, const std::wstring& text);

// Decodes an image file or in-memory image (PNG, BMP, JPEG, ...) through WIC into a premultiplied
// 32-bit DIB. mask: pixels of this RGB become transparent (when non-zero). Null on failure.
std::unique_ptr<TImageInfo> LoadImageFile(const std::wstring& path, DWORD mask);
std::unique_ptr<TImageInfo> LoadImageMemory(const void* data, std::size_t size, DWORD mask);

}  // namespace DuiLib::render
