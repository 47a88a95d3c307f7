#include "tests/setup/pipeline_test_support.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/install_records.h"
#include "telemetry/event_reporter.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"

namespace oku::test {

std::wstring ShellFolderPath(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return L"";
  return path;
}

std::wstring DesktopShortcut() { return ShellFolderPath(CSIDL_DESKTOPDIRECTORY) + L"\\oku.compass.lnk"; }
std::wstring ProgramsShortcut() { return ShellFolderPath(CSIDL_PROGRAMS) + L"\\oku.compass.lnk"; }
std::wstring ProductProfile() { return ShellFolderPath(CSIDL_LOCAL_APPDATA) + L"\\oku.compass\\User Data"; }

std::wstring RunValue() {
  const RegistryValue value = QueryRegistryValue(HKEY_CURRENT_USER, kRunRegistryKey, kAutoStartValueName);
  return value.present ? value.AsString() : L"";
}

void CleanProductUserState() {
  for (const wchar_t* key : {kProductKey, kComponentUninstallKey, kVendorKey, kClassesKey}) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key);
  }
  oku::RegKey run;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRunRegistryKey, 0, KEY_SET_VALUE, run.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(run.get(), kAutoStartValueName);
  }
  ::DeleteFileW(DesktopShortcut().c_str());
  ::DeleteFileW(ProgramsShortcut().c_str());
}

namespace {

template <typename Visit>
void ForEachProcess(const wchar_t* name, Visit visit) {
  oku::KernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, name) == 0) visit(entry.th32ProcessID);
  }
}

}  // namespace

int CountProcesses(const wchar_t* name) {
  int count = 0;
  ForEachProcess(name, [&count](DWORD) { ++count; });
  return count;
}

int WaitForProcessCount(const wchar_t* name, int count, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  int now = CountProcesses(name);
  while (now != count && ::GetTickCount64() < deadline) {
    ::Sleep(50);
    now = CountProcesses(name);
  }
  return now;
}

void EndProcesses(const wchar_t* name) {
  ForEachProcess(name, [](DWORD pid) {
    oku::KernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) return;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  });
  WaitForProcessCount(name, 0, 10000);
}

std::wstring ProductBin(const wchar_t* flavor) { return BinDirectory() + L"\\product\\" + flavor; }

bool MakeShortcut(const std::wstring& linkPath, const std::wstring& target) {
  oku::ComApartment apartment;
  oku::ComPtr<IShellLinkW> link;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()))) {
    return false;
  }
  if (FAILED(link->SetPath(target.c_str()))) return false;
  oku::ComPtr<IPersistFile> file;
  if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
  return SUCCEEDED(file->Save(linkPath.c_str(), TRUE));
}

BoxAnswerer::BoxAnswerer(const std::wstring& caption, int buttonId) : caption_(caption), buttonId_(buttonId) {
  thread_ = std::thread([this] {
    while (!stop_) {
      const AnsweredBox box = AnswerMessageBox(caption_, buttonId_, 100);
      if (box.found) {
        std::lock_guard<std::mutex> guard(lock_);
        texts_.push_back(box.text);
        // The same box may be seen once more before it has gone.
        ::Sleep(300);
      }
    }
  });
}

BoxAnswerer::~BoxAnswerer() { Finish(); }

std::vector<std::wstring> BoxAnswerer::Finish() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  return texts_;
}

TestLog::TestLog(const std::wstring& directory, const std::wstring& fileName) : path_(directory + L"\\" + fileName) {
  CloseLogFile();
  InitLog(directory, fileName);
  SetFinalLogPath(L"");
}

TestLog::~TestLog() {
  SetFinalLogPath(L"");
  CloseLogFile();
}

std::wstring TestLog::Text() const { return ReadTestLog(path_); }

namespace {

std::wstring OutboxPath() {
  static const std::wstring path = [] {
    const std::wstring file =
        TempDirectory() + L"\\okutest_pipeline_outbox_" + std::to_wstring(::GetCurrentProcessId()) + L".jsonl";
    ::DeleteFileW(file.c_str());
    ::SetEnvironmentVariableW(L"LANTERN_OUTBOX", file.c_str());
    // Without the analytics library the outbox stays empty, which the tests that read it notice.
    (void)EventReporter::Instance().Init(BinDirectory());
    return file;
  }();
  return path;
}

}  // namespace

Outbox::Outbox() { start_ = ReadFileBytes(OutboxPath()).size(); }

std::vector<std::string> Outbox::Events(const std::string& name) const {
  return OutboxEventLines(ReadFileBytes(OutboxPath()), name, start_);
}

bool Outbox::Has(const std::string& line, const std::string& key, const std::string& value) {
  return line.find("[\"" + key + "\",\"" + value + "\"]") != std::string::npos;
}

std::string Outbox::Json(const std::wstring& text) {
  std::string escaped;
  for (char c : Utf8FromWide(text)) {
    if (c == '\\' || c == '"') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

}  // namespace oku::test
