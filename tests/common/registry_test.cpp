// The registry helper against Wine's real registry, read back with RegQueryValueExW.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/registry.h"
#include "common/session_log.h"
#include "tests/support/test_support.h"

using oku::test::QueryRegistryValue;
using oku::test::RegistryKeyExists;

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = L"SOFTWARE\\OkuRegistryTest_" + std::to_wstring(::GetCurrentProcessId());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    InitLog(dir_.path(), L"registry.log");
  }
  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    CloseLogFile();
  }
  std::string LogText() { return oku::test::ReadFileBytes(dir_.Child(L"registry.log")); }

  oku::test::ScratchDirectory dir_{L"registry"};
  std::wstring key_;
};

TEST_F(RegistryTest, SetValueCreatesKeysAndWritesExactBytes) {
  const std::wstring nested = key_ + L"\\a\\b";
  EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, nested, L"text", L"中文 path"));
  EXPECT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, nested, L"number", 7));
  EXPECT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, nested, nullptr, REG_SZ, reinterpret_cast<const BYTE*>(L"def"), 6));

  auto text = QueryRegistryValue(HKEY_CURRENT_USER, nested, L"text");
  EXPECT_EQ(text.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(text.bytes.size(), (7u + 1u) * sizeof(wchar_t));  // with its NUL
  EXPECT_EQ(text.AsString(), L"中文 path");
  auto number = QueryRegistryValue(HKEY_CURRENT_USER, nested, L"number");
  EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number.AsDword(), 7u);
  auto byDefault = QueryRegistryValue(HKEY_CURRENT_USER, nested, nullptr);
  EXPECT_GE(byDefault.bytes.size(), 6u);  // the system may add the NUL the caller left out
  EXPECT_EQ(byDefault.AsString(), L"def");

  const std::string log = LogText();
  EXPECT_NE(log.find("HKEY_CURRENT_USER\\" + std::string(key_.begin(), key_.end()) + "\\a\\b操作成功"), std::string::npos);
  EXPECT_NE(log.find("\\a\\b\\default操作成功"), std::string::npos);
}

// A key that cannot be created: nothing is written, one line names the key and the reason.
TEST_F(RegistryTest, KeyThatCannotBeCreatedWritesNothing) {
  const HKEY invalidRoot = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
  EXPECT_FALSE(SetRegistryString(invalidRoot, key_, L"text", L"x"));
  const std::string log = LogText();
  const std::string keyText(key_.begin(), key_.end());
  EXPECT_NE(log.find("Unknown HKEY\\" + keyText + "无效的句柄"), std::string::npos) << log;
  EXPECT_EQ(log.find("\\text"), std::string::npos) << "no write was attempted";
}

TEST_F(RegistryTest, DeleteValueAndKeyTree) {
  EXPECT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, key_ + L"\\sub\\deeper", L"v", 1));
  EXPECT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, key_, L"gone", 1));

  EXPECT_TRUE(DeleteRegistryValue(HKEY_CURRENT_USER, key_, L"gone"));
  EXPECT_FALSE(QueryRegistryValue(HKEY_CURRENT_USER, key_, L"gone").present);
  EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, key_, L"gone"));          // missing value
  EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, key_ + L"\\none", L"v"));  // missing key
  EXPECT_NE(LogText().find("\\none v, error code: 2"), std::string::npos);

  EXPECT_TRUE(DeleteRegistryKeyTree(HKEY_CURRENT_USER, key_));
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, key_));
  EXPECT_FALSE(DeleteRegistryKeyTree(HKEY_CURRENT_USER, key_));
  EXPECT_NE(LogText().find("Registry key not found: "), std::string::npos);
}

TEST_F(RegistryTest, ReadStringCases) {
  const std::wstring exact259(259, L'a');
  const std::wstring exact260(260, L'b');
  EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, key_, L"s", L"147.0.7727.4985"));
  EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, key_, L"259", exact259));
  EXPECT_TRUE(SetRegistryString(HKEY_CURRENT_USER, key_, L"260", exact260));
  // 520 bytes of text without a terminating NUL fill the buffer exactly.
  EXPECT_TRUE(SetRegistryValue(HKEY_CURRENT_USER, key_, L"full", REG_SZ, reinterpret_cast<const BYTE*>(exact260.c_str()), 520));
  EXPECT_TRUE(SetRegistryDword(HKEY_CURRENT_USER, key_, L"dword", 0x00410042));  // read as text regardless of type

  struct Case {
    const wchar_t* key;
    const wchar_t* value;
    std::wstring expected;
  } cases[] = {
      {L"", L"s", L"147.0.7727.4985"}, {L"", L"259", exact259}, {L"", L"260", L""},
      {L"", L"missing", L""},          {L"\\nokey", L"s", L""}, {L"", L"dword", L"BA"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value);
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key_ + c.key, c.value), c.expected);
  }
  // Data without a NUL that fill the 260-character buffer: never read past it. (Wine reports such a
  // value as too long because it wants room for the NUL it adds; Windows returns the 260 characters.)
  const std::wstring full = ReadRegistryString(HKEY_CURRENT_USER, key_, L"full");
  EXPECT_TRUE(full.empty() || full == exact260);

  const std::string log = LogText();
  EXPECT_NE(log.find("Found pv value in registry: 147.0.7727.4985"), std::string::npos);
  EXPECT_NE(log.find("Registry value is too long: 260"), std::string::npos);
  EXPECT_NE(log.find("Registry value not found: missing"), std::string::npos);
  EXPECT_NE(log.find("Failed to open registry key: "), std::string::npos);
}

TEST(RegistryTexts, Tables) {
  EXPECT_EQ(GetRootKeyName(HKEY_CURRENT_USER), L"HKEY_CURRENT_USER");
  EXPECT_EQ(GetRootKeyName(HKEY_LOCAL_MACHINE), L"HKEY_LOCAL_MACHINE");
  EXPECT_EQ(GetRootKeyName(reinterpret_cast<HKEY>(0x1234)), L"Unknown HKEY");
  struct Case {
    LONG code;
    const wchar_t* open;
    const wchar_t* write;
  } cases[] = {
      {0, L"操作成功", L"操作成功"},
      {5, L"拒绝访问（权限不足）", L"拒绝访问（权限不足）"},
      {14, L"内存不足", L"内存不足"},
      {123, L"注册表项名无效", L"未知错误，错误码：123"},
      {1018, L"注册表项已被删除", L"未知错误，错误码：1018"},
      {19, L"未知错误，错误码：19", L"介质为写保护状态"},
      {234, L"未知错误，错误码：234", L"缓冲区太小，数据未能完全写入"},
      {1, L"未知错误，错误码：1", L"未知错误，错误码：1"},
      {2, L"找不到指定的注册表项", L"找不到指定的注册表项"},
      {6, L"无效的句柄", L"无效的句柄"},
      {8, L"内存不足", L"内存不足"},
      {87, L"无效的参数", L"无效的参数"},
      {1009, L"注册表数据库格式错误", L"未知错误，错误码：1009"},
      {1011, L"无法打开注册表项", L"未知错误，错误码：1011"},
      {1013, L"无法写入注册表", L"无法写入注册表"},
      {1015, L"注册表损坏", L"未知错误，错误码：1015"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetRegistryOpenErrorText(c.code), c.open) << c.code;
    EXPECT_EQ(GetRegistryWriteErrorText(c.code), c.write) << c.code;
  }
}

}  // namespace
