#include "ui/render.h"

#include <wincodec.h>

#include <algorithm>

namespace DuiLib::render {

ClipScope::ClipScope(HDC dc, const RECT& rc, SIZE round) : dc_(dc) {
  saved_.reset(::CreateRectRgn(0, 0, 0, 0));
  hadClip_ = saved_ && ::GetClipRgn(dc, saved_.get()) == 1;
  oku::GdiRegion region(round.cx > 0 || round.cy > 0
                            ? ::CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + 1, round.cx, round.cy)
                            : ::CreateRectRgnIndirect(&rc));
  if (region) ::ExtSelectClipRgn(dc, region.get(), RGN_AND);
}

ClipScope::~ClipScope() { ::SelectClipRgn(dc_, hadClip_ ? saved_.get() : nullptr); }

oku::GdiBitmap CreateDib(int width, int height, std::uint32_t** bits) {
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;  // top-down
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* memory = nullptr;
  oku::GdiBitmap bitmap(::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &memory, nullptr, 0));
  *bits = bitmap ? static_cast<std::uint32_t*>(memory) : nullptr;
  return bitmap;
}

namespace {

// Blends a 1x1 premultiplied pixel stretched over rc.
void BlendSolid(HDC dc, const RECT& rc, DWORD argb) {
  std::uint32_t* bits = nullptr;
  const oku::GdiBitmap pixel = CreateDib(1, 1, &bits);
  if (!pixel) return;
  const DWORD a = argb >> 24;
  const DWORD r = ((argb >> 16) & 0xFF) * a / 255;
  const DWORD g = ((argb >> 8) & 0xFF) * a / 255;
  const DWORD b = (argb & 0xFF) * a / 255;
  *bits = (a << 24) | (r << 16) | (g << 8) | b;
  const oku::MemoryDC memory = CreateMemoryDC(dc);
  if (!memory) return;
  SelectScope select(memory.get(), pixel.get());
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ::AlphaBlend(dc, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, memory.get(), 0, 0, 1, 1, blend);
}

}  // namespace

void FillColor(HDC dc, const RECT& rc, DWORD argb) {
  if (argb == 0 || rc.right <= rc.left || rc.bottom <= rc.top) return;
  if ((argb >> 24) == 0xFF) {
    const oku::GdiBrush brush(::CreateSolidBrush(ToColorRef(argb)));
    if (brush) ::FillRect(dc, &rc, brush.get());
  } else if ((argb >> 24) != 0) {
    BlendSolid(dc, rc, argb);
  }
}

void FillGradient(HDC dc, const RECT& rc, DWORD top, DWORD bottom, DWORD bottom2) {
  const auto vertex = [](LONG x, LONG y, DWORD c) {
    TRIVERTEX v{};
    v.x = x;
    v.y = y;
    v.Red = static_cast<COLOR16>(((c >> 16) & 0xFF) << 8);
    v.Green = static_cast<COLOR16>(((c >> 8) & 0xFF) << 8);
    v.Blue = static_cast<COLOR16>((c & 0xFF) << 8);
    v.Alpha = static_cast<COLOR16>(((c >> 24) & 0xFF) << 8);
    return v;
  };
  GRADIENT_RECT index{0, 1};
  if (bottom2 == 0) {
    TRIVERTEX v[2] = {vertex(rc.left, rc.top, top), vertex(rc.right, rc.bottom, bottom)};
    ::GradientFill(dc, v, 2, &index, 1, GRADIENT_FILL_RECT_V);
    return;
  }
  const LONG middle = rc.top + (rc.bottom - rc.top) / 2;
  TRIVERTEX upper[2] = {vertex(rc.left, rc.top, top), vertex(rc.right, middle, bottom)};
  ::GradientFill(dc, upper, 2, &index, 1, GRADIENT_FILL_RECT_V);
  TRIVERTEX lower[2] = {vertex(rc.left, middle, bottom), vertex(rc.right, rc.bottom, bottom2)};
  ::GradientFill(dc, lower, 2, &index, 1, GRADIENT_FILL_RECT_V);
}

void DrawImage(HDC dc, const TImageInfo& image, const RECT& dest, const RECT& source, const RECT& corner,
               int fade, bool hole) {
  if (!image.hBitmap || fade <= 0) return;
  if (dest.right <= dest.left || dest.bottom <= dest.top) return;
  if (source.right <= source.left || source.bottom <= source.top) return;
  const oku::MemoryDC memory = CreateMemoryDC(dc);
  if (!memory) return;
  SelectScope select(memory.get(), image.hBitmap.get());
  const bool blend = image.bAlpha || fade < 255;
  const BLENDFUNCTION function{AC_SRC_OVER, 0, static_cast<BYTE>(std::min(fade, 255)),
                               static_cast<BYTE>(image.bAlpha ? AC_SRC_ALPHA : 0)};
  if (!blend) ::SetStretchBltMode(dc, COLORONCOLOR);
  const auto piece = [&](int dl, int dt, int dr, int db, int sl, int st, int sr, int sb) {
    if (dr <= dl || db <= dt || sr <= sl || sb <= st) return;
    if (blend) {
      ::AlphaBlend(dc, dl, dt, dr - dl, db - dt, memory.get(), sl, st, sr - sl, sb - st, function);
    } else if (dr - dl == sr - sl && db - dt == sb - st) {
      ::BitBlt(dc, dl, dt, dr - dl, db - dt, memory.get(), sl, st, SRCCOPY);
    } else {
      ::StretchBlt(dc, dl, dt, dr - dl, db - dt, memory.get(), sl, st, sr - sl, sb - st, SRCCOPY);
    }
  };
  const RECT& d = dest;
  const RECT& s = source;
  const RECT& c = corner;
  if (c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0) {
    if (!hole) piece(d.left, d.top, d.right, d.bottom, s.left, s.top, s.right, s.bottom);
    return;
  }
  // Nine slices: corners keep their size, edges stretch along one axis, the middle along both.
  const int dx[4] = {static_cast<int>(d.left), static_cast<int>(d.left + c.left), static_cast<int>(d.right - c.right),
                     static_cast<int>(d.right)};
  const int dy[4] = {static_cast<int>(d.top), static_cast<int>(d.top + c.top), static_cast<int>(d.bottom - c.bottom),
                     static_cast<int>(d.bottom)};
  const int sx[4] = {static_cast<int>(s.left), static_cast<int>(s.left + c.left), static_cast<int>(s.right - c.right),
                     static_cast<int>(s.right)};
  const int sy[4] = {static_cast<int>(s.top), static_cast<int>(s.top + c.top), static_cast<int>(s.bottom - c.bottom),
                     static_cast<int>(s.bottom)};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      if (hole && row == 1 && col == 1) continue;
      piece(dx[col], dy[row], dx[col + 1], dy[row + 1], sx[col], sy[row], sx[col + 1], sy[row + 1]);
    }
  }
}

