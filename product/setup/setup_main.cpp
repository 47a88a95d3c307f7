// setup.exe of the demo product. Two modes:
//   --uninstall [--force-uninstall] [--delete-profile] [--verbose-logging] [--enable-logging]
//     [--log-file="..."]: removes the installation this copy belongs to (it lives in
//     <installation>\<version>\Installer). It cannot delete itself while it runs, so a copy of it
//     in %TEMP% removes the version folder once this process has exited.
//   --uncompressed-archive="<7z>" [--verbose-logging]: installs the version in the archive
//     (files under "Chrome-bin/") into the recorded installation directory, extracting it with
//     the 7za.exe beside this program.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <string>
#include <vector>

#include "product/common/product_common.h"

namespace {

namespace p = oku::product;

constexpr DWORD kExtractTimeoutMs = 300000;

// Deletes the shortcuts in folder that point at exe (also those renamed after installation).
void DeleteShortcutsTo(const std::wstring& folder, const std::wstring& exe) {
  if (folder.empty()) return;
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(p::Join(folder, L"*.lnk").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> links;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) links.push_back(p::Join(folder, data.cFileName));
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  for (const auto& link : links) {
    if (::lstrcmpiW(p::ShortcutTarget(link).c_str(), exe.c_str()) == 0 && ::DeleteFileW(link.c_str())) {
      p::Log(L"deleted shortcut " + link);
    }
  }
}

DWORD Uninstall(const p::Switches& switches) {
  const std::wstring self = p::ExecutablePath();
  const std::wstring versionDir = p::ParentDirectory(p::ParentDirectory(self));
  const std::wstring installDir = p::ParentDirectory(versionDir);
  const std::wstring exe = p::Join(installDir, p::kExeName);
  p::Log(L"uninstalling from " + installDir + L", version folder " + p::FileName(versionDir));

  if (!p::IsVersionFolderName(p::FileName(versionDir)) ||
      (!p::FileExists(exe) && p::ReadString(p::kUninstallKey, L"UninstallString").empty())) {
    p::Log(L"Oku.compass is not installed here");
    return p::kExitNotInstalled;
  }
  if (p::IsProcessRunningIn(p::kExeName, installDir)) {
    if (!switches.Has(L"force-uninstall")) {
      p::Log(L"oku.compass.exe is running");
      return p::kExitProductRunning;
    }
    p::Log(L"ending running instances: " + std::to_wstring(p::TerminateProcessesIn(p::kExeName, installDir)));
  }

  bool ok = true;
  for (const wchar_t* name : {p::kExeName, p::kProxyName}) ok = p::DeleteTree(p::Join(installDir, name)) && ok;
  ok = p::DeleteTree(p::Join(installDir, L"okuinfo")) && ok;
  for (const auto& folder : p::VersionFolders(installDir)) {
    ok = p::DeleteTree(p::Join(installDir, folder), self) && ok;
  }

  DeleteShortcutsTo(p::ShellFolder(CSIDL_DESKTOPDIRECTORY), exe);
  DeleteShortcutsTo(p::ShellFolder(CSIDL_PROGRAMS), exe);

  if (switches.Has(L"delete-profile")) {
    const std::wstring profile = p::ProfileDirectory();
    p::Log(L"deleting profile " + profile);
    if (!profile.empty()) ok = p::DeleteTree(profile) && ok;
  }

  // The vendor key stays: the uninstaller deletes it after the URL protocol key.
  // The version record goes with the product, so that a later installation of any version is
  // not taken for a downgrade.
  p::DeleteValue(p::kProductKey, L"pv");
  if (p::EnvironmentText(L"OKU_DEMO_SETUP_KEEP_ENTRY") == L"1") {
    p::Log(L"test: uninstall entry kept");
  } else {
    p::DeleteKeyTree(p::kUninstallKey);
  }
  p::Log(ok ? L"uninstall complete" : L"uninstall incomplete: some files are removed at restart");
  return ok ? p::kExitUninstallSuccess : p::kExitUninstallFailed;
}

// Removes versionDir (this program's own folder) after this process has exited, through a copy of
// this program in %TEMP% under another name (so that it never counts as a running setup.exe).
void RemoveVersionFolderAfterExit(const std::wstring& versionDir) {
  wchar_t temp[MAX_PATH] = {};
  if (!::GetTempPathW(MAX_PATH, temp)) return;
  const std::wstring helper =
      std::wstring(temp) + L"oku_setup_cleanup_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
  if (!::CopyFileW(p::ExecutablePath().c_str(), helper.c_str(), FALSE)) {
    p::Log(L"version folder stays: cannot copy the clean-up helper, error " + std::to_wstring(::GetLastError()));
    return;
  }
  std::wstring commandLine = L"\"" + helper + L"\" --remove-after-exit=" + std::to_wstring(::GetCurrentProcessId()) +
                             L" --folder=\"" + versionDir + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | DETACHED_PROCESS,
                       nullptr, temp, &startup, &info)) {
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    p::Log(L"version folder is removed after exit by " + helper);
  }
}

