// Entries of an update package's "file_list": which ones name a file inside the installation
// directory, which name the archive root, which are refused (climbing out, rooted, devices).
#include <gtest/gtest.h>

#include <string>

#include "common/portable/text.h"
#include "setup/portable/delta_manifest.h"

namespace {

struct EntryCase {
  const char* entry;  // UTF-8, as in manifest.json
  FileListEntryKind kind;
  const wchar_t* relative;  // for Path
};

constexpr FileListEntryKind kPath = FileListEntryKind::Path;
constexpr FileListEntryKind kRoot = FileListEntryKind::Root;
constexpr FileListEntryKind kRefused = FileListEntryKind::Refused;

const EntryCase kEntries[] = {
    // Harmless spellings of a path inside.
    {"Chrome-bin/147.0/locales/de.pak", kPath, L"147.0\\locales\\de.pak"},
    {"a//b", kPath, L"a\\b"},
    {"a/./b", kPath, L"a\\b"},
    {"./a/b", kPath, L"a\\b"},
    {"a/b/", kPath, L"a\\b"},
    {"Chrome-bin//x.dll", kPath, L"x.dll"},
    {"Chrome-bin/a/.//b.dll/", kPath, L"a\\b.dll"},
    {"a\\\\b", kPath, L"a\\b"},
    // Names that only look like devices.
    {"NULL", kPath, L"NULL"},
    {"nul_config.txt", kPath, L"nul_config.txt"},
    {"CONSOLE.log", kPath, L"CONSOLE.log"},
    {"x.NUL", kPath, L"x.NUL"},
    {"COM10", kPath, L"COM10"},
    {"LPT", kPath, L"LPT"},
    {"COMA", kPath, L"COMA"},
    {"aux-data/x", kPath, L"aux-data\\x"},
    {"CONIN", kPath, L"CONIN"},
    {"a.b.", kPath, L"a.b."},
    // The archive root: nothing to copy.
    {"Chrome-bin/", kRoot, nullptr},
    {"./", kRoot, nullptr},
    {"Chrome-bin/.//", kRoot, nullptr},
    {"", kRoot, nullptr},
    // DOS devices, in any folder, any letter case, with an extension or trailing blanks.
    {"NUL", kRefused, nullptr},
    {"nul", kRefused, nullptr},
    {"CON", kRefused, nullptr},
    {"con.txt", kRefused, nullptr},
    {"PRN", kRefused, nullptr},
    {"AUX.dat", kRefused, nullptr},
    {"COM1", kRefused, nullptr},
    {"com9.log", kRefused, nullptr},
    {"COM0", kRefused, nullptr},
    {"LPT1", kRefused, nullptr},
    {"lpt9", kRefused, nullptr},
    {"CONIN$", kRefused, nullptr},
    {"conout$.txt", kRefused, nullptr},
    {"NUL.txt", kRefused, nullptr},
    {"NUL.tar.gz", kRefused, nullptr},
    {"a/NUL", kRefused, nullptr},
    {"Chrome-bin/147.0/locales/CON.pak", kRefused, nullptr},
    {"x\\prn\\y.dll", kRefused, nullptr},
    {"NUL .txt", kRefused, nullptr},
    {"nul ", kRefused, nullptr},
    {"COM\xC2\xB9", kRefused, nullptr},
    {"lpt\xC2\xB3.x", kRefused, nullptr},
    // Leaving the installation directory.
    {"..", kRefused, nullptr},
    {"Chrome-bin/../../Windows/win.ini", kRefused, nullptr},
    {"a/../../b", kRefused, nullptr},
    {"a/... /b", kRefused, nullptr},
    {"a/. ./b", kRefused, nullptr},
    {"/etc/passwd", kRefused, nullptr},
    {"\\\\server\\share\\x", kRefused, nullptr},
    {"C:/Windows/win.ini", kRefused, nullptr},
    {"file.txt:stream", kRefused, nullptr},
    {"a\tb", kRefused, nullptr},
};

TEST(DeltaFileList, ClassifiesEveryEntry) {
  for (const EntryCase& c : kEntries) {
    SCOPED_TRACE(c.entry);
    const std::wstring entry = oku::WideFromUtf8(c.entry);
    std::wstring relative = L"untouched";
    EXPECT_EQ(ClassifyFileListEntry(entry, &relative), c.kind);
    if (c.kind == kPath) {
      EXPECT_EQ(relative, c.relative);
      EXPECT_EQ(FileListEntryToRelativePath(entry), c.relative);
    } else {
      EXPECT_EQ(relative, L"untouched");
      EXPECT_EQ(FileListEntryToRelativePath(entry), L"");
    }
  }
}

std::string Manifest(const std::string& list) {
  return "{\"base_chrome_7z_sha256\": \"" + std::string(64, 'a') + "\", \"new_chrome_7z_sha256\": \"" +
         std::string(64, 'b') + "\", \"file_list\": [" + list + "]}";
}

TEST(DeltaFileList, HarmlessFormsKeepTheManifestAndADeviceRefusesIt) {
  DeltaManifest manifest;
  ASSERT_EQ(ParseDeltaManifest(Manifest("\"ok.dll\", \"a//b.dll\", \"a/./c.dll\", \"d/\", \"Chrome-bin/\""), manifest),
            ManifestError::None);
  EXPECT_EQ(manifest.file_list.size(), 5u);
  EXPECT_TRUE(manifest.refused_entry.empty());

  ASSERT_EQ(ParseDeltaManifest(Manifest("\"ok.dll\", \"x/NUL.txt\", \"y.dll\""), manifest),
            ManifestError::UnsafeFileListEntry);
  EXPECT_EQ(manifest.refused_entry, L"x/NUL.txt");
}

}  // namespace
