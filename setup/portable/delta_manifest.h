// The update package's manifest.json, read as bytes the way the installer always has: each key's
// value is the text between the next pair of double quotes; escapes are not interpreted. The
// package builder writes it with WriteDeltaManifest.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct DeltaManifest {
  std::string base_version;
  std::string target_version;
  std::string base_chrome_7z_sha256;  // lower-cased
  std::string new_chrome_7z_sha256;   // lower-cased
  std::vector<std::wstring> file_list;  // the entries as in the file (the builder writes "Chrome-bin/<member>")
  std::wstring refused_entry;  // the "file_list" entry that made the manifest unsafe

  bool operator==(const DeltaManifest&) const = default;
};

enum class ManifestError { None, MissingHash, UnsafeFileListEntry };

// Fills manifest from the file's bytes. An entry of "file_list" that FileListEntryKind calls
// Refused refuses the whole manifest (UnsafeFileListEntry, the entry in refused_entry), so the
// list can never make the installer read outside the installation directory or open a device.
[[nodiscard]] ManifestError ParseDeltaManifest(std::string_view text, DeltaManifest& manifest);

// The manifest's bytes: the four keys and "file_list" in this order, two-space indent, one list
// entry a line (an empty list as "[]"), a final newline. Refuses (false, out untouched) a manifest
// ParseDeltaManifest would not read back as the same value: a double quote, a backslash or a
// control character in a value, a "]" or a Refused entry in the list, a hash that is missing or
// not lower-case, a refused_entry, text that is not valid UTF-16.
[[nodiscard]] bool WriteDeltaManifest(const DeltaManifest& manifest, std::string& out);

enum class FileListEntryKind {
  Path,     // a path inside the installation directory
  Root,     // names the archive root itself ("Chrome-bin/", "./"): nothing to copy
  Refused,  // rooted, a drive or stream (":"), a control character, a climbing component ("..",
            // "...", ". ."), or a DOS device name in any folder ("NUL", "con.txt", "COM1 .x",
            // "CONIN$", letter case ignored)
};

// A "file_list" entry as a relative Windows path: a leading "Chrome-bin/" removed, "/" and "\"
// both separators, empty and "." components dropped ("a//b", "a/./b" and a trailing "/" are the
// same as "a\b"), the rest joined with "\". relative is set only for Path.
FileListEntryKind ClassifyFileListEntry(const std::wstring& entry, std::wstring* relative);

// The relative path of a Path entry; empty for Root and Refused.
std::wstring FileListEntryToRelativePath(const std::wstring& entry);

// True when Windows opens name (one path component) as a DOS device, whatever its folder:
// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9 and COM/LPT with a superscript 1-3, in
// any letter case, also followed by blanks or by an extension.
bool IsDosDeviceName(std::wstring_view name);
