// The session log as it lands on disk: bytes, line format, threads, and the move on close.
#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/registry.h"
#include "common/session_log.h"
#include "tests/support/test_support.h"

using oku::test::ReadFileBytes;
using oku::test::ScratchDirectory;

namespace {

const std::wstring kProductKey = L"SOFTWARE\\Oku.compass";
const std::string kBomAndHeader = "\xEF\xBB\xBF=== OKU Setup Log ===\n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

void ClearLogPathValues() {
  oku::RegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey.c_str(), 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(key.get(), L"OkuInstallLogPath");
    ::RegDeleteValueW(key.get(), L"OkuUninstallLogPath");
  }
}

// As the programs end: the log closed (and moved), then its final path recorded.
void CloseAndRecordLogPath() { RecordLogPath(CloseLogFile()); }

// The singleton lives for the whole process, so the scenarios run in one test, in order.
TEST(SessionLog, FileLayoutLinesAndLifecycle) {
  ScratchDirectory dir(L"sessionlog");
  ClearLogPathValues();

  LogInfo(L"before init: debugger only");
  InitLog(dir.path(), L"oku_install.log");
  const std::wstring path = dir.Child(L"oku_install.log");
  ASSERT_EQ(SessionLog::Instance().GetLogFilePath(), path);

  LogInfo(L"no session yet");
  GenerateSessionId();
  const std::wstring session = GetSessionId();
  ASSERT_TRUE(std::regex_match(oku::Utf8FromWide(session), std::regex(R"(\d{8}_\d{6}_\d+_\d{4})")));
  EXPECT_EQ(GetSessionIdUtf8(), oku::Utf8FromWide(session));
  GenerateSessionId();  // fixed for the run
  EXPECT_EQ(GetSessionId(), session);

  LogInfo(L"中文 ✓ info");
  LogWarning(L"careful");
  LogError(L"broken");
  LogInfo(L"");
  InitLog(dir.path(), L"other.log");  // already open: nothing changes
  LogInfo(L"still the same file");

  const std::string bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.substr(0, kBomAndHeader.size()), kBomAndHeader);
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  EXPECT_EQ(bytes.find("before init"), std::string::npos);
  EXPECT_FALSE(oku::FileExists(dir.Child(L"other.log")));

  const std::vector<std::string> lines = Lines(bytes.substr(kBomAndHeader.size()));
  ASSERT_EQ(lines.size(), 6u);
  const std::string stamp = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )";
  const std::string part = "\\[" + oku::Utf8FromWide(session) + "\\] ";
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + "no session yet")));
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + part + "中文 ✓ info")));
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + part + "\\[WARNING\\] careful")));
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(stamp + part + "\\[ERROR\\] broken")));
  EXPECT_TRUE(std::regex_match(lines[4], std::regex(stamp + part)));  // empty message: stamp and session only
  EXPECT_TRUE(std::regex_match(lines[5], std::regex(stamp + part + "still the same file")));

  // Closing without a final directory leaves the file where it is and records nothing.
  CloseAndRecordLogPath();
  LogInfo(L"after close: debugger only");
  EXPECT_EQ(ReadFileBytes(path).find("after close"), std::string::npos);
  EXPECT_FALSE(oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuInstallLogPath").present);

  // Reopening truncates; closing with a final directory that does not exist yet moves the file there.
  InitLog(dir.path(), L"oku_install.log");
  LogInfo(L"second run");
  const std::wstring finalDir = dir.Child(L"Application\\nested");
  SetFinalLogPath(finalDir);
  CloseAndRecordLogPath();
  const std::wstring moved = finalDir + L"\\oku_install.log";
  EXPECT_FALSE(oku::FileExists(path));
  const std::string movedBytes = ReadFileBytes(moved);
  EXPECT_EQ(movedBytes.substr(0, kBomAndHeader.size()), kBomAndHeader);
  EXPECT_NE(movedBytes.find("second run"), std::string::npos);
  EXPECT_EQ(movedBytes.find("no session yet"), std::string::npos);
  const auto recorded = oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuInstallLogPath");
  ASSERT_TRUE(recorded.present);
  EXPECT_EQ(recorded.type, static_cast<DWORD>(REG_SZ));
  // Written with a byte count without the NUL; the system itself appends one when the caller's
  // buffer is NUL-terminated (Windows and Wine alike), so either size is what lands.
  EXPECT_TRUE(recorded.bytes.size() == moved.size() * sizeof(wchar_t) ||
              recorded.bytes.size() == (moved.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(recorded.AsString(), moved);

  // A file of the same name in the final directory gets the whole run appended after a separator;
  // the temporary file stays.
  InitLog(dir.path(), L"oku_install.log");
  LogInfo(L"third run");
  SetFinalLogPath(finalDir);
  CloseAndRecordLogPath();
  const std::string appended = ReadFileBytes(moved);
  EXPECT_EQ(appended.substr(0, movedBytes.size()), movedBytes);
  const std::string tail = appended.substr(movedBytes.size());
  EXPECT_TRUE(std::regex_search(
      tail, std::regex("^\n========== New Session: " + stamp + " ==========\n\xEF\xBB\xBF=== OKU Setup Log ===\n")));
  EXPECT_NE(tail.find("third run"), std::string::npos);
  EXPECT_TRUE(oku::FileExists(path));

  // The uninstaller's log is recorded under its own value.
  InitLog(dir.path(), L"oku_uninstall.log");
  SetFinalLogPath(finalDir);
  CloseAndRecordLogPath();
  EXPECT_EQ(oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuUninstallLogPath").AsString(),
            finalDir + L"\\oku_uninstall.log");

  // A name with neither "install" nor "uninstall" is recorded as the uninstaller's.
  ClearLogPathValues();
  InitLog(dir.path(), L"session.log");
  SetFinalLogPath(finalDir);
  CloseAndRecordLogPath();
  EXPECT_EQ(oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuUninstallLogPath").AsString(),
            finalDir + L"\\session.log");
  EXPECT_FALSE(oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuInstallLogPath").present);

  // A file where the log's directory should be: nothing is opened, lines go to the debugger only,
  // closing moves and records nothing, and a later InitLog opens normally.
  ClearLogPathValues();
  const std::wstring blocker = dir.Child(L"blocker");
  ASSERT_TRUE(oku::test::WriteFileBytes(blocker, "not a directory"));
  InitLog(blocker, L"oku_install.log");
  LogInfo(L"nowhere to go");
  SetFinalLogPath(finalDir + L"\\unopened");
  CloseAndRecordLogPath();
  EXPECT_FALSE(oku::PathExists(blocker + L"\\oku_install.log"));
  EXPECT_FALSE(oku::PathExists(finalDir + L"\\unopened"));
  EXPECT_FALSE(oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuInstallLogPath").present);

  // A final directory that cannot be created: the log stays where it is and nothing is recorded.
  InitLog(dir.path(), L"oku_install.log");
  LogInfo(L"kept in place");
  SetFinalLogPath(blocker + L"\\sub");
  CloseAndRecordLogPath();
  EXPECT_NE(ReadFileBytes(path).find("kept in place"), std::string::npos);
  EXPECT_FALSE(oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuInstallLogPath").present);

  // The move refused (another program holds the file without delete sharing): the log is copied
  // to its final place and that path recorded.
  InitLog(dir.path(), L"oku_install.log");
  LogInfo(L"copied, not moved");
  const std::wstring copyDir = dir.Child(L"copy_target");
  SetFinalLogPath(copyDir);
  {
    oku::FileHandle holder(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    CloseAndRecordLogPath();
  }
  const std::wstring copied = copyDir + L"\\oku_install.log";
  EXPECT_TRUE(oku::FileExists(path)) << "copied, and the held source could not be deleted";
  EXPECT_NE(ReadFileBytes(copied).find("copied, not moved"), std::string::npos);
  EXPECT_EQ(oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, L"OkuInstallLogPath").AsString(), copied);
  ClearLogPathValues();
}

TEST(SessionLog, LinesFromManyThreadsNeverInterleave) {
  ScratchDirectory dir(L"sessionlog_threads");
  SetFinalLogPath(L"");  // keep the file where it is written
  InitLog(dir.path(), L"threads.log");
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  const std::wstring payload(120, L'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &payload] {
      for (int i = 0; i < kLines; ++i) LogInfo(L"T" + std::to_wstring(t) + L" L" + std::to_wstring(i) + L" " + payload);
    });
  }
  for (auto& thread : threads) thread.join();
  CloseLogFile();

  const std::string bytes = ReadFileBytes(dir.Child(L"threads.log"));
  const std::vector<std::string> lines = Lines(bytes.substr(kBomAndHeader.size()));
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex shape(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} (\[[0-9_]+\] )?T(\d) L(\d+) x{120})");
  std::vector<std::vector<bool>> seen(kThreads, std::vector<bool>(kLines, false));
  for (const std::string& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
    seen[std::stoi(match[2])][std::stoi(match[3])] = true;
  }
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) EXPECT_TRUE(seen[t][i]) << t << " " << i;
  }
}

