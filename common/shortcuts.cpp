#include "common/shortcuts.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <cwctype>

#include "common/file_system.h"
#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"

namespace {

// Not in every SDK's headers: the shell's Start-menu/taskbar pinned list.
constexpr CLSID kClsidStartMenuPin = {0xa2a9545d, 0xa0c2, 0x42b4, {0x97, 0x08, 0xa0, 0xb2, 0xba, 0xdd, 0x77, 0xc8}};

constexpr wchar_t kTaskbarSuffix[] = L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar";

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring HresultText(HRESULT hr) { return oku::ToWide(static_cast<long>(hr)); }

}  // namespace

void RenameDesktopShortcut(const std::wstring& oldName, const std::wstring& newName) {
  wchar_t desktop[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, SHGFP_TYPE_CURRENT, desktop))) {
    LogInfo(L"Failed to get desktop path.");
    return;
  }
  const std::wstring oldShortcutPath = oku::FormatWide(L"%ls\\%ls.lnk", desktop, oldName.c_str());
  const std::wstring newShortcutPath = oku::FormatWide(L"%ls\\%ls.lnk", desktop, newName.c_str());
  LogInfo(L"oldShortcutPath: " + oldShortcutPath);
  if (!::PathFileExistsW(oldShortcutPath.c_str())) {
    LogInfo(L"Old shortcut not found.");
    return;
  }
  if (::PathFileExistsW(newShortcutPath.c_str())) {
    LogInfo(L"newShortcutPath already exists, now delete it");
    if (!::DeleteFileW(newShortcutPath.c_str())) {
      LogInfo(L"newShortcutPath delete Failed, error code: " + oku::ToWide(::GetLastError()));
    }
    ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, newShortcutPath.c_str(), nullptr);
  }
  if (::MoveFileW(oldShortcutPath.c_str(), newShortcutPath.c_str())) {
    ::SHChangeNotify(SHCNE_RENAMEITEM, SHCNF_PATHW, oldShortcutPath.c_str(), newShortcutPath.c_str());
    LogInfo(L"Shortcut renamed successfully.");
  } else {
    LogInfo(L"Failed to rename shortcut.");
  }
}

std::vector<ShortcutInfo> FindProductShortcuts() {
  std::vector<ShortcutInfo> result;
  try {
    struct Source {
      ShortcutLocation location;
      const wchar_t* line;
    };
    const Source sources[] = {{kShortcutDesktop, L"找到桌面快捷方式共计: "},
                              {kShortcutStartMenu, L"找到开始菜单快捷方式共计: "},
                              {kShortcutTaskbarPinned, L"找到任务栏快捷方式共计: "}};
    for (const Source& source : sources) {
      std::vector<ShortcutInfo> found = FindShortcutsInFolder(L"oku.compass.exe", source.location);
      LogInfo(source.line + oku::ToWide(found.size()));
      result.insert(result.end(), found.begin(), found.end());
    }
    LogInfo(L"获取到的快捷方式共计: " + oku::ToWide(result.size()));
  } catch (...) {
    // Out of memory: what was collected so far.
  }
  return result;
}

std::wstring GetShortcutFolder(ShortcutLocation location) {
  int csidl = -1;
  switch (location) {
    case kShortcutDesktop: csidl = CSIDL_DESKTOPDIRECTORY; break;
    case kShortcutCommonDesktop: csidl = CSIDL_COMMON_DESKTOPDIRECTORY; break;
    case kShortcutStartMenu:
    case kShortcutStartMenuUser: csidl = CSIDL_PROGRAMS; break;
    case kShortcutCommonStartMenu: csidl = CSIDL_COMMON_PROGRAMS; break;
    case kShortcutTaskbarPinned: {
      wchar_t appData[MAX_PATH] = {};
      const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH);
      if (length == 0 || length >= MAX_PATH) return L"";
      const std::wstring folder = std::wstring(appData) + kTaskbarSuffix;
      if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return L"";
      return folder;
    }
    default: return L"";
  }
  wchar_t folder[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK) return L"";
  return folder;
}

