// Shortcut management against the Wine prefix's real per-user folders, with links made by
// IShellLinkW: the collection's rules, renaming, deleting and the unpin failure path.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "common/shortcuts.h"
#include "tests/support/test_support.h"

namespace {

constexpr wchar_t kTaskbarSuffix[] = L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar";

std::wstring Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return L"";
  return path;
}

std::wstring AppData() {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableW(L"APPDATA", value, MAX_PATH);
  return std::wstring(value, n < MAX_PATH ? n : 0);
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MakeLink(const std::wstring& path, const std::wstring& target) {
  oku::ComApartment apartment;
  oku::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())))
    return false;
  if (FAILED(link->SetPath(target.c_str()))) return false;
  oku::ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
  return SUCCEEDED(file->Save(path.c_str(), TRUE));
}

// Shell change notifications of the whole namespace (recursively: the desktop folder's own item
// is special in the shell), received by a message-only window.
class ShellEvents {
 public:
  ShellEvents() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &ShellEvents::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OkuShortcutEvents";
    ::RegisterClassW(&wc);
    hwnd_.reset(
        ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr));
    ::SetWindowLongPtrW(hwnd_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SHChangeNotifyEntry entry = {nullptr, TRUE};
    id_ = ::SHChangeNotifyRegister(hwnd_.get(), SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                   SHCNE_RENAMEITEM | SHCNE_DELETE, kMessage, 1, &entry);
  }
  ~ShellEvents() {
    if (id_) ::SHChangeNotifyDeregister(id_);
  }
  bool registered() const { return id_ != 0; }
  // Pumps until count events of this kind arrived (bounded against hangs only).
  int WaitFor(LONG event, int count) {
    const ULONGLONG start = ::GetTickCount64();
    while (Count(event) < count && ::GetTickCount64() - start < 10000) {
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return Count(event);
  }
  int Count(LONG event) const { return static_cast<int>(std::count(events_.begin(), events_.end(), event)); }

 private:
  static constexpr UINT kMessage = WM_APP + 7;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMessage) {
      auto* self = reinterpret_cast<ShellEvents*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      PIDLIST_ABSOLUTE* pidls = nullptr;
      LONG event = 0;
      HANDLE lock = ::SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &pidls, &event);
      if (lock) {
        if (self) self->events_.push_back(event);
        ::SHChangeNotification_Unlock(lock);
      }
      return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
  oku::WindowHandle hwnd_;  // destroyed after the notification is deregistered
  ULONG id_ = 0;
  std::vector<LONG> events_;
};

// Creates the per-user folders the tests need and removes exactly what the tests put there.
class ShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_ = Folder(CSIDL_DESKTOPDIRECTORY);
    programs_ = Folder(CSIDL_PROGRAMS);
    ASSERT_FALSE(desktop_.empty());
    ASSERT_FALSE(programs_.empty());
    ASSERT_FALSE(AppData().empty());
    taskbar_ = AppData() + kTaskbarSuffix;
    if (!Exists(taskbar_)) {
      // Remember the outermost folder made here, to remove only that afterwards.
      createdRoot_ = taskbar_;
      for (std::wstring parent = createdRoot_.substr(0, createdRoot_.rfind(L'\\')); !Exists(parent);
           parent = parent.substr(0, parent.rfind(L'\\'))) {
        createdRoot_ = parent;
      }
      ASSERT_EQ(::SHCreateDirectoryExW(nullptr, taskbar_.c_str(), nullptr), ERROR_SUCCESS);
    }
    for (const auto& name : kDesktopNames) RemoveOurs(desktop_ + L"\\" + name);
    RemoveOurs(programs_ + L"\\oku.compass.lnk");
    RemoveOurs(programs_ + L"\\OkuTestSub");
    RemoveOurs(taskbar_ + L"\\oku.compass.lnk");
    InitLog(log_.path(), L"shortcuts.log");
  }
  void TearDown() override {
    CloseLogFile();
    for (const auto& name : kDesktopNames) RemoveOurs(desktop_ + L"\\" + name);
    RemoveOurs(programs_ + L"\\oku.compass.lnk");
    RemoveOurs(programs_ + L"\\OkuTestSub");
    RemoveOurs(taskbar_ + L"\\oku.compass.lnk");
    if (!createdRoot_.empty()) oku::test::RemoveTree(createdRoot_);
  }
  static void RemoveOurs(const std::wstring& path) { oku::test::RemoveTree(path); }

  std::string Log() { return oku::test::ReadFileBytes(log_.Child(L"shortcuts.log")); }
  bool Logged(const std::wstring& line) { return Log().find(oku::Utf8FromWide(line) + "\n") != std::string::npos; }
  bool LoggedPart(const std::wstring& text) { return Log().find(oku::Utf8FromWide(text)) != std::string::npos; }

  inline static const std::vector<std::wstring> kDesktopNames = {
      L"oku.compass.lnk", L"oku.lnk", L"old.lnk", L"other.lnk", L"Notes.LNK", L"README", L"broken.lnk", L"OkuTestSub"};

  oku::test::ScratchDirectory log_{L"shortcuts"};
  std::wstring desktop_, programs_, taskbar_;
  std::wstring createdRoot_;
};

