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

// JSON strings hold no raw control characters, and a backslash would start an escape for any
// reader other than ours; a quote would end the value early for ours.
bool CanCarry(std::string_view value) {
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') return false;
  }
  return true;
}

wchar_t UpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

bool IsDosDeviceName(std::wstring_view name) {
  // Windows looks at the name up to its first dot, without trailing blanks.
  std::wstring_view stem = name.substr(0, name.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  std::wstring upper;
  for (const wchar_t c : stem) upper.push_back(UpperAscii(c));
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (upper == device) return true;
  }
  if (upper.size() == 4 && (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0)) {
    const wchar_t digit = upper[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
  }
  return false;
}

FileListEntryKind ClassifyFileListEntry(const std::wstring& entry, std::wstring* relative) {
  if (!entry.empty() && (entry[0] == L'\\' || entry[0] == L'/')) return FileListEntryKind::Refused;  // rooted
  if (entry.find(L':') != std::wstring::npos) return FileListEntryKind::Refused;  // a drive or a stream
  // No control characters: Windows allows none in names, and a NUL would end the path the file
  // functions see ("..\0x" is checked as a name but opened as "..").
  for (const wchar_t c : entry) {
    if (static_cast<unsigned>(c) < 0x20) return FileListEntryKind::Refused;
  }
  std::wstring_view rest(entry);
  if (rest.compare(0, 11, L"Chrome-bin/") == 0) rest.remove_prefix(11);
  std::wstring path;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = rest.size();
    const std::wstring_view part = rest.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == L".") continue;
    // Windows ignores trailing dots and blanks, so "..", "..." or ".. " would climb.
    if (part.find_first_not_of(L". ") == std::wstring_view::npos) return FileListEntryKind::Refused;
    if (IsDosDeviceName(part)) return FileListEntryKind::Refused;
    if (!path.empty()) path.push_back(L'\\');
    path.append(part);
  }
  if (path.empty()) return FileListEntryKind::Root;
  if (relative) *relative = std::move(path);
  return FileListEntryKind::Path;
}

std::wstring FileListEntryToRelativePath(const std::wstring& entry) {
  std::wstring relative;
  return ClassifyFileListEntry(entry, &relative) == FileListEntryKind::Path ? relative : std::wstring();
}

ManifestError ParseDeltaManifest(std::string_view text, DeltaManifest& manifest) {
  manifest.base_version = ValueOf(text, "base_version");
  manifest.target_version = ValueOf(text, "target_version");
  manifest.base_chrome_7z_sha256 = Lower(ValueOf(text, "base_chrome_7z_sha256"));
  manifest.new_chrome_7z_sha256 = Lower(ValueOf(text, "new_chrome_7z_sha256"));
  manifest.file_list.clear();
  manifest.refused_entry.clear();
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
        std::wstring entry = oku::WideFromUtf8(list.substr(first + 1, second - first - 1));
        if (ClassifyFileListEntry(entry, nullptr) == FileListEntryKind::Refused) {
          manifest.refused_entry = std::move(entry);
          return ManifestError::UnsafeFileListEntry;
        }
        manifest.file_list.push_back(std::move(entry));
        position = second + 1;
      }
    }
  }
  return ManifestError::None;
}

bool WriteDeltaManifest(const DeltaManifest& manifest, std::string& out) {
  std::string text = "{\n";
  const auto field = [&text](std::string_view key, std::string_view value) {
    text.append("  \"").append(key).append("\": \"").append(value).append("\",\n");
    return CanCarry(value);
  };
  if (!field("base_version", manifest.base_version) || !field("target_version", manifest.target_version) ||
      !field("base_chrome_7z_sha256", manifest.base_chrome_7z_sha256) ||
      !field("new_chrome_7z_sha256", manifest.new_chrome_7z_sha256)) {
    return false;
  }
  if (manifest.file_list.empty()) {
    text.append("  \"file_list\": []\n");
  } else {
    text.append("  \"file_list\": [\n");
    for (size_t i = 0; i < manifest.file_list.size(); ++i) {
      const std::wstring& entry = manifest.file_list[i];
      const std::string bytes = oku::Utf8FromWide(entry);
      if (!CanCarry(bytes) || bytes.find(']') != std::string::npos ||
          ClassifyFileListEntry(entry, nullptr) == FileListEntryKind::Refused) {
        return false;
      }
      text.append("    \"").append(bytes).append(i + 1 < manifest.file_list.size() ? "\",\n" : "\"\n");
    }
    text.append("  ]\n");
  }
  text.append("}\n");
  // Whatever the checks above miss (a value that spells another key, upper-case hashes, unpaired
  // surrogates) shows as a difference here.
  DeltaManifest readBack;
  if (ParseDeltaManifest(text, readBack) != ManifestError::None || readBack != manifest) return false;
  out = std::move(text);
  return true;
}