void DrawText(HDC dc, const RECT& rc, const std::wstring& text, DWORD argb, HFONT font, UINT style) {
  if (text.empty()) return;
  SelectScope select(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ToColorRef(argb));
  RECT box = rc;
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, style | DT_NOPREFIX);
}

void DrawBorder(HDC dc, const RECT& rc, const RECT& size, DWORD argb, SIZE round, int style) {
  if (argb == 0) return;
  if (round.cx > 0 || round.cy > 0) {
    const int width = std::max<int>(1, size.left);
    LOGBRUSH lb{BS_SOLID, ToColorRef(argb), 0};
    const oku::GdiPen pen(::ExtCreatePen(PS_GEOMETRIC | static_cast<DWORD>(style), width, &lb, 0, nullptr));
    if (!pen) return;
    SelectScope selectPen(dc, pen.get());
    SelectScope selectBrush(dc, ::GetStockObject(NULL_BRUSH));
    ::RoundRect(dc, rc.left, rc.top, rc.right, rc.bottom, round.cx, round.cy);
    return;
  }
  const DWORD color = argb;
  FillColor(dc, RECT{rc.left, rc.top, rc.left + size.left, rc.bottom}, color);
  FillColor(dc, RECT{rc.right - size.right, rc.top, rc.right, rc.bottom}, color);
  FillColor(dc, RECT{rc.left + size.left, rc.top, rc.right - size.right, rc.top + size.top}, color);
  FillColor(dc, RECT{rc.left + size.left, rc.bottom - size.bottom, rc.right - size.right, rc.bottom}, color);
}

SIZE MeasureText(HDC dc, HFONT font, const std::wstring& text) {
  SIZE size{};
  if (text.empty()) return size;
  SelectScope select(dc, font);
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size;
}

namespace {

std::unique_ptr<TImageInfo> Decode(IWICImagingFactory* factory, IWICBitmapDecoder* decoder, DWORD mask) {
  oku::ComPtr<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.put()))) return nullptr;
  oku::ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.put()))) return nullptr;
  if (FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  UINT width = 0, height = 0;
  if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 || width > 16384 || height > 16384) {
    return nullptr;
  }
  auto info = std::make_unique<TImageInfo>();
  info->hBitmap = CreateDib(static_cast<int>(width), static_cast<int>(height), &info->pBits);
  if (!info->hBitmap) return nullptr;
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, reinterpret_cast<BYTE*>(info->pBits)))) {
    return nullptr;
  }
  info->nX = static_cast<int>(width);
  info->nY = static_cast<int>(height);
  info->dwMask = mask;
  const std::size_t count = static_cast<std::size_t>(width) * height;
  const std::uint32_t maskRgb = mask & 0x00FFFFFFu;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t& p = info->pBits[i];
    if (mask != 0 && (p >> 24) == 0xFF && (p & 0x00FFFFFFu) == maskRgb) p = 0;
    if ((p >> 24) != 0xFF) info->bAlpha = true;
  }
  ::GdiFlush();
  return info;
}

oku::ComPtr<IWICImagingFactory> CreateFactory() {
  oku::ComPtr<IWICImagingFactory> factory;
  ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     factory.put_void());
  return factory;
}

}  // namespace

std::unique_ptr<TImageInfo> LoadImageFile(const std::wstring& path, DWORD mask) {
  oku::ComApartment apartment;
  oku::ComPtr<IWICImagingFactory> factory = CreateFactory();
  if (!factory) return nullptr;
  oku::ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                decoder.put()))) {
    return nullptr;
  }
  return Decode(factory.get(), decoder.get(), mask);
}

std::unique_ptr<TImageInfo> LoadImageMemory(const void* data, std::size_t size, DWORD mask) {
  if (!data || size == 0 || size > 0x7FFFFFFF) return nullptr;
  oku::ComApartment apartment;
  oku::ComPtr<IWICImagingFactory> factory = CreateFactory();
  if (!factory) return nullptr;
  oku::ComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)), static_cast<DWORD>(size)))) {
    return nullptr;
  }
  oku::ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put()))) {
    return nullptr;
  }
  return Decode(factory.get(), decoder.get(), mask);
}

}  // namespace DuiLib::render
