// The update package's manifest reader. Besides not crashing, an accepted manifest must only
// name paths inside the installation directory, as Windows will read them (a wide string ends
// at its first NUL when it reaches the file API), and never a DOS device.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "setup/portable/delta_manifest.h"

namespace {

// Windows opens a name as a device by its part before the first dot, trailing blanks ignored.
bool IsDevice(const std::wstring& part) {
  std::wstring stem = part.substr(0, part.find(L'.'));
  stem.erase(stem.find_last_not_of(L' ') + 1);
  for (wchar_t& c : stem) c = static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - 32 : c);
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) &&
         ((stem[3] >= L'0' && stem[3] <= L'9') || stem[3] == 0xB9 || stem[3] == 0xB2 || stem[3] == 0xB3);
}

bool StaysInside(std::wstring path) {
  path = path.substr(0, path.find(L'\0'));
  if (path.empty() || path[0] == L'\\' || path[0] == L'/' || path.find(L':') != std::wstring::npos) return false;
  for (const std::wstring& part : oku_fuzz::Split(path, L'\\')) {
    if (part.find(L'/') != std::wstring::npos) return false;
    if (part.find_first_not_of(L". ") == std::wstring::npos) return false;  // "", ".", "..", "... "
    if (IsDevice(part)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DeltaManifest manifest;
  const ManifestError error = ParseDeltaManifest(std::string_view(reinterpret_cast<const char*>(data), size), manifest);
  if (error == ManifestError::None) {
    if (manifest.base_chrome_7z_sha256.empty() || manifest.new_chrome_7z_sha256.empty()) __builtin_trap();
    for (const std::wstring& entry : manifest.file_list) {
      // An entry naming the archive root has no path and is skipped by the copy.
      const std::wstring relative = FileListEntryToRelativePath(entry);
      if (relative.empty() != (ClassifyFileListEntry(entry, nullptr) == FileListEntryKind::Root)) __builtin_trap();
      if (!relative.empty() && !StaysInside(relative)) __builtin_trap();
    }
  }
  const std::wstring raw = oku_fuzz::RawUtf16(data, size);
  const std::wstring relative = FileListEntryToRelativePath(raw);
  if (!relative.empty() && !StaysInside(relative)) __builtin_trap();
  return 0;
}
