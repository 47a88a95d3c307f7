#include "setup/startup.h"

#include "common/session_log.h"

int RunStartupSequence(const InstallOptions& /*options*/, DWORD /*startTick*/, HINSTANCE /*instance*/) {
  LogInfo(L"Startup sequence not available in this build; exiting with 0");
  return 0;
}
