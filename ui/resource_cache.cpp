#include "ui/resource_cache.h"

#include <algorithm>

#include "common/paths.h"
#include "ui/portable/values.h"
#include "ui/render.h"

namespace DuiLib {
namespace {

struct SharedResources {
  HINSTANCE instance = nullptr;
  std::wstring resourcePath;
  std::map<int, std::unique_ptr<TFontInfo>> fonts;
};

SharedResources& Shared() {
  static SharedResources resources;
  return resources;
}

LOGFONTW DefaultGuiLogFont() {
  LOGFONTW lf{};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  return lf;
}

std::unique_ptr<TFontInfo> MakeFont(const LOGFONTW& lf, HDC measure) {
  auto info = std::make_unique<TFontInfo>();
  info->hFont.reset(::CreateFontIndirectW(&lf));
  if (!info->hFont) return nullptr;
  info->sFontName = lf.lfFaceName;
  info->iSize = lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight;
  info->bBold = lf.lfWeight >= FW_BOLD;
  info->bUnderline = lf.lfUnderline != 0;
  info->bItalic = lf.lfItalic != 0;
  if (measure) {
    render::SelectScope select(measure, info->hFont.get());
    ::GetTextMetricsW(measure, &info->tm);
  }
  return info;
}

}  // namespace

// --- process-wide ---

void CResourceCacheUI::SetInstance(HINSTANCE instance) { Shared().instance = instance; }

HINSTANCE CResourceCacheUI::GetInstance() {
  if (!Shared().instance) Shared().instance = ::GetModuleHandleW(nullptr);
  return Shared().instance;
}

void CResourceCacheUI::SetResourcePath(const std::wstring& path) {
  std::wstring value = path;
  if (value.empty() || (value.back() != L'\\' && value.back() != L'/')) value += L'\\';
  Shared().resourcePath = std::move(value);
}

const std::wstring& CResourceCacheUI::GetResourcePath() { return Shared().resourcePath; }

void CResourceCacheUI::Term() { Shared().fonts.clear(); }

HDC CResourceCacheUI::GetMeasureDC() {
  if (!m_hDcMeasure) m_hDcMeasure.reset(::CreateCompatibleDC(nullptr));
  return m_hDcMeasure.get();
}

// --- fonts ---

HFONT CResourceCacheUI::AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                                bool shared) {
  LOGFONTW lf = DefaultGuiLogFont();
  const std::size_t n = std::min<std::size_t>(face.size(), LF_FACESIZE - 1);
  std::fill(std::begin(lf.lfFaceName), std::end(lf.lfFaceName), L'\0');
  std::copy_n(face.c_str(), n, lf.lfFaceName);
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfHeight = -size;
  if (bold) lf.lfWeight += FW_BOLD;
  if (underline) lf.lfUnderline = TRUE;
  if (italic) lf.lfItalic = TRUE;
  std::unique_ptr<TFontInfo> info = MakeFont(lf, GetMeasureDC());
  if (!info) return nullptr;
  info->iSize = size;
  info->bBold = bold;
  HFONT font = info->hFont.get();
  auto& table = shared ? Shared().fonts : m_fonts;
  table[id] = std::move(info);  // an existing id is replaced
  return font;
}

const TFontInfo* CResourceCacheUI::GetDefaultFontInfo() {
  if (!m_defaultFont) {
    LOGFONTW lf = DefaultGuiLogFont();
    lf.lfCharSet = DEFAULT_CHARSET;
    m_defaultFont = MakeFont(lf, GetMeasureDC());
    if (!m_defaultFont) m_defaultFont = std::make_unique<TFontInfo>();
  }
  return m_defaultFont.get();
}

const TFontInfo* CResourceCacheUI::GetFontInfo(int id) {
  if (id >= 0) {
    if (auto it = m_fonts.find(id); it != m_fonts.end()) return it->second.get();
    if (auto it = Shared().fonts.find(id); it != Shared().fonts.end()) return it->second.get();
  }
  return GetDefaultFontInfo();
}

HFONT CResourceCacheUI::GetFont(int id) { return GetFontInfo(id)->hFont.get(); }

// --- images ---

const TImageInfo* CResourceCacheUI::GetImage(const std::wstring& name) const {
  const auto it = m_images.find(name);
  return it == m_images.end() ? nullptr : it->second.get();
}

const TImageInfo* CResourceCacheUI::GetImageEx(const std::wstring& name, const std::wstring& type, DWORD mask) {
  if (name.empty()) return nullptr;
  if (auto it = m_images.find(name); it != m_images.end() && it->second) return it->second.get();
  std::unique_ptr<TImageInfo> image;
  if (!type.empty()) {
    HINSTANCE module = GetInstance();
    const bool numeric = std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    const wchar_t* resName = numeric ? MAKEINTRESOURCEW(ParseInteger(name)) : name.c_str();
    if (HRSRC res = ::FindResourceW(module, resName, type.c_str())) {
      if (HGLOBAL loaded = ::LoadResource(module, res)) {
        image = render::LoadImageMemory(::LockResource(loaded), ::SizeofResource(module, res), mask);
      }
    }
  } else {
    const std::wstring inDirectory = GetResourcePath() + name;
    if (oku::FileExists(inDirectory)) {
      image = render::LoadImageFile(inDirectory, mask);
    } else if (oku::FileExists(name)) {
      image = render::LoadImageFile(name, mask);
    }
  }
  if (!image) return nullptr;
  image->sResType = type;
  const TImageInfo* result = image.get();
  m_images[name] = std::move(image);
  return result;
}

}  // namespace DuiLib
