// The installation's registry records in Wine's real registry, read back with RegQueryValueExW:
// exact types and byte counts, the auto-start rules, and the install-path reader.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"
#include "setup/install_records.h"
#include "tests/support/test_support.h"

namespace {

struct Stored {
  LONG status = ERROR_FILE_NOT_FOUND;
  DWORD type = 0;
  std::vector<std::uint8_t> bytes;
  std::wstring Text() const {
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
  DWORD Number() const { return bytes.size() == sizeof(DWORD) ? *reinterpret_cast<const DWORD*>(bytes.data()) : 0xFFFFFFFF; }
};

Stored Query(const std::wstring& key, const wchar_t* name) {
  Stored result;
  oku::RegKey handle;
  result.status = ::RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, handle.put());
  if (result.status != ERROR_SUCCESS) return result;
  DWORD size = 0;
  result.status = ::RegQueryValueExW(handle.get(), name, nullptr, &result.type, nullptr, &size);
  if (result.status == ERROR_SUCCESS) {
    result.bytes.resize(size);
    result.status = ::RegQueryValueExW(handle.get(), name, nullptr, &result.type, result.bytes.data(), &size);
    result.bytes.resize(size);
  }
  return result;
}

void SetRaw(const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  oku::RegKey handle;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, handle.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), bytes), ERROR_SUCCESS);
}
void SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  SetRaw(key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

DWORD WithNul(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

void CleanRecords() {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductRegistryKey);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kUrlProtocolKey);
  oku::RegKey run;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRunRegistryKey, 0, KEY_SET_VALUE, run.put()) == ERROR_SUCCESS) {
    ::RegDeleteValueW(run.get(), kAutoStartValueName);
  }
}

const std::wstring kDir = L"C:\\Users\\测试 user\\AppData\\Local\\oku.compass\\Application";

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CleanRecords();
    InitLog(dir_.path(), L"records.log");
  }
  void TearDown() override {
    CloseLogFile();
    CleanRecords();
  }
  // The log file is shared for reading while open; every line reaches it at once.
  std::string Log() { return oku::test::ReadFileBytes(dir_.Child(L"records.log")); }
  bool Logged(const std::wstring& line) { return Log().find(oku::Utf8FromWide(line)) != std::string::npos; }

  oku::test::ScratchDirectory dir_{L"records"};
};

