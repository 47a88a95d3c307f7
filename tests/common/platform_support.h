// Helpers of the platform utility tests: the session log read back line by line, the test
// helper programs, and child processes that never outlive a test.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "common/handles.h"

namespace platform_test {

// Opens this program's session log in a private scratch directory (once).
void EnsureLog();
// Current size of the log: lines written after it belong to the step that follows.
std::size_t LogMark();
// Messages written since mark, one per line, without the timestamp.
std::vector<std::wstring> LogLinesSince(std::size_t mark);
// How many of those lines equal line exactly.
std::size_t CountLine(const std::vector<std::wstring>& lines, const std::wstring& line);

// Path of a program from build/bin/testhelpers.
std::wstring TestHelper(const std::wstring& fileName);

// A started child process; terminated (and waited for) when the object goes, should it still run.
class Child {
 public:
  // Starts "path" args without a window; started() tells whether it worked.
  Child(const std::wstring& path, const std::wstring& args);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  bool started() const { return process_.valid(); }
  // Waits at most timeoutMs; true with the exit code when the process has ended.
  bool WaitExit(DWORD timeoutMs, DWORD* exitCode);

 private:
  oku::KernelHandle process_;
};

}  // namespace platform_test
