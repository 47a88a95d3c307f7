// The update package's manifest.json, read as bytes the way the installer always has: each key's
// value is the text between the next pair of double quotes; escapes are not interpreted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct DeltaManifest {
  std::string base_version;
  std::string target_version;
  std::string base_chrome_7z_sha256;  // lower-cased
  std::string new_chrome_7z_sha256;   // lower-cased
  std::vector<std::wstring> file_list;
};

enum class ManifestError { None, MissingHash, UnsafeFileListEntry };

// Fills manifest from the file's bytes. An entry of "file_list" that is absolute, names a drive or
// a stream, or climbs out with ".." is refused (UnsafeFileListEntry), so the list can never make
// the installer read outside the installation directory.
ManifestError ParseDeltaManifest(std::string_view text, DeltaManifest& manifest);

// A "file_list" entry as a relative Windows path: a leading "Chrome-bin/" removed, "/" turned into
// "\". Empty when the entry is unsafe.
std::wstring FileListEntryToRelativePath(const std::wstring& entry);
