// UninstallEngine in this process: the options it logs when constructed, and what each exit code
// of the component's setup.exe makes it log and do (boxes suppressed by silent_oku).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"
#include "uninstall/uninstall_engine.h"

namespace {

class EngineCodes : public testing::Test {
 protected:
  void SetUp() override { oku::test::OpenTestLog(logs_.path(), L"codes.log"); }
  std::wstring Log() const { return oku::test::ReadTestLog(logs_.Child(L"codes.log")); }
  oku::test::ScratchDirectory logs_{L"engine_codes_logs"};
};

TEST_F(EngineCodes, ConstructorLogsTheOptionsInOrder) {
  const struct {
    bool force, silentChrome, keep, silentOku;
    std::vector<std::wstring> lines;
  } cases[] = {
      {false, true, false, false, {L"是否自动关闭 oku: 0", L"Chrome 卸载器是否弹窗: 0", L"是否保留用户数据: 0", L"Oku 卸载器是否弹窗: 1"}},
      {true, false, true, true, {L"是否自动关闭 oku: 1", L"Chrome 卸载器是否弹窗: 1", L"是否保留用户数据: 1", L"Oku 卸载器是否弹窗: 0"}},
  };
  for (const auto& c : cases) {
    oku::test::OpenTestLog(logs_.path(), L"codes.log");
    UninstallEngine engine(c.force, c.silentChrome, c.keep, c.silentOku);
    const std::wstring log = Log();
    size_t at = 0;
    for (const std::wstring& line : c.lines) {
      const size_t found = log.find(L" " + line + L"\n", at);
      ASSERT_NE(found, std::wstring::npos) << testing::PrintToString(line);
      at = found;
    }
  }
}

TEST_F(EngineCodes, EveryExitCodeHasItsLine) {
  const struct {
    DWORD code;
    std::vector<std::wstring> lines;
  } cases[] = {
      {10, {L"Operating system API call failed"}},
      {14, {L"Insufficient user permissions"}},
      {15, {L"Chrome is not installed!"}},
      {16, {L"Chrome is running!"}},
      {17, {L"User has confirmed the uninstallation of Chrome!"}},
      {18, {L"User has confirmed uninstalling Chrome and deleting the configuration file!"}},
      {19, {L"Chrome uninstall success!"}},
      // No installation path: the cleanup looks and finds nothing to clean.
      {20, {L"chrome 卸载失败", L"Installation directory contains other files, skipping cleanup"}},
      {21, {L"User cancels Chrome uninstallation!"}},
      {22, {L"I don't know what happened (it shouldn't have happened)"}},
      {29, {L"Uninstallation requires a restart"}},
      {60, {L"setup.exe 被其他进程占用"}},
      {333, {L"没有找到 setup.exe 文件", L"setup.exe 文件缺失"}},
      {0, {L"Others exit code!!!"}},
      {0xC0000005, {L"Others exit code!!!"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    oku::test::OpenTestLog(logs_.path(), L"codes.log");
    UninstallEngine engine(false, true, false, /*silent_oku=*/true);
    engine.HandleSetupExitCode(c.code);
    const std::wstring log = Log();
    size_t at = log.find(L"setup.exe exitCode: " + std::to_wstring(c.code) + L"\n");
    ASSERT_NE(at, std::wstring::npos) << "unsigned decimal";
    for (const std::wstring& line : c.lines) {
      const size_t found = log.find(line + L"\n", at);
      EXPECT_NE(found, std::wstring::npos) << testing::PrintToString(line);
      if (found != std::wstring::npos) at = found;
    }
    if (c.code != 0 && c.code < 1000 && c.code != 60 && c.code != 333) {
      EXPECT_EQ(log.find(L"Others exit code!!!"), std::wstring::npos);
    }
  }
}

}  // namespace
