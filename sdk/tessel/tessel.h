// Public interface of tessel.dll, our build of the maker's device-identifier library. The
// identifier (the "T36") is 36 lower-case hex digits derived from the machine's MachineGuid, the
// same in every run and for every user of the machine.
#pragma once

#include <cstdint>

extern "C" {

using TesselLogFn = void(__cdecl*)(const char* message);
using TesselIdFn = void(__cdecl*)(const char* identifier);

enum TesselResult : std::int32_t {
  TESSEL_OK = 0,
  TESSEL_ERROR_ARGUMENT = 1,
  TESSEL_ERROR_NOT_INITIALIZED = 2,
  TESSEL_ERROR_BUFFER = 3,
  TESSEL_ERROR_NO_IDENTIFIER = 4,
  TESSEL_ERROR_THREAD = 5,
};

// Init: application key, log callback (may be null), channel, parameters as a JSON object text
// (may be null), version, flag. Calls the log callback with one line.
std::int32_t __cdecl a1(const char* appKey, TesselLogFn log, const char* channel, const char* parameters,
                        const char* version, bool flag);
// Writes the identifier, NUL-terminated, into buffer (at least 37 bytes).
std::int32_t __cdecl b(const char* appKey, char* buffer, std::int32_t size);
// Answers later on a thread of its own: callback(identifier), or callback("") when there is none.
std::int32_t __cdecl c(const char* appKey, TesselIdFn callback);

}  // extern "C"
