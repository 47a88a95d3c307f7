// Per-line cost of the session log (LogInfo: line built, mirrored to the debugger, written to the
// file at once) against, in the same run, a bare WriteFile of the same bytes per line, a WriteFile
// with FlushFileBuffers per line (a disk commit per line), and the debugger mirror alone.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "common/portable/text.h"
#include "common/session_log.h"

namespace {

constexpr int kLines = 2000;
constexpr int kFlushedLines = 200;
constexpr int kRounds = 5;

std::vector<double> PerCall(const std::vector<bench::TimedCase>& cases) { return bench::BestPerCall(cases, kRounds); }

}  // namespace

int wmain() {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"oku_log_bench_" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(dir.c_str(), nullptr);
  InitLog(dir, L"bench.log");
  GenerateSessionId();

  // A typical line of an installation: a step with a path, Chinese text included.
  const std::wstring message = L"  mini_installer 源: C:\\users\\root\\Temp\\OkuSetup_280\\mini_installer.exe";
  const std::wstring fullLine = FormatLogTimestamp() + L"[" + GetSessionId() + L"] " + message + L"\n";
  const std::string bytes = oku::Utf8FromWide(fullLine);

  HANDLE file = ::CreateFileW((dir + L"\\bare.log").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  volatile size_t sink = 0;
  const std::vector<double> us = PerCall({
      {kLines, [&] { LogInfo(message); }},
      {kLines,
       [&] {
         DWORD written = 0;
         ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
       }},
      {kFlushedLines,
       [&] {
         DWORD written = 0;
         ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
         ::FlushFileBuffers(file);
       }},
      {kLines, [&] { ::OutputDebugStringW(fullLine.c_str()); }},
      {kLines,
       [&] {
         const std::wstring line = FormatLogTimestamp() + L"[" + GetSessionId() + L"] " + message + L"\n";
         sink = sink + oku::Utf8FromWide(line).size();
       }},
  });
  ::CloseHandle(file);
  const double logInfo = us[0], bare = us[1], flushed = us[2], debugger = us[3], format = us[4];

  CloseLogFile();
  ::DeleteFileW((dir + L"\\bench.log").c_str());
  ::DeleteFileW((dir + L"\\bare.log").c_str());
  ::RemoveDirectoryW(dir.c_str());

  std::printf("line: %zu bytes; %d lines per round (%d with a flush), best of %d rounds, microseconds per line\n",
              bytes.size(), kLines, kFlushedLines, kRounds);
  std::printf("loginfo_us %.2f\n", logInfo);
  std::printf("write_us %.2f\n", bare);
  std::printf("write_flush_us %.2f\n", flushed);
  std::printf("debugger_us %.2f\n", debugger);
  std::printf("format_us %.2f\n", format);
  return 0;
}
