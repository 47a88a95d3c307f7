// Public interface of lantern_sdk.dll, our build of the maker's analytics library: the records
// it receives and its five exports. Every event is written as one JSON line to a per-user outbox
// (README.md describes the format and where the file lives).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// One parameter: NUL-terminated UTF-8 key and value.
struct LanternParam {
  char key[256];
  char value[4096];
};

// The configuration handed to LN_InitSDK. Texts are NUL-terminated UTF-8.
struct LanternConfig {
  char appKey[256];
  std::int32_t enabled;          // 1: events are recorded
  char osMajorVersion[128];
  char appVersion[128];
  char sdkVersion[128];
  std::int32_t debug;            // non-zero: extra diagnostics in the state file
  char dataDirectory[512];       // the library's own state; created when missing
  std::int32_t persistent;       // 1: events are written to the outbox
  std::int32_t flushIntervalMs;  // kept in the state file; every event is flushed at once anyway
};

// Results of the exports that return one.
enum LanternResult : std::int32_t {
  LN_OK = 0,
  LN_ERROR_ARGUMENT = 1,
  LN_ERROR_NOT_INITIALIZED = 2,
  LN_ERROR_IO = 3,
};

std::int32_t __cdecl LN_InitSDK(const LanternConfig* config);
void __cdecl LN_UninitSDK();
std::int32_t __cdecl LN_Report(const char* eventCode, const LanternParam* params, std::uint32_t count, std::int32_t flags);
std::int32_t __cdecl LN_SetCommonParams(const LanternParam* params, std::uint32_t count);
// The per-user device identifier ("ln-" and 32 hex digits); null before LN_InitSDK.
const char* __cdecl LN_GetLanternDeviceId();

}  // extern "C"

static_assert(sizeof(LanternParam) == 4352);
static_assert(offsetof(LanternParam, value) == 256);
static_assert(sizeof(LanternConfig) == 1168);
static_assert(offsetof(LanternConfig, enabled) == 256);
static_assert(offsetof(LanternConfig, osMajorVersion) == 260);
static_assert(offsetof(LanternConfig, appVersion) == 388);
static_assert(offsetof(LanternConfig, sdkVersion) == 516);
static_assert(offsetof(LanternConfig, debug) == 644);
static_assert(offsetof(LanternConfig, dataDirectory) == 648);
static_assert(offsetof(LanternConfig, persistent) == 1160);
static_assert(offsetof(LanternConfig, flushIntervalMs) == 1164);
