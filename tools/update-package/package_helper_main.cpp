// package_helper.exe: the Windows half of the update-package builder. It runs the installer's own
// code, so that the hashes written into a package are those the installer will compute.
//   package_helper.exe repack <installation directory> <working directory>
//     RepackBaseArchive: the working directory holds 7za.exe and a manifest.json whose
//     "file_list" (possibly empty) decides what is copied; prints the SHA-256 of chrome.7z.
//   package_helper.exe sha256 <file>
//     prints ComputeFileSha256 of the file.
// Exit code 0 on success, 1 for a bad command line, 2 when the repack fails, 3 when hashing fails.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/delta_install.h"

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
  std::fprintf(stderr,
               "usage: package_helper.exe repack <installation directory> <working directory>\n"
               "       package_helper.exe sha256 <file>\n");
  return 1;
}
