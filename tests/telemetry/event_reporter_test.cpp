// The event reporter against the real lantern_sdk.dll and tessel.dll, copied into a scratch
// directory, with the library's outbox (LANTERN_OUTBOX) read back line by line. Every scenario
// runs in a child process of its own, because the reporter exists once per process.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/portable/text.h"
#include "common/session_log.h"
#include "common/version_info.h"
#include "telemetry/event_reporter.h"
#include "telemetry/tessel_manager.h"
#include "tests/support/test_support.h"
#include "tests/telemetry/scenario.h"

namespace {

using oku::test::ReadFileBytes;
using oku::test::ScratchDirectory;
using oku::test::WriteFileBytes;
using namespace oku::test::telemetry;

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string Utf8(const std::wstring& text) { return oku::Utf8FromWide(text); }

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Starts the session log of a scenario child in its work directory.
std::wstring StartLog(const std::wstring& work) {
  InitLog(work, L"reporter.log");
  return work + L"\\reporter.log";
}

std::string LogText(const std::wstring& work) { return ReadFileBytes(work + L"\\reporter.log"); }

// The common parameters every event carries, in key order (read once, after Init).
const Pairs& ExpectedCommon() {
  static const Pairs common = {{"hardware_os", std::to_string(static_cast<std::int32_t>(GetWindowsMajorVersion()))},
          {"is_setup", "true"},
          {"launch_channel", "default"},
          {"platform", "win"},
          {"t36", TesselManager::Instance().GetT36()},
          {"version", GetExeVersion()}};
  return common;
}

// Checks what every line carries whatever the event: the event code, "action" first, parameters
// after it in byte-wise key order, and the common table.
void ExpectWellFormed(const OutboxLine& line, const std::string& action) {
  ASSERT_TRUE(line.valid) << line.raw;
  const auto* event = line.value.Get("event");
  ASSERT_NE(nullptr, event);
  EXPECT_EQ("OKU_COMPASS_KEY_EVENT", event->text);
  EXPECT_EQ("0", line.value.Get("flags")->text);
  EXPECT_EQ("0APP7Q2MXR4DLZ8K", line.value.Get("app_key")->text);
  ASSERT_FALSE(line.records.empty());
  EXPECT_EQ("action", line.records[0].first);
  EXPECT_EQ(action, line.records[0].second);
  for (std::size_t i = 2; i < line.records.size(); ++i) {
    EXPECT_LT(line.records[i - 1].first, line.records[i].first) << line.raw;
  }
  EXPECT_EQ(ExpectedCommon(), line.common);
}

std::vector<std::string> Actions(const std::vector<OutboxLine>& lines) {
  std::vector<std::string> actions;
  for (const auto& line : lines) actions.push_back(line.Action());
  return actions;
}

// ---------------------------------------------------------------------------------------------
// Scenarios (children)

TEST(Scenario, QueuedThenFlushed) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  GenerateSessionId();
  const std::string sessionId = GetSessionIdUtf8();
  ASSERT_FALSE(sessionId.empty());

  EventReporter& reporter = EventReporter::Instance();
  reporter.SetStartTime(::GetTickCount() - 1000);
  reporter.SetInstallMode(true);
  reporter.Report("first", {{"k", "1"}});
  reporter.Report("second", {{"install_mode", "own"}, {"b", "2"}});
  ReportInstallerStarted(true, false, true, "10.0.19045");
  EXPECT_FALSE(reporter.IsInitialized());
  EXPECT_TRUE(ReadOutbox(OutboxPath(work)).empty());

  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  EXPECT_TRUE(reporter.IsInitialized());
  EXPECT_EQ(3u, ReadOutbox(OutboxPath(work)).size()) << "the queue is flushed by Init";
  reporter.Report("third", {});
  reporter.Report("fourth", {{"install_mode", "kept"}});
  reporter.Uninit();
  EXPECT_FALSE(reporter.IsInitialized());

