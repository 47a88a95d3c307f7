// Helpers of the pipeline and pre-check tests (the window's state: tests/setup/test_context.h): the
// per-user state the demo product leaves behind, processes by name, message boxes answered from
// a second thread, the session log and the analytics outbox of one test.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/setup/test_context.h"

namespace oku::test {

inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\Oku.compass";
inline constexpr wchar_t kComponentUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass";
inline constexpr wchar_t kVendorKey[] = L"SOFTWARE\\Velmora\\oku.compass";
inline constexpr wchar_t kClassesKey[] = L"SOFTWARE\\Classes\\okucompass";

// Sets (or, given null, clears) an environment variable of this process and its children for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name) { ::SetEnvironmentVariableW(name, value); }
  ~ScopedEnv() { ::SetEnvironmentVariableW(name_, nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const wchar_t* name_;
};

std::wstring ShellFolderPath(int csidl);
std::wstring DesktopShortcut();   // <desktop>\oku.compass.lnk, written by the demo mini_installer
std::wstring ProgramsShortcut();  // <Start menu Programs>\oku.compass.lnk
std::wstring ProductProfile();    // %LOCALAPPDATA%\oku.compass\User Data, made by oku.compass.exe
std::wstring RunValue();          // HKCU Run "oku.compass", empty when absent
// Product keys, the URL protocol, the Run value and the demo product's shortcuts.
void CleanProductUserState();
// Ends every process of that name and waits (bounded) until none is left.
void EndProcesses(const wchar_t* name);
int CountProcesses(const wchar_t* name);
// Waits (bounded by timeoutMs) until count processes of that name run; returns the last count.
int WaitForProcessCount(const wchar_t* name, int count, DWORD timeoutMs);
// The demo product at one version: bin\product\<flavor>.
std::wstring ProductBin(const wchar_t* flavor);
// A .lnk made with IShellLinkW.
bool MakeShortcut(const std::wstring& linkPath, const std::wstring& target);

// Answers every message box with this caption, from its own thread, until destroyed; keeps their
// texts. Whatever the code under test does, no box stays open.
class BoxAnswerer {
 public:
  BoxAnswerer(const std::wstring& caption, int buttonId);
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;
  // Stops answering and returns the texts of the boxes answered so far.
  std::vector<std::wstring> Finish();

 private:
  std::wstring caption_;
  int buttonId_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::wstring> texts_;
  std::thread thread_;
};

// The session log of one test at directory\fileName (opened now, closed by the destructor; its
// final directory cleared so that it stays where it is).
class TestLog {
 public:
  TestLog(const std::wstring& directory, const std::wstring& fileName);
  ~TestLog();
  TestLog(const TestLog&) = delete;
  TestLog& operator=(const TestLog&) = delete;
  std::wstring Text() const;  // read while open, as UTF-16
  bool Has(const std::wstring& line) const { return Text().find(line) != std::wstring::npos; }

 private:
  std::wstring path_;
};

// lantern_sdk.dll loaded once for the process, its outbox in %TEMP%; events read per test.
class Outbox {
 public:
  Outbox();  // marks the current end: Events sees only lines written after this
  // Lines (UTF-8 JSON) of one event.
  std::vector<std::string> Events(const std::string& name) const;
  static bool Has(const std::string& line, const std::string& key, const std::string& value);
  // A text as the outbox writes it inside a JSON string (UTF-8, backslashes and quotes escaped).
  static std::string Json(const std::wstring& text);

 private:
  size_t start_ = 0;
};

}  // namespace oku::test
