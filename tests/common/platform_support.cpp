#include "tests/common/platform_support.h"

#include <windows.h>

#include <sstream>

#include "common/portable/text.h"
#include "common/session_log.h"
#include "tests/support/test_support.h"

namespace platform_test {
namespace {

// "YYYY-MM-DD HH:MM:SS.mmm " in front of every line.
constexpr std::size_t kTimestampLength = 24;

struct TestLog {
  TestLog() : dir(L"platform_log") { InitLog(dir.path(), L"platform.log"); }
  ~TestLog() { CloseLogFile(); }
  std::wstring Path() const { return dir.Child(L"platform.log"); }
  oku::test::ScratchDirectory dir;
};

TestLog& Log() {
  static TestLog log;
  return log;
}

}  // namespace

void EnsureLog() { Log(); }

std::size_t LogMark() { return oku::test::ReadFileBytes(Log().Path()).size(); }

std::vector<std::wstring> LogLinesSince(std::size_t mark) {
  const std::string bytes = oku::test::ReadFileBytes(Log().Path());
  std::vector<std::wstring> lines;
  if (mark >= bytes.size()) return lines;
  std::stringstream stream(bytes.substr(mark));
  std::string line;
  while (std::getline(stream, line)) {
    lines.push_back(oku::WideFromUtf8(line.size() >= kTimestampLength ? line.substr(kTimestampLength) : line));
  }
  return lines;
}

std::size_t CountLine(const std::vector<std::wstring>& lines, const std::wstring& line) {
  std::size_t count = 0;
  for (const auto& l : lines) count += (l == line) ? 1 : 0;
  return count;
}

std::wstring TestHelper(const std::wstring& fileName) {
  return oku::test::BinDirectory() + L"\\testhelpers\\" + fileName;
}

Child::Child(const std::wstring& path, const std::wstring& args) {
  std::wstring commandLine = L"\"" + path + L"\" " + args;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &startup, &info)) {
    process_ = oku::OwnProcessHandles(info).process;
  }
}

Child::~Child() {
  if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 10000);
  }
}

bool Child::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
  if (!process_ || ::WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return false;
  return ::GetExitCodeProcess(process_.get(), exitCode) != 0;
}

}  // namespace platform_test
