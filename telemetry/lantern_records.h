// The binary records handed to lantern_sdk.dll: one parameter, and the library's configuration.
#pragma once

#include <cstddef>
#include <cstdint>

// One parameter: key and value NUL-terminated UTF-8, cut to 255 and 4095 bytes on a character
// boundary.
struct LanternParam {
  char key[256];
  char value[4096];
};

// The configuration passed to LN_InitSDK; zeroed before it is filled.
struct LanternConfig {
  char appKey[256];           // "0APP7Q2MXR4DLZ8K"
  std::int32_t enabled;       // 1
  char osMajorVersion[128];   // same text as the common parameter "hardware_os"
  char appVersion[128];       // same text as "version"
  char sdkVersion[128];       // "1.0"
  std::int32_t debug;         // 0
  char dataDirectory[512];    // the Init directory + "\lantern", UTF-8
  std::int32_t persistent;    // 1
  std::int32_t flushIntervalMs;  // 1000
};

static_assert(sizeof(LanternParam) == 4352);
static_assert(offsetof(LanternParam, key) == 0);
static_assert(offsetof(LanternParam, value) == 256);
static_assert(sizeof(LanternConfig) == 1168);
static_assert(offsetof(LanternConfig, appKey) == 0);
static_assert(offsetof(LanternConfig, enabled) == 256);
static_assert(offsetof(LanternConfig, osMajorVersion) == 260);
static_assert(offsetof(LanternConfig, appVersion) == 388);
static_assert(offsetof(LanternConfig, sdkVersion) == 516);
static_assert(offsetof(LanternConfig, debug) == 644);
static_assert(offsetof(LanternConfig, dataDirectory) == 648);
static_assert(offsetof(LanternConfig, persistent) == 1160);
static_assert(offsetof(LanternConfig, flushIntervalMs) == 1164);
