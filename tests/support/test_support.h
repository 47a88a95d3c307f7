// Helpers shared by the Wine tests: scratch directories, file bytes, registry reads, children.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace oku::test {

// A fresh, empty directory under %TEMP% that is deleted (recursively) when the object goes.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::wstring& name);
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring Child(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);  // empty when missing
std::wstring TempDirectory();                         // GetTempPathW without trailing backslash
std::wstring BinDirectory();                          // build/bin as a Windows path (OKU_BIN_DIR)
std::wstring SetupExe();                              // bin\OkuSetup.exe
std::wstring VariantExe(const std::wstring& name);    // bin\variants\<name>
std::wstring LocalAppData();                          // the user's local application data folder
std::wstring DefaultInstallDir();                     // <local app data>\oku.compass\Application
std::wstring Quote(const std::wstring& path);         // "path", for a command line

// The lines of analytics outbox text (one JSON event per line), from byte offset from on, that
// record the event named action.
std::vector<std::string> OutboxEventLines(const std::string& text, const std::string& action, size_t from = 0);

struct RegistryValue {
  bool present = false;
  DWORD type = 0;
  std::vector<std::uint8_t> bytes;
  std::wstring AsString() const;  // bytes as UTF-16, up to the first NUL
  DWORD AsDword() const;
};
RegistryValue QueryRegistryValue(HKEY root, const std::wstring& key, const wchar_t* name);
bool RegistryKeyExists(HKEY root, const std::wstring& key);

struct ChildResult {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0;
};
// Runs a command line, waits at most timeoutMs (then terminates it).
ChildResult RunChild(const std::wstring& commandLine, DWORD timeoutMs);

// Waits for a top-level dialog (#32770) with this caption; returns its text (the static control)
// and presses the button with the given id. Empty optional-like result when none appeared.
struct AnsweredBox {
  bool found = false;
  std::wstring text;
};
AnsweredBox AnswerMessageBox(const std::wstring& caption, int buttonId, DWORD timeoutMs);

}  // namespace oku::test
