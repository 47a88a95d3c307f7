// Installing, updating and uninstalling touch what the product owns and nothing else: canary files
// planted where a careless expansion of the folder name, a split at blanks or special characters,
// a clean-up of the parent or of a sibling, or a followed link would land survive byte for byte.
// Each case runs on a clean machine (its own Wine prefix).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "tests/containment/containment_support.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"

namespace {

using namespace oku::e2e;
using namespace oku::containment;

constexpr wchar_t kParent[] = L"C:\\Apps";
constexpr wchar_t kLinkTarget[] = L"C:\\LinkTarget";
// The directory goes a moment after the uninstaller has ended (its self-deletion waits for that).
constexpr DWORD kSelfDeleteMs = 30000;

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 1024);
  return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring Boxes(const Outcome& run) {
  std::wstring text;
  for (const Box& box : run.boxes) text += L"[" + box.caption + L": " + box.text + L"] ";
  return text;
}

// Files planted outside the installation, each with its own content, and listings of folders
// around it that must not change (the installation itself left out).
class Canaries {
 public:
  void Plant(const std::wstring& path) {
    ::SHCreateDirectoryExW(nullptr, FolderOf(path).c_str(), nullptr);
    const std::string bytes = "canary " + std::to_string(files_.size()) + " at " + oku::Utf8FromWide(path) + "\n";
    ASSERT_TRUE(oku::test::WriteFileBytes(path, bytes)) << path;
    files_[path] = bytes;
  }

  // Records folder's listing now; excluded (a path below it) is left out then and later.
  void Watch(const std::wstring& folder, const std::wstring& excluded = L"") {
    std::wstring relative;
    if (!excluded.empty() && excluded.rfind(folder + L"\\", 0) == 0) relative = excluded.substr(folder.size() + 1);
    watched_.push_back({folder, relative, {}});
    watched_.back().listing = Listing(watched_.back());
  }

  void ExpectIntact(const char* when) const {
    for (const auto& [path, bytes] : files_) {
      const DWORD attributes = ::GetFileAttributesW(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        ADD_FAILURE() << when << ": " << path << " is gone";
      } else {
        EXPECT_TRUE(oku::test::ReadFileBytes(path) == bytes) << when << ": " << path << " changed";
      }
    }
    for (const Watched& watched : watched_) {
      EXPECT_EQ(Listing(watched), watched.listing) << when << ": " << watched.folder << " changed";
    }
  }

 private:
  struct Watched {
    std::wstring folder;
    std::wstring excludedRelative;
    std::vector<std::wstring> listing;
  };

  static std::vector<std::wstring> Listing(const Watched& watched) {
    std::vector<std::wstring> entries = ListTree(watched.folder);
    if (watched.excludedRelative.empty()) return entries;
    const std::wstring below = watched.excludedRelative + L"\\";
    std::erase_if(entries, [&below](const std::wstring& entry) { return entry.rfind(below, 0) == 0; });
    return entries;
  }

  std::map<std::wstring, std::string> files_;
  std::vector<Watched> watched_;
};

bool EnableDelayedExpansion() {
  oku::RegKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Command Processor", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD on = 1;
  return ::RegSetValueExW(key.get(), L"DelayedExpansion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on),
                          sizeof(on)) == ERROR_SUCCESS;
}

// The newer version's archive tree as the build staged it: what lands in the installation.
std::wstring NewStage() { return oku::test::BinDirectory() + L"\\..\\product\\new\\Chrome-bin"; }

// The longest installation directory the product fits in. The installer records paths of up to
// 259 characters, but every file inside the installation must stay below MAX_PATH too: the
// directory, a backslash and the deepest relative path, with the terminating NUL.
std::wstring LongestDirectory() {
  size_t deepest = 0;
  for (const std::wstring& entry : ListTree(NewStage())) deepest = std::max(deepest, entry.size());
  // Written beside the product's files: the component uninstaller's and the product installer's logs.
  for (const wchar_t* own : {L"uninstall\\chrome_uninstall.log", L"uninstall\\oku_uninstall.log",
                             L"okuinfo\\mini_installer_log.log", L"oku_install.log"}) {
    deepest = std::max(deepest, std::wstring(own).size());
  }
  if (deepest < 10) return std::wstring();  // the stage is missing
  const size_t length = MAX_PATH - 1 - 1 - deepest;
  // Components of at most 60 characters below C:\Apps\long.
  std::wstring dir = std::wstring(kParent) + L"\\long";
  while (dir.size() < length) {
    const size_t left = length - dir.size();
    if (left == 1) {
      dir += L'L';
    } else {
      dir += L"\\" + std::wstring(std::min<size_t>(left - 1, 60), L'L');
    }
  }
  return dir;
}