TEST_F(ShortcutsTest, FolderOfEachLocation) {
  EXPECT_EQ(GetShortcutFolder(kShortcutDesktop), desktop_);
  EXPECT_EQ(GetShortcutFolder(kShortcutCommonDesktop), Folder(CSIDL_COMMON_DESKTOPDIRECTORY));
  EXPECT_EQ(GetShortcutFolder(kShortcutStartMenu), programs_);
  EXPECT_EQ(GetShortcutFolder(kShortcutCommonStartMenu), Folder(CSIDL_COMMON_PROGRAMS));
  EXPECT_EQ(GetShortcutFolder(kShortcutStartMenuUser), programs_);
  EXPECT_EQ(GetShortcutFolder(kShortcutTaskbarPinned), taskbar_);
  EXPECT_EQ(GetShortcutFolder(static_cast<ShortcutLocation>(6)), L"");
  EXPECT_EQ(GetShortcutFolder(static_cast<ShortcutLocation>(-1)), L"");
}

TEST_F(ShortcutsTest, FolderSearchRules) {
  ASSERT_TRUE(MakeLink(desktop_ + L"\\oku.compass.lnk", L"C:\\Apps\\OKU.COMPASS.EXE"));
  // Only the target's whole file name counts: a user's links to look-alike names are not the product's.
  ASSERT_TRUE(MakeLink(desktop_ + L"\\old.lnk", L"D:\\old\\oku.compass.exe.bak"));
  ASSERT_TRUE(MakeLink(desktop_ + L"\\tool.lnk", L"D:\\tools\\not-oku.compass.exe-tool.exe"));
  ASSERT_TRUE(MakeLink(desktop_ + L"\\folder.lnk", L"D:\\oku.compass.exe\\other.exe"));
  ASSERT_TRUE(MakeLink(desktop_ + L"\\other.lnk", L"C:\\Windows\\notepad.exe"));
  ASSERT_TRUE(MakeLink(desktop_ + L"\\Notes.LNK", L"C:\\Apps\\oku.compass.exe"));  // not ".lnk"
  ASSERT_TRUE(oku::test::WriteFileBytes(desktop_ + L"\\README", "text"));
  ASSERT_TRUE(oku::test::WriteFileBytes(desktop_ + L"\\broken.lnk", "not a link"));
  ASSERT_TRUE(::CreateDirectoryW((desktop_ + L"\\OkuTestSub").c_str(), nullptr));
  ASSERT_TRUE(MakeLink(desktop_ + L"\\OkuTestSub\\oku.compass.lnk", L"C:\\Apps\\oku.compass.exe"));

  std::vector<ShortcutInfo> found = FindShortcutsInFolder(L"oku.compass.exe", kShortcutDesktop);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.shortcutPath < b.shortcutPath; });
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].shortcutPath, desktop_ + L"\\oku.compass.lnk");
  EXPECT_EQ(found[0].targetPath, L"C:\\Apps\\OKU.COMPASS.EXE");
  EXPECT_EQ(found[0].location, kShortcutDesktop);

  EXPECT_TRUE(Logged(L"当前快捷方式的路径：" + desktop_));
  EXPECT_TRUE(Logged(L"当前文件：README"));
  EXPECT_TRUE(Logged(L"没有扩展名，跳过！！"));
  EXPECT_TRUE(Logged(L"当前文件：Notes.LNK"));
  EXPECT_FALSE(LoggedPart(L"快捷方式的路径: " + desktop_ + L"\\Notes.LNK"));  // skipped silently
  EXPECT_TRUE(Logged(L"快捷方式的路径: " + desktop_ + L"\\broken.lnk"));      // read, then left out
  EXPECT_FALSE(LoggedPart(L"当前文件：OkuTestSub"));                          // folders: no line
  EXPECT_TRUE(Logged(L"该快捷方式的目标路径: C:\\Windows\\notepad.exe"));

  // A missing folder gives nothing.
  EXPECT_TRUE(FindShortcutsInFolder(L"oku.compass.exe", static_cast<ShortcutLocation>(9)).empty());
  EXPECT_TRUE(Logged(L"当前快捷方式的路径："));
}