  const auto lines = ReadOutbox(OutboxPath(work));
  ASSERT_EQ(5u, lines.size());
  struct Expected {
    const char* action;
    const char* installMode;  // null: absent
  };
  const Expected expected[] = {{"first", nullptr},
                               {"second", "own"},
                               {"setup_installer_started", "silent"},
                               {"third", "quiet"},
                               {"fourth", "kept"}};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(expected[i].action);
    ExpectWellFormed(lines[i], expected[i].action);
    EXPECT_EQ(sessionId, lines[i].Param("session_id"));
    const std::string elapsed = lines[i].Param("elapsed_time_ms");
    ASSERT_TRUE(AllDigits(elapsed)) << elapsed;
    EXPECT_GE(std::stoul(elapsed), 1000u);
    bool hasMode = false;
    const std::string mode = lines[i].Param("install_mode", &hasMode);
    EXPECT_EQ(expected[i].installMode != nullptr, hasMode);
    if (expected[i].installMode) {
      EXPECT_EQ(expected[i].installMode, mode);
    }
  }
  EXPECT_EQ("1", lines[0].Param("k"));
  EXPECT_EQ("false", lines[2].Param("is_update"));
  EXPECT_EQ("true", lines[2].Param("has_custom_path"));
  EXPECT_EQ("10.0.19045", lines[2].Param("os_version"));

  // The device identifier reached the common parameters.
  const std::string t36 = TesselManager::Instance().GetT36();
  EXPECT_EQ(36u, t36.size());
  EXPECT_EQ(t36, lines[0].common[4].second);

  // The configuration record reached the library: it keeps it in its data directory.
  oku::test::json::Value state;
  const std::string stateText = ReadFileBytes(SdkDirectory(work) + L"\\lantern\\lantern_state.json");
  ASSERT_TRUE(oku::test::json::Parse(stateText, &state)) << stateText;
  EXPECT_EQ("0APP7Q2MXR4DLZ8K", state.Get("app_key")->text);
  EXPECT_EQ(ExpectedCommon()[0].second, state.Get("os_major_version")->text);
  EXPECT_EQ(GetExeVersion(), state.Get("app_version")->text);
  EXPECT_EQ("1.0", state.Get("sdk_version")->text);
  EXPECT_EQ("1", state.Get("enabled")->text);
  EXPECT_EQ("0", state.Get("debug")->text);
  EXPECT_EQ("1", state.Get("persistent")->text);
  EXPECT_EQ("1000", state.Get("flush_interval_ms")->text);
  EXPECT_EQ("5", state.Get("events_written")->text);

  const std::string log = LogText(work);
  for (const std::string& piece : {
           std::string("[启动时间] 程序启动时间已记录: "), std::string("[安装模式] quiet"),
           std::string("ms] first (待 Lantern 初始化后发送)"), std::string("ms] setup_installer_started (待 Lantern 初始化后发送)"),
           std::string("开始初始化 Lantern SDK!"), "dll 路径：" + Utf8(SdkDirectory(work)) + "\\lantern_sdk.dll",
           std::string("初始化 Lantern SDK 成功!"), std::string("初始化 Lantern 配置成功!"),
           "获取到 tessel: " + t36, std::string("t36 = ") + t36, std::string("device id: ln-"),
           std::string("初始化 Lantern 公共参数成功!"), std::string("初始化成功!"),
           std::string(" 共 3 个延迟事件"), std::string("  [上报 1/3 | +"), std::string("  [上报 3/3 | +"),
           std::string("    ✓ 完成 | API耗时: "), std::string("已发送 3/3 个事件 | 批量耗时: "),
           std::string("ms] third\n"), std::string("[上报完成 | +"), std::string("\n    action = fourth"),
           std::string("\n    install_mode = kept")}) {
    EXPECT_NE(std::string::npos, log.find(piece)) << piece;
  }
  EXPECT_EQ(3u, CountOf(log, "(待 Lantern 初始化后发送)"));
  // Queued events are sent by the batch, not by the single-event path.
  EXPECT_EQ(2u, CountOf(log, "[上报完成 | +"));
}

