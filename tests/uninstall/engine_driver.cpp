// Test driver: runs one UninstallEngine in its own process, so that its message boxes can be
// answered from outside like a user does.
//   uninstall_engine_driver.exe --log <dir> [--lantern <dir>] [--force] [--unsilent-chrome]
//                               [--keep-user-data] [--silent-oku] [--setup-wait-ms <ms>]
// Exit code: the engine's result.
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/session_log.h"
#include "telemetry/event_reporter.h"
#include "uninstall/uninstall_engine.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring logDirectory, lantern;
  bool force = false, silentChrome = true, keepUserData = false, silentOku = false;
  DWORD setupWaitMs = UninstallEngine::kSetupWaitMs;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--log" && i + 1 < argc) logDirectory = argv[++i];
    else if (arg == L"--lantern" && i + 1 < argc) lantern = argv[++i];
    else if (arg == L"--force") force = true;
    else if (arg == L"--unsilent-chrome") silentChrome = false;
    else if (arg == L"--keep-user-data") keepUserData = true;
    else if (arg == L"--silent-oku") silentOku = true;
    else if (arg == L"--setup-wait-ms" && i + 1 < argc) setupWaitMs = std::wcstoul(argv[++i], nullptr, 10);
  }
  if (!logDirectory.empty()) InitLog(logDirectory, L"engine.log");
  // The engine runs with or without analytics, as in the uninstaller; the tests read the outbox.
  if (!lantern.empty()) (void)EventReporter::Instance().Init(lantern);
  int result = 0;
  {
    UninstallEngine engine(force, silentChrome, keepUserData, silentOku, setupWaitMs);
    result = engine.Run();
  }
  EventReporter::Instance().Uninit();
  CloseLogFile();
  return result;
}
