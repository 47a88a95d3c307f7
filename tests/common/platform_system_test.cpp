// Machine queries: Windows version, write permission, elevation and free space (real drives,
// including small tmpfs volumes mapped as drives by the platform_drives fixture).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/version_info.h"
#include "tests/common/platform_support.h"
#include "tests/support/test_support.h"

using platform_test::CountLine;
using platform_test::LogLinesSince;
using platform_test::LogMark;

namespace {

using Lines = std::vector<std::wstring>;
constexpr DWORD kAllOnes = 0xFFFFFFFFu;
constexpr ULONGLONG kGiB = 1073741824ull;

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override { platform_test::EnsureLog(); }
};

// Entries of a directory other than "." and "..".
std::vector<std::wstring> Entries(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  oku::FindHandle find(::FindFirstFileW((dir + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (::FindNextFileW(find.get(), &data));
  return names;
}

// A drive letter with nothing mapped to it, or 0.
wchar_t UnmappedDrive() {
  for (wchar_t letter = L'J'; letter >= L'E'; --letter) {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    if (::GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR) return letter;
  }
  return 0;
}

TEST_F(SystemTest, WindowsVersionParts) {
  const char* names[] = {"dwMajorVersion", "dwMinorVersion", "dwBuildNumber"};
  DWORD parts[3] = {};
  for (int selector = 0; selector < 3; ++selector) {
    const std::size_t mark = LogMark();
    parts[selector] = GetWindowsVersionPart(selector);
    EXPECT_NE(parts[selector], kAllOnes);
    const Lines lines = LogLinesSince(mark);
    ASSERT_FALSE(lines.empty());
    // ntdll is loaded for the query and released afterwards.
    EXPECT_EQ(lines.front(), L"DllLoader: 成功加载 DLL: ntdll.dll");
    EXPECT_EQ(CountLine(lines, oku::WideFromUtf8(names[selector]) + L": " + std::to_wstring(parts[selector])), 1u);
    EXPECT_EQ(lines.back(), L"DllLoader: 成功释放 DLL");
  }
  EXPECT_GE(parts[0], 5u);
  EXPECT_EQ(GetWindowsMajorVersion(), parts[0]);

  for (int selector : {3, -1, 100}) {
    const std::size_t mark = LogMark();
    EXPECT_EQ(GetWindowsVersionPart(selector), kAllOnes);
    for (const auto& line : LogLinesSince(mark)) EXPECT_EQ(line.find(L"dw"), std::wstring::npos) << line;
  }

  const std::string text = GetOSVersionString();
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d+\.\d+\.\d+)"))) << text;
  EXPECT_EQ(text, std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]));
}

TEST_F(SystemTest, InstallPermissionOnANewDirectory) {
  oku::test::ScratchDirectory dir(L"platform_perm_new");
  const std::wstring target = dir.Child(L"a\\b\\c");
  const std::size_t mark = LogMark();
  EXPECT_TRUE(HasInstallPermission(target));
  EXPECT_EQ(LogLinesSince(mark),
            (Lines{L"HasInstallPermission OK path: " + target, L"Successfully removed check directory: " + target}));
  // Only the last component is removed; created parents stay.
  EXPECT_FALSE(oku::PathExists(target));
  EXPECT_TRUE(oku::DirectoryExists(dir.Child(L"a\\b")));
}

TEST_F(SystemTest, InstallPermissionOnAnExistingDirectory) {
  oku::test::ScratchDirectory dir(L"platform_perm_old");
  ASSERT_TRUE(oku::test::WriteFileBytes(dir.Child(L"keep.txt"), "x"));
  const std::size_t mark = LogMark();
  EXPECT_TRUE(HasInstallPermission(dir.path()));
  const Lines lines = LogLinesSince(mark);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], L"check Install directory already exists");
  const std::wstring prefix = L"Successfully created sub directory: " + dir.path() + L"\\checkDir_";
  ASSERT_EQ(lines[1].rfind(prefix, 0), 0u) << ::testing::PrintToString(lines[1]);
  const std::wstring tick = lines[1].substr(prefix.size());
  EXPECT_TRUE(std::regex_match(tick, std::wregex(LR"(-?\d+)"))) << ::testing::PrintToString(tick);
  EXPECT_EQ(lines[2], L"Successfully removed sub directory: " + dir.path() + L"\\checkDir_" + tick);
  // Nothing left behind but what was there.
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::wstring>{L"keep.txt"}));
}

TEST_F(SystemTest, InstallPermissionRefused) {
  oku::test::ScratchDirectory dir(L"platform_perm_bad");
  // A file where the directory should be.
  const std::wstring file = dir.Child(L"occupied");
  ASSERT_TRUE(oku::test::WriteFileBytes(file, "x"));
  EXPECT_FALSE(HasInstallPermission(file));
  EXPECT_TRUE(oku::FileExists(file));
  EXPECT_FALSE(HasInstallPermission(file + L"\\below"));

  const wchar_t letter = UnmappedDrive();
  if (letter != 0) {
    const std::wstring path = std::wstring(1, letter) + L":\\Oku";
    const std::size_t mark = LogMark();
    EXPECT_FALSE(HasInstallPermission(path));
    EXPECT_EQ(LogLinesSince(mark), (Lines{L"Failed check install directory"}));
  }
}