TEST(Scenario, ReporterFillsAndScopes) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  GenerateSessionId();
  EventReporter& reporter = EventReporter::Instance();
  reporter.SetStartTime(::GetTickCount() - 50);
  reporter.SetInstallMode(false);
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));

  reporter.Report("setup_ui_click_close",
                  {{"action", "close"}, {"session_id", "caller"}, {"elapsed_time_ms", "999999999"}});
  {
    EventScope scope("s_ok_start", "s_ok_completed", "s_ok_failed", {{"target_dir", "C:\\t"}});
    scope.Params()["failed_count"] = "0";
  }
  {
    EventScope scope("s_fail_start", "s_fail_completed", "s_fail_failed", {});
    scope.SetFailure(1004, "move_failed");
    scope.Finish();
    scope.Finish();
  }
  {
    EventScope scope("s_nf_start", "s_nf_completed", nullptr, {});
    scope.SetError("copy_failed");
  }
  ReportInstallerFailed("permission_denied", {{"reason", "overridden"}, {"is_admin", "true"}});
  ReportEnvironmentCheck("oku_process", "blocked", {{"action", "killed"}});
  ReportInstallationStarted(L"C:\\Users\\测试\\Oku", true, false, true);
  ReportLanternInitialized(1234, L"LocalAppData");
  ReportInstallerBlocked("already_running");
  reporter.Uninit();

  const auto lines = ReadOutbox(OutboxPath(work));
  const std::vector<std::string> expectedActions = {
      "setup_ui_click_close", "s_ok_start", "s_ok_completed", "s_fail_start", "s_fail_failed", "s_nf_start",
      "setup_installer_failed", "setup_environment_check", "setup_installation_started",
      "setup_lantern_initialized", "setup_installer_blocked"};
  ASSERT_EQ(expectedActions, Actions(lines));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(expectedActions[i]);
    ExpectWellFormed(lines[i], expectedActions[i]);
    EXPECT_EQ(GetSessionIdUtf8(), lines[i].Param("session_id"));
    EXPECT_TRUE(AllDigits(lines[i].Param("elapsed_time_ms")));
    EXPECT_NE("999999999", lines[i].Param("elapsed_time_ms"));
  }
  const std::map<std::string, std::map<std::string, std::string>> params = {
      {"setup_ui_click_close", {{"action", "close"}, {"install_mode", "ui"}}},
      {"s_ok_completed", {{"target_dir", "C:\\t"}, {"failed_count", "0"}}},
      {"s_fail_failed", {{"error_code", "1004"}, {"error", "move_failed"}}},
      {"setup_installer_failed", {{"reason", "overridden"}, {"is_admin", "true"}}},
      {"setup_environment_check", {{"check_type", "oku_process"}, {"result", "blocked"}, {"action", "killed"}}},
      {"setup_installation_started",
       {{"install_path", "C:\\Users\\测试\\Oku"}, {"auto_launch", "true"}, {"is_override", "false"}, {"use_admin_mode", "true"}}},
      {"setup_lantern_initialized", {{"init_time_ms", "1234"}, {"temp_dir_strategy", "LocalAppData"}}},
      {"setup_installer_blocked", {{"reason", "already_running"}}},
  };
  for (const auto& line : lines) {
    const auto expected = params.find(line.Action());
    if (expected == params.end()) continue;
    for (const auto& [key, value] : expected->second) EXPECT_EQ(value, line.Param(key)) << line.Action() << " " << key;
  }
  // A click event carries "action" twice: the event name first, the caller's value later.
  std::size_t actions = 0;
  for (const auto& record : lines[0].records) actions += record.first == "action";
  EXPECT_EQ(2u, actions);
}

TEST(Scenario, UninstallerShape) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  reporter.Report("uninstall_started", {{"force_kill", "false"}});
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  reporter.Report("uninstall_completed", {{"result_code", "0"}});
  reporter.Uninit();

  const auto lines = ReadOutbox(OutboxPath(work));
  ASSERT_EQ((std::vector<std::string>{"uninstall_started", "uninstall_completed"}), Actions(lines));
  for (const auto& line : lines) {
    ExpectWellFormed(line, line.Action());
    EXPECT_FALSE(line.Has("session_id"));
    EXPECT_FALSE(line.Has("elapsed_time_ms"));
  }
  EXPECT_FALSE(lines[0].Has("install_mode"));
  EXPECT_EQ("unknown", lines[1].Param("install_mode"));
  EXPECT_NE(std::string::npos, LogText(work).find("[延迟上报 | +0ms] uninstall_started"));
}

