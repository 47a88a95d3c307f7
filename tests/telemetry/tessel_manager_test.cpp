// The device-identifier client against the real tessel.dll (and a broken one), each scenario in
// a child process of its own: the binding keeps its library loaded for the life of the process.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "common/portable/text.h"
#include "common/session_log.h"
#include "telemetry/tessel_manager.h"
#include "tests/support/test_support.h"
#include "tests/telemetry/scenario.h"

namespace {

using oku::test::ReadFileBytes;
using oku::test::ScratchDirectory;
using namespace oku::test::telemetry;

constexpr char kAppKey[] = "0APP7Q2MXR4DLZ8K";

std::string LogText(const std::wstring& work) { return ReadFileBytes(work + L"\\tessel.log"); }

// What the library must answer on this machine: 36 hex digits of SHA-256("tessel|" + MachineGuid).
std::string ExpectedIdentifier() {
  char guid[128] = {};
  DWORD size = sizeof(guid);
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid, &size) != ERROR_SUCCESS) {
    return "no MachineGuid";
  }
  const std::string data = std::string("tessel|") + guid;
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[32] = {};
  DWORD length = sizeof(digest);
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return "no provider";
  ::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
  ::CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0);
  ::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0);
  ::CryptDestroyHash(hash);
  ::CryptReleaseContext(provider, 0);
  std::string id;
  char hex[3];
  for (int i = 0; i < 18; ++i) {
    std::snprintf(hex, sizeof(hex), "%02x", digest[i]);
    id += hex;
  }
  return id;
}

int InitBinding(const wchar_t* directory) {
  return TesselBinding::Instance().Init(kAppKey, nullptr, "daily", {{"guid", "yyh"}}, "1.0.0", true, directory);
}

TEST(Scenario, TesselStatusCodes) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring empty = work + L"\\empty";
  const std::wstring broken = work + L"\\broken";
  ::CreateDirectoryW(empty.c_str(), nullptr);
  ASSERT_TRUE(CopyBrokenSdk(broken));
  InitLog(work, L"tessel.log");

  EXPECT_EQ(kTesselNoDirectory, InitBinding(nullptr));
  EXPECT_EQ(kTesselDllMissing, InitBinding(empty.c_str()));

  TesselManager& manager = TesselManager::Instance();
  manager.Init(empty);
  EXPECT_EQ("", manager.GetT36());
  EXPECT_FALSE(TesselBinding::Instance().IsInitialized());

  EXPECT_EQ(kTesselInitExportMissing, InitBinding(broken.c_str()));
  // The broken library stays loaded; "a1" is still missing on the next attempt.
  EXPECT_EQ(kTesselInitExportMissing, InitBinding(empty.c_str()));
  EXPECT_EQ("", TesselBinding::Instance().GetT36().value_or("no cache"));

  const std::string log = LogText(work);
  EXPECT_NE(std::string::npos, log.find("初始化 TesselSDK!"));
  EXPECT_NE(std::string::npos, log.find("tessel.dll 父目录路径：" + oku::Utf8FromWide(empty)));
  EXPECT_NE(std::string::npos, log.find("初始化 TesselSDK 失败！返回码: 3"));
  EXPECT_EQ(std::string::npos, log.find("t36_str 为:"));
}

std::atomic<int> g_answers{0};
std::atomic<DWORD> g_answerThread{0};
char g_answer[128];

void __cdecl Answer(const char* identifier) {
  std::snprintf(g_answer, sizeof(g_answer), "%s", identifier ? identifier : "(null)");
  g_answerThread.store(::GetCurrentThreadId());
  g_answers.fetch_add(1);
}

TEST(Scenario, TesselIdentifier) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring sdk = SdkDirectory(work);
  ASSERT_TRUE(CopyRealSdk(sdk));
  InitLog(work, L"tessel.log");

  TesselManager& manager = TesselManager::Instance();
  manager.Init(sdk);
  manager.Init(sdk);
  const std::string expected = ExpectedIdentifier();
  ASSERT_EQ(36u, expected.size()) << expected;
  EXPECT_EQ(expected, manager.GetT36());
  EXPECT_EQ(expected, manager.GetT36());

  const std::string log = LogText(work);
  EXPECT_EQ(1u, CountOf(log, "初始化 TesselSDK!")) << "a second Init does nothing";
  EXPECT_NE(std::string::npos, log.find("初始化 TesselSDK 成功！返回码: 0"));
  EXPECT_NE(std::string::npos, log.find("[TesselManager] TesselSDK LOG: tessel initialised: channel=daily "
                                        "version=1.0.0 parameters={\"guid\":\"yyh\"} flag=1"));
  EXPECT_NE(std::string::npos, log.find("异步获取 T36"));
  EXPECT_NE(std::string::npos, log.find("t36_str 为:" + expected + "\n"));
  EXPECT_EQ(std::string::npos, log.find("获取 T36 失败！"));

  // With the cache filled, the binding's asynchronous request answers at once on this thread.
  TesselBinding::Instance().GetT36Async(&Answer);
  EXPECT_EQ(1, g_answers.load());
  EXPECT_EQ(::GetCurrentThreadId(), g_answerThread.load());
  EXPECT_EQ(expected, g_answer);

  // The library's own asynchronous export answers later, on a thread of its own.
  const HMODULE module = ::GetModuleHandleW((sdk + L"\\tessel.dll").c_str());
  ASSERT_NE(nullptr, module);
  using AskFn = int(__cdecl*)(const char*, TesselIdCallback);
  const auto ask = reinterpret_cast<AskFn>(reinterpret_cast<void*>(::GetProcAddress(module, "c")));
  ASSERT_NE(nullptr, ask);
  ASSERT_EQ(0, ask(kAppKey, &Answer));
  for (int i = 0; i < 1000 && g_answers.load() < 2; ++i) ::Sleep(10);
  ASSERT_EQ(2, g_answers.load());
  EXPECT_NE(::GetCurrentThreadId(), g_answerThread.load());
  EXPECT_EQ(expected, g_answer);
}