TEST_F(RecordsTest, WritersStoreExactTypesAndBytes) {
  WriteInstallPathRecords(kDir);
  RegisterUrlProtocol(kDir);
  WriteInstallAutoLaunch(true);
  WriteVersionRecord(L"2.6.4.4846");
  WriteQuietSilentInstall(L"unused");

  const std::wstring uninstall = kDir + L"\\uninstall\\OkuUninstall.exe";
  const std::wstring command = L"\"" + kDir + L"\\oku.compass.exe\" \"%1\"";
  struct Case {
    std::wstring key;
    const wchar_t* name;
    DWORD type;
    std::wstring text;  // REG_SZ
    DWORD bytes;        // stored byte count
    DWORD number;       // REG_DWORD
  };
  const Case cases[] = {
      {kProductRegistryKey, L"UninstallString", REG_SZ, uninstall, WithNul(uninstall), 0},
      {kProductRegistryKey, L"OkuInstallPath", REG_SZ, kDir, WithNul(kDir), 0},
      {kProductRegistryKey, L"InstallAutoLaunch", REG_DWORD, L"", 4, 1},
      {kProductRegistryKey, L"version", REG_SZ, L"2.6.4.4846", WithNul(L"2.6.4.4846"), 0},
      {kProductRegistryKey, L"quietSilentInstall", REG_DWORD, L"", 4, 1},
      {kUrlProtocolKey, nullptr, REG_SZ, L"okucompass", WithNul(L"okucompass"), 0},
      {kUrlProtocolKey, L"URL Protocol", REG_SZ, L"", 0, 0},
      {kUrlProtocolCommandKey, nullptr, REG_SZ, command, WithNul(command), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(oku::Utf8FromWide(c.key + L" / " + (c.name ? c.name : L"(default)")));
    const Stored stored = Query(c.key, c.name);
    ASSERT_EQ(stored.status, ERROR_SUCCESS);
    EXPECT_EQ(stored.type, c.type);
    EXPECT_EQ(stored.bytes.size(), c.bytes);
    if (c.type == REG_SZ) {
      EXPECT_EQ(stored.Text(), c.text);
    } else {
      EXPECT_EQ(stored.Number(), c.number);
    }
  }
  // The literal %1 in its own quotes after one blank.
  const std::wstring stored = Query(kUrlProtocolCommandKey, nullptr).Text();
  ASSERT_GE(stored.size(), 6u);
  EXPECT_EQ(stored.substr(stored.size() - 6), L"\" \"%1\"");

  WriteInstallAutoLaunch(false);
  EXPECT_EQ(Query(kProductRegistryKey, L"InstallAutoLaunch").Number(), 0u);
}

TEST_F(RecordsTest, InstallerNameIsTheRunningExecutablesFileName) {
  WriteInstallerName();
  const Stored stored = Query(kProductRegistryKey, L"InstallerName");
  ASSERT_EQ(stored.status, ERROR_SUCCESS);
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored.Text(), L"setup_records_test.exe");
  EXPECT_EQ(stored.bytes.size(), WithNul(L"setup_records_test.exe"));
  EXPECT_TRUE(Logged(L"Current exe file name: setup_records_test.exe"));
  EXPECT_TRUE(Logged(L"Successfully wrote installer name to registry: setup_records_test.exe"));
}

TEST_F(RecordsTest, AutoLaunchCreateKeepUpdateAndEmpty) {
  const std::wstring wanted = L"\"" + kDir + L"\\oku.compass.exe\"  --win-auto-start";
  EXPECT_EQ(AutoStartCommand(kDir), wanted);  // two blanks before the switch
  const std::wstring withArgs = L"\"" + kDir + L"\\oku.compass.exe\" --other --win-auto-start";
  const std::wstring elsewhere = L"\"D:\\old\\oku.compass.exe\"  --win-auto-start";
  std::wstring upper = kDir;
  for (auto& ch : upper) ch = static_cast<wchar_t>(towupper(ch));
  const std::wstring otherCase = L"\"" + upper + L"\\oku.compass.exe\"  --win-auto-start";
  const std::wstring overlong = L"\"" + std::wstring(300, L'x') + L"\"";  // over the 520-byte buffer

  struct Case {
    const char* what;
    bool present;
    std::wstring before;
    std::wstring after;
    std::wstring line;
  };
  const Case cases[] = {
      {"missing: created", false, L"", wanted, L"No existing auto launch entry found, creating new one"},
      {"contains the directory: kept", true, withArgs, withArgs, L"Auto launch path is correct, no update needed"},
      {"other directory: updated", true, elsewhere, wanted, L"Old path: " + elsewhere},
      {"other letter case: updated", true, otherCase, wanted, L"Auto launch registry updated successfully"},
      {"empty: left empty", true, L"", L"", L"Existing auto launch path is empty, no update needed"},
      {"over 520 bytes: left alone", true, overlong, overlong, L"Failed to query auto launch registry, error: 234"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CleanRecords();
    if (c.present) SetText(kRunRegistryKey, kAutoStartValueName, c.before);
    UpdateAutoLaunchRegistry(kDir);
    const Stored stored = Query(kRunRegistryKey, kAutoStartValueName);
    ASSERT_EQ(stored.status, ERROR_SUCCESS);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.Text(), c.after);
    EXPECT_EQ(stored.bytes.size(), WithNul(c.after));
    EXPECT_TRUE(Logged(c.line));
  }
  const std::string log = Log();
  EXPECT_NE(log.find("UpdateAutoLaunchRegistry start, installPath: "), std::string::npos);
  EXPECT_NE(log.find("Registry key opened successfully for auto launch check"), std::string::npos);
  EXPECT_NE(log.find("UpdateAutoLaunchRegistry completed"), std::string::npos);
}

