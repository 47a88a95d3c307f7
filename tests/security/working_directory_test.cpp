// The analytics libraries are loaded only from a working directory this process has just made.
// Someone else prepares the directory a run will use (its name is predictable: the process
// identifier, or the fixed ".OkuSetupTemp"), with a marker DLL under the library's name and,
// in the hardest case, files held open so that the leftover cannot be deleted. Whatever the
// program then loads from its lantern directory must not be the planted file.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include <gtest/gtest.h>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "tests/support/test_support.h"
#include "workspace/temp_directory_manager.h"

namespace {

using oku::test::ReadFileBytes;
using oku::test::RemoveTree;
using oku::test::ScratchDirectory;
using oku::test::WriteFileBytes;

constexpr std::uint64_t kRequired = 157286400;

std::wstring Pid() { return std::to_wstring(::GetCurrentProcessId()); }

std::wstring LocalAppData() {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path)));
  return path;
}

class TempVariables {
 public:
  explicit TempVariables(const std::wstring& value) {
    ::SetEnvironmentVariableW(L"TMP", value.c_str());
    ::SetEnvironmentVariableW(L"TEMP", value.c_str());
  }
  ~TempVariables() {
    ::SetEnvironmentVariableW(L"TMP", saved_.c_str());
    ::SetEnvironmentVariableW(L"TEMP", saved_.c_str());
  }

 private:
  std::wstring saved_ = oku::test::TempDirectory();
};

// The marker DLL (tools/planted-dll): leaves "<path>.loaded" when mapped.
std::string MarkerBytes() { return ReadFileBytes(oku::test::BinDirectory() + L"\\tools\\planted\\version.dll"); }

struct Planting {
  const char* name;
  bool inLocalAppData;  // else the system temporary directory (TMP)
  bool holdPlantedFile;  // held open with read sharing only: it can be neither deleted nor replaced
  bool holdOtherFile;   // another file held without delete sharing: the folder cannot be removed
};

class PlantedWorkingDirectory : public ::testing::TestWithParam<Planting> {};

TEST_P(PlantedWorkingDirectory, ProgramNeverLoadsThePlantedLibrary) {
  const Planting& p = GetParam();
  const std::string marker = MarkerBytes();
  ASSERT_FALSE(marker.empty());
  ScratchDirectory temp(L"planted_temp");
  // The installed version folder the uninstaller copies from lacks tessel.dll: the copy skips it.
  ScratchDirectory source(L"planted_source");
  for (const wchar_t* name : {L"lantern_sdk.dll", L"dockit.dll"}) {
    ASSERT_TRUE(::CopyFileW((oku::test::BinDirectory() + L"\\" + name).c_str(), source.Child(name).c_str(), FALSE));
  }
  // Without a usable TMP the first strategy fails and the second one is the target.
  TempVariables tmp(p.inLocalAppData ? temp.Child(L"missing\\below") : temp.path());
  const std::wstring planted =
      p.inLocalAppData ? LocalAppData() + L"\\OkuSetup\\Temp_" + Pid() : temp.Child(L"OkuSetup_" + Pid());
  RemoveTree(planted);
  ::SHCreateDirectoryExW(nullptr, (planted + L"\\lantern").c_str(), nullptr);
  const std::wstring plantedDll = planted + L"\\lantern\\tessel.dll";
  ASSERT_TRUE(WriteFileBytes(plantedDll, marker));
  ASSERT_TRUE(WriteFileBytes(planted + L"\\lantern\\notes.txt", "someone else's"));
  oku::FileHandle heldDll, heldOther;
  if (p.holdPlantedFile) {
    heldDll.reset(::CreateFileW(plantedDll.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(heldDll);
  }
  if (p.holdOtherFile) {
    heldOther.reset(::CreateFileW((planted + L"\\lantern\\notes.txt").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(heldOther);
  }
  // Beside the place the product installer is extracted to and started from.
  ASSERT_TRUE(WriteFileBytes(planted + L"\\version.dll", marker));
  {
    TempDirectoryManager workspace;
    ASSERT_TRUE(workspace.Initialize(kRequired, true));
    const std::wstring lantern = workspace.GetLanternDirectory();
    workspace.CopyLanternFilesFromDirectory(source.path().c_str());
    // What the device-identifier client and the reporter would load from there.
    const std::wstring candidate = lantern + L"\\tessel.dll";
    if (oku::FileExists(candidate)) {
      EXPECT_TRUE(ReadFileBytes(candidate) != marker) << "the lantern directory still holds the planted library";
      const DllLoader loaded(candidate.c_str());
    }
    EXPECT_FALSE(oku::FileExists(candidate + L".loaded")) << "loaded the planted " << oku::Utf8FromWide(candidate);
    EXPECT_FALSE(oku::FileExists(plantedDll + L".loaded")) << "loaded the planted " << oku::Utf8FromWide(plantedDll);
    // The local-application-data directory is reused with its contents by design; the others are
    // made anew.
    if (!p.inLocalAppData) {
      EXPECT_FALSE(oku::FileExists(std::wstring(workspace.GetTempDirectory()) + L"\\version.dll"))
          << "the working directory still holds a planted DLL";
    }
    // A lantern directory that survived is someone else's; this run must have made a new one.
    if (!p.holdPlantedFile && !p.holdOtherFile) {
      EXPECT_EQ(lantern, planted + L"\\lantern");
      EXPECT_FALSE(oku::FileExists(lantern + L"\\notes.txt"));
    } else {
      EXPECT_NE(lantern, planted + L"\\lantern");
    }
  }
  heldDll.reset();
  heldOther.reset();
  RemoveTree(planted);
  RemoveTree(oku::test::BinDirectory() + L"\\.OkuSetupTemp");
}

INSTANTIATE_TEST_SUITE_P(Leftovers, PlantedWorkingDirectory,
                         ::testing::Values(Planting{"TempLeftover", false, false, false},
                                           Planting{"TempHeldLibrary", false, true, false},
                                           Planting{"TempHeldOtherFile", false, false, true},
                                           Planting{"LocalAppDataLeftover", true, false, false},
                                           Planting{"LocalAppDataHeldLibrary", true, true, false},
                                           Planting{"LocalAppDataHeldOtherFile", true, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
