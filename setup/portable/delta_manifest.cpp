#include "setup/portable/delta_manifest.h"

#include <cctype>

#include "common/portable/text.h"

namespace {

std::string ValueOf(std::string_view text, std::string_view key) {
  const std::string quoted = "\"" + std::string(key) + "\"";
  size_t position = text.find(quoted);
  if (position == std::string_view::npos) return std::string();
  position += quoted.size() + 1;  // the one character after the closing quote (the colon)
  if (position > text.size()) return std::string();
  const size_t open = text.find('"', position);
  if (open == std::string_view::npos) return std::string();
  const size_t close = text.find('"', open + 1);
  if (close == std::string_view::npos) return std::string();
  return std::string(text.substr(open + 1, close - open - 1));
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsSafeRelative(const std::wstring& path) {
  if (path.empty()) return false;
  if (path[0] == L'\\' || path[0] == L'/') return false;  // rooted
  if (path.find(L':') != std::wstring::npos) return false;  // a drive or an alternate stream
  // No control characters: Windows allows none in names, and a NUL would end the path the file
  // functions see ("..\0x" is checked as a name but opened as "..").
  for (const wchar_t c : path) {
    if (static_cast<unsigned>(c) < 0x20) return false;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring part = path.substr(start, end - start);
    if (part == L".." || part == L"." || part.empty()) return false;
    // Windows ignores trailing dots and blanks, so "..." or ".. " would climb too.
    if (part.find_first_not_of(L". ") == std::wstring::npos) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::wstring FileListEntryToRelativePath(const std::wstring& entry) {
  std::wstring path = entry;
  if (path.compare(0, 11, L"Chrome-bin/") == 0) path.erase(0, 11);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return IsSafeRelative(path) ? path : std::wstring();
}

ManifestError ParseDeltaManifest(std::string_view text, DeltaManifest& manifest) {
  manifest.base_version = ValueOf(text, "base_version");
  manifest.target_version = ValueOf(text, "target_version");
  manifest.base_chrome_7z_sha256 = Lower(ValueOf(text, "base_chrome_7z_sha256"));
  manifest.new_chrome_7z_sha256 = Lower(ValueOf(text, "new_chrome_7z_sha256"));
  manifest.file_list.clear();
  if (manifest.base_chrome_7z_sha256.empty() || manifest.new_chrome_7z_sha256.empty()) {
    return ManifestError::MissingHash;
  }
  const size_t key = text.find("\"file_list\"");
  if (text.size() > 10 && key != std::string_view::npos) {
    const size_t open = text.find('[', key);
    const size_t close = open == std::string_view::npos ? open : text.find(']', open);
    if (open != std::string_view::npos && close != std::string_view::npos) {
      const std::string_view list = text.substr(open + 1, close - open - 1);
      size_t position = 0;
      for (;;) {
        const size_t first = list.find('"', position);
        if (first == std::string_view::npos) break;
        const size_t second = list.find('"', first + 1);
        if (second == std::string_view::npos) break;
        const std::wstring entry = oku::WideFromUtf8(list.substr(first + 1, second - first - 1));
        if (FileListEntryToRelativePath(entry).empty()) return ManifestError::UnsafeFileListEntry;
        manifest.file_list.push_back(entry);
        position = second + 1;
      }
    }
  }
  return ManifestError::None;
}
