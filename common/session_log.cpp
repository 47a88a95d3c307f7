#include "common/session_log.h"

#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kHeader[] = "=== OKU Setup Log ===\n";

void Debug(const std::wstring& text) { ::OutputDebugStringW(text.c_str()); }

std::string ToUtf8(const std::wstring& text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  if (::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), needed, nullptr, nullptr) != needed) {
    return std::string();
  }
  return out;
}

std::wstring FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring WideFromException(const std::exception& e) { return oku::WideFromUtf8(e.what()); }

}  // namespace

SessionLog& SessionLog::Instance() {
  static SessionLog* instance = new SessionLog();  // lives until process exit; see ~SessionLog
  return *instance;
}

bool SessionLog::OpenStream(const std::wstring& path) {
  CloseStream();
  failed_ = false;
  file_.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file_.valid();
}

void SessionLog::WriteBytes(const std::string& bytes) {
  if (!file_) {
    failed_ = true;
    return;
  }
  size_t offset = 0;
  while (offset < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file_.get(), bytes.data() + offset, chunk, &written, nullptr) || written == 0) {
      failed_ = true;
      return;
    }
    offset += written;
  }
}

void SessionLog::CloseStream() { file_.reset(); }

void SessionLog::InitLog(const std::wstring& directory, const std::wstring& fileName) {
  std::lock_guard<std::mutex> lock(logLock_);
  Debug(L"[InitLog] 目录: " + directory);
  Debug(L"[InitLog] 文件名: " + fileName);
  if (initialized_ && file_) {
    Debug(L"[InitLog] 已经初始化，跳过\n");
    return;
  }
  std::wstring fullPath;
  try {
    fullPath = directory + L"\\" + fileName;
    Debug(L"[InitLog] 完整路径: " + fullPath);
    logFilePath_ = fullPath;
    failed_ = false;
    Debug(L"[InitLog] 清除流状态...\n");
    Debug(L"[InitLog] 打开文件（二进制+截断模式，使用UTF-8编码）...\n");
    if (!OpenStream(fullPath)) {
      Debug(L"[InitLog] 错误：无法打开日志文件: " + fullPath);
      initialized_ = false;
      return;
    }
    Debug(L"[InitLog] 文件打开成功\n");
    Debug(L"[InitLog] 流状态 - good(): " + oku::ToWide(StreamGood() ? 1 : 0) +
          L", fail(): " + oku::ToWide(StreamGood() ? 0 : 1));
    Debug(L"[InitLog] 写入 UTF-8 BOM...\n");
    WriteBytes(std::string(kUtf8Bom, 3));
    Debug(L"[InitLog] 写入测试消息...\n");
    WriteBytes(kHeader);
    Debug(L"[InitLog] 测试写入后流状态 - good(): " + oku::ToWide(StreamGood() ? 1 : 0) +
          L", fail(): " + oku::ToWide(StreamGood() ? 0 : 1));
    if (!StreamGood()) {
      Debug(L"[InitLog] 错误：测试写入失败！\n");
      initialized_ = false;
      CloseStream();
      return;
    }
    const bool before = initialized_;
    Debug(L"[InitLog] 日志初始化完成: " + fullPath);
    Debug(L"[InitLog] isInit = " + oku::ToWide(before ? 1 : 0));
    initialized_ = true;
  } catch (const std::exception& e) {
    Debug(L"[InitLog] 捕获异常: " + WideFromException(e));
    initialized_ = false;
  } catch (...) {
    Debug(L"[InitLog] 捕获未知异常，初始化失败: " + fullPath);
    initialized_ = false;
  }
}

