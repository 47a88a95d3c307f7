#include "tests/support/test_support.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "common/handles.h"
#include "common/portable/text.h"

namespace oku::test {

std::wstring TempDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  DWORD n = ::GetTempPathW(MAX_PATH, buffer);
  std::wstring path(buffer, n);
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

std::wstring BinDirectory() {
  const char* unixPath = std::getenv("OKU_BIN_DIR");
  if (!unixPath) return L"";
  // Wine maps the Unix root as drive Z:.
  std::wstring path = L"Z:" + oku::WideFromUtf8(unixPath);
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::wstring SetupExe() { return BinDirectory() + L"\\OkuSetup.exe"; }
std::wstring VariantExe(const std::wstring& name) { return BinDirectory() + L"\\variants\\" + name; }

std::wstring LocalAppData() {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::wstring DefaultInstallDir() { return LocalAppData() + L"\\oku.compass\\Application"; }
std::wstring Quote(const std::wstring& path) { return L"\"" + path + L"\""; }

std::vector<std::string> OutboxEventLines(const std::string& text, const std::string& action, size_t from) {
  const std::string record = "[\"action\",\"" + action + "\"]";
  std::vector<std::string> lines;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(from, end - from);
    if (line.find(record) != std::string::npos) lines.push_back(line);
    from = end + 1;
  }
  return lines;
}

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW data;
    oku::FindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find) {
      do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        RemoveTree(path + L"\\" + name);
      } while (::FindNextFileW(find.get(), &data));
    }
  }
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::RemoveDirectoryW(path.c_str());
}

ScratchDirectory::ScratchDirectory(const std::wstring& name)
    : path_(TempDirectory() + L"\\okutest_" + name + L"_" + std::to_wstring(::GetCurrentProcessId())) {
  RemoveTree(path_);
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchDirectory::~ScratchDirectory() { RemoveTree(path_); }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::string();
  std::string out;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) out.append(buffer, read);
  return out;
}

std::wstring RegistryValue::AsString() const {
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  return text.substr(0, text.find(L'\0'));
}

DWORD RegistryValue::AsDword() const {
  DWORD value = 0;
  if (bytes.size() >= sizeof(value)) memcpy(&value, bytes.data(), sizeof(value));
  return value;
}

namespace {
struct UnicodeStringView {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
using NtQueryValueKeyFn = LONG(WINAPI*)(HANDLE, UnicodeStringView*, int, void*, ULONG, ULONG*);
}  // namespace

// Reads the value's stored bytes through NtQueryValueKey: RegQueryValueExW may add a NUL to
// string data stored without one, which would hide exactly what a test checks.
RegistryValue QueryRegistryValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  RegistryValue result;
  oku::RegKey handle;
  if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) != ERROR_SUCCESS) return result;
  static const auto query = reinterpret_cast<NtQueryValueKeyFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryValueKey")));
  if (!query) return result;
  std::wstring valueName = name ? name : L"";
  UnicodeStringView unicodeName{static_cast<USHORT>(valueName.size() * sizeof(wchar_t)),
                                static_cast<USHORT>(valueName.size() * sizeof(wchar_t)), valueName.data()};
  std::vector<std::uint8_t> buffer(64 * 1024);
  ULONG length = 0;
  constexpr int kKeyValuePartialInformation = 2;
  if (query(handle.get(), &unicodeName, kKeyValuePartialInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
            &length) != 0) {
    return result;
  }
  // KEY_VALUE_PARTIAL_INFORMATION: TitleIndex, Type, DataLength, Data.
  ULONG type = 0, dataLength = 0;
  memcpy(&type, buffer.data() + 4, 4);
  memcpy(&dataLength, buffer.data() + 8, 4);
  result.type = type;
  result.bytes.assign(buffer.data() + 12, buffer.data() + 12 + dataLength);
  result.present = true;
  return result;
}

bool RegistryKeyExists(HKEY root, const std::wstring& key) {
  oku::RegKey handle;
  return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

ChildResult RunChild(const std::wstring& commandLine, DWORD timeoutMs) {
  ChildResult result;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return result;
  }
  oku::KernelHandle process(info.hProcess);
  oku::KernelHandle thread(info.hThread);
  result.started = true;
  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    result.timedOut = true;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
  ::GetExitCodeProcess(process.get(), &result.exitCode);
  return result;
}

AnsweredBox AnswerMessageBox(const std::wstring& caption, int buttonId, DWORD timeoutMs) {
  AnsweredBox box;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  HWND dialog = nullptr;
  while (!(dialog = ::FindWindowW(L"#32770", caption.c_str())) && ::GetTickCount64() < deadline) ::Sleep(50);
  if (!dialog) return box;
  box.found = true;
  wchar_t text[1024] = {};
  if (HWND label = ::GetDlgItem(dialog, 0xFFFF)) ::GetWindowTextW(label, text, 1024);
  box.text = text;
  if (HWND button = ::GetDlgItem(dialog, buttonId)) {
    ::SendMessageW(button, BM_CLICK, 0, 0);
  } else {
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
  }
  return box;
}

}  // namespace oku::test
