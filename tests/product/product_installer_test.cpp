// The demo product's installer and setup program, run as real child processes under Wine.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"

namespace {

using oku::test::QueryRegistryValue;
using oku::test::RegistryKeyExists;
using oku::test::RunChild;
using oku::test::ScratchDirectory;

constexpr wchar_t kOld[] = OKU_PRODUCT_VERSION_OLD;
constexpr wchar_t kNew[] = OKU_PRODUCT_VERSION_NEW;
constexpr wchar_t kProductKey[] = L"SOFTWARE\\Oku.compass";
constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass";
constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Velmora\\oku.compass";
constexpr DWORD kChildTimeoutMs = 120000;

const wchar_t* const kLibraries[] = {L"lantern_sdk.dll", L"tessel.dll", L"tracer_logger.dll", L"dockit.dll",
                                     L"client_extension.dll"};
const wchar_t* const kDataFiles[] = {L"resources.pak", L"icudtl.dat", L"chrome_100_percent.pak",
                                     L"v8_context_snapshot.bin", L"locales\\en-US.pak", L"locales\\zh-CN.pak"};

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

ULONGLONG FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

ULONGLONG TreeSize(const std::wstring& directory) {
  ULONGLONG total = 0;
  WIN32_FIND_DATAW data;
  oku::FindHandle find(::FindFirstFileW((directory + L"\\*").c_str(), &data));
  if (!find) return 0;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    total += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? TreeSize(directory + L"\\" + name)
                                                                 : FileSize(directory + L"\\" + name);
  } while (::FindNextFileW(find.get(), &data));
  return total;
}

std::vector<std::wstring> Entries(const std::wstring& directory) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  oku::FindHandle find(::FindFirstFileW((directory + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find.get(), &data));
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::wstring DesktopShortcut() { return ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\oku.compass.lnk"; }
std::wstring ProgramsShortcut() { return ShellFolder(CSIDL_PROGRAMS) + L"\\oku.compass.lnk"; }
std::wstring Profile() { return ShellFolder(CSIDL_LOCAL_APPDATA) + L"\\oku.compass\\User Data"; }

std::wstring ResolveShortcut(const std::wstring& link) {
  oku::ComApartment com;
  oku::ComPtr<IShellLinkW> shell;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shell.put_void()))) {
    return L"";
  }
  oku::ComPtr<IPersistFile> file;
  if (FAILED(shell->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(link.c_str(), STGM_READ))) {
    return L"";
  }
  wchar_t target[MAX_PATH] = {};
  shell->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
  return target;
}

std::wstring ProductVersionOf(const std::wstring& file) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return L"";
  std::vector<BYTE> block(size);
  if (!::GetFileVersionInfoW(file.c_str(), 0, size, block.data())) return L"";
  wchar_t* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\ProductVersion", reinterpret_cast<void**>(&text),
                        &length)) {
    return L"";
  }
  return std::wstring(text);
}