TEST(Scenario, CutsOnCharacterBoundaries) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));

  struct Case {
    std::string key;
    std::string value;
    std::size_t keyBytes;    // expected length after the cut
    std::size_t valueBytes;
  };
  const std::vector<Case> cases = {
      {std::string(300, 'k'), "v", 255, 1},
      {std::string(255, 'x'), std::string(4095, 'y'), 255, 4095},
      {"long_value", std::string(5000, 'v'), 10, 4095},
      {Repeat("é", 150), "two-byte key", 254, 12},
      {"three_byte", Repeat("中", 1700), 10, 4095},
      {"four_byte", Repeat("😀", 1250), 9, 4092},
      {"shifted", "a" + Repeat("中", 1365), 7, 4093},
      {"a" + Repeat("😀", 64), "four-byte key", 253, 13},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    reporter.Report("cut_" + std::to_string(i), {{cases[i].key, cases[i].value}});
  }
  reporter.Report("", {{"k", "v"}});
  reporter.Uninit();

  const auto lines = ReadOutbox(OutboxPath(work));
  ASSERT_EQ(cases.size() + 1, lines.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    ExpectWellFormed(lines[i], "cut_" + std::to_string(i));
    const std::string key = cases[i].key.substr(0, cases[i].keyBytes);
    bool found = false;
    const std::string value = lines[i].Param(key, &found);
    ASSERT_TRUE(found);
    EXPECT_EQ(cases[i].value.substr(0, cases[i].valueBytes), value);
  }
  // An empty event name is still sent.
  ExpectWellFormed(lines.back(), "");
  EXPECT_EQ("v", lines.back().Param("k"));

  // ... but without its completion line.
  const std::string log = LogText(work);
  EXPECT_EQ(cases.size() + 1, CountOf(log, "[上报开始 | +"));
  EXPECT_EQ(cases.size(), CountOf(log, "[上报完成 | +"));
}

TEST(Scenario, InitTwiceAndUninitBeforeInit) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  const std::size_t logBefore = LogText(work).size();
  reporter.Uninit();
  EXPECT_FALSE(reporter.IsInitialized());
  EXPECT_EQ(logBefore, LogText(work).size()) << "Uninit before Init does nothing";

  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  reporter.Report("after_init", {});
  reporter.Uninit();
  EXPECT_FALSE(reporter.IsInitialized());
  reporter.Report("after_uninit", {});
  reporter.Uninit();

  const std::string log = LogText(work);
  EXPECT_EQ(1u, CountOf(log, "开始初始化 Lantern SDK!"));
  EXPECT_EQ(1u, CountOf(log, "初始化 TesselSDK!"));
  EXPECT_EQ(1u, CountOf(log, "初始化成功!"));
  EXPECT_NE(std::string::npos, log.find("ms] after_uninit (待 Lantern 初始化后发送)"));
  EXPECT_EQ(std::vector<std::string>{"after_init"}, Actions(ReadOutbox(OutboxPath(work))));
}

TEST(Scenario, MissingLibraryThenRetry) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring empty = work + L"\\empty";
  ::CreateDirectoryW(empty.c_str(), nullptr);
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  reporter.Report("queued_early", {});
  EXPECT_FALSE(reporter.Init(empty));
  EXPECT_FALSE(reporter.IsInitialized());
  EXPECT_NE(std::string::npos, LogText(work).find("加载 SDK 失败! dll 路径：" + Utf8(empty) + "\\lantern_sdk.dll"));
  reporter.Report("queued_late", {});
  EXPECT_TRUE(ReadOutbox(OutboxPath(work)).empty());

  // Init may be repeated after a failure.
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  reporter.Uninit();
  EXPECT_EQ((std::vector<std::string>{"queued_early", "queued_late"}), Actions(ReadOutbox(OutboxPath(work))));
  EXPECT_NE(std::string::npos, LogText(work).find("已发送 2/2 个事件"));
}

