// An analytics library with every export that sends nothing and has no device identifier
// (LN_GetLanternDeviceId answers null, or an empty text while OKU_FAKE_LANTERN_EMPTY_ID is set).
#include <windows.h>

#include <cstdint>

extern "C" {
std::int32_t __cdecl LN_InitSDK(const void*) { return 0; }
void __cdecl LN_UninitSDK() {}
std::int32_t __cdecl LN_Report(const char*, const void*, std::uint32_t, std::int32_t) { return 0; }
std::int32_t __cdecl LN_SetCommonParams(const void*, std::uint32_t) { return 0; }
const char* __cdecl LN_GetLanternDeviceId() {
  return ::GetEnvironmentVariableA("OKU_FAKE_LANTERN_EMPTY_ID", nullptr, 0) != 0 ? "" : nullptr;
}
}
