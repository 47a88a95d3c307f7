// A window's fonts and images, and the process-wide resources all windows share: the module
// instance resources are loaded from, the resource directory and the shared fonts.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "common/handles.h"
#include "ui/ui_defs.h"

namespace DuiLib {

class CResourceCacheUI {
 public:
  CResourceCacheUI() = default;
  CResourceCacheUI(const CResourceCacheUI&) = delete;
  CResourceCacheUI& operator=(const CResourceCacheUI&) = delete;

  // --- process-wide ---
  static void SetInstance(HINSTANCE instance);
  static HINSTANCE GetInstance();  // the executable's module until one is set
  // Appends a backslash unless the path already ends in "\" or "/".
  static void SetResourcePath(const std::wstring& path);
  static const std::wstring& GetResourcePath();
  // Releases the shared fonts.
  static void Term();

  // A memory DC compatible with the screen, for text measurement.
  HDC GetMeasureDC();

  // --- fonts ---
  // Adds or replaces font id (in the shared table when shared): face copied into the default GUI
  // font's description, height -size, bold adds 700 to the weight.
  HFONT AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic, bool shared);
  HFONT GetFont(int id);                 // -1 or an unknown id: the default font
  const TFontInfo* GetFontInfo(int id);  // this window's, then the shared ones; never null
  const TFontInfo* GetDefaultFontInfo();

  // --- images ---
  // Loads (once) and caches by name: resource directory + name, else the name as given, or a
  // resource of type when type is not empty. Null when it cannot be found or decoded.
  const TImageInfo* GetImageEx(const std::wstring& name, const std::wstring& type, DWORD mask);
  const TImageInfo* GetImage(const std::wstring& name) const;

 private:
  oku::MemoryDC m_hDcMeasure;
  std::map<int, std::unique_ptr<TFontInfo>> m_fonts;
  std::unique_ptr<TFontInfo> m_defaultFont;
  std::map<std::wstring, std::unique_ptr<TImageInfo>> m_images;  // null entries: failed loads
};

}  // namespace DuiLib