TEST_F(RecordsTest, AutoLaunchCreatesAMissingRunKey) {
  // Only when the Run key holds nothing else, so no other state of the prefix is lost.
  oku::RegKey run;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kRunRegistryKey, 0, KEY_READ, run.put()) == ERROR_SUCCESS) {
    DWORD values = 0, subkeys = 0;
    ::RegQueryInfoKeyW(run.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    run.reset();  // closed before the key is deleted
    if (values != 0 || subkeys != 0) GTEST_SKIP() << "Run key in use";
    ASSERT_EQ(::RegDeleteKeyW(HKEY_CURRENT_USER, kRunRegistryKey), ERROR_SUCCESS);
  }
  UpdateAutoLaunchRegistry(kDir);
  EXPECT_EQ(Query(kRunRegistryKey, kAutoStartValueName).Text(), AutoStartCommand(kDir));
}

TEST_F(RecordsTest, SetAutoStartWritesOrDeletesForTheWindowsDirectory) {
  const std::wstring path = L"E:\\Apps\\oku";
  SetAutoStart(path, true);
  Stored stored = Query(kRunRegistryKey, kAutoStartValueName);
  EXPECT_EQ(stored.Text(), L"\"E:\\Apps\\oku\\oku.compass.exe\"  --win-auto-start");
  EXPECT_EQ(stored.bytes.size(), WithNul(stored.Text()));

  SetText(kRunRegistryKey, kAutoStartValueName, L"\"Z:\\elsewhere\\oku.compass.exe\"");
  SetAutoStart(path, true);  // overwrites whatever was there
  EXPECT_EQ(Query(kRunRegistryKey, kAutoStartValueName).Text(), L"\"E:\\Apps\\oku\\oku.compass.exe\"  --win-auto-start");

  SetAutoStart(path, false);
  EXPECT_EQ(Query(kRunRegistryKey, kAutoStartValueName).status, ERROR_FILE_NOT_FOUND);
  SetAutoStart(path, false);  // nothing to delete: harmless
  EXPECT_EQ(Query(kRunRegistryKey, kAutoStartValueName).status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RecordsTest, ReadInstallPathCollapsesBackslashRuns) {
  const std::wstring full260(260, L'p');
  struct Case {
    const char* what;
    bool present;
    std::wstring stored;
    std::wstring read;
  };
  const Case cases[] = {
      {"missing", false, L"", L""},
      {"plain", true, kDir, kDir},
      {"doubled and tripled", true, L"C:\\\\Users\\\\\\me\\\\oku.compass\\Application\\\\", L"C:\\Users\\me\\oku.compass\\Application\\"},
      {"UNC keeps its two leading backslashes", true, L"\\\\server\\\\share\\oku", L"\\\\server\\share\\oku"},
      {"UNC with extra leading backslashes", true, L"\\\\\\server\\share", L"\\\\server\\share"},
      {"empty", true, L"", L""},
      {"259 characters", true, std::wstring(259, L'q'), std::wstring(259, L'q')},
      {"longer than the 520-byte buffer", true, full260, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductRegistryKey);
    if (c.present) SetText(kProductRegistryKey, L"OkuInstallPath", c.stored);
    EXPECT_EQ(ReadInstallPath(), c.read);
  }
  // 520 bytes stored without a terminating NUL fill the buffer exactly and still end cleanly. (The
  // system appends a NUL the caller left out when one follows in memory; here none does.)
  const std::wstring unterminated = full260 + L"x";
  SetRaw(kProductRegistryKey, L"OkuInstallPath", REG_SZ, unterminated.c_str(), 520);
  ASSERT_EQ(Query(kProductRegistryKey, L"OkuInstallPath").bytes.size(), 520u);
  EXPECT_EQ(ReadInstallPath(), full260);
}

TEST_F(RecordsTest, GetInstallPathFromRegistryFillsTheWindow) {
  SetText(kProductRegistryKey, L"OkuInstallPath", L"D:\\\\Programs\\\\oku");
  InstallPathChoice choice = GetInstallPathFromRegistry();
  EXPECT_EQ(choice.path, L"D:\\Programs\\oku");
  EXPECT_TRUE(choice.fromRegistry);
  EXPECT_TRUE(Logged(L"GetInstallPathFromRegistry path: D:\\Programs\\oku"));
  EXPECT_TRUE(Logged(L"Install path: D:\\Programs\\oku"));

  ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductRegistryKey);
  wchar_t localAppData[MAX_PATH] = {};
  ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, localAppData), S_OK);
  choice = GetInstallPathFromRegistry();
  EXPECT_EQ(choice.path, std::wstring(localAppData) + L"\\oku.compass\\Application");
  EXPECT_FALSE(choice.fromRegistry);
  EXPECT_TRUE(Logged(L"Install path: " + choice.path));
}

