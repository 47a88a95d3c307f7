// mini_installer.exe of the demo product: installs the files it carries as RCDATA resources
// into its own directory, replaces an older version folder and registers the installation.
// Resource 1 lists the files, one "<resource id> <relative path>" per line.
#include <windows.h>

#include <string>
#include <vector>

#include "product/common/product_common.h"

namespace {

namespace p = oku::product;

constexpr wchar_t kVersion[] = L"" OKU_PRODUCT_VERSION;
constexpr int kManifestId = 1;

struct PayloadFile {
  int id = 0;
  std::wstring relativePath;
};

bool ResourceBytes(int id, const void** data, DWORD* size) {
  HRSRC found = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!found) return false;
  HGLOBAL loaded = ::LoadResource(nullptr, found);
  *data = loaded ? ::LockResource(loaded) : nullptr;
  *size = ::SizeofResource(nullptr, found);
  return *data != nullptr;
}

std::vector<PayloadFile> ReadManifest() {
  std::vector<PayloadFile> files;
  const void* data = nullptr;
  DWORD size = 0;
  if (!ResourceBytes(kManifestId, &data, &size)) return files;
  const std::string text(static_cast<const char*>(data), size);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    PayloadFile file;
    file.id = std::atoi(line.substr(0, blank).c_str());
    for (char c : line.substr(blank + 1)) file.relativePath += static_cast<wchar_t>(c == '/' ? '\\' : c);
    // The manifest is ours, but a path that climbs out of the installation stays refused.
    if (file.id > 0 && !file.relativePath.empty() && file.relativePath.find(L"..") == std::wstring::npos &&
        file.relativePath[0] != L'\\' && file.relativePath.find(L':') == std::wstring::npos) {
      files.push_back(file);
    }
  }
  return files;
}

DWORD Finish(DWORD code, const std::wstring& message) {
  p::WriteInstallerResult(code, message);
  p::Log(L"exit code " + std::to_wstring(code) + L": " + message);
  return code;
}

DWORD Install(const std::wstring& installDir) {
  const std::wstring previous = p::ReadString(p::kProductKey, L"pv");
  if (!previous.empty()) p::Log(L"installed version: " + previous);
  if (!previous.empty() && p::CompareVersions(previous, kVersion) > 0) {
    return Finish(p::kExitHigherVersionExists, L"A newer version of Oku.compass is already installed.");
  }

  const std::vector<PayloadFile> files = ReadManifest();
  if (files.empty()) return Finish(p::kExitInstallFailed, L"The installer carries no files.");
  for (const auto& file : files) {
    const void* data = nullptr;
    DWORD size = 0;
    const std::wstring target = p::Join(installDir, file.relativePath);
    if (!ResourceBytes(file.id, &data, &size) || !p::WriteFileBytes(target, data, size)) {
      const DWORD error = ::GetLastError();
      p::Log(L"cannot write " + target + L", error " + std::to_wstring(error));
      return Finish(p::kExitInstallFailed, L"Installation failed: cannot write " + file.relativePath + L".");
    }
    p::Log(L"installed " + file.relativePath + L" (" + std::to_wstring(size) + L" bytes)");
  }

  p::RemoveOtherVersions(installDir, kVersion);
  p::RegisterInstallation(installDir, kVersion, true);
  const bool update = !previous.empty() && p::CompareVersions(previous, kVersion) != 0;
  return Finish(p::kExitSuccess, update ? L"Oku.compass has been updated." : L"Oku.compass has been installed.");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const auto switches = p::Switches::FromCommandLine();
  const std::wstring installDir = p::ParentDirectory(p::ExecutablePath());
  if (installDir.empty()) return static_cast<int>(p::kExitInstallFailed);
  std::wstring logFile = switches.Value(L"log-file");
  if (logFile.empty()) logFile = installDir + L"\\okuinfo\\mini_installer_log.log";
  p::OpenLog(logFile);
  p::Log(std::wstring(L"mini_installer ") + kVersion + L" started: " + ::GetCommandLineW());
  p::Log(L"installation directory: " + installDir);

  if (auto delay = p::EnvironmentNumber(L"OKU_DEMO_INSTALLER_DELAY_MS")) {
    p::Log(L"test delay of " + std::to_wstring(*delay) + L" ms");
    ::Sleep(*delay);
  }
  if (auto forced = p::EnvironmentNumber(L"OKU_DEMO_INSTALLER_EXIT_CODE")) {
    return static_cast<int>(Finish(*forced, L"Test exit code requested; nothing installed."));
  }
  return static_cast<int>(Install(installDir));
}
