// The update package's manifest reader. Besides not crashing, an accepted manifest must only
// name paths inside the installation directory, as Windows will read them (a wide string ends
// at its first NUL when it reaches the file API).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "setup/portable/delta_manifest.h"

namespace {

bool StaysInside(std::wstring path) {
  path = path.substr(0, path.find(L'\0'));
  if (path.empty() || path[0] == L'\\' || path[0] == L'/' || path.find(L':') != std::wstring::npos) return false;
  for (const std::wstring& part : oku_fuzz::Split(path, L'\\')) {
    if (part.find(L'/') != std::wstring::npos) return false;
    if (part.find_first_not_of(L". ") == std::wstring::npos) return false;  // "", ".", "..", "... "
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
      if (!StaysInside(FileListEntryToRelativePath(entry))) __builtin_trap();
    }
  }
  const std::wstring raw = oku_fuzz::RawUtf16(data, size);
  const std::wstring relative = FileListEntryToRelativePath(raw);
  if (!relative.empty() && !StaysInside(relative)) __builtin_trap();
  return 0;
}
