#include "workspace/temp_directory_manager.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "common/file_system.h"
#include "common/handles.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/session_log.h"

namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kFreeSpaceMargin = 52428800;  // 50 MiB kept free beyond the request

std::wstring Mb(std::uint64_t bytes) { return oku::ToWide(bytes / kMiB); }

std::wstring Decimal(DWORD value) { return oku::ToWide(value); }

std::wstring ProcessIdText() { return oku::ToWide(::GetCurrentProcessId()); }

// Concatenates parts into a MAX_PATH buffer. A result that would not fit (with its terminator)
// leaves out empty and returns false: composed paths are never truncated or overflowed.
bool ComposePath(wchar_t (&out)[MAX_PATH], std::initializer_list<std::wstring_view> parts) {
  std::size_t length = 0;
  for (std::wstring_view part : parts) length += part.size();
  if (length >= MAX_PATH) {
    out[0] = L'\0';
    return false;
  }
  wchar_t* cursor = out;
  for (std::wstring_view part : parts) {
    std::wmemcpy(cursor, part.data(), part.size());
    cursor += part.size();
  }
  *cursor = L'\0';
  return true;
}

bool IsDirectory(const wchar_t* path) {
  const DWORD attributes = ::GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool LocalAppDataDirectory(wchar_t (&out)[MAX_PATH]) {
  return SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, out));
}

// The system temporary directory without its trailing backslash, also at a drive root ("C:",
// joined as "C:\\OkuSetup_1"); false on failure or when the path needs 260 characters or more.
bool SystemTempDirectory(wchar_t (&out)[MAX_PATH]) {
  std::wstring directory = oku::TempDirectoryPath();
  if (!directory.empty() && directory.back() == L'\\') directory.pop_back();
  return !directory.empty() && ComposePath(out, {directory});
}

// The three places a working directory is tried in, in order, with what each logs.
struct StrategyRow {
  TempDirStrategy strategy;
  const wchar_t* noBase;      // the base directory is unknown
  const wchar_t* tooLong;     // the working directory's path would not fit
  bool namesBaseWhenTooLong;  // tooLong is followed by the base directory
  const wchar_t* suffix;      // below the base directory
  bool withProcessId;         // suffix is followed by this process's identifier
  const wchar_t* attempt;
  bool withParents;        // made with its parents and reused as it is; deleted with its contents on failure
  bool tellsLanternSteps;  // logs the lantern subdirectory's path and success
  const wchar_t* succeeded;
  bool fallback;          // chosen is a warning
  const wchar_t* chosen;  // logged once the strategy is chosen
};

constexpr StrategyRow kStrategies[] = {
    {.strategy = TempDirStrategy::SystemTemp,
     .noBase = L"GetTempPath() 失败或路径过长",
     .tooLong = L"GetTempPath() 失败或路径过长",
     .namesBaseWhenTooLong = false,
     .suffix = L"\\OkuSetup_",
     .withProcessId = true,
     .attempt = L"尝试策略1: 系统临时目录",
     .withParents = false,
     .tellsLanternSteps = true,
     .succeeded = L"  策略1成功",
     .fallback = false,
     .chosen = L"使用策略: 系统临时目录"},
    {.strategy = TempDirStrategy::LocalAppData,
     .noBase = L"SHGetFolderPath(CSIDL_LOCAL_APPDATA) 失败",
     .tooLong = L"路径过长，跳过: ",
     .namesBaseWhenTooLong = true,
     .suffix = L"\\OkuSetup\\Temp_",
     .withProcessId = true,
     .attempt = L"尝试策略2: LocalAppData目录",
     .withParents = true,
     .tellsLanternSteps = false,
     .succeeded = L"  策略2成功",
     .fallback = false,
     .chosen = L"使用策略: LocalAppData目录"},
    {.strategy = TempDirStrategy::ExeDirectory,
     .noBase = L"路径过长，跳过: ",  // the executable's directory is unknown only when too long
     .tooLong = L"路径过长，跳过: ",
     .namesBaseWhenTooLong = true,
     .suffix = L"\\.OkuSetupTemp",
     .withProcessId = false,
     .attempt = L"尝试策略3: EXE同目录（兜底)",
     .withParents = false,
     .tellsLanternSteps = false,
     .succeeded = L"  策略3成功",
     .fallback = true,
     .chosen = L"使用备用方案: EXE同目录"},
};

