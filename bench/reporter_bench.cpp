// Per-event cost of EventReporter::Report with the real lantern_sdk.dll, and in the same run what
// it is made of: the library call alone on ready records, the record block, the reporter's two
// session-log lines, and the floor of what the library does per event (one line written and
// committed to disk). Usage: reporter_bench.exe <directory holding lantern_sdk.dll and tessel.dll>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/session_log.h"
#include "telemetry/event_reporter.h"
#include "telemetry/lantern_records.h"
#include "bench_timing.h"

namespace {

constexpr int kEvents = 200;
constexpr int kRounds = 5;
volatile unsigned g_index = 100;  // keeps the zeroed block from being optimised away

// Best per-call time (microseconds) of each case over kRounds rounds of kEvents calls.
std::vector<double> PerCall(const std::vector<std::function<void()>>& runs) {
  std::vector<bench::TimedCase> cases;
  for (const auto& run : runs) cases.push_back({kEvents, run});
  return bench::BestPerCall(cases, kRounds);
}

bool CopyInto(const std::wstring& from, const std::wstring& to, const wchar_t* name) {
  return ::CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) != FALSE;
}

// An event as the installer reports it: a few parameters of path length.
const EventParams kParams{{"install_path", "C:\\users\\root\\AppData\\Local\\oku.compass\\Application"},
                          {"status", "created"},
                          {"temp_dir", "C:\\users\\root\\Temp\\OkuSetup_280"}};

void Fill(LanternParam& param, const char* key, const std::string& value) {
  std::strncpy(param.key, key, sizeof(param.key) - 1);
  std::strncpy(param.value, value.c_str(), sizeof(param.value) - 1);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: reporter_bench <directory with lantern_sdk.dll and tessel.dll>\n");
    return 2;
  }
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"oku_reporter_bench_" + std::to_wstring(::GetCurrentProcessId());
  const std::wstring lantern = dir + L"\\lantern";
  ::CreateDirectoryW(dir.c_str(), nullptr);
  ::CreateDirectoryW(lantern.c_str(), nullptr);
  if (!CopyInto(argv[1], lantern, L"lantern_sdk.dll") || !CopyInto(argv[1], lantern, L"tessel.dll")) {
    std::fprintf(stderr, "bench: cannot copy the libraries (%lu)\n", ::GetLastError());
    return 1;
  }
  const std::wstring outbox = dir + L"\\outbox.jsonl";
  ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", outbox.c_str());

  // As in the installer: the session log is open and carries the reporter's lines.
  InitLog(dir, L"reporter_bench.log");
  GenerateSessionId();
  EventReporter& reporter = EventReporter::Instance();
  reporter.SetInstallMode(true);
  reporter.SetStartTime(::GetTickCount());
  if (!reporter.Init(lantern)) {
    std::fprintf(stderr, "bench: EventReporter::Init failed\n");
    return 1;
  }
  using ReportFn = std::int32_t(__cdecl*)(const char*, const LanternParam*, std::uint32_t, std::int32_t);
  const auto lnReport = reinterpret_cast<ReportFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"lantern_sdk.dll"), "LN_Report")));
  if (!lnReport) {
    std::fprintf(stderr, "bench: LN_Report not found\n");
    return 1;
  }

  // Report adds install_mode, session_id and elapsed_time_ms: 3 + 3 records and the action.
  constexpr std::uint32_t kRecords = 7;
  std::unique_ptr<LanternParam[]> ready(new LanternParam[kRecords]());
  Fill(ready[0], "action", "setup_bench_event");
  Fill(ready[1], "elapsed_time_ms", "117");
  Fill(ready[2], "install_mode", "quiet");
  Fill(ready[3], "install_path", kParams.at("install_path"));
  Fill(ready[4], "session_id", GetSessionIdUtf8());
  Fill(ready[5], "status", "created");
  Fill(ready[6], "temp_dir", kParams.at("temp_dir"));

  // The two lines Report writes (start, and completion with the record listing).
  const std::wstring startLine = L"[上报开始 | +117ms] setup_bench_event";
  std::wstring doneLine = L"[上报完成 | +117ms | API耗时:4ms]\n    action = setup_bench_event";
  for (const wchar_t* item : {L"hardware_os = 6", L"is_setup = true", L"launch_channel = default", L"platform = win",
                              L"t36 = 2afe49595dbca92a7f1e995b1e40e23f02aa", L"version = 2.6.4.4846",
                              L"session_id = 20261210_034213_280_4493", L"elapsed_time_ms = 117",
                              L"install_path = C:\\users\\root\\AppData\\Local\\oku.compass\\Application",
                              L"install_mode = quiet", L"status = created",
                              L"temp_dir = C:\\users\\root\\Temp\\OkuSetup_280"}) {
    doneLine += L"\n    ";
    doneLine += item;
  }

  // The floor of one library event: a JSON line of the same size appended and committed to disk.
  HANDLE floorFile = ::CreateFileW((dir + L"\\floor.jsonl").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  const std::string jsonLine(700, 'x');
  volatile char sink = 0;
  const std::vector<double> us = PerCall({
      [&] { reporter.Report("setup_bench_event", kParams); },
      [&] { lnReport("OKU_COMPASS_KEY_EVENT", ready.get(), kRecords, 0); },
      [&] {
        std::unique_ptr<LanternParam[]> block(new LanternParam[kRecords]());
        sink = sink + block[g_index % kRecords].value[g_index];
      },
      [&] {
        LogInfo(startLine);
        LogInfo(doneLine);
      },
      [&] {
        DWORD written = 0;
        ::WriteFile(floorFile, jsonLine.data(), static_cast<DWORD>(jsonLine.size()), &written, nullptr);
        ::FlushFileBuffers(floorFile);
      },
      [&] {
        DWORD written = 0;
        ::WriteFile(floorFile, jsonLine.data(), static_cast<DWORD>(jsonLine.size()), &written, nullptr);
      },
  });
  ::CloseHandle(floorFile);
  const double report = us[0], library = us[1], records = us[2], logLines = us[3], floor = us[4],
               floorNoFlush = us[5];

  reporter.Uninit();
  CloseLogFile();
  for (const wchar_t* name : {L"\\floor.jsonl", L"\\outbox.jsonl", L"\\reporter_bench.log",
                              L"\\lantern\\lantern_sdk.dll", L"\\lantern\\tessel.dll",
                              L"\\lantern\\lantern\\lantern_state.json"}) {
    ::DeleteFileW((dir + name).c_str());
  }
  ::RemoveDirectoryW((lantern + L"\\lantern").c_str());
  ::RemoveDirectoryW(lantern.c_str());
  ::RemoveDirectoryW(dir.c_str());

  std::printf("events per round: %d, best of %d rounds, microseconds per event\n", kEvents, kRounds);
  std::printf("report_us %.1f\n", report);
  std::printf("ln_report_us %.1f\n", library);
  std::printf("records_us %.2f\n", records);
  std::printf("log_lines_us %.1f\n", logLines);
  std::printf("write_flush_us %.1f\n", floor);
  std::printf("write_only_us %.1f\n", floorNoFlush);
  return 0;
}