// Where a careless expansion, a split of a name, a clean-up of the parent or of a sibling, or a
// followed link would land: below C:\Apps, the installation's parent and %TEMP% (the current
// directory of the uninstaller's clean-up helpers, where a relative fragment lands).
void PlantAround(const std::wstring& parent, Canaries& canaries) {
  const std::wstring temp = oku::test::TempDirectory();
  std::vector<std::wstring> fragments = {L"a",      L"b",     L"x",    L"y",      L"xy",      L"two",
                                         L"blanks", L"(x86)", L"semi", L"colon",  L"comma",   L"equals",
                                         L"it",     L"s",     L"欧库", L"浏览器", L"sibling", L"Temp"};
  const std::wstring user = EnvironmentText(L"USERNAME");
  ASSERT_FALSE(user.empty());
  fragments.push_back(user);
  ASSERT_NO_FATAL_FAILURE(canaries.Plant(std::wstring(kParent) + L"\\canary.txt"));
  ASSERT_NO_FATAL_FAILURE(canaries.Plant(temp + L"\\oku_containment_canary.txt"));
  for (const std::wstring& fragment : fragments) {
    ASSERT_NO_FATAL_FAILURE(canaries.Plant(std::wstring(kParent) + L"\\" + fragment + L"\\canary.txt"));
    ASSERT_NO_FATAL_FAILURE(canaries.Plant(temp + L"\\" + fragment + L"\\canary.txt"));
  }
  if (parent != kParent) {
    for (const wchar_t* name : {L"canary.txt", L"sibling\\canary.txt", L"Temp\\canary.txt"}) {
      ASSERT_NO_FATAL_FAILURE(canaries.Plant(parent + L"\\" + name));
    }
  }
  // A link beside the installation: a clean-up that follows it reaches C:\LinkTarget.
  ASSERT_NO_FATAL_FAILURE(canaries.Plant(std::wstring(kLinkTarget) + L"\\canary.txt"));
  ASSERT_TRUE(oku::test::MakeUnixSymlink(kLinkTarget, std::wstring(kParent) + L"\\link"));
}

// Runs the uninstaller installed in dir; the directory must be gone a moment after it ended.
void UninstallAndExpectGone(const std::wstring& dir) {
  const Outcome run = RunProgram(Quote(dir + L"\\uninstall\\OkuUninstall.exe"), Within(kUninstallTimeoutMs));
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timedOut) << "the uninstaller did not finish";
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty()) << Boxes(run);
  EXPECT_TRUE(WaitUntil([&dir] { return !PathExists(dir); }, kSelfDeleteMs)) << "left: " << Joined(ListTree(dir));
}

struct NameCase {
  const char* name;
  const wchar_t* folder;  // the installation folder's name below C:\Apps; null: the longest directory
  bool delayedExpansion;  // cmd.exe expands !NAME! (HKCU Command Processor "DelayedExpansion" = 1)
};

const NameCase kNames[] = {
    {"percent_username", L"%USERNAME%", false},
    {"percent_temp", L"%TEMP%", false},
    // Wine 8's cmd.exe ignores the registry value (only /V:ON turns it on); Windows' honours it.
    {"bang_username", L"!USERNAME!", true},
    {"ampersand", L"a&b", false},
    {"caret", L"x^y", false},
    {"blanks_parentheses", L"two  blanks (x86)", false},
    {"semicolon", L"semi;colon", false},
    {"comma_equals", L"comma,equals=", false},
    {"apostrophe", L"it's", false},
    {"cjk", L"欧库 浏览器", false},
    {"longest_path", nullptr, false},
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.name; }

class FolderName : public ::testing::TestWithParam<NameCase> {};