// The clean-up helper: waits for the uninstalling setup.exe to end, then removes its folder.
DWORD RemoveAfterExit(const p::Switches& switches) {
  const DWORD pid = static_cast<DWORD>(std::wcstoul(switches.Value(L"remove-after-exit").c_str(), nullptr, 10));
  const std::wstring folder = switches.Value(L"folder");
  if (HANDLE parent = ::OpenProcess(SYNCHRONIZE, FALSE, pid)) {
    ::WaitForSingleObject(parent, 60000);
    ::CloseHandle(parent);
  }
  // Only the uninstalled remains are removed: the folder holding nothing but Installer\setup.exe.
  // A folder that has meanwhile been filled again (a reinstallation at the same path) is left alone.
  const auto onlySetupLeft = [&folder] {
    const auto top = p::ListNames(folder);
    const auto installer = p::ListNames(p::Join(folder, L"Installer"));
    return top == std::vector<std::wstring>{L"Installer"} && installer == std::vector<std::wstring>{L"setup.exe"};
  };
  bool removed = false;
  for (int attempt = 0; attempt < 25 && !removed && onlySetupLeft(); ++attempt) {
    removed = p::DeleteTree(folder) && !p::DirectoryExists(folder);
    if (!removed) ::Sleep(200);
  }
  ::MoveFileExW(p::ExecutablePath().c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return removed ? p::kExitSuccess : p::kExitUninstallFailed;
}

// The version folder of an extracted archive: the highest one if there are several.
std::wstring ArchiveVersion(const std::wstring& chromeBin) {
  std::wstring best;
  for (const auto& folder : p::VersionFolders(chromeBin)) {
    if (best.empty() || p::CompareVersions(folder, best) > 0) best = folder;
  }
  return best;
}

DWORD InstallArchive(const std::wstring& archive) {
  const std::wstring installDir = p::ReadString(p::kProductKey, L"OkuInstallPath");
  p::Log(L"installing " + archive + L" into " + installDir);
  if (installDir.empty() || !p::DirectoryExists(installDir)) {
    p::Log(L"no installation directory recorded");
    p::WriteInstallerResult(p::kExitInstallFailed, L"No installation of Oku.compass was found.");
    return p::kExitInstallFailed;
  }
  const std::wstring sevenZip = p::Join(p::ParentDirectory(p::ExecutablePath()), L"7za.exe");
  if (!p::FileExists(archive) || !p::FileExists(sevenZip)) {
    p::Log(L"archive or 7za.exe missing");
    p::WriteInstallerResult(p::kExitInvalidArchive, L"The update archive could not be read.");
    return p::kExitInvalidArchive;
  }

  const std::wstring source = p::FullPath(installDir + L"\\..\\Temp\\source");
  p::DeleteTree(source);
  p::CreateDirectoryTree(source);
  const std::wstring commandLine = L"\"" + sevenZip + L"\" x \"" + archive + L"\" -o\"" + source + L"\" -y";
  p::Log(L"extracting: " + commandLine);
  const p::ProcessOutcome extract = p::RunHidden(commandLine, kExtractTimeoutMs);
  const std::wstring chromeBin = p::Join(source, L"Chrome-bin");
  const std::wstring version = ArchiveVersion(chromeBin);
  DWORD code = p::kExitSuccess;
  std::wstring message = L"Oku.compass has been updated.";
  if (!extract.started || extract.timedOut || extract.exitCode != 0 || version.empty() ||
      !p::FileExists(p::Join(chromeBin, p::kExeName))) {
    p::Log(L"extraction failed, 7za exit code " + std::to_wstring(extract.exitCode) +
           (extract.timedOut ? L" (timed out)" : L""));
    code = p::kExitInvalidArchive;
    message = L"The update archive could not be extracted.";
  } else if (const std::wstring installed = p::ReadString(p::kProductKey, L"pv");
             !installed.empty() && p::CompareVersions(installed, version) > 0) {
    code = p::kExitHigherVersionExists;
    message = L"A newer version of Oku.compass is already installed.";
  } else if (!p::CopyTree(chromeBin, installDir)) {
    code = p::kExitInstallFailed;
    message = L"Installation failed: files could not be copied.";
  } else {
    p::RemoveOtherVersions(installDir, version);
    p::RegisterInstallation(installDir, version, false);
  }
  p::DeleteTree(source);
  p::WriteInstallerResult(code, message);
  p::Log(L"exit code " + std::to_wstring(code) + L": " + message);
  return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const auto switches = p::Switches::FromCommandLine();
  std::wstring logFile = switches.Value(L"log-file");
  if (logFile.empty() && (switches.Has(L"verbose-logging") || switches.Has(L"enable-logging"))) {
    wchar_t temp[MAX_PATH] = {};
    if (::GetTempPathW(MAX_PATH, temp)) logFile = std::wstring(temp) + L"oku_product_setup.log";
  }
  if (!logFile.empty()) p::OpenLog(logFile);
  p::Log(std::wstring(L"setup ") + L"" OKU_PRODUCT_VERSION + L" started: " + ::GetCommandLineW());

  DWORD code = p::kExitBadCommandLine;
  if (switches.Has(L"remove-after-exit")) {
    return static_cast<int>(RemoveAfterExit(switches));
  }
  if (switches.Has(L"uninstall")) {
    code = Uninstall(switches);
    if (code == p::kExitUninstallSuccess || code == p::kExitUninstallFailed) {
      const std::wstring versionDir = p::ParentDirectory(p::ParentDirectory(p::ExecutablePath()));
      if (p::IsVersionFolderName(p::FileName(versionDir))) RemoveVersionFolderAfterExit(versionDir);
    }
  } else if (switches.Has(L"uncompressed-archive")) {
    code = InstallArchive(p::FullPath(switches.Value(L"uncompressed-archive")));
  } else {
    p::Log(L"nothing to do: neither --uninstall nor --uncompressed-archive given");
  }
  if (auto forced = p::EnvironmentNumber(L"OKU_DEMO_SETUP_EXIT_CODE")) {
    p::Log(L"test: exit code " + std::to_wstring(code) + L" replaced by " + std::to_wstring(*forced));
    code = *forced;
  }
  p::Log(L"exit code " + std::to_wstring(code));
  return static_cast<int>(code);
}
