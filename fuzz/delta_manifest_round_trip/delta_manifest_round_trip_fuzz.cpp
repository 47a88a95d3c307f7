// The update package's manifest writer against its reader: a manifest the reader accepts is
// either refused by the writer or written as text that reads back as the same manifest, holds no
// control character but its line ends and no backslash, and is written again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "setup/portable/delta_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  DeltaManifest manifest;
  if (ParseDeltaManifest(std::string_view(reinterpret_cast<const char*>(data), size), manifest) != ManifestError::None) {
    return 0;
  }
  std::string written;
  if (!WriteDeltaManifest(manifest, written)) return 0;
  for (const char c : written) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == '\\') __builtin_trap();
  }
  DeltaManifest readBack;
  if (ParseDeltaManifest(written, readBack) != ManifestError::None || readBack != manifest) __builtin_trap();
  std::string again;
  if (!WriteDeltaManifest(readBack, again) || again != written) __builtin_trap();
  return 0;
}