void SessionLog::LogDebugInter(const std::wstring& message) {
  try {
    std::wstring line = FormatLogTimestamp();
    const std::wstring session = GetSessionId();
    if (!session.empty()) line += L"[" + session + L"] ";
    line += message;
    line += L"\n";
    Debug(line);
    if (!initialized_) return;

    std::lock_guard<std::mutex> lock(logLock_);
    if (file_) {
      try {
        WriteBytes(ToUtf8(line));
        if (!StreamGood()) Debug(L"[LogDebugInter] 警告：写入后流状态异常！\n");
      } catch (const std::exception& e) {
        Debug(L"[LogDebugInter] 捕获 std::exception: " + WideFromException(e));
      } catch (...) {
        Debug(L"[LogDebugInter] 捕获未知异常\n");
      }
    } else if (initialized_) {
      Debug(L"[LogDebugInter] 错误：日志文件未打开！\n");
      Debug(L"[LogDebugInter] 期望的日志路径: " + logFilePath_ + L"\n");
    }
  } catch (...) {
    // Out of memory while building the line: the line is lost, the caller never sees it.
  }
}

void SessionLog::GenerateSessionId() {
  std::lock_guard<std::mutex> lock(sessionLock_);
  if (!sessionId_.empty()) return;
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  const DWORD pid = ::GetCurrentProcessId();
  std::srand(static_cast<unsigned>(std::time(nullptr) + pid));
  const int random = std::rand() % 10000;
  wchar_t buffer[64];
  std::swprintf(buffer, 64, L"%04d%02d%02d_%02d%02d%02d_%u_%04d", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, static_cast<unsigned>(pid), random);
  sessionId_ = buffer;
  const std::wstring bar(40, L'=');
  Debug(bar + L"\n");
  Debug(L"🔑 Session ID: " + sessionId_ + L"\n");
  Debug(bar + L"\n");
}

std::wstring SessionLog::GetSessionId() {
  std::lock_guard<std::mutex> lock(sessionLock_);
  return sessionId_;
}

std::string SessionLog::GetSessionIdUtf8() { return ToUtf8(GetSessionId()); }

void SessionLog::SetFinalLogPath(const std::wstring& directory) {
  {
    std::lock_guard<std::mutex> lock(logLock_);
    finalLogDirectory_ = directory;
  }
  Debug(L"Final log path set to: " + directory + L"\n");
}

std::wstring SessionLog::GetLogFilePath() {
  std::lock_guard<std::mutex> lock(logLock_);
  return logFilePath_;
}

std::wstring SessionLog::GetFinalLogFilePath() {
  std::lock_guard<std::mutex> lock(logLock_);
  if (finalLogDirectory_.empty() || logFilePath_.empty()) return logFilePath_;
  return finalLogDirectory_ + L"\\" + FileNameOf(logFilePath_);
}

std::wstring SessionLog::CloseLogFile() {
  std::lock_guard<std::mutex> lock(logLock_);
  if (!file_) return std::wstring();
  try {
    const std::wstring path = logFilePath_;
    CloseStream();
    initialized_ = false;
    if (!path.empty()) {
      oku::FileHandle handle(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (handle) ::FlushFileBuffers(handle.get());
    }
    if (!finalLogDirectory_.empty() && !path.empty()) return MoveLogToFinalPath(path);
  } catch (...) {
    Debug(L"CloseLogFile: Exception occurred while closing log file\n");
    CloseStream();
    initialized_ = false;
  }
  return std::wstring();
}

std::wstring SessionLog::MoveLogToFinalPath(const std::wstring& sourcePath) {
  const std::wstring fileName = FileNameOf(sourcePath);
  const std::wstring target = finalLogDirectory_ + L"\\" + fileName;
  Debug(L"Moving log from: " + sourcePath + L" to: " + target + L"\n");
  const int created = ::SHCreateDirectoryExW(nullptr, finalLogDirectory_.c_str(), nullptr);
  if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS) {
    Debug(L"Failed to create final log directory, error: " + oku::ToWide(created) + L"\n");
    return std::wstring();
  }
  if (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (::MoveFileExW(sourcePath.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED)) {
      Debug(L"Log file moved successfully to: " + target + L"\n");
      return target;
    }
    Debug(L"Failed to move log file, error: " + oku::ToWide(::GetLastError()) + L"\n");
    if (::CopyFileW(sourcePath.c_str(), target.c_str(), FALSE)) {
      Debug(L"Log file copied successfully to: " + target + L"\n");
      ::DeleteFileW(sourcePath.c_str());
      return target;
    }
    Debug(L"Failed to copy log file\n");
    return std::wstring();
  }
  AppendLogToTarget(sourcePath, target);
  return target;
}

