#include "setup/pre_install_checks.h"
#include "common/product_names.h"


#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "common/file_system.h"
#include "common/message_box.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "common/shortcuts.h"
#include "common/version_info.h"
#include "setup/install_context.h"
#include "setup/install_records.h"
#include "setup/pipeline.h"
#include "setup/progress_simulator.h"
#include "uninstall/uninstall_engine.h"

using oku::EqualsIgnoreCaseAscii;
using oku::SamePath;
using oku::ToWide;

namespace {

constexpr wchar_t kProductExe[] = L"oku.compass.exe";

// True when path lies inside dir (not when it is dir itself).
bool IsInside(const std::wstring& path, const std::wstring& dir) {
  return path.size() > dir.size() + 1 && path[dir.size()] == L'\\' && SamePath(path.substr(0, dir.size()), dir);
}

std::wstring WithoutTrailingSlash(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

// The recorded "OkuInstallPath" may hold doubled backslashes or a trailing one (ReadInstallPath
// collapses them before use): compare both paths in that form.
bool SameInstallDirectory(const std::wstring& recorded, const std::wstring& installDir) {
  return SamePath(WithoutTrailingSlash(CollapseBackslashRuns(recorded)),
                  WithoutTrailingSlash(CollapseBackslashRuns(installDir)));
}

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
  return WithoutTrailingSlash(path);
}

// Directories that a shortcut must never lead us to delete wholesale, whatever its target says:
// drive and share roots, known shell folders, the chosen installation directory's ancestors, and
// a directory holding the product's user data ("User Data", kept by every removal).
bool IsProtectedDirectory(const std::wstring& dir, const std::wstring& installDir) {
  const std::wstring candidate = WithoutTrailingSlash(dir);
  if (candidate.size() <= 3) return true;  // a drive root such as C:\ or an unusable path
  if (candidate.rfind(L"\\\\", 0) == 0 && std::count(candidate.begin(), candidate.end(), L'\\') <= 3) return true;
  if (IsInside(WithoutTrailingSlash(installDir), candidate)) return true;
  if (oku::DirectoryExists(oku::JoinPath(candidate, L"User Data"))) return true;
  static const int kFolders[] = {CSIDL_PROFILE,        CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_APPDATA,
                                 CSIDL_LOCAL_APPDATA,  CSIDL_PROGRAMS,         CSIDL_STARTMENU, CSIDL_PROGRAM_FILES,
                                 CSIDL_PROGRAM_FILESX86, CSIDL_WINDOWS,        CSIDL_SYSTEM,    CSIDL_COMMON_APPDATA,
                                 CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_PROGRAMS, CSIDL_MYPICTURES,
                                 CSIDL_MYMUSIC,        CSIDL_MYVIDEO,          CSIDL_INTERNET_CACHE};
  for (int folder : kFolders) {
    const std::wstring known = KnownFolder(folder);
    if (!known.empty() && SamePath(known, candidate)) return true;
  }
  return false;
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool CheckUninstallerNotRunning() {
  if (!IsProcessRunning(L"OkuUninstall.exe")) return true;
  LogInfo(L" oku 进程正在运行");
  ShowMessageBox(nullptr, L"oku 正在卸载中，请稍后重试！", L"提示", MB_OK | MB_ICONINFORMATION);
  return false;
}

bool CheckProductNotRunning() {
  if (!IsProcessRunning(kProductExe)) return true;
  LogInfo(L" oku 进程正在运行");
  const int answer = ShowMessageBox(nullptr, L"oku 正在运行中，是否关闭并替换安装？", L"提示",
                                    MB_YESNO | MB_ICONQUESTION);
  if (answer == IDYES) {
    LogInfo(L"用户选择关闭 oku 进程");
    KillProcessByName(kProductExe);
    return true;
  }
  LogInfo(L"用户选择不关闭 oku 进程");
  return false;
}

bool IsDowngradeFrom(const std::wstring& workingDir) {
  const std::wstring installed = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kProductVersionValue);
  if (installed.empty()) {
    LogInfo(L"没有找到上次安装的版本号，不是降级安装！");
    return false;
  }
  const std::wstring packaged = workingDir + L"\\mini_installer.exe";
  const bool packagedExists = oku::PathExists(packaged);
  std::wstring incoming;
  if (packagedExists) {
    incoming = GetFileProductVersion(packaged);
    if (!incoming.empty()) LogInfo(L"使用临时目录中的 mini_installer.exe 版本号: " + incoming);
  }
  if (incoming.empty()) {
    const std::wstring self = oku::ExecutablePath();
    if (self.empty()) {
      LogInfo(L"获取当前EXE路径失败");
      return false;
    }
    incoming = GetFileProductVersion(self);
    LogInfo(L"使用当前 EXE 的版本号: " + incoming);
    if (incoming.empty()) {
      LogInfo(L"无法获取版本号");
      return false;
    }
  }
  const int result = CompareVersions(installed, incoming);
  LogInfo(L" 已安装版本: " + installed + L", 待安装版本: " + incoming + L", 比较结果: " + ToWide(result) +
          L" 【0: 修复安装, -1: 升级安装, 1: 降级安装】");
  if (packagedExists) {
    if (::DeleteFileW(packaged.c_str())) {
      LogInfo(L"已删除临时目录中的 mini_installer.exe: " + packaged);
    } else {
      LogInfo(L"删除临时目录中的 mini_installer.exe 失败，错误码: " + ToWide(::GetLastError()) + L", 文件路径: " + packaged);
    }
  }
  return result == 1;
}

bool CheckPreviousPath(const std::wstring& installDir) {
  const std::wstring recorded = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kInstallPathValue);
  if (recorded.empty()) {
    LogInfo(L"没有找到上次安装的路径，不相同！ 但是没找到所以没办法卸载！");
    return true;
  }
  return SameInstallDirectory(recorded, installDir);
}