TEST_F(RecordsTest, LogRegistryValueListsTheProductKey) {
  // First in the listing, over the 260-byte buffer: logged cut before the surrogate pair that
  // straddles byte 260, and the listing goes on.
  const std::wstring longText = std::wstring(129, L'x') + L"\U0001F600" + std::wstring(100, L'y');
  SetText(kProductRegistryKey, L"A long value", longText);
  SetText(kProductRegistryKey, L"OkuInstallPath", kDir);
  SetRaw(kProductRegistryKey, L"InstallerError", REG_DWORD, "\x07\0\0\0", 4);
  SetRaw(kProductRegistryKey, L"InstallerResult", REG_DWORD, "\0\0\0\0", 4);
  SetText(kProductRegistryKey, L"InstallerResultUIString", L"完成");
  const std::wstring logPath = L"C:\\logs\\oku_install.log";
  const std::wstring unterminated = logPath + L"x";  // stored without NUL, as RecordLogPath does
  SetRaw(kProductRegistryKey, L"OkuInstallLogPath", REG_SZ, unterminated.c_str(), static_cast<DWORD>(logPath.size() * 2));
  ASSERT_EQ(Query(kProductRegistryKey, L"OkuInstallLogPath").bytes.size(), logPath.size() * 2);
  SetRaw(kProductRegistryKey, L"blob", REG_BINARY, "\x01\x02", 2);

  logRegistryValue();
  const std::string log = Log();
  auto count = [&](const std::wstring& line) {
    const std::string needle = oku::Utf8FromWide(line) + "\n";
    size_t n = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(L"========== logRegistryValue start =========="), 1u);
  EXPECT_EQ(count(L"RegOpenKeyEx success"), 1u);
  EXPECT_EQ(count(L"OkuInstallPath: " + kDir), 1u);
  EXPECT_EQ(count(L"blob: Unsupported type"), 1u);
  EXPECT_EQ(count(L"A long value: " + std::wstring(129, L'x')), 1u);
  // Listed once by the enumeration and once by the explicit queries.
  EXPECT_EQ(count(L"InstallerError: 7"), 2u);
  EXPECT_EQ(count(L"InstallerResult: 0"), 2u);
  EXPECT_EQ(count(L"InstallerResultUIString: 完成"), 2u);
  EXPECT_EQ(count(L"OkuInstallLogPath: " + logPath), 2u);  // stored without NUL, read cleanly
  EXPECT_EQ(count(L"logRegistryValue end"), 1u);

  // Without the key only the frame is written.
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductRegistryKey);
  logRegistryValue();
  const std::string again = Log();
  EXPECT_EQ(again.find("RegOpenKeyEx success", log.size()), std::string::npos);
  EXPECT_NE(again.find("logRegistryValue end", log.size()), std::string::npos);
}

}  // namespace