// Without tessel.dll beside the analytics library the reporter still works; the identifier
// parameter is there, empty.
TEST(Scenario, NoDeviceIdentifierLibrary) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyBinaries(SdkDirectory(work), {{L"lantern_sdk.dll", L"lantern_sdk.dll"}}));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  reporter.Report("without_t36", {});
  reporter.Uninit();
  const auto lines = ReadOutbox(OutboxPath(work));
  ASSERT_EQ(1u, lines.size());
  bool found = false;
  for (const auto& [key, value] : lines[0].common) {
    if (key != "t36") continue;
    found = true;
    EXPECT_EQ("", value);
  }
  EXPECT_TRUE(found) << lines[0].raw;
  const std::string log = LogText(work);
  EXPECT_NE(std::string::npos, log.find("初始化 TesselSDK 失败！返回码: 3"));
  EXPECT_NE(std::string::npos, log.find("获取到 tessel: \n"));
}

// A library that has no device identifier (null, then empty): Init still succeeds and says so.
TEST(Scenario, NoDeviceIdentifier) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyBinaries(SdkDirectory(work), {{L"telemetry_no_device_id_sdk.dll", L"lantern_sdk.dll"}}));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  reporter.Uninit();
  ::SetEnvironmentVariableW(L"OKU_FAKE_LANTERN_EMPTY_ID", L"1");
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  reporter.Uninit();
  const std::string log = LogText(work);
  EXPECT_EQ(2u, CountOf(log, "[WARNING] 获取 device id 失败或为空"));
  EXPECT_EQ(std::string::npos, log.find("device id: "));
}

TEST(Scenario, MissingExport) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring broken = work + L"\\broken";
  ASSERT_TRUE(CopyBrokenSdk(broken));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  EXPECT_FALSE(reporter.Init(broken));
  EXPECT_FALSE(reporter.IsInitialized());
  reporter.Report("never_sent", {});
  const std::string log = LogText(work);
  EXPECT_NE(std::string::npos, log.find("获取 Lantern SDK 函数指针失败!"));
  EXPECT_EQ(std::string::npos, log.find("初始化 Lantern SDK 成功!"));
  EXPECT_NE(std::string::npos, log.find("ms] never_sent (待 Lantern 初始化后发送)"));
  EXPECT_TRUE(ReadOutbox(OutboxPath(work)).empty());
}

TEST(Scenario, UncreatableDataDirectory) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring sdk = SdkDirectory(work);
  ASSERT_TRUE(CopyRealSdk(sdk));
  ASSERT_TRUE(WriteFileBytes(sdk + L"\\lantern", "a file where the data directory belongs"));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  reporter.Report("waiting", {});
  EXPECT_FALSE(reporter.Init(sdk));
  EXPECT_FALSE(reporter.IsInitialized());
  EXPECT_NE(std::string::npos, LogText(work).find("创建文件夹失败!" + Utf8(sdk) + "\\lantern\n"));
  EXPECT_EQ(0u, ReadFileBytes(OutboxPath(work)).size()) << "LN_InitSDK is not called";

  ASSERT_TRUE(::DeleteFileW((sdk + L"\\lantern").c_str()));
  ASSERT_TRUE(reporter.Init(sdk));
  reporter.Uninit();
  EXPECT_EQ(std::vector<std::string>{"waiting"}, Actions(ReadOutbox(OutboxPath(work))));
  EXPECT_FALSE(ReadFileBytes(sdk + L"\\lantern\\lantern_state.json").empty());
}

// A data directory whose UTF-8 form does not fit the configuration record is refused rather
// than cut (a cut path would name another directory).
TEST(Scenario, DataDirectoryTooLongForTheRecord) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring part(90, L'\x4E2D');  // 90 three-byte characters per level
  const std::wstring sdk = work + L"\\" + part + L"\\" + part;
  ::CreateDirectoryW((work + L"\\" + part).c_str(), nullptr);
  ASSERT_TRUE(CopyRealSdk(sdk));
  ASSERT_GT(oku::Utf8FromWide(sdk + L"\\lantern").size(), 511u);
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  EXPECT_FALSE(reporter.Init(sdk));
  EXPECT_FALSE(reporter.IsInitialized());
  EXPECT_NE(std::string::npos, LogText(work).find("[WARNING] Lantern 数据目录路径过长: " + Utf8(sdk) + "\\lantern"));
  EXPECT_EQ(std::string::npos, LogText(work).find("初始化 Lantern 配置成功!"));
  EXPECT_TRUE(ReadOutbox(OutboxPath(work)).empty());
}