TEST_F(ShortcutsTest, ProductShortcutsInCollectionOrder) {
  ASSERT_TRUE(MakeLink(desktop_ + L"\\oku.compass.lnk", L"C:\\A\\oku.compass.exe"));
  ASSERT_TRUE(MakeLink(programs_ + L"\\oku.compass.lnk", L"C:\\B\\oku.compass.exe"));
  ASSERT_TRUE(::CreateDirectoryW((programs_ + L"\\OkuTestSub").c_str(), nullptr));
  ASSERT_TRUE(MakeLink(programs_ + L"\\OkuTestSub\\oku.compass.lnk", L"C:\\C\\oku.compass.exe"));  // not searched
  ASSERT_TRUE(MakeLink(taskbar_ + L"\\oku.compass.lnk", L"C:\\D\\oku.compass.exe"));

  const std::vector<ShortcutInfo> all = FindProductShortcuts();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].targetPath, L"C:\\A\\oku.compass.exe");
  EXPECT_EQ(all[0].location, kShortcutDesktop);
  EXPECT_EQ(all[1].targetPath, L"C:\\B\\oku.compass.exe");
  EXPECT_EQ(all[1].location, kShortcutStartMenu);
  EXPECT_EQ(all[2].targetPath, L"C:\\D\\oku.compass.exe");
  EXPECT_EQ(all[2].location, kShortcutTaskbarPinned);
  EXPECT_EQ(all[2].shortcutPath, taskbar_ + L"\\oku.compass.lnk");
  EXPECT_TRUE(Logged(L"找到桌面快捷方式共计: 1"));
  EXPECT_TRUE(Logged(L"找到开始菜单快捷方式共计: 1"));
  EXPECT_TRUE(Logged(L"找到任务栏快捷方式共计: 1"));
  EXPECT_TRUE(Logged(L"获取到的快捷方式共计: 3"));

  // Without APPDATA the taskbar contributes nothing.
  const std::wstring appData = AppData();
  ASSERT_TRUE(::SetEnvironmentVariableW(L"APPDATA", nullptr));
  const std::vector<ShortcutInfo> withoutTaskbar = FindProductShortcuts();
  ::SetEnvironmentVariableW(L"APPDATA", appData.c_str());
  EXPECT_EQ(withoutTaskbar.size(), 2u);
  EXPECT_TRUE(Logged(L"找到任务栏快捷方式共计: 0"));
  EXPECT_TRUE(Logged(L"获取到的快捷方式共计: 2"));
}