void UninstallPreviousInstallation() {
  LogInfo(L"开始卸载 oku");
  UninstallEngine engine(true, true, true, true);
  const int code = engine.Run();
  if (code != 0) LogInfo(L"卸载失败，返回码: " + ToWide(code));
  LogInfo(std::wstring(76, L'='));
}

void RemoveOldInstallationByShortcuts(const std::wstring& installDir) {
  LogInfo(L"开始删除 oku");
  for (const ShortcutInfo& shortcut : FindProductShortcuts()) {
    LogInfo(L"快捷方式路径: " + shortcut.shortcutPath);
    LogInfo(L"目标路径: " + shortcut.targetPath);
    const size_t slash = shortcut.targetPath.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0 || slash >= MAX_PATH) {
      LogInfo(L"无法获取父目录，跳过: " + shortcut.targetPath);
      continue;
    }
    const std::wstring parent = shortcut.targetPath.substr(0, slash);
    if (SamePath(parent, installDir)) {
      LogInfo(L"目标路径不应该删除，跳过: " + parent);
      continue;
    }
    const std::wstring name = FileNameOf(parent);
    if (!EqualsIgnoreCaseAscii(name, L"oku.compass") && !EqualsIgnoreCaseAscii(name, L"Application")) {
      LogInfo(L"目录不该删除，跳过: " + name);
      LogInfo(L"但是要删除快捷方式！");
      DeleteShortcut(shortcut);
      continue;
    }
    if (oku::DirectoryExists(parent)) {
      // Only a directory that really holds the product's executable is an earlier installation;
      // anything else (a stale shortcut into another program's "Application" folder, a protected
      // folder) keeps its contents and loses only the shortcut.
      const bool holdsProduct = EqualsIgnoreCaseAscii(FileNameOf(shortcut.targetPath), kProductExe) &&
                                oku::FileExists(oku::JoinPath(parent, kProductExe));
      if (!holdsProduct || IsProtectedDirectory(parent, installDir)) {
        LogInfo(L"目录不该删除，跳过: " + name);
        LogInfo(L"但是要删除快捷方式！");
      } else {
        LogInfo(L"开始删除目标路径：" + parent);
        DeleteAllFilesInDirectory(parent);
      }
    } else {
      LogInfo(L"目标路径不存在: " + parent);
    }
    DeleteShortcut(shortcut);
  }
  LogInfo(std::wstring(76, L'='));
}

namespace {

// An earlier installation's removal: each directory's path and listing pattern, a failed deletion
// with its error, and each directory's end are logged. Files keep their attributes (a read-only
// one stays); a directory loses them before its removal. Links go as links.
class EarlierInstallationRemoval : public oku::TreeRemoval {
 public:
  EarlierInstallationRemoval() : TreeRemoval(Reset::kDirectories) {}

  bool OnEnterDirectory(const std::wstring& path, bool) override {
    LogInfo(L"== directoryPath : " + path);
    LogInfo(L"== searchPath: " + path + L"\\*");
    return true;
  }
  bool OnEntryFailed(const std::wstring& path, DWORD error) override {
    if (error != ERROR_FILE_NOT_FOUND) LogInfo(L"DeleteFile failed: " + path + L", error: " + ToWide(error));
    return false;
  }
  void OnDirectoryListed(const std::wstring&, const oku::TreeCounts&) override {
    LogInfo(L"DeleteAllFilesInDirectory end");
  }
};

}  // namespace

void DeleteAllFilesInDirectory(const std::wstring& dir) {
  EarlierInstallationRemoval removal;
  // Best effort: every entry that could not go was logged by the removal.
  (void)oku::RemoveTree(dir, removal);
}

bool CheckRegistryState(const std::wstring& installDir) {
  LogInfo(L"开始检查注册表！");
  const std::wstring recorded = ReadRegistryString(HKEY_CURRENT_USER, kProductRegistryKey, kInstallPathValue);
  if (!recorded.empty() && !SameInstallDirectory(recorded, installDir)) {
    LogInfo(L"注册表存在，但是不是当前安装路径，需要删除！");
    if (!DeleteRegistryKeyTree(HKEY_CURRENT_USER, kProductRegistryKey)) {
      LogInfo(L"删除注册表失败，取消安装！");
      return false;
    }
  }
  LogInfo(L"注册表状态合法！");
  return true;
}

bool IsDowngrade(InstallContext& context) { return IsDowngradeFrom(context.GetWorkingDirectory()); }

bool CheckRegistryState(InstallContext& context) { return CheckRegistryState(context.GetCustomInstallPath()); }

void CheckRegistryAndInstall(InstallContext& context) {
  if (CheckRegistryState(context)) {
    LogInfo(L"注册表检查通过，开始安装！");
    StartInstallation(context);
    return;
  }
  LogInfo(L"注册表检查没有通过，取消安装！");
  if (ProgressSimulator* progress = context.GetProgressSimulator()) progress->Stop();
  context.ShowOptionsView();
}

DWORD PreInstallThreadProc(InstallContext& context) {
  const std::wstring installDir = context.GetCustomInstallPath();
  if (!CheckPreviousPath(installDir)) UninstallPreviousInstallation();
  RemoveOldInstallationByShortcuts(installDir);
  CheckRegistryAndInstall(context);
  return 0;
}
