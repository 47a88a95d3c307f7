// lantern_sdk.dll: records each reported event as one UTF-8 JSON line in a per-user outbox.
// All exports are serialised by one lock; each line is appended under a byte-range lock of the
// outbox too, so several processes can append to the same file without interleaving.
#include "lantern_sdk.h"

#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kOutboxVariable[] = L"LANTERN_OUTBOX";
constexpr wchar_t kOutboxRelative[] = L"\\Velmora\\Lantern\\outbox.jsonl";
constexpr wchar_t kStateFileName[] = L"\\lantern_state.json";
// A byte far beyond any real end of file: locking it serialises appenders without blocking readers.
constexpr DWORD kAppendLockOffsetHigh = 0x7FFFFFFF;

struct State {
  bool initialized = false;
  std::string appKey;
  std::string osMajorVersion;
  std::string appVersion;
  std::string sdkVersion;
  std::wstring dataDirectory;
  std::int32_t enabled = 0;
  std::int32_t debug = 0;
  std::int32_t persistent = 0;
  std::int32_t flushIntervalMs = 0;
  std::vector<std::pair<std::string, std::string>> common;
  std::wstring outboxPath;
  HANDLE outbox = INVALID_HANDLE_VALUE;
  std::string deviceId;  // computed once, stable for the library's lifetime
  std::uint64_t sequence = 0;
  std::uint64_t written = 0;

  ~State() {
    if (outbox != INVALID_HANDLE_VALUE) ::CloseHandle(outbox);
  }
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

// A text field of a record: at most size bytes, up to the first NUL.
std::string FieldText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the bytes there are not one.
std::size_t ValidSequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// Appends text as a JSON string literal. Ill-formed UTF-8 becomes U+FFFD, so every line stays
// valid UTF-8 JSON whatever the caller passed.
void AppendJsonString(std::string& out, std::string_view text) {
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
          if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
          } else {
            out.push_back(static_cast<char>(c));
          }
      }
      ++i;
      continue;
    }
    const std::size_t length = ValidSequenceLength(text, i);
    if (length == 0) {
      out += "\\ufffd";
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  out.push_back('"');
}

void AppendPairs(std::string& out, const std::vector<std::pair<std::string, std::string>>& pairs) {
  out.push_back('[');
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (i) out.push_back(',');
    out.push_back('[');
    AppendJsonString(out, pairs[i].first);
    out.push_back(',');
    AppendJsonString(out, pairs[i].second);
    out.push_back(']');
  }
  out.push_back(']');
}

std::string UtcTimestamp() {
  SYSTEMTIME t;
  ::GetSystemTime(&t);
  char text[40];
  std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds);
  return text;
}

std::wstring ParentDirectory(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring FullPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(buffer)), buffer, nullptr);
  if (n == 0 || n >= std::size(buffer)) return path;
  return std::wstring(buffer, n);
}

// LANTERN_OUTBOX when set, else %LOCALAPPDATA%\Velmora\Lantern\outbox.jsonl.
std::wstring OutboxPath() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD n = ::GetEnvironmentVariableW(kOutboxVariable, buffer, static_cast<DWORD>(std::size(buffer)));
  if (n > 0 && n < std::size(buffer)) return FullPath(std::wstring(buffer, n));
  wchar_t local[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, local))) {
    return std::wstring();
  }
  return std::wstring(local) + kOutboxRelative;
}

HANDLE OpenOutbox(const std::wstring& path) {
  const std::wstring parent = ParentDirectory(path);
  if (!parent.empty()) ::SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
  return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Appends one whole line at the current end of the file and flushes it.
bool AppendLine(HANDLE file, const std::string& line) {
  OVERLAPPED lockRange{};
  lockRange.OffsetHigh = kAppendLockOffsetHigh;
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockRange)) return false;
  bool ok = false;
  LARGE_INTEGER end{};
  if (::SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END)) {
    DWORD written = 0;
    ok = ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    ::FlushFileBuffers(file);
  }
  ::UnlockFileEx(file, 0, 1, 0, &lockRange);
  return ok;
}

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

std::wstring MachineGuid() {
  wchar_t buffer[128] = {};
  DWORD size = sizeof(buffer);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, buffer, &size) == ERROR_SUCCESS) {
    return buffer;
  }
  DWORD length = static_cast<DWORD>(std::size(buffer));
  if (::GetComputerNameW(buffer, &length)) return buffer;
  return L"";
}

// Per user and machine: the same value in every run, without any stored file.
std::string ComputeDeviceId() {
  wchar_t user[256] = {};
  DWORD userLength = static_cast<DWORD>(std::size(user));
  if (!::GetUserNameW(user, &userLength)) user[0] = L'\0';
  unsigned char digest[32];
  if (!Sha256("lantern|" + Narrow(MachineGuid()) + "|" + Narrow(user), digest)) return std::string();
  std::string id = "ln-";
  char hex[3];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(hex, sizeof(hex), "%02x", digest[i]);
    id += hex;
  }
  return id;
}

