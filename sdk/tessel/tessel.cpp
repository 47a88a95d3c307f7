// tessel.dll: the machine's device identifier, a hash of HKLM\SOFTWARE\Microsoft\Cryptography
// MachineGuid. Exports are serialised by one lock; "c" answers on a thread that keeps the library
// loaded until it has called back.
#include "tessel.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kIdentifierLength = 36;

struct State {
  bool initialized = false;
  std::string appKey;
  std::string identifier;  // computed once
};

SRWLOCK g_lock = SRWLOCK_INIT;

State& GetState() {
  static State state;
  return state;
}

class ExclusiveLock {
 public:
  ExclusiveLock() { ::AcquireSRWLockExclusive(&g_lock); }
  ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&g_lock); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
};

bool Sha256(const std::string& data, unsigned char (&digest)[32]) {
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  bool ok = false;
  HCRYPTHASH hash = 0;
  if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    DWORD size = sizeof(digest);
    ok = ::CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) &&
         ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof(digest);
    ::CryptDestroyHash(hash);
  }
  ::CryptReleaseContext(provider, 0);
  return ok;
}

// 36 hex digits of SHA-256("tessel|" + MachineGuid); empty when the machine has no MachineGuid.
std::string ComputeIdentifier() {
  char guid[128] = {};
  DWORD size = sizeof(guid);
  if (::RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid, &size) != ERROR_SUCCESS ||
      guid[0] == '\0') {
    return std::string();
  }
  unsigned char digest[32];
  if (!Sha256(std::string("tessel|") + guid, digest)) return std::string();
  std::string id;
  char hex[3];
  for (std::size_t i = 0; i < kIdentifierLength / 2; ++i) {
    std::snprintf(hex, sizeof(hex), "%02x", digest[i]);
    id += hex;
  }
  return id;
}

// The identifier for an initialised caller with the same key; empty otherwise.
std::int32_t LookUp(const char* appKey, std::string* identifier) {
  ExclusiveLock lock;
  State& state = GetState();
  if (!state.initialized) return TESSEL_ERROR_NOT_INITIALIZED;
  if (!appKey || state.appKey != appKey) return TESSEL_ERROR_ARGUMENT;
  if (state.identifier.empty()) state.identifier = ComputeIdentifier();
  if (state.identifier.empty()) return TESSEL_ERROR_NO_IDENTIFIER;
  *identifier = state.identifier;
  return TESSEL_OK;
}

struct AsyncRequest {
  std::string appKey;
  TesselIdFn callback;
  HMODULE self;
};

DWORD WINAPI AnswerThread(void* parameter) {
  AsyncRequest* request = static_cast<AsyncRequest*>(parameter);
  const HMODULE self = request->self;
  std::string identifier;
  LookUp(request->appKey.c_str(), &identifier);
  request->callback(identifier.c_str());
  delete request;
  ::FreeLibraryAndExitThread(self, 0);
}

}  // namespace

extern "C" {

std::int32_t __cdecl a1(const char* appKey, TesselLogFn log, const char* channel, const char* parameters,
                        const char* version, bool flag) {
  if (!appKey || appKey[0] == '\0') return TESSEL_ERROR_ARGUMENT;
  std::string line;
  try {
    ExclusiveLock lock;
    State& state = GetState();
    if (state.initialized && state.appKey != appKey) return TESSEL_ERROR_ARGUMENT;
    state.appKey = appKey;
    state.initialized = true;
    line = std::string("tessel initialised: channel=") + (channel ? channel : "") +
           " version=" + (version ? version : "") + " parameters=" + (parameters ? parameters : "") +
           " flag=" + (flag ? "1" : "0");
  } catch (...) {
    return TESSEL_ERROR_ARGUMENT;
  }
  // Outside the lock: the callback may call back into the library.
  if (log) log(line.c_str());
  return TESSEL_OK;
}

std::int32_t __cdecl b(const char* appKey, char* buffer, std::int32_t size) {
  if (!buffer || size < static_cast<std::int32_t>(kIdentifierLength + 1)) return TESSEL_ERROR_BUFFER;
  try {
    std::string identifier;
    const std::int32_t result = LookUp(appKey, &identifier);
    if (result != TESSEL_OK) return result;
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    std::memcpy(buffer, identifier.data(), identifier.size());
    return TESSEL_OK;
  } catch (...) {
    return TESSEL_ERROR_NO_IDENTIFIER;
  }
}

std::int32_t __cdecl c(const char* appKey, TesselIdFn callback) {
  if (!appKey || !callback) return TESSEL_ERROR_ARGUMENT;
  {
    ExclusiveLock lock;
    if (!GetState().initialized) return TESSEL_ERROR_NOT_INITIALIZED;
  }
  HMODULE self = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&AnswerThread), &self)) {
    return TESSEL_ERROR_THREAD;
  }
  AsyncRequest* request = nullptr;
  try {
    request = new AsyncRequest{appKey, callback, self};
  } catch (...) {
    ::FreeLibrary(self);
    return TESSEL_ERROR_THREAD;
  }
  HANDLE thread = ::CreateThread(nullptr, 0, AnswerThread, request, 0, nullptr);
  if (!thread) {
    delete request;
    ::FreeLibrary(self);
    return TESSEL_ERROR_THREAD;
  }
  ::CloseHandle(thread);
  return TESSEL_OK;
}

}  // extern "C"