std::wstring WindowsPathFromEnv(const char* variable, const std::wstring& suffix) {
  const char* unixPath = std::getenv(variable);
  if (!unixPath) return L"";
  std::wstring path = L"Z:" + oku::WideFromUtf8(unixPath) + suffix;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::wstring ProductBin(const wchar_t* flavor) { return oku::test::BinDirectory() + L"\\product\\" + flavor; }

// Everything the product leaves in the shared per-user state.
void CleanUserState() {
  for (const wchar_t* key : {kProductKey, kUninstallKey, kVendorKey}) ::RegDeleteTreeW(HKEY_CURRENT_USER, key);
  for (const wchar_t* key : {kProductKey, kUninstallKey, kVendorKey}) ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
  ::DeleteFileW(DesktopShortcut().c_str());
  ::DeleteFileW(ProgramsShortcut().c_str());
  oku::test::RemoveTree(Profile());
}

// Sets (or, given null, clears) an environment variable for the children of one scope.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name) { ::SetEnvironmentVariableW(name, value); }
  ~ScopedEnv() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

class ProductInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CleanUserState();
    installDir_ = scratch_.Child(L"Application");
    ASSERT_TRUE(::CreateDirectoryW(installDir_.c_str(), nullptr));
  }
  void TearDown() override { CleanUserState(); }

  std::wstring LogPath() const { return installDir_ + L"\\okuinfo\\mini_installer_log.log"; }
  std::wstring VersionDir(const wchar_t* version) const { return installDir_ + L"\\" + version; }
  std::wstring SetupPath(const wchar_t* version) const { return VersionDir(version) + L"\\Installer\\setup.exe"; }

  // The installer copied into the installation directory and started as the installer does.
  oku::test::ChildResult RunMiniInstaller(const wchar_t* flavor) {
    const std::wstring exe = installDir_ + L"\\mini_installer.exe";
    EXPECT_TRUE(::CopyFileW((ProductBin(flavor) + L"\\mini_installer.exe").c_str(), exe.c_str(), FALSE));
    return RunChild(L"\"" + exe + L"\"  --verbose-logging --log-file=\"" + LogPath() + L"\" ", kChildTimeoutMs);
  }

  oku::test::ChildResult RunUninstall(const wchar_t* version, const std::wstring& extra) {
    return RunChild(L"\"" + SetupPath(version) + L"\" --uninstall --force-uninstall --verbose-logging --enable-logging"
                    L" --log-file=\"" + installDir_ + L"\\uninstall\\chrome_uninstall.log\"" + extra,
                    kChildTimeoutMs);
  }

  void ExpectInstalled(const wchar_t* version) {
    const std::wstring exe = installDir_ + L"\\oku.compass.exe";
    EXPECT_EQ(ProductVersionOf(exe), version);
    EXPECT_TRUE(Exists(installDir_ + L"\\chrome_proxy.exe"));
    EXPECT_TRUE(Exists(SetupPath(version)));
    EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"pv").AsString(), version);
    EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kUninstallKey, L"UninstallString").AsString(),
              L"\"" + SetupPath(version) + L"\" --uninstall");
    EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kUninstallKey, L"DisplayVersion").AsString(), version);
    EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kUninstallKey, L"DisplayName").AsString(), L"Oku.compass");
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kVendorKey));
    // The installation holds exactly this version folder.
    std::vector<std::wstring> folders;
    for (const auto& name : Entries(installDir_)) {
      if (name[0] >= L'0' && name[0] <= L'9') folders.push_back(name);
    }
    EXPECT_EQ(folders, std::vector<std::wstring>{version});
  }

  ScratchDirectory scratch_{L"product"};
  std::wstring installDir_;
};

TEST_F(ProductInstallerTest, FreshInstallLeavesFilesRecordsShortcutsAndLog) {
  EXPECT_EQ(ProductVersionOf(ProductBin(L"old") + L"\\mini_installer.exe"), kOld);
  const auto run = RunMiniInstaller(L"old");
  ASSERT_TRUE(run.started);
  ASSERT_FALSE(run.timedOut);
  ASSERT_EQ(run.exitCode, 0u);
  ExpectInstalled(kOld);

  for (const wchar_t* name : kLibraries) EXPECT_TRUE(Exists(VersionDir(kOld) + L"\\" + name)) << name;
  for (const wchar_t* name : {L"crashpad_handler_tracer.exe", L"crashpad_handler_extension.exe"}) {
    EXPECT_TRUE(Exists(VersionDir(kOld) + L"\\" + name)) << name;
  }
  for (const wchar_t* name : kDataFiles) EXPECT_GT(FileSize(VersionDir(kOld) + L"\\" + name), 100000u) << name;
  const ULONGLONG total = TreeSize(VersionDir(kOld));
  EXPECT_GT(total, 15ull << 20);
  EXPECT_LT(total, 30ull << 20);

  EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"InstallerResult").AsDword(), 0u);
  EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"InstallerError").AsDword(), 0u);
  EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"InstallerResult").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_FALSE(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"InstallerResultUIString").AsString().empty());

  for (const auto& link : {DesktopShortcut(), ProgramsShortcut()}) {
    EXPECT_EQ(ResolveShortcut(link), installDir_ + L"\\oku.compass.exe") << link;
  }

  const std::string log = oku::test::ReadFileBytes(LogPath());
  EXPECT_NE(log.find("mini_installer " + oku::Utf8FromWide(kOld)), std::string::npos);
  EXPECT_NE(log.find("exit code 0"), std::string::npos);
}

TEST_F(ProductInstallerTest, UpgradeReplacesTheVersionFolderAndDowngradeIsRefused) {
  ASSERT_EQ(RunMiniInstaller(L"old").exitCode, 0u);
  ASSERT_EQ(RunMiniInstaller(L"new").exitCode, 0u);
  ExpectInstalled(kNew);
  EXPECT_FALSE(Exists(VersionDir(kOld)));

  // An older installer over the newer version changes nothing and says why.
  EXPECT_EQ(RunMiniInstaller(L"old").exitCode, 4u);
  ExpectInstalled(kNew);
  EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"InstallerResult").AsDword(), 1u);
  EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"InstallerError").AsDword(), 4u);
}