// The library's own record of its configuration and counters, in the data directory.
void WriteStateFile(const State& state, const char* phase) {
  if (state.dataDirectory.empty()) return;
  std::string text = "{\"phase\":";
  AppendJsonString(text, phase);
  text += ",\"time\":";
  AppendJsonString(text, UtcTimestamp());
  text += ",\"app_key\":";
  AppendJsonString(text, state.appKey);
  text += ",\"os_major_version\":";
  AppendJsonString(text, state.osMajorVersion);
  text += ",\"app_version\":";
  AppendJsonString(text, state.appVersion);
  text += ",\"sdk_version\":";
  AppendJsonString(text, state.sdkVersion);
  text += ",\"enabled\":" + std::to_string(state.enabled);
  text += ",\"debug\":" + std::to_string(state.debug);
  text += ",\"persistent\":" + std::to_string(state.persistent);
  text += ",\"flush_interval_ms\":" + std::to_string(state.flushIntervalMs);
  text += ",\"outbox\":";
  AppendJsonString(text, Narrow(state.outboxPath));
  text += ",\"device_id\":";
  AppendJsonString(text, state.deviceId);
  text += ",\"events_written\":" + std::to_string(state.written) + "}\n";
  const std::wstring path = state.dataDirectory + kStateFileName;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace

extern "C" {

std::int32_t __cdecl LN_InitSDK(const LanternConfig* config) {
  if (!config) return LN_ERROR_ARGUMENT;
  try {
    ExclusiveLock lock;
    State& state = GetState();
    if (state.initialized) return LN_OK;
    const std::string appKey = FieldText(config->appKey, sizeof(config->appKey));
    if (appKey.empty()) return LN_ERROR_ARGUMENT;

    state.appKey = appKey;
    state.enabled = config->enabled;
    state.osMajorVersion = FieldText(config->osMajorVersion, sizeof(config->osMajorVersion));
    state.appVersion = FieldText(config->appVersion, sizeof(config->appVersion));
    state.sdkVersion = FieldText(config->sdkVersion, sizeof(config->sdkVersion));
    state.debug = config->debug;
    state.persistent = config->persistent;
    state.flushIntervalMs = config->flushIntervalMs;
    state.dataDirectory = Widen(FieldText(config->dataDirectory, sizeof(config->dataDirectory)));
    if (!state.dataDirectory.empty()) {
      state.dataDirectory = FullPath(state.dataDirectory);
      ::SHCreateDirectoryExW(nullptr, state.dataDirectory.c_str(), nullptr);
    }
    if (state.deviceId.empty()) state.deviceId = ComputeDeviceId();

    state.outboxPath = OutboxPath();
    if (state.outboxPath.empty()) return LN_ERROR_IO;
    state.outbox = OpenOutbox(state.outboxPath);
    if (state.outbox == INVALID_HANDLE_VALUE) return LN_ERROR_IO;

    state.written = 0;
    state.initialized = true;
    WriteStateFile(state, "initialized");
    return LN_OK;
  } catch (...) {
    return LN_ERROR_IO;
  }
}

void __cdecl LN_UninitSDK() {
  try {
    ExclusiveLock lock;
    State& state = GetState();
    if (!state.initialized) return;
    WriteStateFile(state, "uninitialized");
    ::CloseHandle(state.outbox);
    state.outbox = INVALID_HANDLE_VALUE;
    state.common.clear();
    state.initialized = false;
  } catch (...) {
  }
}

std::int32_t __cdecl LN_Report(const char* eventCode, const LanternParam* params, std::uint32_t count, std::int32_t flags) {
  if (!eventCode || (count > 0 && !params)) return LN_ERROR_ARGUMENT;
  try {
    std::vector<std::pair<std::string, std::string>> records;
    records.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      records.emplace_back(FieldText(params[i].key, sizeof(params[i].key)),
                           FieldText(params[i].value, sizeof(params[i].value)));
    }

    ExclusiveLock lock;
    State& state = GetState();
    if (!state.initialized) return LN_ERROR_NOT_INITIALIZED;
    if (!state.enabled || !state.persistent) return LN_OK;

    std::string line = "{\"time\":";
    AppendJsonString(line, UtcTimestamp());
    line += ",\"pid\":" + std::to_string(::GetCurrentProcessId());
    line += ",\"seq\":" + std::to_string(++state.sequence);
    line += ",\"event\":";
    AppendJsonString(line, eventCode);
    line += ",\"flags\":" + std::to_string(flags);
    line += ",\"app_key\":";
    AppendJsonString(line, state.appKey);
    line += ",\"device_id\":";
    AppendJsonString(line, state.deviceId);
    line += ",\"records\":";
    AppendPairs(line, records);
    line += ",\"common\":";
    AppendPairs(line, state.common);
    line += "}\n";
    if (!AppendLine(state.outbox, line)) return LN_ERROR_IO;
    ++state.written;
    return LN_OK;
  } catch (...) {
    return LN_ERROR_IO;
  }
}

std::int32_t __cdecl LN_SetCommonParams(const LanternParam* params, std::uint32_t count) {
  if (count > 0 && !params) return LN_ERROR_ARGUMENT;
  try {
    std::vector<std::pair<std::string, std::string>> common;
    common.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      common.emplace_back(FieldText(params[i].key, sizeof(params[i].key)),
                          FieldText(params[i].value, sizeof(params[i].value)));
    }
    ExclusiveLock lock;
    GetState().common = std::move(common);
    return LN_OK;
  } catch (...) {
    return LN_ERROR_IO;
  }
}

const char* __cdecl LN_GetLanternDeviceId() {
  ExclusiveLock lock;
  const State& state = GetState();
  if (!state.initialized || state.deviceId.empty()) return nullptr;
  return state.deviceId.c_str();
}

}  // extern "C"