// An Init that fails after the library was loaded leaves neither library loaded, so the
// directory holding them can be deleted; a later Init from another directory still works.
TEST(Scenario, FailedConfigUnloadsTheLibrary) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  StartLog(work);
  const std::wstring deep(90, L'\x4E2D');  // three UTF-8 bytes each: two levels exceed the record
  struct Case {
    const char* label;
    std::wstring directory;
    bool dataDirectoryIsFile;
    const char* logLine;
  } cases[] = {
      {"data directory is a file", work + L"\\blocked", true, "创建文件夹失败!"},
      {"data directory too long", work + L"\\" + deep + L"\\" + deep, false, "Lantern 数据目录路径过长: "},
  };
  ::CreateDirectoryW((work + L"\\" + deep).c_str(), nullptr);
  EventReporter& reporter = EventReporter::Instance();
  reporter.Report("waiting", {});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(CopyRealSdk(c.directory));
    if (c.dataDirectoryIsFile) {
      ASSERT_TRUE(WriteFileBytes(c.directory + L"\\lantern", "not a directory"));
    }
    const std::size_t logBefore = LogText(work).size();
    EXPECT_FALSE(reporter.Init(c.directory));
    EXPECT_FALSE(reporter.IsInitialized());
    const std::string log = LogText(work).substr(logBefore);
    EXPECT_NE(std::string::npos, log.find("初始化 Lantern SDK 成功!")) << "the library was loaded";
    EXPECT_NE(std::string::npos, log.find(c.logLine));
    EXPECT_NE(std::string::npos, log.find("初始化失败，卸载 Lantern SDK!"));

    for (const wchar_t* dll : {L"lantern_sdk.dll", L"tessel.dll"}) {
      const std::wstring path = c.directory + L"\\" + dll;
      EXPECT_EQ(nullptr, ::GetModuleHandleW(path.c_str())) << Utf8(path);
      EXPECT_TRUE(::DeleteFileW(path.c_str())) << Utf8(path) << " error " << ::GetLastError();
    }
    // What is left is the data directory (or the file in its place), not held by anything.
    const std::wstring data = c.directory + L"\\lantern";
    EXPECT_TRUE(c.dataDirectoryIsFile ? ::DeleteFileW(data.c_str()) : ::RemoveDirectoryW(data.c_str()));
    EXPECT_TRUE(::RemoveDirectoryW(c.directory.c_str())) << "error " << ::GetLastError();
  }
  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"lantern_sdk.dll"));
  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"tessel.dll"));

  // Nothing was sent, and a later Init loads the library afresh and flushes the queue.
  EXPECT_TRUE(ReadOutbox(OutboxPath(work)).empty());
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  reporter.Uninit();
  EXPECT_EQ(std::vector<std::string>{"waiting"}, Actions(ReadOutbox(OutboxPath(work))));
}

// A value that needs every kind of escaping, different per thread and event.
std::string TrickyValue(int thread, int n) {
  return "thread " + std::to_string(thread) + " #" + std::to_string(n) + " \"quoted\" back\\slash\nline\ttab\x01 中文 😀 " +
         std::string(static_cast<std::size_t>(1500 + n), static_cast<char>('a' + thread));
}

TEST(Scenario, TwoThreadsReport) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  constexpr int kEvents = 250;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int n = 0; n < kEvents; ++n) {
        reporter.Report("thread_" + std::to_string(t), {{"n", std::to_string(n)}, {"text", TrickyValue(t, n)}});
      }
    });
  }
  go.store(true);
  for (auto& thread : threads) thread.join();
  reporter.Uninit();

  const auto lines = ReadOutbox(OutboxPath(work));
  ASSERT_EQ(2u * kEvents, lines.size());
  int next[2] = {0, 0};
  for (const auto& line : lines) {
    ASSERT_TRUE(line.valid) << line.raw.substr(0, 200);
    const int t = line.Action() == "thread_1" ? 1 : 0;
    ASSERT_EQ("thread_" + std::to_string(t), line.Action());
    EXPECT_EQ(std::to_string(next[t]), line.Param("n"));
    EXPECT_EQ(TrickyValue(t, next[t]), line.Param("text"));
    ++next[t];
  }
  EXPECT_EQ(kEvents, next[0]);
  EXPECT_EQ(kEvents, next[1]);
}