const StrategyRow* FindStrategy(TempDirStrategy strategy) {
  for (const StrategyRow& row : kStrategies) {
    if (row.strategy == strategy) return &row;
  }
  return nullptr;
}

}  // namespace

TempDirectoryManager::TempDirectoryManager() {
  const DWORD length = ::GetModuleFileNameW(nullptr, m_exeDir, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    // A truncated module name would give a wrong directory; leave it empty so the executable
    // directory strategy fails instead of working somewhere else.
    m_exeDir[0] = L'\0';
    return;
  }
  ::PathRemoveFileSpecW(m_exeDir);
}

TempDirectoryManager::~TempDirectoryManager() {
  if (m_cleanupOnExit && m_initialized) Cleanup();
}

bool TempDirectoryManager::Initialize(std::uint64_t requiredBytes, bool cleanupOld) {
  if (m_initialized) {
    LogWarning(L"TempDirectoryManager already initialized");
    return true;
  }
  m_requiredBytes = requiredBytes;
  LogInfo(L"========================================");
  LogInfo(L"临时目录管理器初始化");
  LogInfo(L"需要空间: " + Mb(requiredBytes) + L" MB");
  LogInfo(L"========================================");

  if (cleanupOld) CleanupOldTempDirs();

  for (const StrategyRow& row : kStrategies) {
    if (!TryStrategy(row.strategy)) continue;
    m_strategy = row.strategy;
    m_initialized = true;
    HoldWorkingDirectory();
    if (row.fallback) {
      LogWarning(row.chosen);
      LogInfo(std::wstring(L"临时目录: ") + m_tempDir);
    } else {
      LogInfo(std::wstring(L"临时目录创建成功: ") + m_tempDir);
      LogInfo(row.chosen);
    }
    return true;
  }
  LogError(L"无法创建临时目录，所有策略都失败");
  return false;
}

const wchar_t* TempDirectoryManager::GetTempDirectory() const { return m_initialized ? m_tempDir : nullptr; }

const wchar_t* TempDirectoryManager::GetLanternDirectory() const { return m_initialized ? m_lanternDir : nullptr; }

const wchar_t* TempDirectoryManager::GetStrategyName() const {
  switch (m_strategy) {
    case TempDirStrategy::SystemTemp:
      return L"系统临时目录";
    case TempDirStrategy::LocalAppData:
      return L"LocalAppData目录";
    case TempDirStrategy::ExeDirectory:
      return L"安装器同目录";
    case TempDirStrategy::Custom:
      return L"自定义目录";
  }
  return L"未知";
}

bool TempDirectoryManager::TryStrategy(TempDirStrategy strategy) {
  const StrategyRow* row = FindStrategy(strategy);
  if (!row) return false;
  wchar_t base[MAX_PATH] = {};
  bool haveBase = false;
  switch (strategy) {
    case TempDirStrategy::SystemTemp:
      haveBase = SystemTempDirectory(base);
      break;
    case TempDirStrategy::LocalAppData:
      haveBase = LocalAppDataDirectory(base);
      break;
    case TempDirStrategy::ExeDirectory:
      haveBase = m_exeDir[0] != L'\0' && ComposePath(base, {m_exeDir});
      break;
    case TempDirStrategy::Custom:
      break;
  }
  if (!haveBase) {
    LogInfo(row->noBase);
    return false;
  }
  if (!ComposePath(m_tempDir, {base, row->suffix, row->withProcessId ? ProcessIdText() : std::wstring()})) {
    LogInfo(row->namesBaseWhenTooLong ? row->tooLong + std::wstring(base) : std::wstring(row->tooLong));
    return false;
  }
  LogInfo(row->attempt);
  LogInfo(std::wstring(L"  路径: ") + m_tempDir);

  if (!HasEnoughFreeSpace(m_tempDir, m_requiredBytes)) {
    LogInfo(L"  磁盘空间不足");
    return false;
  }
  // Below local application data the directory is made with its parents and reused as it is.
  const bool created = row->withParents ? CreateDirectoryWithParents(m_tempDir) : CreateHiddenDirectory(m_tempDir);
  if (!created) {
    LogInfo(L"  目录创建失败");
    return false;
  }
  if (row->withParents) ::SetFileAttributesW(m_tempDir, FILE_ATTRIBUTE_HIDDEN);
  if (!TestWritePermission(m_tempDir)) {
    LogInfo(L"  写入权限测试失败");
    ::RemoveDirectoryW(m_tempDir);
    return false;
  }
  if (row->tellsLanternSteps) LogInfo(L"  开始创建 Lantern 子目录...");
  const bool composed = ComposePath(m_lanternDir, {m_tempDir, L"\\lantern"});
  if (row->tellsLanternSteps) LogInfo(std::wstring(L"  Lantern 子目录路径: ") + m_lanternDir);
  if (!composed || !CreateHiddenDirectory(m_lanternDir)) {
    LogWarning(L"  Lantern子目录创建失败");
    // A reused directory may hold earlier contents: it goes with them.
    if (row->withParents) {
      DeleteDirectoryRecursive(m_tempDir);
    } else {
      ::RemoveDirectoryW(m_tempDir);
    }
    return false;
  }
  if (row->tellsLanternSteps) LogInfo(L"  Lantern 子目录创建成功");
  LogInfo(row->succeeded);
  return true;
}

