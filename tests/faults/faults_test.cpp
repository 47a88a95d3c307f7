// Faults end to end that need nothing from the Linux side: damaged installers and a download cut
// short, and installation directories near and past MAX_PATH. Each case runs in a fresh prefix,
// from a Downloads folder, and is judged by its full exit code, its message boxes, the records
// and the working directories left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "common/handles.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace oku::e2e;

const std::wstring kDownloads = L"C:\\dl";


// Copies the first percent of source into the Downloads folder as name; the copy's path, or
// empty when it could not be written.
std::wstring Download(const std::wstring& source, const std::wstring& name, int percent = 100) {
  ::CreateDirectoryW(kDownloads.c_str(), nullptr);
  const std::wstring copy = kDownloads + L"\\" + name;
  if (!::CopyFileW(source.c_str(), copy.c_str(), FALSE)) return std::wstring();
  if (percent == 100) return copy;
  const oku::FileHandle file(::CreateFileW(copy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.get(), &size)) return std::wstring();
  LARGE_INTEGER cut = {};
  cut.QuadPart = size.QuadPart * percent / 100;
  if (!::SetFilePointerEx(file.get(), cut, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.get())) return std::wstring();
  return copy;
}

// The working directories a run left: in the temporary folders and beside the downloaded installer.
std::vector<std::wstring> LeftWorkingDirectories() {
  std::vector<std::wstring> left = StrayWorkingDirectories();
  const std::wstring besideInstaller = kDownloads + L"\\.OkuSetupTemp";
  if (IsDirectory(besideInstaller)) left.push_back(besideInstaller);
  return left;
}

// An exception ended the process (access violation, stack overflow, ...): an NTSTATUS error code.
bool Crashed(const Outcome& run) { return run.started && run.exitCode >= 0xC0000000u; }

// A damaged installer: a payload resource missing or replaced by damaged bytes (bin/variants,
// made by tests/faults/faults.cmake), or the download cut off at 60 % (the payload at the end of
// the file is gone).
struct DamagedCase {
  const char* name;
  const wchar_t* variant;  // nullptr: OkuSetup.exe cut short
  const wchar_t* arguments;
  DWORD exitCode;           // ignored for a cut download, which must only not succeed
  const wchar_t* caption;   // the one box a window-mode run shows; nullptr for none
  const wchar_t* text;      // its text; for a silent run the text it logs instead of a box
  bool installs;
  bool leavesWorkingDirectory;  // the window base ends the process at once on a bad layout;
                                // the next run's leftover clean-up removes it
};

const DamagedCase kDamaged[] = {
    {"no_mini_installer", L"OkuSetup_fault_no_mini_installer.exe", L" /S", 1001, nullptr, nullptr, false, false},
    {"no_tessel", L"OkuSetup_fault_no_tessel.exe", L" /S", 1392, nullptr,
     L"安装包损坏或磁盘空间不足，请重新下载后重试", false, false},
    {"damaged_lantern", L"OkuSetup_fault_damaged_lantern.exe", L" /S", 0, nullptr, nullptr, true, false},
    {"damaged_main_xml", L"OkuSetup_fault_damaged_main_xml.exe", L"", 1, L"Duilib", L"加载资源文件失败", false, true},
    {"cut", nullptr, L" /S", 0, nullptr, nullptr, false, false},
};

class DamagedPackage : public testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedPackage, EndsWithItsCode) {
  const DamagedCase& c = GetParam();
  const std::wstring installer = c.variant ? Download(VariantExe(c.variant), c.variant)
                                           : Download(SetupExe(), L"OkuSetup_fault_cut.exe", 60);
  ASSERT_FALSE(installer.empty());

  const Outcome run = RunProgram(Quote(installer) + c.arguments, Within(180000));
  ASSERT_FALSE(run.timedOut);
  EXPECT_FALSE(Crashed(run)) << "exit code 0x" << std::hex << run.exitCode;
  if (c.variant) {
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, c.exitCode);
  } else {
    // The loader refuses the file, or it runs and reports a damaged package.
    EXPECT_TRUE(!run.started || run.exitCode != 0) << "a cut installer reported success";
  }
  if (c.caption) {
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, c.caption);
    EXPECT_EQ(run.boxes[0].text, c.text);
  } else {
    EXPECT_TRUE(run.boxes.empty()) << "a silent run waits for nobody";
    if (c.text) {
      EXPECT_NE(ReadText(TempLogPath()).find(L"静默模式，不显示提示框: " + std::wstring(c.text)), std::wstring::npos);
    }
  }
  EXPECT_EQ(ProductValuePresent(L"OkuInstallPath"), c.installs);
  EXPECT_EQ(!LeftWorkingDirectories().empty(), c.leavesWorkingDirectory);
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedPackage, testing::ValuesIn(kDamaged),
                         [](const testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

// C:\L\aaaa\aaaa... of exactly length characters, components of at most 60.
std::wstring DirectoryOfLength(size_t length) {
  std::wstring dir = L"C:\\L";
  while (dir.size() < length) {
    const size_t room = length - dir.size() - 1;
    if (room < 1) {
      dir += L'a';
      continue;
    }
    dir += L'\\' + std::wstring(room > 60 ? 60 : room, L'a');
  }
  return dir;
}

// OkuSetup.exe /S /D<dir> with directories near and past 260 characters: installs completely
// (exit 0, "OkuInstallPath" = the directory, oku.compass.exe inside) or fails with a non-zero
// code; never a crash, never a working directory left behind.
class LongPath : public testing::TestWithParam<size_t> {};

TEST_P(LongPath, InstallsOrFailsCleanly) {
  const std::wstring dir = DirectoryOfLength(GetParam());
  ASSERT_EQ(dir.size(), GetParam());
  const std::wstring installer = Download(SetupExe(), L"OkuSetup.exe");
  ASSERT_FALSE(installer.empty());

  const Outcome run = RunProgram(Quote(installer) + L" /S /D" + dir, Within(180000));
  ASSERT_FALSE(run.timedOut);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(Crashed(run)) << "exit code 0x" << std::hex << run.exitCode;
  EXPECT_TRUE(run.boxes.empty());
  if (run.exitCode == 0) {
    EXPECT_EQ(ProductValue(L"OkuInstallPath"), dir);
    EXPECT_TRUE(PathExists(L"\\\\?\\" + dir + L"\\oku.compass.exe"));
  }
  EXPECT_TRUE(LeftWorkingDirectories().empty());
  std::wcout << dir.size() << L" characters: exit " << run.exitCode
             << (ProductValuePresent(L"OkuInstallPath") ? L", OkuInstallPath recorded" : L"") << std::endl;
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongPath, testing::Values(100, 180, 200, 220, 240, 250, 259, 260, 261, 300, 400),
                         [](const testing::TestParamInfo<size_t>& info) { return "chars_" + std::to_string(info.param); });

}  // namespace