// Uninit while another thread keeps reporting: every event before it arrives whole and in order,
// none after it, and the library is unloaded so its file can be deleted.
TEST(Scenario, UninitWhileAnotherThreadReports) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  std::atomic<int> sent{0};
  std::atomic<bool> stop{false};
  std::thread reporterThread([&] {
    for (int n = 0; !stop.load(); ++n) {
      reporter.Report("racing", {{"n", std::to_string(n)}});
      sent.store(n + 1);
    }
  });
  while (sent.load() < 50) ::Sleep(1);
  reporter.Uninit();
  const int atUninit = sent.load();
  while (sent.load() < atUninit + 50) ::Sleep(1);
  stop.store(true);
  reporterThread.join();

  EXPECT_FALSE(reporter.IsInitialized());
  const std::wstring library = SdkDirectory(work) + L"\\lantern_sdk.dll";
  EXPECT_EQ(nullptr, ::GetModuleHandleW(library.c_str()));
  EXPECT_TRUE(::DeleteFileW(library.c_str())) << ::GetLastError();
  const auto lines = ReadOutbox(OutboxPath(work));
  ASSERT_GE(lines.size(), 50u);
  EXPECT_LE(lines.size(), static_cast<std::size_t>(atUninit) + 1);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_TRUE(lines[i].valid) << lines[i].raw.substr(0, 200);
    EXPECT_EQ("racing", lines[i].Action());
    EXPECT_EQ(std::to_string(i), lines[i].Param("n"));
  }
}

TEST(Scenario, ProcessReports) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  const std::wstring sdk = work + L"\\sdk_" + std::to_wstring(::GetCurrentProcessId());
  ASSERT_TRUE(CopyRealSdk(sdk));
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(sdk));
  for (int n = 0; n < 150; ++n) {
    reporter.Report("process_event", {{"n", std::to_string(n)}, {"text", TrickyValue(2, n)}});
  }
  reporter.Uninit();
}

TEST(Scenario, ExitWhileReporting) {
  OKU_SCENARIO_ONLY();
  const std::wstring work = WorkDirectory();
  ASSERT_TRUE(CopyRealSdk(SdkDirectory(work)));
  StartLog(work);
  EventReporter& reporter = EventReporter::Instance();
  ASSERT_TRUE(reporter.Init(SdkDirectory(work)));
  static std::atomic<int> sent{0};
  // Keeps reporting while the reporter is shut down, as the programs end, and while the process
  // runs its exit handlers.
  std::thread([&reporter] {
    for (int n = 0;; ++n) {
      reporter.Report("late", {{"n", std::to_string(n)}});
      sent.store(n + 1);
    }
  }).detach();
  while (sent.load() < 20) ::Sleep(5);
  EventReporter::Shutdown();
}

// ---------------------------------------------------------------------------------------------
// The tests (parents)

TEST(EventReporterTest, QueuedEventsArriveInOrderAfterInit) {
  ScratchDirectory work(L"reporter_queued");
  EXPECT_EQ(0u, RunScenario("QueuedThenFlushed", work.path()));
}

TEST(EventReporterTest, ReporterValuesScopesAndEventFunctions) {
  ScratchDirectory work(L"reporter_fills");
  EXPECT_EQ(0u, RunScenario("ReporterFillsAndScopes", work.path()));
}

TEST(EventReporterTest, UninstallerEventsCarryNoSessionOrElapsedTime) {
  ScratchDirectory work(L"reporter_uninstaller");
  EXPECT_EQ(0u, RunScenario("UninstallerShape", work.path()));
}

TEST(EventReporterTest, KeysAndValuesAreCutOnCharacterBoundaries) {
  ScratchDirectory work(L"reporter_cut");
  EXPECT_EQ(0u, RunScenario("CutsOnCharacterBoundaries", work.path()));
}

TEST(EventReporterTest, InitTwiceUninitBeforeInitReportAfterUninit) {
  ScratchDirectory work(L"reporter_lifecycle");
  EXPECT_EQ(0u, RunScenario("InitTwiceAndUninitBeforeInit", work.path()));
  // The event queued after Uninit was discarded at exit, never sent.
  EXPECT_EQ(std::vector<std::string>{"after_init"}, Actions(ReadOutbox(OutboxPath(work.path()))));
}