bool TempDirectoryManager::HasEnoughFreeSpace(const wchar_t* path, std::uint64_t requiredBytes) {
  wchar_t root[MAX_PATH] = {};
  if (path) ::lstrcpynW(root, path, MAX_PATH);
  if (std::wcslen(root) >= 3 && root[1] == L':') root[3] = L'\0';

  ULARGE_INTEGER available = {};
  ULARGE_INTEGER total = {};
  ULARGE_INTEGER free = {};
  if (!::GetDiskFreeSpaceExW(root, &available, &total, &free)) {
    const DWORD error = ::GetLastError();
    LogWarning(L"GetDiskFreeSpaceEx() 失败，错误码: " + Decimal(error));
    return false;
  }
  // Saturating: a request near the top of the range must not wrap round to a small need.
  const std::uint64_t needed = requiredBytes > std::numeric_limits<std::uint64_t>::max() - kFreeSpaceMargin
                                   ? std::numeric_limits<std::uint64_t>::max()
                                   : requiredBytes + kFreeSpaceMargin;
  if (available.QuadPart < needed) {
    LogInfo(L"  可用空间: " + Mb(available.QuadPart) + L" MB");
    LogInfo(L"  需要空间: " + Mb(needed) + L" MB");
    return false;
  }
  LogInfo(L"  磁盘空间检查通过: " + Mb(available.QuadPart) + L" MB");
  return true;
}

bool TempDirectoryManager::CreateHiddenDirectory(const wchar_t* path) {
  LogInfo(std::wstring(L"    [CreateHiddenDirectory] 开始创建目录: ") + path);
  if (IsDirectory(path) && IsWorkingDirectoryInUse(path)) {
    LogWarning(std::wstring(L"    目录正被另一个运行中的进程使用，不删除: ") + path);
    return false;
  }
  if (IsDirectory(path)) {
    LogInfo(std::wstring(L"    目录已存在，尝试删除: ") + path);
    if (DeleteDirectoryRecursive(path)) {
      LogInfo(L"    删除已存在目录成功");
    } else {
      LogWarning(L"    删除已存在目录失败");
    }
  }
  LogInfo(L"    调用 CreateDirectory()...");
  if (::CreateDirectoryW(path, nullptr)) {
    LogInfo(L"    CreateDirectory() 成功");
  } else {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      LogInfo(L"    CreateDirectory() 失败，错误码: " + Decimal(error));
      return false;
    }
    // Not made by this run (a leftover that could not be deleted, or made again in between):
    // its contents are someone else's, and the libraries loaded from here must be ours.
    LogInfo(L"    目录已存在ERROR_ALREADY_EXISTS");
    return false;
  }
  LogInfo(L"    设置隐藏属性...");
  if (::SetFileAttributesW(path, FILE_ATTRIBUTE_HIDDEN)) {
    LogInfo(L"    隐藏属性设置成功");
  } else {
    const DWORD error = ::GetLastError();
    LogWarning(L"    设置隐藏属性失败，错误码: " + Decimal(error));
  }
  LogInfo(L"    [CreateHiddenDirectory] 完成");
  return true;
}