TEST_F(ProductInstallerTest, ForcedExitCodeInstallsNothing) {
  ScopedEnv code(L"OKU_DEMO_INSTALLER_EXIT_CODE", L"3");
  const auto run = RunMiniInstaller(L"old");
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_FALSE(Exists(installDir_ + L"\\oku.compass.exe"));
  EXPECT_FALSE(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"pv").present);
  EXPECT_EQ(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"InstallerError").AsDword(), 3u);
  EXPECT_TRUE(Exists(LogPath()));
}

TEST_F(ProductInstallerTest, DelayKeepsTheInstallerRunningThenItInstalls) {
  ScopedEnv delay(L"OKU_DEMO_INSTALLER_DELAY_MS", L"6000");
  const std::wstring exe = installDir_ + L"\\mini_installer.exe";
  ASSERT_TRUE(::CopyFileW((ProductBin(L"new") + L"\\mini_installer.exe").c_str(), exe.c_str(), FALSE));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring line = L"\"" + exe + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  oku::KernelHandle process(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  // A delay only ever makes the run longer, so "still running" cannot fail on a slow machine.
  EXPECT_EQ(::WaitForSingleObject(process.get(), 2000), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_EQ(::WaitForSingleObject(process.get(), kChildTimeoutMs), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD exitCode = 1;
  ::GetExitCodeProcess(process.get(), &exitCode);
  EXPECT_EQ(exitCode, 0u);
  ExpectInstalled(kNew);
  EXPECT_TRUE(Exists(LogPath()));  // without --log-file the log goes to okuinfo as well
}

struct UninstallCase {
  const char* name;
  const wchar_t* extraArguments;
  const wchar_t* forcedExitCode;  // OKU_DEMO_SETUP_EXIT_CODE, or null
  bool keepEntry;                 // OKU_DEMO_SETUP_KEEP_ENTRY=1
  DWORD expectedExit;
  bool profileKept;
};

const UninstallCase kUninstallCases[] = {
    {"KeepsProfile", L"", nullptr, false, 19, true},
    {"DeletesProfile", L" --delete-profile", nullptr, false, 19, false},
    {"KeepsEntryWhenAsked", L"", nullptr, true, 19, true},
    {"ForcedFailureCode", L" --delete-profile", L"20", false, 20, false},
};

class ProductUninstallTest : public ProductInstallerTest, public ::testing::WithParamInterface<UninstallCase> {};

TEST_P(ProductUninstallTest, RemovesTheProductAndLeavesOnlyItsOwnSetup) {
  const UninstallCase& c = GetParam();
  ASSERT_EQ(RunMiniInstaller(L"new").exitCode, 0u);
  {
    // The product creates its profile on first start.
    ScopedEnv exitAfter(L"OKU_DEMO_EXIT_AFTER_MS", L"500");
    const auto start = RunChild(L"\"" + installDir_ + L"\\oku.compass.exe\"", kChildTimeoutMs);
    ASSERT_TRUE(start.started);
    ASSERT_FALSE(start.timedOut);
  }
  ASSERT_TRUE(Exists(Profile() + L"\\Local State"));

  oku::test::ChildResult run;
  {
    ScopedEnv code(L"OKU_DEMO_SETUP_EXIT_CODE", c.forcedExitCode);
    ScopedEnv keep(L"OKU_DEMO_SETUP_KEEP_ENTRY", c.keepEntry ? L"1" : nullptr);
    run = RunUninstall(kNew, c.extraArguments);
  }
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, c.expectedExit);

  // The running setup.exe's own version folder goes shortly after it has exited.
  for (int i = 0; i < 100 && Exists(VersionDir(kNew)); ++i) ::Sleep(100);
  EXPECT_EQ(Entries(installDir_), (std::vector<std::wstring>{L"mini_installer.exe", L"uninstall"}));
  EXPECT_EQ(RegistryKeyExists(HKEY_CURRENT_USER, kUninstallKey), c.keepEntry);
  EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kVendorKey));  // the uninstaller's to delete
  EXPECT_FALSE(QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"pv").present);
  EXPECT_FALSE(Exists(DesktopShortcut()));
  EXPECT_FALSE(Exists(ProgramsShortcut()));
  EXPECT_EQ(Exists(Profile()), c.profileKept);
  const std::string log = oku::test::ReadFileBytes(installDir_ + L"\\uninstall\\chrome_uninstall.log");
  EXPECT_NE(log.find("uninstall complete"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProductUninstallTest, ::testing::ValuesIn(kUninstallCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProductInstallerTest, UninstallRefusesARunningProductUnlessForced) {
  ASSERT_EQ(RunMiniInstaller(L"old").exitCode, 0u);
  ScopedEnv exitAfter(L"OKU_DEMO_EXIT_AFTER_MS", L"90000");
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring line = L"\"" + installDir_ + L"\\oku.compass.exe\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  oku::KernelHandle process(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  HWND window = nullptr;
  const std::wstring title = std::wstring(L"Oku.compass ") + kOld;
  for (int i = 0; i < 400 && !window; ++i, ::Sleep(50)) window = ::FindWindowW(L"OkuCompassDemo", title.c_str());
  ASSERT_NE(window, nullptr);

  EXPECT_EQ(RunChild(L"\"" + SetupPath(kOld) + L"\" --uninstall", kChildTimeoutMs).exitCode, 16u);
  EXPECT_TRUE(Exists(installDir_ + L"\\oku.compass.exe"));
  EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, kUninstallKey));

  EXPECT_EQ(RunUninstall(kOld, L"").exitCode, 19u);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(Exists(installDir_ + L"\\oku.compass.exe"));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kUninstallKey));
  ::TerminateProcess(process.get(), 1);
}