TEST(EventReporterTest, MissingLibraryLeavesEventsQueuedUntilARetrySucceeds) {
  ScratchDirectory work(L"reporter_missing");
  EXPECT_EQ(0u, RunScenario("MissingLibraryThenRetry", work.path()));
}

TEST(EventReporterTest, MissingDeviceIdentifierLibraryLeavesT36Empty) {
  ScratchDirectory work(L"reporter_no_tessel");
  EXPECT_EQ(0u, RunScenario("NoDeviceIdentifierLibrary", work.path()));
}

TEST(EventReporterTest, MissingDeviceIdentifierIsAWarning) {
  ScratchDirectory work(L"reporter_no_device_id");
  EXPECT_EQ(0u, RunScenario("NoDeviceIdentifier", work.path()));
}

TEST(EventReporterTest, MissingExportSendsNothing) {
  ScratchDirectory work(L"reporter_export");
  EXPECT_EQ(0u, RunScenario("MissingExport", work.path()));
  EXPECT_TRUE(ReadOutbox(OutboxPath(work.path())).empty());
}

TEST(EventReporterTest, UncreatableDataDirectoryFailsInit) {
  ScratchDirectory work(L"reporter_datadir");
  EXPECT_EQ(0u, RunScenario("UncreatableDataDirectory", work.path()));
}

TEST(EventReporterTest, DataDirectoryTooLongIsRefused) {
  ScratchDirectory work(L"reporter_longdir");
  EXPECT_EQ(0u, RunScenario("DataDirectoryTooLongForTheRecord", work.path()));
}

TEST(EventReporterTest, FailedConfigUnloadsTheLibraryAndFreesItsDirectory) {
  ScratchDirectory work(L"reporter_unload");
  EXPECT_EQ(0u, RunScenario("FailedConfigUnloadsTheLibrary", work.path()));
}

TEST(EventReporterTest, TwoThreadsWriteWholeLines) {
  ScratchDirectory work(L"reporter_threads");
  EXPECT_EQ(0u, RunScenario("TwoThreadsReport", work.path()));
}

TEST(EventReporterTest, TwoProcessesAppendToOneOutbox) {
  ScratchDirectory work(L"reporter_processes");
  const PROCESS_INFORMATION first = StartScenario("ProcessReports", work.path());
  const PROCESS_INFORMATION second = StartScenario("ProcessReports", work.path());
  EXPECT_EQ(0u, FinishScenario(first));
  EXPECT_EQ(0u, FinishScenario(second));
  const auto lines = ReadOutbox(OutboxPath(work.path()));
  ASSERT_EQ(300u, lines.size());
  std::map<std::string, int> next;  // per process id
  for (const auto& line : lines) {
    ASSERT_TRUE(line.valid) << line.raw.substr(0, 200);
    int& n = next[line.value.Get("pid")->text];
    EXPECT_EQ(std::to_string(n), line.Param("n"));
    EXPECT_EQ(TrickyValue(2, n), line.Param("text"));
    ++n;
  }
  EXPECT_EQ(2u, next.size());
}

TEST(EventReporterTest, UninitWhileAnotherThreadReports) {
  ScratchDirectory work(L"reporter_uninit_race");
  EXPECT_EQ(0u, RunScenario("UninitWhileAnotherThreadReports", work.path()));
}

TEST(EventReporterTest, ProcessExitWhileAnotherThreadReports) {
  ScratchDirectory work(L"reporter_exit");
  EXPECT_EQ(0u, RunScenario("ExitWhileReporting", work.path()));
  const auto lines = ReadOutbox(OutboxPath(work.path()));
  ASSERT_GE(lines.size(), 20u);
  for (const auto& line : lines) {
    EXPECT_TRUE(line.valid) << line.raw.substr(0, 200);
    EXPECT_EQ("late", line.Action());
  }
  // The library was closed by the reporter's shutdown: its state file says so.
  EXPECT_NE(std::string::npos,
            ReadFileBytes(SdkDirectory(work.path()) + L"\\lantern\\lantern_state.json").find("\"phase\":\"uninitialized\""));
}

}  // namespace