// A new run never truncates the log of an earlier one: the last run's file is kept beside it, and
// a file a running installer holds open is left alone for a log of this process's own.
TEST(SessionLog, TempLogNameKeepsThePreviousRunsFileAndNeverTakesOneInUse) {
  ScratchDirectory dir(L"sessionlog_claim");
  const std::wstring current = dir.Child(L"oku_install.log");
  const std::wstring previous = dir.Child(L"oku_install.previous.log");

  EXPECT_EQ(ClaimTempLogName(dir.path(), L"oku_install.log"), L"oku_install.log");
  EXPECT_FALSE(oku::PathExists(current));
  EXPECT_FALSE(oku::PathExists(previous));

  ASSERT_TRUE(oku::test::WriteFileBytes(current, "killed run\n"));
  EXPECT_EQ(ClaimTempLogName(dir.path(), L"oku_install.log"), L"oku_install.log");
  EXPECT_FALSE(oku::PathExists(current));
  EXPECT_EQ(ReadFileBytes(previous), "killed run\n");

  ASSERT_TRUE(oku::test::WriteFileBytes(current, "failed run\n"));
  EXPECT_EQ(ClaimTempLogName(dir.path(), L"oku_install.log"), L"oku_install.log");
  EXPECT_EQ(ReadFileBytes(previous), "failed run\n") << "the older one is replaced";

  ASSERT_TRUE(oku::test::WriteFileBytes(current, "running installer\n"));
  {
    // Held as a running installer holds its log.
    oku::FileHandle held(::CreateFileW(current.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    const std::wstring own = L"oku_install." + std::to_wstring(::GetCurrentProcessId()) + L".log";
    EXPECT_EQ(ClaimTempLogName(dir.path(), L"oku_install.log"), own);
    EXPECT_EQ(ClaimTempLogName(dir.path(), L"oku_uninstall"), L"oku_uninstall") << "nothing there";
  }
  EXPECT_EQ(ReadFileBytes(current), "running installer\n");
  EXPECT_EQ(ReadFileBytes(previous), "failed run\n");
}

}  // namespace
