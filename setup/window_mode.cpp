#include "setup/window_mode.h"

#include "common/session_log.h"

void RunWindowMode(const WindowModeSettings& /*settings*/) {
  LogInfo(L"UI模式 - 窗口尚未包含在此版本中，退出码 0");
}