TEST_F(ShortcutsTest, RenameDesktopShortcut) {
  const std::wstring oldPath = desktop_ + L"\\oku.compass.lnk";
  const std::wstring newPath = desktop_ + L"\\oku.lnk";

  // Old only: it becomes the new name, and the shell hears of one rename.
  ASSERT_TRUE(MakeLink(oldPath, L"C:\\New\\oku.compass.exe"));
  const std::string oldBytes = oku::test::ReadFileBytes(oldPath);
  ShellEvents events;
  ASSERT_TRUE(events.registered());
  RenameDesktopShortcut(L"oku.compass", L"oku");
  EXPECT_EQ(events.WaitFor(SHCNE_RENAMEITEM, 1), 1);
  EXPECT_EQ(events.Count(SHCNE_DELETE), 0);
  EXPECT_FALSE(Exists(oldPath));
  EXPECT_EQ(oku::test::ReadFileBytes(newPath), oldBytes);
  EXPECT_TRUE(Logged(L"oldShortcutPath: " + oldPath));
  EXPECT_TRUE(Logged(L"Shortcut renamed successfully."));
  EXPECT_FALSE(Logged(L"newShortcutPath already exists, now delete it"));

  // Both: the existing new one is replaced.
  ASSERT_TRUE(MakeLink(oldPath, L"C:\\Newer\\oku.compass.exe"));
  std::wstring target;
  RenameDesktopShortcut(L"oku.compass", L"oku");
  EXPECT_EQ(events.WaitFor(SHCNE_DELETE, 1), 1);
  EXPECT_EQ(events.WaitFor(SHCNE_RENAMEITEM, 2), 2);
  EXPECT_FALSE(Exists(oldPath));
  ASSERT_TRUE(ResolveShortcutTarget(newPath, target));
  EXPECT_EQ(target, L"C:\\Newer\\oku.compass.exe");
  EXPECT_TRUE(Logged(L"newShortcutPath already exists, now delete it"));

  // No old one: nothing changes, even though the new one exists.
  RenameDesktopShortcut(L"oku.compass", L"oku");
  EXPECT_TRUE(Logged(L"Old shortcut not found."));
  ASSERT_TRUE(ResolveShortcutTarget(newPath, target));
  EXPECT_EQ(target, L"C:\\Newer\\oku.compass.exe");

  // A new one that cannot be deleted: logged, and the rename fails without losing the old one.
  ASSERT_TRUE(MakeLink(oldPath, L"C:\\Third\\oku.compass.exe"));
  {
    oku::FileHandle held(::CreateFileW(newPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    RenameDesktopShortcut(L"oku.compass", L"oku");
  }
  EXPECT_TRUE(Logged(L"newShortcutPath delete Failed, error code: 32"));
  EXPECT_TRUE(Logged(L"Failed to rename shortcut."));
  EXPECT_TRUE(Exists(oldPath));
}

TEST_F(ShortcutsTest, DeleteShortcutCases) {
  // Gone already: logged, no unpin attempt.
  const ShortcutInfo missing{taskbar_ + L"\\oku.compass.lnk", L"C:\\oku.compass.exe", kShortcutTaskbarPinned};
  DeleteShortcut(missing);
  EXPECT_TRUE(Logged(L"快捷方式不存在: " + missing.shortcutPath));
  EXPECT_FALSE(LoggedPart(L"删除快捷方式："));
  EXPECT_FALSE(LoggedPart(L"IStartMenuPinnedList"));

  // Desktop entry: deleted, never unpinned.
  const ShortcutInfo onDesktop{desktop_ + L"\\oku.compass.lnk", L"C:\\oku.compass.exe", kShortcutDesktop};
  ASSERT_TRUE(MakeLink(onDesktop.shortcutPath, onDesktop.targetPath));
  DeleteShortcut(onDesktop);
  EXPECT_FALSE(Exists(onDesktop.shortcutPath));
  EXPECT_TRUE(Logged(L"删除快捷方式：" + onDesktop.shortcutPath));
  EXPECT_FALSE(LoggedPart(L"IStartMenuPinnedList"));

  // Taskbar entry: the pinned list is unavailable here, yet the file is deleted.
  ASSERT_TRUE(MakeLink(missing.shortcutPath, missing.targetPath));
  DeleteShortcut(missing);
  EXPECT_FALSE(Exists(missing.shortcutPath));
  EXPECT_TRUE(Logged(L"创建 IStartMenuPinnedList 接口失败，错误码: " + oku::ToWide(static_cast<long>(REGDB_E_CLASSNOTREG))));
  EXPECT_TRUE(Logged(L"取消固定任务栏快捷方式失败: " + missing.shortcutPath));

  // A file that cannot be deleted: the error is logged.
  ASSERT_TRUE(MakeLink(onDesktop.shortcutPath, onDesktop.targetPath));
  {
    oku::FileHandle held(::CreateFileW(onDesktop.shortcutPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    DeleteShortcut(onDesktop);
  }
  EXPECT_TRUE(Logged(L"删除快捷方式失败: " + onDesktop.shortcutPath + L", 错误码: 32"));
  EXPECT_TRUE(Exists(onDesktop.shortcutPath));
}

TEST_F(ShortcutsTest, UnpinWithoutAShellItem) {
  const ShortcutInfo nowhere{desktop_ + L"\\OkuTestSub\\none.lnk", L"", kShortcutTaskbarPinned};
  EXPECT_FALSE(UnpinFromTaskbar(nowhere));
  EXPECT_TRUE(LoggedPart(L"创建 IShellItem 失败，路径: " + nowhere.shortcutPath + L"，错误码: -"));
}

TEST_F(ShortcutsTest, ComOnAMultithreadedCallerIsLeftAsFound) {
  const std::wstring link = desktop_ + L"\\oku.compass.lnk";
  ASSERT_TRUE(MakeLink(link, L"C:\\Mta\\oku.compass.exe"));
  HRESULT first = E_FAIL, after = E_FAIL;
  bool resolved = false;
  size_t found = 0;
  std::wstring target = L"untouched";
  std::thread worker([&] {
    first = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    resolved = ResolveShortcutTarget(link, target);
    found = FindShortcutsInFolder(L"oku.compass.exe", kShortcutDesktop).size();
    after = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_FALSE: still initialised
    if (SUCCEEDED(after)) ::CoUninitialize();
    if (SUCCEEDED(first)) ::CoUninitialize();
  });
  worker.join();
  EXPECT_EQ(first, S_OK);
  EXPECT_TRUE(resolved);
  EXPECT_EQ(target, L"C:\\Mta\\oku.compass.exe");
  EXPECT_EQ(found, 1u);
  EXPECT_EQ(after, S_FALSE);
  EXPECT_TRUE(Logged(L"COM已经以不同的线程模型初始化，可能会导致问题"));

  // A file that is not there: false, target untouched.
  std::wstring untouched = L"keep";
  EXPECT_FALSE(ResolveShortcutTarget(desktop_ + L"\\none.lnk", untouched));
  EXPECT_EQ(untouched, L"keep");
}

}  // namespace
