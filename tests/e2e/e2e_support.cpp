#include "tests/e2e/e2e_support.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <set>

#include "common/handles.h"
#include "tests/support/test_support.h"

namespace oku::e2e {
namespace {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Oku.compass";

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t buffer[2048] = {};
  const DWORD n = ::GetEnvironmentVariableW(name, buffer, 2048);
  return n > 0 && n < 2048 ? std::wstring(buffer, n) : std::wstring();
}

struct BoxSweep {
  int answer;
  std::set<HWND>* answered;
  std::vector<Box>* boxes;
};

BOOL CALLBACK AnswerVisibleBox(HWND window, LPARAM parameter) {
  auto* sweep = reinterpret_cast<BoxSweep*>(parameter);
  wchar_t className[64] = {};
  ::GetClassNameW(window, className, 64);
  if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
  if (!sweep->answered->insert(window).second) return TRUE;
  Box box;
  wchar_t text[2048] = {};
  ::GetWindowTextW(window, text, 2048);
  box.caption = text;
  text[0] = L'\0';
  if (HWND label = ::GetDlgItem(window, 0xFFFF)) ::GetWindowTextW(label, text, 2048);
  box.text = text;
  sweep->boxes->push_back(box);
  for (int id : {sweep->answer, IDOK, IDYES, IDCANCEL}) {
    if (HWND button = ::GetDlgItem(window, id)) {
      ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
      return TRUE;
    }
  }
  ::PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// Restores the test's own environment after a child was started with extra variables.
class EnvironmentOverride {
 public:
  explicit EnvironmentOverride(const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    for (const auto& [name, value] : values) {
      wchar_t buffer[4096];
      const DWORD n = ::GetEnvironmentVariableW(name.c_str(), buffer, 4096);
      saved_.push_back({name, n > 0 && n < 4096, n > 0 && n < 4096 ? std::wstring(buffer, n) : L""});
      ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
  }
  ~EnvironmentOverride() {
    for (const auto& entry : saved_) {
      ::SetEnvironmentVariableW(entry.name.c_str(), entry.present ? entry.value.c_str() : nullptr);
    }
  }
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

 private:
  struct Saved {
    std::wstring name;
    bool present;
    std::wstring value;
  };
  std::vector<Saved> saved_;
};

void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<std::wstring>& out) {
  WIN32_FIND_DATAW data;
  const std::wstring base = relative.empty() ? root : root + L"\\" + relative;
  const oku::FindHandle find(::FindFirstFileW((base + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out.push_back(child + L"\\");
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ListInto(root, child, out);
    } else {
      out.push_back(child);
    }
  } while (::FindNextFileW(find.get(), &data));
}

// Reads one JSON string starting at text[pos] == '"'; pos ends after the closing quote.
std::string ReadJsonString(const std::string& text, size_t& pos) {
  std::string out;
  ++pos;
  while (pos < text.size() && text[pos] != '"') {
    char c = text[pos++];
    if (c != '\\' || pos >= text.size()) {
      out += c;
      continue;
    }
    const char e = text[pos++];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'u': {
        const unsigned code = static_cast<unsigned>(std::stoul(text.substr(pos, 4), nullptr, 16));
        pos += 4;
        if (code < 0x80) {
          out += static_cast<char>(code);
        } else if (code < 0x800) {
          out += static_cast<char>(0xC0 | (code >> 6));
          out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (code >> 12));
          out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (code & 0x3F));
        }
        break;
      }
      default: out += e; break;
    }
  }
  ++pos;
  return out;
}

// The [["k","v"],...] array that follows "member": in one outbox line.
std::vector<std::pair<std::string, std::string>> ReadPairs(const std::string& line, const std::string& member) {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t pos = line.find("\"" + member + "\":[");
  if (pos == std::string::npos) return pairs;
  pos += member.size() + 4;
  while (pos < line.size() && line[pos] == '[') {
    ++pos;
    std::string key = ReadJsonString(line, pos);
    ++pos;  // ','
    std::string value = ReadJsonString(line, pos);
    ++pos;  // ']'
    pairs.emplace_back(std::move(key), std::move(value));
    if (pos < line.size() && line[pos] == ',') ++pos;
  }
  return pairs;
}

}  // namespace