void SessionLog::AppendLogToTarget(const std::wstring& sourcePath, const std::wstring& targetPath) {
  try {
    Debug(L"Target log file exists, appending content...\n");
    oku::FileHandle source(::CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) {
      Debug(L"Failed to open temp file for reading\n");
      return;
    }
    oku::FileHandle target(::CreateFileW(targetPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
      Debug(L"Failed to open target file for appending\n");
      return;
    }
    const std::string separator = ToUtf8(L"\n========== New Session: " + FormatLogTimestamp() + L" ==========\n");
    DWORD written = 0;
    ::WriteFile(target.get(), separator.data(), static_cast<DWORD>(separator.size()), &written, nullptr);
    std::vector<char> buffer(64 * 1024);
    DWORD read = 0;
    while (::ReadFile(source.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) {
      if (!::WriteFile(target.get(), buffer.data(), read, &written, nullptr) || written != read) break;
    }
    ::FlushFileBuffers(target.get());
    Debug(L"Log content appended successfully to: " + targetPath + L"\n");
  } catch (const std::exception& e) {
    Debug(L"Exception occurred while appending log: " + WideFromException(e) + L"\n");
  } catch (...) {
    Debug(L"Unknown exception occurred while appending log\n");
  }
}

std::wstring FormatLogTimestamp() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  wchar_t buffer[128];
  std::swprintf(buffer, 128, L"%04d-%02d-%02d %02d:%02d:%02d.%03d ", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, st.wMilliseconds);
  return buffer;
}

std::wstring ClaimTempLogName(const std::wstring& directory, const std::wstring& fileName) {
  const std::wstring path = oku::JoinPath(directory, fileName);
  if (!oku::PathExists(path)) return fileName;
  const size_t dot = fileName.find_last_of(L'.');
  const std::wstring stem = dot == std::wstring::npos ? fileName : fileName.substr(0, dot);
  const std::wstring previous = oku::JoinPath(directory, stem + L".previous.log");
  if (::MoveFileExW(path.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    Debug(L"[InitLog] previous log kept as: " + previous + L"\n");
    return fileName;
  }
  Debug(L"[InitLog] log in use, error " + oku::ToWide(::GetLastError()) + L": " + path + L"\n");
  return stem + L"." + oku::ToWide(::GetCurrentProcessId()) + L".log";
}

void InitLogInTempDir(const std::wstring& fileName) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring directory = std::wstring(temp) + L"OkuSetupLogs";
  ::SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
  InitLog(directory, ClaimTempLogName(directory, fileName));
}

void InitLog(const std::wstring& directory, const std::wstring& fileName) {
  SessionLog::Instance().InitLog(directory, fileName);
}
void LogInfo(const std::wstring& message) { SessionLog::Instance().LogDebugInter(message); }
void LogWarning(const std::wstring& message) { SessionLog::Instance().LogDebugInter(L"[WARNING] " + message); }
void LogError(const std::wstring& message) { SessionLog::Instance().LogDebugInter(L"[ERROR] " + message); }
void LogDebugInter(const std::wstring& message) { SessionLog::Instance().LogDebugInter(message); }
void GenerateSessionId() { SessionLog::Instance().GenerateSessionId(); }
std::wstring GetSessionId() { return SessionLog::Instance().GetSessionId(); }
std::string GetSessionIdUtf8() { return SessionLog::Instance().GetSessionIdUtf8(); }
void SetFinalLogPath(const std::wstring& directory) { SessionLog::Instance().SetFinalLogPath(directory); }
std::wstring CloseLogFile() { return SessionLog::Instance().CloseLogFile(); }
std::wstring GetFinalLogFilePath() { return SessionLog::Instance().GetFinalLogFilePath(); }
