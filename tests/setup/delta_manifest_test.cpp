// Reading an update package's manifest.json as bytes, refusing file lists that leave the
// installation directory, and writing it the way the package builder does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

DeltaManifest Written(std::vector<std::wstring> fileList = {}) {
  DeltaManifest manifest;
  manifest.base_version = "147.0.7727.4985";
  manifest.target_version = "147.0.7731.5020";
  manifest.base_chrome_7z_sha256 = kBase;
  manifest.new_chrome_7z_sha256 = kNew;
  manifest.file_list = std::move(fileList);
  return manifest;
}

const std::string kWrittenHead = "{\n  \"base_version\": \"147.0.7727.4985\",\n  \"target_version\": \"147.0.7731.5020\",\n"
                                 "  \"base_chrome_7z_sha256\": \"" + kBase + "\",\n  \"new_chrome_7z_sha256\": \"" +
                                 kNew + "\",\n";

TEST(DeltaManifest, WritesThePackageBuildersBytes) {
  std::string text;
  ASSERT_TRUE(WriteDeltaManifest(Written({L"Chrome-bin/oku.compass.exe", L"Chrome-bin/147.0.7727.4985/locales/中文.pak"}), text));
  EXPECT_EQ(text, kWrittenHead + "  \"file_list\": [\n    \"Chrome-bin/oku.compass.exe\",\n"
                                 "    \"Chrome-bin/147.0.7727.4985/locales/中文.pak\"\n  ]\n}\n");
  ASSERT_TRUE(WriteDeltaManifest(Written(), text));
  EXPECT_EQ(text, kWrittenHead + "  \"file_list\": []\n}\n");
}

struct Refusal {
  const char* what;
  void (*change)(DeltaManifest&);
};

const Refusal kRefusals[] = {
    {"quote in a version", [](DeltaManifest& m) { m.base_version = "147\"0"; }},
    {"backslash in a version", [](DeltaManifest& m) { m.target_version = "147\\0"; }},
    {"newline in a version", [](DeltaManifest& m) { m.base_version = "147\n0"; }},
    {"version spelling a later key", [](DeltaManifest& m) { m.base_version = "target_version"; }},
    {"missing hash", [](DeltaManifest& m) { m.new_chrome_7z_sha256.clear(); }},
    {"upper-case hash", [](DeltaManifest& m) { m.base_chrome_7z_sha256 = std::string(64, 'A'); }},
    {"quote in a hash", [](DeltaManifest& m) { m.base_chrome_7z_sha256[3] = '"'; }},
    {"a refused entry", [](DeltaManifest& m) { m.refused_entry = L"../x"; }},
    {"climbing entry", [](DeltaManifest& m) { m.file_list = {L"ok.dll", L"Chrome-bin/../x.dll"}; }},
    {"drive entry", [](DeltaManifest& m) { m.file_list = {L"C:/Windows/win.ini"}; }},
    {"device entry", [](DeltaManifest& m) { m.file_list = {L"x/NUL.txt"}; }},
    {"tab in an entry", [](DeltaManifest& m) { m.file_list = {L"a\tb.dll"}; }},
    {"DEL in an entry", [](DeltaManifest& m) { m.file_list = {L"a\x7F.dll"}; }},
    {"quote in an entry", [](DeltaManifest& m) { m.file_list = {L"a\".dll"}; }},
    {"backslash in an entry", [](DeltaManifest& m) { m.file_list = {L"Chrome-bin/a\\b.dll"}; }},
    {"bracket in an entry", [](DeltaManifest& m) { m.file_list = {L"a]b.dll", L"c.dll"}; }},
    {"unpaired surrogate in an entry", [](DeltaManifest& m) { m.file_list = {std::wstring(L"a") + wchar_t(0xD800)}; }},
};

TEST(DeltaManifest, WriterRefusesWhatTheReaderWouldChange) {
  for (const Refusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.what);
    DeltaManifest manifest = Written({L"Chrome-bin/ok.dll"});
    refusal.change(manifest);
    std::string text = "untouched";
    EXPECT_FALSE(WriteDeltaManifest(manifest, text));
    EXPECT_EQ(text, "untouched");
  }
}

TEST(DeltaManifest, WrittenManifestsReadBackUnchanged) {
  const std::vector<std::vector<std::wstring>> lists = {
      {},
      {L"Chrome-bin/oku.compass.exe"},
      {L"Chrome-bin/147.0.7727.4985/Installer/setup.exe", L"Chrome-bin/extra/中文.dat", L"plain.dll"},
      {L"Chrome-bin/", L"./", L"a//b", L"a/./c/", L"Chrome-bin/[x y.dll", L"NULL", L"x.NUL", L"{a}, b.dll"},
      {L"Chrome-bin/\U0001F600.dat", L"Chrome-bin/ü/é.pak"},
  };
  for (const auto& list : lists) {
    for (const char* version : {"147.0.7727.4985", "", "1.2 beta [x]", "file_list"}) {
      DeltaManifest manifest = Written(list);
      manifest.base_version = version;
      SCOPED_TRACE(std::string(version) + " / " + std::to_string(list.size()) + " entries");
      std::string text;
      ASSERT_TRUE(WriteDeltaManifest(manifest, text));
      DeltaManifest readBack;
      ASSERT_EQ(ParseDeltaManifest(text, readBack), ManifestError::None);
      EXPECT_TRUE(readBack == manifest) << text;
    }
  }
}

}  // namespace