TEST(Scenario, TesselCacheAndReload) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring sdk = SdkDirectory(work);
  ASSERT_TRUE(CopyBinaries(sdk, {{L"telemetry_long_id_tessel.dll", L"tessel.dll"}}));
  InitLog(work, L"tessel.log");
  ::SetEnvironmentVariableW(L"OKU_FAKE_TESSEL_EMPTY", L"1");

  // A library that is not a library (4); an init export that fails (6), tried again later.
  const std::wstring notALibrary = work + L"\\text";
  ::CreateDirectoryW(notALibrary.c_str(), nullptr);
  ASSERT_TRUE(oku::test::WriteFileBytes(notALibrary + L"\\tessel.dll", "not a library"));
  EXPECT_EQ(kTesselLoadFailed, InitBinding(notALibrary.c_str()));
  ::SetEnvironmentVariableW(L"OKU_FAKE_TESSEL_INIT_FAIL", L"1");
  EXPECT_EQ(kTesselInitFailed, InitBinding(sdk.c_str()));
  EXPECT_FALSE(TesselBinding::Instance().IsInitialized());
  ::SetEnvironmentVariableW(L"OKU_FAKE_TESSEL_INIT_FAIL", nullptr);

  TesselManager& manager = TesselManager::Instance();
  manager.Init(sdk);
  ASSERT_TRUE(TesselBinding::Instance().IsInitialized());
  const HMODULE module = ::GetModuleHandleW((sdk + L"\\tessel.dll").c_str());
  ASSERT_NE(nullptr, module);
  using CallsFn = int(__cdecl*)();
  const auto calls = reinterpret_cast<CallsFn>(reinterpret_cast<void*>(::GetProcAddress(module, "calls")));
  ASSERT_NE(nullptr, calls);

  // While the library has no identifier, every query asks it again.
  const int afterInit = calls();
  EXPECT_GE(afterInit, 1);
  EXPECT_EQ("", manager.GetT36());
  EXPECT_EQ("", manager.GetT36());
  EXPECT_EQ(afterInit + 2, calls());

  // An identifier that fills the whole 70-byte buffer is kept whole, and never asked for again.
  ::SetEnvironmentVariableW(L"OKU_FAKE_TESSEL_EMPTY", nullptr);
  std::string expected;
  for (int i = 0; i < 70; ++i) expected.push_back(static_cast<char>('a' + i % 26));
  EXPECT_EQ(expected, manager.GetT36());
  EXPECT_EQ(expected, manager.GetT36());
  EXPECT_EQ(afterInit + 3, calls());

  // Release unloads the library (its file can go) and keeps the identifier; Init loads it again.
  manager.Release();
  EXPECT_FALSE(TesselBinding::Instance().IsInitialized());
  EXPECT_EQ(nullptr, ::GetModuleHandleW((sdk + L"\\tessel.dll").c_str()));
  EXPECT_EQ(expected, manager.GetT36());
  manager.Init(sdk);
  EXPECT_TRUE(TesselBinding::Instance().IsInitialized());
  EXPECT_NE(nullptr, ::GetModuleHandleW((sdk + L"\\tessel.dll").c_str()));
  EXPECT_EQ(expected, manager.GetT36());
  EXPECT_EQ(2u, CountOf(LogText(work), "初始化 TesselSDK 成功！返回码: 0"));
}

TEST(TesselManagerTest, LoadStatusCodes) {
  ScratchDirectory work(L"tessel_status");
  EXPECT_EQ(0u, RunScenario("TesselStatusCodes", work.path()));
}

TEST(TesselManagerTest, IdentifierFromTheRealLibrary) {
  ScratchDirectory work(L"tessel_identifier");
  EXPECT_EQ(0u, RunScenario("TesselIdentifier", work.path()));
}

TEST(TesselManagerTest, CacheIsKeptWholeAndTheLibraryReloads) {
  ScratchDirectory work(L"tessel_cache");
  EXPECT_EQ(0u, RunScenario("TesselCacheAndReload", work.path()));
}

}  // namespace
