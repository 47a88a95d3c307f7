// A library that lacks exports: as lantern_sdk.dll it has no LN_GetLanternDeviceId, as tessel.dll
// no "a1". The tests copy it under both names to reach the missing-export paths.
#include <cstdint>

extern "C" {
std::int32_t __cdecl LN_InitSDK(const void*) { return 0; }
void __cdecl LN_UninitSDK() {}
std::int32_t __cdecl LN_Report(const char*, const void*, std::uint32_t, std::int32_t) { return 0; }
std::int32_t __cdecl LN_SetCommonParams(const void*, std::uint32_t) { return 0; }
std::int32_t __cdecl b(const char*, char*, std::int32_t) { return 1; }
}