// A silent installation with /D<dir> and the installed uninstaller: the installation comes and
// goes completely, nothing around it changes.
TEST_P(FolderName, InstallAndUninstallStayInside) {
  const NameCase& c = GetParam();
  const std::wstring dir = c.folder ? std::wstring(kParent) + L"\\" + c.folder : LongestDirectory();
  ASSERT_FALSE(dir.empty()) << "the product stage is missing: " << NewStage();
  const std::wstring parent = FolderOf(dir);
  if (c.delayedExpansion) {
    ASSERT_TRUE(EnableDelayedExpansion());
  }
  Canaries canaries;
  ASSERT_NO_FATAL_FAILURE(PlantAround(parent, canaries));
  canaries.Watch(kParent, dir);
  canaries.Watch(kLinkTarget);

  // One argument, quoted for CommandLineToArgvW: "/DC:\Apps\<name>".
  const std::wstring command = Quote(SetupExe()) + L" /S " + Quote(L"/D" + dir);
  const Outcome install = RunProgram(command, Within(kInstallTimeoutMs));
  ASSERT_TRUE(install.started);
  ASSERT_FALSE(install.timedOut) << "the installer did not finish";
  ASSERT_EQ(install.exitCode, 0u) << dir.size() << " characters: " << dir;
  EXPECT_TRUE(install.boxes.empty()) << Boxes(install);
  EXPECT_EQ(ProductValue(L"OkuInstallPath"), dir);
  ASSERT_TRUE(PathExists(dir + L"\\oku.compass.exe")) << "installed: " << Joined(ListTree(dir));
  ASSERT_TRUE(PathExists(dir + L"\\uninstall\\OkuUninstall.exe")) << "installed: " << Joined(ListTree(dir));
  canaries.ExpectIntact("after the installation");

  ASSERT_NO_FATAL_FAILURE(UninstallAndExpectGone(dir));
  canaries.ExpectIntact("after the uninstallation");
  EXPECT_TRUE(IsDirectory(kParent));
}

INSTANTIATE_TEST_SUITE_P(Cases, FolderName, ::testing::ValuesIn(kNames),
                         [](const auto& info) { return std::string(info.param.name); });

struct UpdateCase {
  const char* name;
  const wchar_t* directory;            // /D folder; null: the default directory
  std::vector<std::wstring> canaries;  // "{LocalAppData}" stands for the local application data folder
};

const UpdateCase kUpdates[] = {
    {"default_layout", nullptr, {L"{LocalAppData}\\sibling\\canary.txt", L"{LocalAppData}\\Temp\\canary.txt"}},
    // The installation's parent is C:\, so its "..\Temp" is the machine's C:\Temp.
    {"custom_directory",
     L"C:\\Oku",
     {L"C:\\Temp\\canary.txt", L"C:\\Temp\\sub\\canary2.txt", L"C:\\sibling\\canary.txt"}},
    {"special_characters",
     L"C:\\Apps\\a&b",
     {L"C:\\Apps\\Temp\\canary.txt", L"C:\\Apps\\Temp\\sub\\canary2.txt", L"C:\\Apps\\sibling\\canary.txt",
      L"C:\\Apps\\a\\canary.txt", L"C:\\Apps\\b\\canary.txt"}},
};

std::wstring Expanded(std::wstring path) {
  const std::wstring mark = L"{LocalAppData}";
  if (path.rfind(mark, 0) == 0) path.replace(0, mark.size(), LocalAppData());
  return path;
}

void PrintTo(const UpdateCase& c, std::ostream* out) { *out << c.name; }

class UpdatePackage : public ::testing::TestWithParam<UpdateCase> {};

// The older version installed, the update package run silently over it, then the uninstaller the
// update refreshed: the canaries beside the installation survive every step.
TEST_P(UpdatePackage, UpdateAndUninstallStayInside) {
  const UpdateCase& c = GetParam();
  const std::wstring dir = c.directory ? std::wstring(c.directory) : DefaultInstallDir();
  Canaries canaries;
  for (const std::wstring& canary : c.canaries) ASSERT_NO_FATAL_FAILURE(canaries.Plant(Expanded(canary)));
  for (const std::wstring& canary : c.canaries) canaries.Watch(FolderOf(Expanded(canary)));

  std::wstring base = Quote(VariantExe(L"OkuSetup_delta_base.exe")) + L" /S";
  if (c.directory) base += L" " + Quote(L"/D" + dir);
  const Outcome install = RunProgram(base, Within(kInstallTimeoutMs));
  ASSERT_FALSE(install.timedOut) << "the older installer did not finish";
  ASSERT_EQ(install.exitCode, 0u);
  ASSERT_EQ(ProductValue(L"OkuInstallPath"), dir);
  ASSERT_EQ(ProductValue(L"pv"), ProductVersionOld());
  canaries.ExpectIntact("after the installation of the older version");

  const std::wstring updateCommand = Quote(VariantExe(L"OkuSetup_update.exe")) + L" /S";
  const Outcome update = RunProgram(updateCommand, Within(kInstallTimeoutMs));
  ASSERT_FALSE(update.timedOut) << "the update package did not finish";
  EXPECT_EQ(update.exitCode, 0u);
  EXPECT_TRUE(update.boxes.empty()) << Boxes(update);
  EXPECT_EQ(ProductValue(L"pv"), ProductVersionNew());
  canaries.ExpectIntact("after the update");

  ASSERT_NO_FATAL_FAILURE(UninstallAndExpectGone(dir));
  canaries.ExpectIntact("after the uninstallation");
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdatePackage, ::testing::ValuesIn(kUpdates),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
