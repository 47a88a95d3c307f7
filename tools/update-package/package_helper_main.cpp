// package_helper.exe: the Windows half of the update-package builder. It runs the installer's own
// code, so that the hashes written into a package are those the installer will compute.
//   package_helper.exe repack <installation directory> <working directory>
//     RepackBaseArchive: the working directory holds 7za.exe and a manifest.json whose
//     "file_list" (possibly empty) decides what is copied; prints the SHA-256 of chrome.7z.
//   package_helper.exe sha256 <file>
//     prints ComputeFileSha256 of the file.
//   package_helper.exe manifest <manifest.json> <base version> <target version> <base sha256>
//                               <new sha256> [<file list>]
//     writes manifest.json with WriteDeltaManifest; the file list holds one archive member a line
//     ("/"-separated, UTF-8), listed as "Chrome-bin/<member>". Without it the list is empty.
// Exit code 0 on success, 1 for a bad command line, 2 when the repack fails, 3 when hashing fails,
// 4 when the manifest cannot carry the values, 5 when the file list or manifest.json cannot be
// read or written.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/delta_install.h"
#include "setup/portable/delta_manifest.h"

namespace {

int PrintHash(const std::wstring& path) {
  const std::wstring hash = ComputeFileSha256(path);
  if (hash.empty()) {
    std::fprintf(stderr, "package_helper: cannot hash %s\n", oku::Utf8FromWide(path).c_str());
    return 3;
  }
  std::printf("%s\n", oku::Utf8FromWide(hash).c_str());
  return 0;
}

// Both leave GetLastError for the caller on failure.
bool ReadBytes(const std::wstring& path, std::string& bytes) {
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::vector<char> buffer(65536);
  DWORD read = 0;
  for (;;) {
    if (!::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) return false;
    if (read == 0) return true;
    bytes.append(buffer.data(), read);
  }
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
}

// "manifest" <manifest.json> <base version> <target version> <base sha256> <new sha256> [<file list>]
int WriteManifest(int argc, wchar_t** argv) {
  const std::wstring path = argv[2];
  DeltaManifest manifest;
  manifest.base_version = oku::Utf8FromWide(argv[3]);
  manifest.target_version = oku::Utf8FromWide(argv[4]);
  manifest.base_chrome_7z_sha256 = oku::Utf8FromWide(argv[5]);
  manifest.new_chrome_7z_sha256 = oku::Utf8FromWide(argv[6]);
  if (argc == 8) {
    std::string list;
    if (!ReadBytes(argv[7], list)) {
      std::fprintf(stderr, "package_helper: cannot read %s (error %lu)\n", oku::Utf8FromWide(argv[7]).c_str(),
                   ::GetLastError());
      return 5;
    }
    size_t start = 0;
    while (start < list.size()) {
      size_t end = list.find('\n', start);
      if (end == std::string::npos) end = list.size();
      manifest.file_list.push_back(L"Chrome-bin/" + oku::WideFromUtf8(std::string_view(list).substr(start, end - start)));
      start = end + 1;
    }
  }
  std::string text;
  if (!WriteDeltaManifest(manifest, text)) {
    std::fprintf(stderr, "package_helper: these versions, hashes or file names cannot be carried by manifest.json\n");
    return 4;
  }
  if (!WriteBytes(path, text)) {
    std::fprintf(stderr, "package_helper: cannot write %s (error %lu)\n", oku::Utf8FromWide(path).c_str(),
                 ::GetLastError());
    return 5;
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"sha256" && argc == 3) return PrintHash(argv[2]);
  if (mode == L"repack" && argc == 4) {
    const std::wstring installDir = argv[2];
    const std::wstring workingDir = argv[3];
    // The installer's "[Delta]" lines, kept beside the archive for whoever builds the package.
    InitLog(workingDir, L"repack.log");
    std::wstring archive;
    const bool ok = RepackBaseArchive(installDir, workingDir, archive);
    CloseLogFile();
    if (!ok) {
      std::fprintf(stderr, "package_helper: repack of %s failed (see %s\\repack.log)\n",
                   oku::Utf8FromWide(installDir).c_str(), oku::Utf8FromWide(workingDir).c_str());
      return 2;
    }
    return PrintHash(archive);
  }
  if (mode == L"manifest" && (argc == 7 || argc == 8)) return WriteManifest(argc, argv);
  std::fprintf(stderr,
               "usage: package_helper.exe repack <installation directory> <working directory>\n"
               "       package_helper.exe sha256 <file>\n"
               "       package_helper.exe manifest <manifest.json> <base version> <target version> <base sha256>\n"
               "                                   <new sha256> [<file list>]\n");
  return 1;
}