class ProductArchiveTest : public ProductInstallerTest {
 protected:
  void SetUp() override {
    ProductInstallerTest::SetUp();
    package_ = scratch_.Child(L"package");
    ASSERT_TRUE(::CreateDirectoryW(package_.c_str(), nullptr));
    const std::wstring sevenZip = WindowsPathFromEnv("OKU_SOURCE_DIR", L"/node_modules/7zip-bin/win/x64/7za.exe");
    ASSERT_TRUE(::CopyFileW(sevenZip.c_str(), (package_ + L"\\7za.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW((ProductBin(L"new") + L"\\setup.exe").c_str(), (package_ + L"\\setup.exe").c_str(), FALSE));
    // The new version's archive, packed the way an update package holds it.
    archive_ = scratch_.Child(L"new_chrome.7z");
    const std::wstring staged = oku::test::BinDirectory() + L"\\..\\product\\new\\Chrome-bin";
    const auto pack = RunChild(L"\"" + package_ + L"\\7za.exe\" a -t7z -mx0 -mtm=off -mtc=off -mta=off \"" + archive_ +
                                   L"\" \"" + staged + L"\"",
                               kChildTimeoutMs);
    ASSERT_EQ(pack.exitCode, 0u);
  }

  oku::test::ChildResult ApplyArchive(const std::wstring& archive) {
    return RunChild(L"\"" + package_ + L"\\setup.exe\" --uncompressed-archive=\"" + archive + L"\" --verbose-logging",
                    kChildTimeoutMs);
  }

  std::wstring package_;
  std::wstring archive_;
};

TEST_F(ProductArchiveTest, InstallsTheArchivedVersionIntoTheRecordedDirectory) {
  ASSERT_EQ(RunMiniInstaller(L"old").exitCode, 0u);
  ASSERT_TRUE(oku::test::RegistryKeyExists(HKEY_CURRENT_USER, kProductKey));
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kProductKey, L"OkuInstallPath", REG_SZ, installDir_.c_str(),
                              static_cast<DWORD>((installDir_.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  const auto run = ApplyArchive(archive_);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  ExpectInstalled(kNew);
  EXPECT_FALSE(Exists(VersionDir(kOld)));
  EXPECT_TRUE(Exists(VersionDir(kNew) + L"\\locales\\en-US.pak"));
  EXPECT_FALSE(Exists(scratch_.Child(L"Temp\\source")));
}

TEST_F(ProductArchiveTest, FailuresExitNonZeroAndKeepTheInstallation) {
  ASSERT_EQ(RunMiniInstaller(L"old").exitCode, 0u);
  // No recorded installation directory.
  EXPECT_NE(ApplyArchive(archive_).exitCode, 0u);
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kProductKey, L"OkuInstallPath", REG_SZ, installDir_.c_str(),
                    static_cast<DWORD>((installDir_.size() + 1) * sizeof(wchar_t)));
  // A missing archive, and a file that is not an archive.
  EXPECT_NE(ApplyArchive(scratch_.Child(L"missing.7z")).exitCode, 0u);
  ASSERT_TRUE(oku::test::WriteFileBytes(scratch_.Child(L"broken.7z"), "not an archive"));
  EXPECT_NE(ApplyArchive(scratch_.Child(L"broken.7z")).exitCode, 0u);
  // No 7za.exe beside setup.exe.
  ASSERT_TRUE(::DeleteFileW((package_ + L"\\7za.exe").c_str()));
  EXPECT_NE(ApplyArchive(archive_).exitCode, 0u);
  ExpectInstalled(kOld);
}

}  // namespace
