// A tessel.dll stand-in whose "b" fills the whole 70-byte buffer with no terminator, or fails while
// OKU_FAKE_TESSEL_EMPTY is set; "calls" counts how often "b" was asked. "a1" fails while
// OKU_FAKE_TESSEL_INIT_FAIL is set.
#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {
volatile LONG g_calls = 0;
}

extern "C" {
std::int32_t __cdecl a1(const char*, void*, const char*, const char*, const char*, bool) {
  return ::GetEnvironmentVariableA("OKU_FAKE_TESSEL_INIT_FAIL", nullptr, 0) != 0 ? 2 : 0;
}

std::int32_t __cdecl b(const char*, char* buffer, std::int32_t size) {
  ::InterlockedIncrement(&g_calls);
  if (::GetEnvironmentVariableA("OKU_FAKE_TESSEL_EMPTY", nullptr, 0) != 0) return 4;
  if (!buffer || size <= 0) return 1;
  for (std::int32_t i = 0; i < size; ++i) buffer[i] = static_cast<char>('a' + i % 26);
  return 0;
}

std::int32_t __cdecl calls() { return static_cast<std::int32_t>(g_calls); }
}