Outcome RunProgram(const std::wstring& commandLine, const RunOptions& options) {
  Outcome outcome;
  EnvironmentOverride environment(options.environment);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return outcome;
  }
  outcome.started = true;
  const auto [child, thread] = oku::OwnProcessHandles(process);
  std::set<HWND> answered;
  BoxSweep sweep{options.answer, &answered, &outcome.boxes};
  const ULONGLONG deadline = ::GetTickCount64() + options.timeoutMs;
  while (::WaitForSingleObject(child.get(), 100) == WAIT_TIMEOUT) {
    ::EnumWindows(AnswerVisibleBox, reinterpret_cast<LPARAM>(&sweep));
    if (::GetTickCount64() > deadline) {
      outcome.timedOut = true;
      ::TerminateProcess(child.get(), 999);
      ::WaitForSingleObject(child.get(), 10000);
      break;
    }
  }
  ::GetExitCodeProcess(child.get(), &outcome.exitCode);
  return outcome;
}

HANDLE StartProcess(const std::wstring& commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return nullptr;
  }
  return oku::OwnProcessHandles(process).process.release();
}


std::wstring ProductVersionOld() { return OKU_PRODUCT_VERSION_OLD; }
std::wstring ProductVersionNew() { return OKU_PRODUCT_VERSION_NEW; }
std::wstring SetupVersion() { return OKU_SETUP_VERSION; }

std::wstring ProductValue(const wchar_t* name) {
  return oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, name).AsString();
}

bool ProductValuePresent(const wchar_t* name) {
  return oku::test::QueryRegistryValue(HKEY_CURRENT_USER, kProductKey, name).present;
}

std::wstring RunValue() {
  return oku::test::QueryRegistryValue(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                                       L"oku.compass")
      .AsString();
}

std::wstring UrlProtocolCommand() {
  return oku::test::QueryRegistryValue(HKEY_CURRENT_USER, L"SOFTWARE\\Classes\\okucompass\\shell\\open\\command",
                                       nullptr)
      .AsString();
}

void SetProductValue(const wchar_t* name, const std::wstring& value) {
  oku::RegKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void DeleteProductValue(const wchar_t* name) { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kProductKey, name); }

void ForgetInstallationRecords() {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Classes\\okucompass");
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Oku.compass");
  ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"oku.compass");
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> ListTree(const std::wstring& root) {
  std::vector<std::wstring> entries;
  ListInto(root, L"", entries);
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::wstring ReadText(const std::wstring& path) { return Widen(oku::test::ReadFileBytes(path)); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(100);
  }
  return true;
}

std::wstring TempLogPath() { return oku::test::TempDirectory() + L"\\OkuSetupLogs\\oku_install.log"; }

std::vector<std::wstring> StrayWorkingDirectories() {
  std::vector<std::wstring> found;
  auto collect = [&found](const std::wstring& pattern, const std::wstring& parent) {
    WIN32_FIND_DATAW data;
    const oku::FindHandle find(::FindFirstFileW(pattern.c_str(), &data));
    if (!find) return;
    do {
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) found.push_back(parent + L"\\" + data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
  };
  const std::wstring temp = oku::test::TempDirectory();
  collect(temp + L"\\OkuSetup_*", temp);
  collect(LocalAppData() + L"\\OkuSetup\\Temp_*", LocalAppData() + L"\\OkuSetup");
  collect(oku::test::BinDirectory() + L"\\.OkuSetupTemp", oku::test::BinDirectory());
  return found;
}

int CountProcesses(const wchar_t* imageName) {
  const HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  const oku::KernelHandle snapshot(raw == INVALID_HANDLE_VALUE ? nullptr : raw);
  if (!snapshot) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, imageName) == 0) ++count;
  }
  return count;
}

std::string Event::Param(const std::string& key) const {
  for (size_t i = 1; i < records.size(); ++i) {
    if (records[i].first == key) return records[i].second;
  }
  return {};
}

bool Event::Has(const std::string& key) const {
  for (size_t i = 1; i < records.size(); ++i) {
    if (records[i].first == key) return true;
  }
  return false;
}

std::wstring OutboxPath() {
  const std::wstring overridden = EnvironmentText(L"LANTERN_OUTBOX");
  return overridden.empty() ? LocalAppData() + L"\\Velmora\\Lantern\\outbox.jsonl" : overridden;
}

std::vector<Event> OutboxEvents() {
  std::vector<Event> events;
  const std::string text = oku::test::ReadFileBytes(OutboxPath());
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    Event event;
    event.records = ReadPairs(line, "records");
    event.common = ReadPairs(line, "common");
    if (!event.records.empty() && event.records.front().first == "action") event.action = event.records.front().second;
    events.push_back(std::move(event));
  }
  return events;
}

std::vector<std::string> Actions(const std::vector<Event>& events) {
  std::vector<std::string> actions;
  for (const Event& event : events) actions.push_back(event.action);
  return actions;
}

const Event* FindEvent(const std::vector<Event>& events, const std::string& action) {
  for (const Event& event : events) {
    if (event.action == action) return &event;
  }
  return nullptr;
}

}  // namespace oku::e2e
