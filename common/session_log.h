// The process-wide session log: one UTF-8 file per run in %TEMP%\OkuSetupLogs, one timestamped
// line per call from any thread, mirrored to the debugger, moved to its final directory on close.
// No operation reports a failure or throws; a log that cannot be opened keeps lines on the
// debugger only. The log writes nothing but its file: recording where it went is the caller's.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "common/handles.h"

class SessionLog {
 public:
  static SessionLog& Instance();

  void InitLog(const std::wstring& directory, const std::wstring& fileName);
  void LogDebugInter(const std::wstring& message);
  void GenerateSessionId();
  std::wstring GetSessionId();
  std::string GetSessionIdUtf8();
  void SetFinalLogPath(const std::wstring& directory);
  // See ::CloseLogFile.
  std::wstring CloseLogFile();

  // Path of the file currently (or last) opened; for tests and diagnostics.
  std::wstring GetLogFilePath();
  // Where the log will be once closed: in the final directory when one is set, else where it is.
  std::wstring GetFinalLogFilePath();

 private:
  SessionLog() = default;
  ~SessionLog() = default;
  SessionLog(const SessionLog&) = delete;
  SessionLog& operator=(const SessionLog&) = delete;

  // The file stream: a Win32 handle written with whole lines, each passed to the system at once.
  [[nodiscard]] bool OpenStream(const std::wstring& path);
  void WriteBytes(const std::string& bytes);
  void CloseStream();
  bool StreamGood() const { return file_ && !failed_; }

  // The path the log now has in the final directory; empty when it stayed where it was.
  std::wstring MoveLogToFinalPath(const std::wstring& sourcePath);
  void AppendLogToTarget(const std::wstring& sourcePath, const std::wstring& targetPath);

  std::wstring logFilePath_;
  std::wstring finalLogDirectory_;
  std::mutex logLock_;
  oku::FileHandle file_;
  bool failed_ = false;
  std::atomic<bool> initialized_{false};
  std::wstring sessionId_;
  std::mutex sessionLock_;
};

// Opens %TEMP%\OkuSetupLogs\<file name> (see ClaimTempLogName) for this run.
void InitLogInTempDir(const std::wstring& fileName);
// The name this run's log takes in directory: fileName, after an earlier run's file of that name
// was kept as "<stem>.previous.log" (replacing an older one); "<stem>.<process id>.log" when that
// file cannot be moved aside because a running program holds it, so it is never truncated.
std::wstring ClaimTempLogName(const std::wstring& directory, const std::wstring& fileName);
void InitLog(const std::wstring& directory, const std::wstring& fileName);
void LogInfo(const std::wstring& message);
void LogWarning(const std::wstring& message);
void LogError(const std::wstring& message);
void LogDebugInter(const std::wstring& message);
void GenerateSessionId();
std::wstring GetSessionId();
std::string GetSessionIdUtf8();
void SetFinalLogPath(const std::wstring& directory);
// Closes the log and, when a final directory is set, moves it there (appending to a file of the
// same name already there, or copying when the move is refused). Returns the log's path in the
// final directory (for RecordLogPath in common/registry.h); empty when it stayed where it was.
std::wstring CloseLogFile();
std::wstring GetFinalLogFilePath();

// "%04d-%02d-%02d %02d:%02d:%02d.%03d " of the local time.
std::wstring FormatLogTimestamp();