TEST_F(SystemTest, ElevationOfTheWineUser) {
  // Wine's user is an elevated administrator; read the token the same way for comparison.
  oku::KernelHandle token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  ASSERT_TRUE(::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size));
  EXPECT_EQ(IsProcessElevated(), elevation.TokenIsElevated != 0);
  EXPECT_TRUE(IsProcessElevated());
}

TEST_F(SystemTest, DiskSpaceArgumentsAndFailures) {
  struct Case {
    const wchar_t* path;
    Lines lines;
  };
  const wchar_t letter = UnmappedDrive();
  const std::wstring unmapped = letter ? std::wstring(1, letter) + L":\\Oku" : L"";
  const std::vector<Case> cases = {
      {nullptr, {L"checkDiskSpace path: ", L"path is empty."}},
      {L"", {L"checkDiskSpace path: ", L"path is empty."}},
      {L"relative\\dir", {L"checkDiskSpace path: relative\\dir", L"Failed to strip to root."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.lines));
    const std::size_t mark = LogMark();
    EXPECT_FALSE(checkDiskSpace(c.path));
    EXPECT_EQ(LogLinesSince(mark), c.lines);
  }
  if (!unmapped.empty()) {  // the volume query fails: false, and no free-space line
    const std::size_t mark = LogMark();
    EXPECT_FALSE(checkDiskSpace(unmapped.c_str()));
    EXPECT_EQ(LogLinesSince(mark), (Lines{L"checkDiskSpace path: " + unmapped}));
  }

  // Only the root of a long path matters, even beyond MAX_PATH characters.
  const std::wstring longPath = L"C:\\" + std::wstring(400, L'x') + L"\\y";
  const std::size_t mark = LogMark();
  const bool low = checkDiskSpace(longPath.c_str());
  const Lines lines = LogLinesSince(mark);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"checkDiskSpace path: " + longPath);
  std::wsmatch match;
  ASSERT_TRUE(std::regex_match(lines[1], match, std::wregex(LR"(freeBytesAvailable: (\d+))")));
  EXPECT_EQ(low, std::stoull(match[1].str()) < kGiB);
}

// Drives mapped by tests/common/platform_tmpfs.sh (a fixture run as root on the Linux side).
const wchar_t* kSpaceDrive = L"K:\\";     // tmpfs with exactly 1 GiB available
const wchar_t* kReadOnlyDrive = L"L:\\";  // read-only tmpfs holding the directory "existing"

ULONGLONG AvailableBytes(const wchar_t* root) {
  ULARGE_INTEGER available{};
  return ::GetDiskFreeSpaceExW(root, &available, nullptr, nullptr) ? available.QuadPart : 0;
}

TEST_F(SystemTest, DiskSpaceAtTheOneGibibyteBoundary) {
  if (AvailableBytes(kSpaceDrive) != kGiB) {
    GTEST_SKIP() << "drive K: with exactly 1 GiB free is not mapped (the platform_drives fixture needs "
                    "mount -t tmpfs as root); available: "
                 << AvailableBytes(kSpaceDrive);
  }
  std::size_t mark = LogMark();
  EXPECT_FALSE(checkDiskSpace(L"K:\\Oku\\install"));
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"checkDiskSpace path: K:\\Oku\\install", L"freeBytesAvailable: 1073741824"}));

  // One byte of data takes one 4 KiB page of the tmpfs: the smallest step below the boundary.
  const std::wstring filler = L"K:\\one_byte";
  ASSERT_TRUE(oku::test::WriteFileBytes(filler, "x"));
  const ULONGLONG below = AvailableBytes(kSpaceDrive);
  EXPECT_LT(below, kGiB);
  mark = LogMark();
  EXPECT_TRUE(checkDiskSpace(L"K:\\"));
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"checkDiskSpace path: K:\\", L"freeBytesAvailable: " + std::to_wstring(below)}));

  ASSERT_TRUE(::DeleteFileW(filler.c_str()));
  EXPECT_FALSE(checkDiskSpace(L"K:\\"));
}

TEST_F(SystemTest, InstallPermissionOnAReadOnlyVolume) {
  if (!oku::DirectoryExists(L"L:\\existing")) {
    GTEST_SKIP() << "read-only drive L: is not mapped (the platform_drives fixture needs mount -t tmpfs as root)";
  }
  std::size_t mark = LogMark();
  EXPECT_FALSE(HasInstallPermission(L"L:\\existing"));
  const Lines lines = LogLinesSince(mark);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"check Install directory already exists");
  EXPECT_EQ(lines[1].rfind(L"Failed to create sub directory: L:\\existing\\checkDir_", 0), 0u)
      << ::testing::PrintToString(lines[1]);

  mark = LogMark();
  EXPECT_FALSE(HasInstallPermission(L"L:\\new\\dir"));
  EXPECT_EQ(LogLinesSince(mark), (Lines{L"Failed check install directory"}));
  EXPECT_EQ(Entries(kReadOnlyDrive), (std::vector<std::wstring>{L"existing"}));
}

}  // namespace
