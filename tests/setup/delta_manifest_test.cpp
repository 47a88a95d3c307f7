// Reading an update package's manifest.json as bytes, and refusing file lists that leave the
// installation directory.
#include <gtest/gtest.h>

#include <string>

#include "setup/portable/delta_manifest.h"

namespace {

const std::string kBase(64, 'a');
const std::string kNew(64, 'b');

std::string Manifest(const std::string& fileList, const std::string& baseHash = kBase) {
  return "{\n  \"base_version\": \"147.0.7727.4985\",\n  \"target_version\": \"147.0.7731.5020\",\n"
         "  \"base_chrome_7z_sha256\": \"" + baseHash + "\",\n  \"new_chrome_7z_sha256\": \"" + kNew + "\"" +
         fileList + "\n}\n";
}

TEST(DeltaManifest, ReadsFieldsAndLowerCasesHashes) {
  DeltaManifest manifest;
  const std::string upper(64, 'A');
  ASSERT_EQ(ParseDeltaManifest(Manifest(",\n  \"file_list\": [\"Chrome-bin/oku.compass.exe\", \"Chrome-bin/147.0.7727.4985/Installer/setup.exe\", \"extra/中文.dat\"]", upper), manifest),
            ManifestError::None);
  EXPECT_EQ(manifest.base_version, "147.0.7727.4985");
  EXPECT_EQ(manifest.target_version, "147.0.7731.5020");
  EXPECT_EQ(manifest.base_chrome_7z_sha256, kBase);
  EXPECT_EQ(manifest.new_chrome_7z_sha256, kNew);
  ASSERT_EQ(manifest.file_list.size(), 3u);
  EXPECT_EQ(manifest.file_list[2], L"extra/中文.dat");
  EXPECT_EQ(FileListEntryToRelativePath(manifest.file_list[1]), L"147.0.7727.4985\\Installer\\setup.exe");
  EXPECT_EQ(FileListEntryToRelativePath(manifest.file_list[2]), L"extra\\中文.dat");
}

TEST(DeltaManifest, MissingHashOrEmptyList) {
  DeltaManifest manifest;
  EXPECT_EQ(ParseDeltaManifest("{\"base_version\": \"1\"}", manifest), ManifestError::MissingHash);
  EXPECT_EQ(ParseDeltaManifest(Manifest("", ""), manifest), ManifestError::MissingHash);
  EXPECT_EQ(ParseDeltaManifest(Manifest(",\n  \"file_list\": []"), manifest), ManifestError::None);
  EXPECT_TRUE(manifest.file_list.empty());
  EXPECT_EQ(ParseDeltaManifest(Manifest(""), manifest), ManifestError::None);
  EXPECT_TRUE(manifest.file_list.empty());
}

TEST(DeltaManifest, RefusesEntriesThatLeaveTheInstallation) {
  const char* unsafe[] = {"Chrome-bin/../../Windows/win.ini", "..\\secret", "C:/Windows/win.ini", "/etc/passwd",
                          "\\\\server\\share\\x", "Chrome-bin/a/../../b", "file.txt:stream", "a/... /b", "x/NUL.txt"};
  for (const char* entry : unsafe) {
    SCOPED_TRACE(entry);
    DeltaManifest manifest;
    std::string escaped;
    for (const char* p = entry; *p; ++p) escaped += *p;
    EXPECT_EQ(ParseDeltaManifest(Manifest(",\"file_list\": [\"ok.dll\", \"" + escaped + "\"]"), manifest),
              ManifestError::UnsafeFileListEntry);
  }
  EXPECT_EQ(FileListEntryToRelativePath(L"Chrome-bin/x/y.dll"), L"x\\y.dll");
  EXPECT_EQ(FileListEntryToRelativePath(L"plain.dll"), L"plain.dll");
  EXPECT_EQ(FileListEntryToRelativePath(L"chrome-bin/x.dll"), L"chrome-bin\\x.dll");  // exact prefix only
}

}  // namespace
