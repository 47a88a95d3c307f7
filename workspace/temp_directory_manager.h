// The run's private hidden working directory and its "lantern" subdirectory, chosen by three
// strategies tried in order (system temp, local app data, executable directory); deleted on
// destruction.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/handles.h"

enum class TempDirStrategy : std::int32_t { SystemTemp = 0, LocalAppData = 1, ExeDirectory = 2, Custom = 3 };

class TempDirectoryManager {
 public:
  TempDirectoryManager();
  ~TempDirectoryManager();
  TempDirectoryManager(const TempDirectoryManager&) = delete;
  TempDirectoryManager& operator=(const TempDirectoryManager&) = delete;

  bool Initialize(std::uint64_t requiredBytes, bool cleanupOld);
  // Null while not initialised.
  const wchar_t* GetTempDirectory() const;
  const wchar_t* GetLanternDirectory() const;
  const wchar_t* GetStrategyName() const;
  bool Cleanup();

  // Uninstaller: copies the analytics libraries of the installed version into the lantern directory.
  bool CopyLanternFilesFromDirectory(const wchar_t* sourceDirectory);
  static bool CopyFileWithRetry(const wchar_t* source, const wchar_t* destination);
  // Tests drive the pauses between copy attempts: when set, pause is called with each pause's
  // length instead of sleeping; an empty function restores the real pauses.
  static void SetCopyRetryPauseForTesting(std::function<void(DWORD milliseconds)> pause);

  // Steps, each usable alone.
  void CleanupOldTempDirs();
  // One place for the working directory (SystemTemp, LocalAppData or ExeDirectory): its path,
  // free space, hidden directory, write test and lantern subdirectory; undone when a step fails.
  bool TryStrategy(TempDirStrategy strategy);
  bool TrySystemTempStrategy() { return TryStrategy(TempDirStrategy::SystemTemp); }
  bool TryLocalAppDataStrategy() { return TryStrategy(TempDirStrategy::LocalAppData); }
  bool TryExeDirectoryStrategy() { return TryStrategy(TempDirStrategy::ExeDirectory); }
  bool HasEnoughFreeSpace(const wchar_t* path, std::uint64_t requiredBytes);
  static bool CreateHiddenDirectory(const wchar_t* path);
  static bool CreateDirectoryWithParents(const wchar_t* path);
  static bool TestWritePermission(const wchar_t* directory);
  static bool DeleteDirectoryRecursive(const wchar_t* path);
  static std::uint64_t GetDirectorySize(const wchar_t* directory);
  // True when a running process holds the working directory (its owner keeps it open without
  // delete sharing for as long as it works in it).
  static bool IsWorkingDirectoryInUse(const wchar_t* path);

 private:
  wchar_t m_tempDir[MAX_PATH] = {};
  wchar_t m_lanternDir[MAX_PATH] = {};
  wchar_t m_exeDir[MAX_PATH] = {};
  TempDirStrategy m_strategy = TempDirStrategy::SystemTemp;
  bool m_initialized = false;
  bool m_cleanupOnExit = true;
  std::uint64_t m_requiredBytes = 0;
  // Open while this run works in m_tempDir: tells other runs' leftover clean-up to spare it.
  oku::FileHandle m_ownerLock;

  void HoldWorkingDirectory();
};
