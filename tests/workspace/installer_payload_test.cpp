// The payload of the built installer (bin/OkuSetup.exe, loaded as a data file): every group the
// programs extract is complete, and the files are the ones the build put in.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/handles.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"
#include "workspace/payload.h"

#ifndef OKU_EXPECTED_SETUP_VERSION
#error "OKU_EXPECTED_SETUP_VERSION must be defined by the build"
#endif

namespace {

using oku::test::BinDirectory;
using oku::test::ReadFileBytes;
using oku::test::ScratchDirectory;

class InstallerPayloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_.reset(::LoadLibraryExW((BinDirectory() + L"\\OkuSetup.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module_) << ::GetLastError();
  }
  void TearDown() override { module_.reset(); }
  oku::ModuleHandle module_;
};

struct Png {
  std::uint32_t width = 0, height = 0;
};
Png PngSize(const std::string& bytes) {
  Png png;
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return png;
  auto be = [&](std::size_t at) {
    return (std::uint32_t(std::uint8_t(bytes[at])) << 24) | (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint32_t(std::uint8_t(bytes[at + 3]));
  };
  png.width = be(16);
  png.height = be(20);
  return png;
}

TEST_F(InstallerPayloadTest, EveryGroupExtractsCompletely) {
  ScratchDirectory scratch(L"installer_payload");
  const ResourceEntry ui[] = {{106, L"main.xml"},
                              {104, L"app_icon.png"},
                              {105, L"file_icon.png"},
                              {102, L"background.png"},
                              {103, L"install.png"},
                              {109, L"oku.compass.ico"},
                              {108, L"custom_option.png"},
                              {101, L"app.ico"},
                              {110, L"chrome.ico"},
                              {121, L"close_icon.png"},
                              {122, L"min_icon.png"},
                              {124, L"autostart_check_box.png"},
                              {125, L"autostart_check_box_selected.png"}};
  const ResourceEntry core[] = {{126, L"version.txt"},
                                {113, L"tracer_logger.dll"},
                                {114, L"client_extension.dll"},
                                {115, L"crashpad_handler_tracer.exe"},
                                {116, L"crashpad_handler_extension.exe"},
                                {118, L"dockit.dll"},
                                {123, L"oku_installer.bat"}};
  const ResourceEntry install[] = {{111, L"mini_installer.exe"},      {127, L"OkuUninstall.exe"},
                                   {112, L"lantern_sdk.dll"},         {117, L"tessel.dll"},
                                   {118, L"dockit.dll"},              {116, L"crashpad_handler_extension.exe"},
                                   {115, L"crashpad_handler_tracer.exe"}, {114, L"client_extension.dll"},
                                   {113, L"tracer_logger.dll"}};
  for (const auto& [entries, count] : {std::pair{ui, 13}, std::pair{core, 7}, std::pair{install, 9}}) {
    const BatchExtractResult result = ExtractResources(module_.get(), entries, count, scratch.path());
    EXPECT_TRUE(result.allSucceeded) << (result.failedFiles.empty() ? "" : oku::Utf8FromWide(result.failedFiles[0]));
    EXPECT_EQ(result.succeeded, count);
  }

  EXPECT_EQ(ReadFileBytes(scratch.Child(L"version.txt")), OKU_EXPECTED_SETUP_VERSION);
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"main.xml")).substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"oku_installer.bat")).size(), 768u);
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"OkuUninstall.exe")), ReadFileBytes(BinDirectory() + L"\\OkuUninstall.exe"));

  const struct {
    const wchar_t* name;
    std::uint32_t width, height;
  } images[] = {{L"background.png", 1920, 1260},       {L"install.png", 416, 128},
                {L"app_icon.png", 384, 384},            {L"file_icon.png", 72, 72},
                {L"custom_option.png", 228, 48},        {L"close_icon.png", 120, 120},
                {L"min_icon.png", 120, 120},            {L"autostart_check_box.png", 276, 48},
                {L"autostart_check_box_selected.png", 276, 48}};
  for (const auto& image : images) {
    const Png png = PngSize(ReadFileBytes(scratch.Child(image.name)));
    EXPECT_EQ(png.width, image.width) << oku::Utf8FromWide(image.name);
    EXPECT_EQ(png.height, image.height) << oku::Utf8FromWide(image.name);
  }
}

// app.ico travels both as the program's icon group 101 and as raw data 101 for the window group.
TEST_F(InstallerPayloadTest, IconGroupAndRawIconShareId101) {
  EXPECT_NE(::FindResourceW(module_.get(), MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */), nullptr);
  EXPECT_NE(::FindResourceW(module_.get(), MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(10) /* RT_RCDATA */), nullptr);
  for (int unassigned : {107, 119, 120, 128, 129, 130, 134}) {
    EXPECT_EQ(::FindResourceW(module_.get(), MAKEINTRESOURCEW(unassigned), MAKEINTRESOURCEW(10)), nullptr) << unassigned;
  }
}

}  // namespace

namespace {

// bin/variants/workspace_variant_check.exe: mini installer from a file, version 1.2.3.4,
// resource 130 from an extra .rc, and 118 left out.
TEST(InstallerVariantTest, PayloadFollowsTheOptions) {
  const oku::ModuleHandle owner(::LoadLibraryExW(
      (BinDirectory() + L"\\variants\\workspace_variant_check.exe").c_str(), nullptr,
      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(owner) << ::GetLastError();
  const HMODULE module = owner.get();
  ScratchDirectory scratch(L"variant_payload");
  const ResourceEntry entries[] = {{111, L"mini_installer.exe"}, {126, L"version.txt"}, {130, L"chrome_7z.patch"},
                                   {127, L"OkuUninstall.exe"},   {118, L"dockit.dll"}};
  const BatchExtractResult result = ExtractResources(module, entries, 5, scratch.path());
  EXPECT_EQ(result.succeeded, 4);
  EXPECT_EQ(result.failedFiles, (std::vector<std::wstring>{L"dockit.dll"}));
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"mini_installer.exe")).size(), 768u);
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"version.txt")), "1.2.3.4");
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"chrome_7z.patch")), "Oku payload test resource\nsecond line\n");
}

}  // namespace
