// Scenario harness of the telemetry tests. The reporter and the device-identifier client are
// process-wide singletons, so each scenario runs in a fresh child: the test binary starts itself
// with --gtest_filter=Scenario.<name>, a work directory and LANTERN_OUTBOX pointing into it.
// Scenario tests skip themselves unless they run as such a child.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"
#include "tests/telemetry/json_lite.h"

namespace oku::test::telemetry {

constexpr wchar_t kWorkVariable[] = L"OKU_TELEMETRY_WORK";
constexpr DWORD kChildTimeoutMs = 90000;

inline std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 4096);
  return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

// The work directory inside a scenario child; empty in the parent.
inline std::wstring WorkDirectory() { return Environment(kWorkVariable); }

// A scenario child leaves this file when a scenario began, so that a filter naming no test (the
// child exits 0 having run nothing) is not taken for a passed scenario.
inline std::wstring StartedMarker(const std::wstring& work, DWORD process_id) {
  return work + L"\\scenario-started." + std::to_wstring(process_id);
}

inline void MarkScenarioStarted() {
  const oku::FileHandle file(::CreateFileW(StartedMarker(WorkDirectory(), ::GetCurrentProcessId()).c_str(),
                                           GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

#define OKU_SCENARIO_ONLY()                                                        \
  do {                                                                             \
    if (::oku::test::telemetry::WorkDirectory().empty()) GTEST_SKIP() << "scenario"; \
    ::oku::test::telemetry::MarkScenarioStarted();                                 \
  } while (0)

// Work directory of each started scenario child, by process id.
inline std::map<DWORD, std::wstring>& StartedScenarios() {
  static std::map<DWORD, std::wstring> started;
  return started;
}

inline std::wstring OutboxPath(const std::wstring& work) { return work + L"\\outbox.jsonl"; }
inline std::wstring SdkDirectory(const std::wstring& work) { return work + L"\\sdk"; }

// Copies build/bin files into directory under the given names.
inline bool CopyBinaries(const std::wstring& directory, const std::vector<std::pair<std::wstring, std::wstring>>& files) {
  ::CreateDirectoryW(directory.c_str(), nullptr);
  for (const auto& [source, target] : files) {
    if (!::CopyFileW((BinDirectory() + L"\\" + source).c_str(), (directory + L"\\" + target).c_str(), FALSE)) return false;
  }
  return true;
}

inline bool CopyRealSdk(const std::wstring& directory) {
  return CopyBinaries(directory, {{L"lantern_sdk.dll", L"lantern_sdk.dll"}, {L"tessel.dll", L"tessel.dll"}});
}

// The broken library (some exports missing) under both library names.
inline bool CopyBrokenSdk(const std::wstring& directory) {
  return CopyBinaries(directory,
                      {{L"telemetry_broken_sdk.dll", L"lantern_sdk.dll"}, {L"telemetry_broken_sdk.dll", L"tessel.dll"}});
}

inline std::wstring SelfPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

// Starts this binary for one scenario with the given work directory (not waited for).
inline PROCESS_INFORMATION StartScenario(const std::string& scenario, const std::wstring& work) {
  ::SetEnvironmentVariableW(kWorkVariable, work.c_str());
  ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", OutboxPath(work).c_str());
  std::wstring command = L"\"" + SelfPath() + L"\" --gtest_color=no --gtest_filter=Scenario." + WideFromUtf8(scenario);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    info = PROCESS_INFORMATION{};
  } else {
    StartedScenarios()[info.dwProcessId] = work;
  }
  ::SetEnvironmentVariableW(kWorkVariable, nullptr);
  ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", nullptr);
  return info;
}

// Waits for a started scenario (terminating it after the timeout); its exit code, or ~0 when it
// did not start, timed out, or ran no scenario (its filter selected no test).
inline DWORD FinishScenario(PROCESS_INFORMATION info) {
  if (!info.hProcess) return ~0u;
  DWORD code = ~0u;
  {
    const auto [process, thread] = oku::OwnProcessHandles(info);
    if (::WaitForSingleObject(process.get(), kChildTimeoutMs) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(process.get(), &code);
    } else {
      ::TerminateProcess(process.get(), 1);
      ::WaitForSingleObject(process.get(), 5000);
    }
  }
  const auto started = StartedScenarios().find(info.dwProcessId);
  if (started != StartedScenarios().end()) {
    const std::wstring marker = StartedMarker(started->second, info.dwProcessId);
    StartedScenarios().erase(started);
    if (::GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (code == 0) {
        std::printf("scenario child %lu ran no scenario (does its filter name a test?)\n", info.dwProcessId);
        code = ~0u;
      }
    } else {
      ::DeleteFileW(marker.c_str());
    }
  }
  return code;
}

inline DWORD RunScenario(const std::string& scenario, const std::wstring& work) {
  return FinishScenario(StartScenario(scenario, work));
}

// One outbox line as the library wrote it.
struct OutboxLine {
  bool valid = false;
  std::string raw;
  json::Value value;
  std::vector<std::pair<std::string, std::string>> records;
  std::vector<std::pair<std::string, std::string>> common;

  std::string Action() const { return records.empty() ? std::string() : records[0].second; }
  // Value of the first record with this key after record 0; found says whether there is one.
  std::string Param(const std::string& key, bool* found = nullptr) const {
    for (std::size_t i = 1; i < records.size(); ++i) {
      if (records[i].first == key) {
        if (found) *found = true;
        return records[i].second;
      }
    }
    if (found) *found = false;
    return std::string();
  }
  bool Has(const std::string& key) const {
    bool found = false;
    Param(key, &found);
    return found;
  }
};

inline bool ReadPairs(const json::Value* array, std::vector<std::pair<std::string, std::string>>* out) {
  if (!array || array->kind != json::Value::Kind::Array) return false;
  for (const auto& item : array->items) {
    if (item.kind != json::Value::Kind::Array || item.items.size() != 2 || !item.items[0].IsString() ||
        !item.items[1].IsString()) {
      return false;
    }
    out->emplace_back(item.items[0].text, item.items[1].text);
  }
  return true;
}

// Every line of the outbox; a line that is not a complete, well-formed record has valid false.
inline std::vector<OutboxLine> ReadOutbox(const std::wstring& path) {
  const std::string bytes = ReadFileBytes(path);
  std::vector<OutboxLine> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    const bool terminated = end != std::string::npos;
    if (!terminated) end = bytes.size();
    OutboxLine line;
    line.raw = bytes.substr(start, end - start);
    line.valid = terminated && json::Parse(line.raw, &line.value) && line.value.kind == json::Value::Kind::Object &&
                 ReadPairs(line.value.Get("records"), &line.records) && ReadPairs(line.value.Get("common"), &line.common);
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

inline std::size_t CountOf(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
  return count;
}

}  // namespace oku::test::telemetry