std::vector<ShortcutInfo> FindShortcutsInFolder(const std::wstring& executableName, ShortcutLocation location) {
  // Uninitialised on return only if this call initialised it (a thread already in a
  // multithreaded apartment keeps its own initialisation).
  const oku::ComApartment apartment(COINIT_APARTMENTTHREADED);
  std::vector<ShortcutInfo> result;
  try {
    const std::wstring folder = GetShortcutFolder(location);
    LogInfo(L"当前快捷方式的路径：" + folder);
    if (folder.empty()) return result;

    const std::wstring wanted = Lower(executableName);
    for (const oku::DirectoryEntry entry : oku::DirectoryListing(folder)) {
      if (entry.IsDirectory()) continue;
      const std::wstring name = entry.name();
      LogInfo(L"当前文件：" + name);
      const size_t dot = name.rfind(L'.');
      if (dot == std::wstring::npos) {
        LogInfo(L"没有扩展名，跳过！！");
        continue;
      }
      if (name.compare(dot, std::wstring::npos, L".lnk") != 0) continue;
      const std::wstring fullPath = folder + L"\\" + name;
      LogInfo(L"快捷方式的路径: " + fullPath);
      std::wstring target;
      if (!ResolveShortcutTarget(fullPath, target)) continue;
      LogInfo(L"该快捷方式的目标路径: " + target);
      // The target's file name must be the product's, not merely contain it ("oku.compass.exe.bak").
      const size_t slash = target.find_last_of(L"\\/");
      const std::wstring targetName = slash == std::wstring::npos ? target : target.substr(slash + 1);
      if (Lower(targetName) == wanted) result.push_back({fullPath, target, location});
    }
  } catch (...) {
    // Out of memory: what was collected so far.
  }
  return result;
}

bool ResolveShortcutTarget(const std::wstring& shortcutPath, std::wstring& targetPath) {
  const oku::ComApartment apartment(COINIT_APARTMENTTHREADED);
  if (apartment.result() == RPC_E_CHANGED_MODE) {
    LogInfo(L"COM已经以不同的线程模型初始化，可能会导致问题");
  } else if (!apartment.ok()) {
    LogInfo(L"COM初始化失败，错误码: " + HresultText(apartment.result()));
    return false;
  }
  oku::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
      !link) {
    return false;
  }
  oku::ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || !file) return false;
  if (FAILED(file->Load(shortcutPath.c_str(), STGM_READ))) return false;
  wchar_t buffer[MAX_PATH] = {};
  if (FAILED(link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
  targetPath = buffer;
  return true;  // file is released before link: reverse order of acquisition
}

void DeleteShortcut(const ShortcutInfo& info) {
  const std::wstring& path = info.shortcutPath;
  if (!::PathFileExistsW(path.c_str())) {
    LogInfo(L"快捷方式不存在: " + path);
    return;
  }
  LogInfo(L"删除快捷方式：" + path);
  if (info.location == kShortcutTaskbarPinned && !UnpinFromTaskbar(info)) {
    LogInfo(L"取消固定任务栏快捷方式失败: " + path);
  }
  if (!::DeleteFileW(path.c_str())) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) LogInfo(L"删除快捷方式失败: " + path + L", 错误码: " + oku::ToWide(error));
  }
}

bool UnpinFromTaskbar(const ShortcutInfo& info) {
  const oku::ComApartment apartment(COINIT_APARTMENTTHREADED);
  oku::ComPtr<IShellItem> item;
  HRESULT hr = ::SHCreateItemFromParsingName(info.shortcutPath.c_str(), nullptr, IID_IShellItem, item.put_void());
  if (FAILED(hr) || !item) {
    LogInfo(L"创建 IShellItem 失败，路径: " + info.shortcutPath + L"，错误码: " + HresultText(hr));
    return false;
  }
  oku::ComPtr<IStartMenuPinnedList> pinned;
  hr = ::CoCreateInstance(kClsidStartMenuPin, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                          __uuidof(IStartMenuPinnedList), pinned.put_void());
  if (FAILED(hr) || !pinned) {
    LogInfo(L"创建 IStartMenuPinnedList 接口失败，错误码: " + HresultText(hr));
    return false;
  }
  hr = pinned->RemoveFromList(item.get());
  if (FAILED(hr)) {
    LogInfo(L"解除任务栏固定失败，错误码: " + HresultText(hr));
    return false;
  }
  return true;  // pinned is released before item
}
