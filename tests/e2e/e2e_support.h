// What the end-to-end scenarios share: running the built programs as a release engineer does
// (message boxes recorded and answered), the installation's files and records, the analytics
// outbox and the session logs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace oku::e2e {

struct Box {
  std::wstring caption;
  std::wstring text;
};

struct Outcome {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0;
  std::vector<Box> boxes;  // every message box the run showed, in order; each was answered
};

struct RunOptions {
  DWORD timeoutMs = 240000;
  int answer = IDOK;  // button pressed in each box (falls back to OK, Yes, Cancel, then close)
  std::vector<std::pair<std::wstring, std::wstring>> environment;  // set for the child only
};

// Default options with another time limit.
inline RunOptions Within(DWORD timeoutMs) {
  RunOptions options;
  options.timeoutMs = timeoutMs;
  return options;
}

// Runs a command line to its end; boxes shown meanwhile (by any process) are recorded and answered.
Outcome RunProgram(const std::wstring& commandLine, const RunOptions& options = {});

// Starts a command line and returns its process handle (the caller closes it); null on failure.
HANDLE StartProcess(const std::wstring& commandLine);

using oku::test::DefaultInstallDir;
using oku::test::LocalAppData;
using oku::test::Quote;
using oku::test::SetupExe;
using oku::test::VariantExe;

std::wstring ProductVersionOld();
std::wstring ProductVersionNew();
std::wstring SetupVersion();  // the installer's own version text ("version" record)

// HKCU\SOFTWARE\Oku.compass values and the other records, empty when missing.
std::wstring ProductValue(const wchar_t* name);
bool ProductValuePresent(const wchar_t* name);
std::wstring RunValue();
std::wstring UrlProtocolCommand();
void SetProductValue(const wchar_t* name, const std::wstring& value);
void DeleteProductValue(const wchar_t* name);
// Forgets every installation record (as if nothing were installed), files untouched.
void ForgetInstallationRecords();

bool PathExists(const std::wstring& path);
bool IsDirectory(const std::wstring& path);
// Relative paths of every file and directory below root ("dir\" for directories), sorted.
std::vector<std::wstring> ListTree(const std::wstring& root);
std::wstring ReadText(const std::wstring& path);  // UTF-8 file as wide text, empty when missing
// The installer's session log in %TEMP%: while it runs, and after a run that never learnt its
// installation directory.
std::wstring TempLogPath();
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);
// Working directories the installer made and did not delete (under %TEMP%, local app data).
std::vector<std::wstring> StrayWorkingDirectories();

// Processes with this image name, as counted by a snapshot.
int CountProcesses(const wchar_t* imageName);

// One analytics event of the outbox.
struct Event {
  std::string action;
  std::vector<std::pair<std::string, std::string>> records;
  std::vector<std::pair<std::string, std::string>> common;
  std::string Param(const std::string& key) const;  // first record with this key, else ""
  bool Has(const std::string& key) const;
};
std::wstring OutboxPath();
std::vector<Event> OutboxEvents();
std::vector<std::string> Actions(const std::vector<Event>& events);
const Event* FindEvent(const std::vector<Event>& events, const std::string& action);

}  // namespace oku::e2e