bool TempDirectoryManager::CreateDirectoryWithParents(const wchar_t* path) {
  wchar_t buffer[MAX_PATH] = {};
  if (!path || !ComposePath(buffer, {path})) {
    LogInfo(L"创建最终目录失败，错误码: " + Decimal(ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  std::wstring failedAt;
  const DWORD error = oku::CreateDirectoryTree(buffer, &failedAt);
  if (error == ERROR_SUCCESS) return true;
  if (failedAt == buffer) {
    LogInfo(L"创建最终目录失败，错误码: " + Decimal(error));
  } else {
    LogInfo(L"创建父目录失败，路径: " + failedAt + L", 错误: " + Decimal(error));
  }
  return false;
}

bool TempDirectoryManager::TestWritePermission(const wchar_t* directory) {
  wchar_t fileName[MAX_PATH] = {};
  if (!directory || !ComposePath(fileName, {directory, L"\\.writetest_", ProcessIdText()})) {
    LogInfo(L"  写入测试失败，错误码: " + Decimal(ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  {
    oku::FileHandle file(::CreateFileW(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                                       nullptr));
    if (!file) {
      const DWORD error = ::GetLastError();
      LogInfo(L"  写入测试失败，错误码: " + Decimal(error));
      return false;
    }
    static const char kContent[] = "OkuSetup Write Test";  // 19 characters and the terminating zero
    DWORD written = 0;
    ::WriteFile(file.get(), kContent, sizeof(kContent), &written, nullptr);
  }
  ::DeleteFileW(fileName);
  LogInfo(L"  写入权限测试通过");
  return true;
}

namespace {

// The working directory's removal and its log lines. A link is removed as the link itself: its
// target lies outside the tree and neither is listed nor has its attributes changed. An entry
// whose full name does not fit MAX_PATH is left; its directory then stays and reports the failure.
class WorkingDirectoryRemoval : public oku::TreeRemoval {
 public:
  WorkingDirectoryRemoval() : TreeRemoval(Reset::kFilesAndDirectories) {}

  bool OnEnterDirectory(const std::wstring& path, bool isLink) override {
    LogInfo(L"      [DeleteDirectoryRecursive] 删除: " + path);
    if (isLink || path.size() + 2 < MAX_PATH) return true;  // the listing's pattern, "\\*", fits
    LogInfo(L"      FindFirstFile 失败，错误码: " + Decimal(ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  bool OnListingFailed(const std::wstring&, DWORD error) override {
    LogInfo(L"      FindFirstFile 失败，错误码: " + Decimal(error));
    return false;
  }
  bool Accepts(const std::wstring& path) override { return path.size() < MAX_PATH; }
  // What could not be deleted keeps its directory, whose removal then fails.
  bool OnEntryFailed(const std::wstring&, DWORD) override { return true; }
  void OnDirectoryListed(const std::wstring&, const oku::TreeCounts& counts) override {
    LogInfo(L"      删除" + oku::ToWide(counts.files) + L" 个文件 " + oku::ToWide(counts.directories) + L" 个子目录");
  }
  bool RemoveEmptiedDirectory(const std::wstring& path, bool isLink) override {
    if (!TreeRemoval::RemoveEmptiedDirectory(path, isLink)) {
      LogInfo(L"      RemoveDirectory 失败，错误码: " + Decimal(::GetLastError()));
      return false;
    }
    LogInfo(L"      RemoveDirectory 成功");
    return true;
  }
};

}  // namespace

bool TempDirectoryManager::DeleteDirectoryRecursive(const wchar_t* path) {
  if (!path || path[0] == L'\0') {
    LogInfo(L"      [DeleteDirectoryRecursive] 路径为空");
    return false;
  }
  WorkingDirectoryRemoval removal;
  return oku::RemoveTree(path, removal);
}

std::uint64_t TempDirectoryManager::GetDirectorySize(const wchar_t* directory) {
  if (!directory || std::wcslen(directory) + 2 >= MAX_PATH) return 0;
  if (IsLink(::GetFileAttributesW(directory))) return 0;
  std::uint64_t total = 0;
  for (const oku::DirectoryEntry entry : oku::DirectoryListing(directory)) {
    if (entry.IsLink()) continue;  // not part of this tree
    if (entry.IsDirectory()) {
      wchar_t child[MAX_PATH] = {};
      if (ComposePath(child, {directory, L"\\", entry.name()})) total += GetDirectorySize(child);
    } else {
      total += entry.size();
    }
  }
  return total;
}

namespace {

// The identifier in a working directory's name ("OkuSetup_<id>", "Temp_<id>"); 0 when the part
// after prefix is not a plain decimal number.
DWORD OwnerProcessId(const std::wstring& name, const std::wstring& prefix) {
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 10) return 0;
  unsigned long long value = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9') return 0;
    value = value * 10 + static_cast<unsigned>(name[i] - L'0');
  }
  return value > 0xFFFFFFFFull ? 0 : static_cast<DWORD>(value);
}

// Deletes every directory in parent matching pattern except ownName and those of processes that
// still run; adds to count and bytes.
void CleanupMatches(const wchar_t* parent, const wchar_t* pattern, const std::wstring& ownName, int& count,
                    std::uint64_t& bytes) {
  wchar_t search[MAX_PATH] = {};
  if (!ComposePath(search, {parent, L"\\", pattern})) return;
  for (const oku::DirectoryEntry entry : oku::DirectoryListing(parent, pattern)) {
    if (!entry.IsDirectory() || ownName == entry.name()) continue;
    wchar_t full[MAX_PATH] = {};
    if (!ComposePath(full, {parent, L"\\", entry.name()})) continue;
    const std::wstring prefix = ownName.substr(0, ownName.find(L'_') + 1);
    if (IsProcessIdRunning(OwnerProcessId(entry.name(), prefix)) || TempDirectoryManager::IsWorkingDirectoryInUse(full)) {
      LogInfo(std::wstring(L"  跳过仍在运行的进程的目录: ") + full);
      continue;
    }
    const std::uint64_t size = TempDirectoryManager::GetDirectorySize(full);
    if (TempDirectoryManager::DeleteDirectoryRecursive(full)) {
      LogInfo(std::wstring(L"  清理: ") + full + L" (" + Mb(size) + L" MB)");
      ++count;
      bytes += size;
    }
  }
}

}  // namespace

void TempDirectoryManager::CleanupOldTempDirs() {
  LogInfo(L"开始清理旧的残留目录...");
  int count = 0;
  std::uint64_t bytes = 0;
  const std::wstring pid = ProcessIdText();

  wchar_t temp[MAX_PATH] = {};
  if (SystemTempDirectory(temp)) CleanupMatches(temp, L"OkuSetup_*", L"OkuSetup_" + pid, count, bytes);

  wchar_t localAppData[MAX_PATH] = {};
  wchar_t okuSetup[MAX_PATH] = {};
  if (LocalAppDataDirectory(localAppData) && ComposePath(okuSetup, {localAppData, L"\\OkuSetup"})) {
    CleanupMatches(okuSetup, L"Temp_*", L"Temp_" + pid, count, bytes);
  }

  wchar_t exeTemp[MAX_PATH] = {};
  if (m_exeDir[0] != L'\0' && ComposePath(exeTemp, {m_exeDir, L"\\.OkuSetupTemp"}) && IsDirectory(exeTemp) &&
      IsWorkingDirectoryInUse(exeTemp)) {
    // Shared by every run from this folder: another one that still runs is working in it.
    LogInfo(std::wstring(L"  跳过仍在运行的进程的目录: ") + exeTemp);
  } else if (m_exeDir[0] != L'\0' && ComposePath(exeTemp, {m_exeDir, L"\\.OkuSetupTemp"}) && IsDirectory(exeTemp)) {
    const std::uint64_t size = GetDirectorySize(exeTemp);
    if (DeleteDirectoryRecursive(exeTemp)) {
      LogInfo(std::wstring(L"  清理: ") + exeTemp + L" (" + Mb(size) + L" MB)");
      ++count;
      bytes += size;
    }
  }

  if (count == 0) {
    LogInfo(L"未发现旧的残留目录");
  } else {
    LogInfo(L"清理完成: " + oku::ToWide(count) + L" 个目录 " + L"释放空间: " + Mb(bytes) + L" MB");
  }
}

void TempDirectoryManager::HoldWorkingDirectory() {
  m_ownerLock.reset(::CreateFileW(m_tempDir, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool TempDirectoryManager::IsWorkingDirectoryInUse(const wchar_t* path) {
  oku::FileHandle probe(::CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  return !probe && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

bool TempDirectoryManager::Cleanup() {
  if (!m_initialized) return true;
  m_ownerLock.reset();
  LogInfo(L"开始清理临时目录...");
  const bool deleted = DeleteDirectoryRecursive(m_tempDir);
  if (deleted) {
    LogInfo(std::wstring(L"临时目录清理成功: ") + m_tempDir);
  } else {
    LogWarning(std::wstring(L"⚠️ 临时目录清理失败，可能存在残留: ") + m_tempDir);
  }
  return deleted;
}

bool TempDirectoryManager::CopyLanternFilesFromDirectory(const wchar_t* sourceDirectory) {
  const std::wstring source = sourceDirectory ? sourceDirectory : L"";
  LogInfo(L"开始从源目录复制 Lantern 文件...");
  LogInfo(L"源目录: " + source);
  LogInfo(std::wstring(L"目标目录: ") + m_lanternDir);
  if (!m_initialized) {
    LogError(L"TempDirectoryManager 未初始化");
    return false;
  }
  if (source.empty() || !IsDirectory(source.c_str())) {
    LogError(L"源 Lantern 目录不存在: " + source);
    return false;
  }
  static const wchar_t* const kNames[] = {L"lantern_sdk.dll", L"tessel.dll", L"tracer_logger.dll", L"dockit.dll",
                                          L"client_extension.dll"};
  int successes = 0;
  int failures = 0;
  for (const wchar_t* name : kNames) {
    wchar_t from[MAX_PATH] = {};
    wchar_t to[MAX_PATH] = {};
    const bool fromFits = ComposePath(from, {source, L"\\", name});
    if (!fromFits || ::GetFileAttributesW(from) == INVALID_FILE_ATTRIBUTES) {
      LogWarning(L"源文件不存在，跳过: " + source + L"\\" + name);
      continue;
    }
    const bool toFits = ComposePath(to, {m_lanternDir, L"\\", name});
    LogInfo(std::wstring(L"复制文件: ") + from + L" -> " + m_lanternDir + L"\\" + name);
    if (toFits && CopyFileWithRetry(from, to)) {
      ++successes;
      LogInfo(L"  ✓ 复制成功");
    } else {
      ++failures;
      LogError(L"  ✗ 复制失败");
    }
  }
  LogInfo(L"Lantern 文件复制完成: 成功 " + oku::ToWide(successes) + L" 个，失败 " + oku::ToWide(failures) + L" 个");
  if (successes >= 2) return true;
  LogError(L"关键文件复制失败，无法使用 Lantern SDK");
  return false;
}

namespace {

std::function<void(DWORD)>& CopyRetryPause() {
  static std::function<void(DWORD)> pause;
  return pause;
}

}  // namespace

void TempDirectoryManager::SetCopyRetryPauseForTesting(std::function<void(DWORD milliseconds)> pause) {
  CopyRetryPause() = std::move(pause);
}

bool TempDirectoryManager::CopyFileWithRetry(const wchar_t* source, const wchar_t* destination) {
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (attempt >= 2) {
      LogInfo(L"    重试复制文件 (第 " + oku::ToWide(attempt) + L" 次)...");
      const DWORD pauseMs = static_cast<DWORD>(100 * (attempt - 1));
      if (CopyRetryPause()) {
        CopyRetryPause()(pauseMs);
      } else {
        ::Sleep(pauseMs);
      }
    }
    if (::GetFileAttributesW(destination) != INVALID_FILE_ATTRIBUTES) {
      ::SetFileAttributesW(destination, FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(destination);
    }
    const BOOL copied = ::CopyFileW(source, destination, FALSE);
    const DWORD error = ::GetLastError();
    if (copied) {
      const DWORD attributes = ::GetFileAttributesW(destination);
      if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    }
    LogInfo(L"    CopyFile 失败，错误码: " + Decimal(copied ? ::GetLastError() : error));
  }
  return false;
}
