#include "workspace/payload.h"

#include <windows.h>
#include <shlwapi.h>

#include "common/handles.h"
#include "common/portable/text.h"
#include "common/session_log.h"

namespace {

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

}  // namespace

bool ExtractResource(HMODULE module, std::uint32_t id, const std::wstring& targetPath) {
  const std::wstring idText = oku::ToWide(id);
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!resource) {
    const DWORD error = ::GetLastError();
    LogError(L"Failed to find resource: " + idText);
    ::SetLastError(error);
    return false;
  }
  HGLOBAL loaded = ::LoadResource(module, resource);
  if (!loaded) {
    const DWORD error = ::GetLastError();
    LogError(L"Failed to load resource: " + idText);
    ::SetLastError(error);
    return false;
  }
  const void* data = ::LockResource(loaded);
  const DWORD size = ::SizeofResource(module, resource);
  if (!data || size == 0) {
    LogError(L"Invalid resource data: " + idText);
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }

  DWORD written = 0;
  BOOL wrote = FALSE;
  DWORD error = 0;
  {
    oku::FileHandle file(
        ::CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      error = ::GetLastError();
      LogError(L"Failed to create file: " + targetPath + L", error: " + oku::ToWide(error));
      if (IsDiskFull(error)) LogError(L"磁盘空间不足！");
      ::SetLastError(error);
      return false;
    }
    // One write straight from the mapped image: the payload is never copied in memory.
    wrote = ::WriteFile(file.get(), data, size, &written, nullptr);
    error = ::GetLastError();
    // A short count reported as success (Wine on a full volume) goes on from where it stopped,
    // so that the call that fails names the reason (disk full) instead of leaving it unknown.
    while (wrote && written < size) {
      DWORD more = 0;
      wrote = ::WriteFile(file.get(), static_cast<const char*>(data) + written, size - written, &more, nullptr);
      error = ::GetLastError();
      if (more == 0) break;
      written += more;
    }
    if (wrote && written < size) wrote = FALSE;
  }
  if (wrote && written == size) {
    LogInfo(L"Resource extracted successfully: " + targetPath + L" (" + oku::ToWide(size) + L" bytes)");
    return true;
  }
  // The partial file goes first: a log on the same full volume needs the room it gives back.
  const bool diskFull = IsDiskFull(error);
  if (diskFull) ::DeleteFileW(targetPath.c_str());
  LogError(L"Failed to write file: " + targetPath + L", expected: " + oku::ToWide(size) + L", written: " +
           oku::ToWide(written) + L", error: " + oku::ToWide(error));
  if (diskFull) LogError(L"磁盘空间不足，已删除不完整文件");
  ::SetLastError(error);
  return false;
}

bool ExtractResourceToDirectory(HMODULE module, const ResourceEntry& entry, const std::wstring& directory) {
  const std::wstring name = entry.fileName ? entry.fileName : L"";
  const bool extracted = ExtractResource(module, entry.id, directory + L"\\" + name);
  const DWORD error = ::GetLastError();
  if (extracted) {
    LogInfo(name + L" extracted successfully!");
  } else {
    LogInfo(L"Failed to extract " + name);
  }
  ::SetLastError(error);
  return extracted;
}

BatchExtractResult ExtractResources(HMODULE module, const ResourceEntry* entries, int count,
                                    const std::wstring& directory) {
  BatchExtractResult result;
  result.total = count;
  LogInfo(L"开始批量解压资源: " + oku::ToWide(count) + L" 个文件");
  LogInfo(L"目标目录: " + directory);
  for (int i = 0; i < count && entries; ++i) {
    const ResourceEntry& entry = entries[i];
    const std::wstring name = entry.fileName ? entry.fileName : L"";
    const std::wstring position = L"  [" + oku::ToWide(i + 1) + L"/" + oku::ToWide(count) + L"] ";
    if (ExtractResourceToDirectory(module, entry, directory)) {
      ++result.succeeded;
      LogInfo(position + L"✓ " + name);
    } else {
      const DWORD error = ::GetLastError();
      ++result.failed;
      result.failedFiles.push_back(name);
      result.lastError = error;
      result.allSucceeded = false;
      LogError(position + L"✗ " + name);
    }
  }
  LogInfo(L"批量解压完成: 成功 " + oku::ToWide(result.succeeded) + L"/" + oku::ToWide(count) + L", 失败 " +
          oku::ToWide(result.failed));
  return result;
}

std::wstring GetCopyErrorText(std::uint32_t error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return L"源文件未找到";
    case ERROR_PATH_NOT_FOUND:
      return L"路径未找到";
    case ERROR_ACCESS_DENIED:
      return L"访问被拒绝";
    case ERROR_WRITE_PROTECT:
      return L"写保护";
    case ERROR_SHARING_VIOLATION:
      return L"文件被占用";
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
      return L"磁盘空间不足";
    case ERROR_FILENAME_EXCED_RANGE:
      return L"文件名太长（超过 MAX_PATH）";
    default:
      return L"未知错误";
  }
}

std::uint64_t GetFileSizeBytes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

CopyResult CopyFileWithReport(const std::wstring& source, const std::wstring& destination) {
  CopyResult result;
  if (!::PathFileExistsW(source.c_str())) {
    result.errorCode = ERROR_FILE_NOT_FOUND;
    result.errorText = L"源文件未找到";
    LogError(L"源文件不存在: " + source);
    return result;
  }
  result.sourceSize = GetFileSizeBytes(source);
  LogInfo(L"开始复制文件: " + source + L" -> " + destination + L" (" + oku::ToWide(result.sourceSize) + L" 字节)");
  if (::CopyFileW(source.c_str(), destination.c_str(), FALSE)) {
    result.success = true;
    LogInfo(L"✓ 文件复制成功: " + destination);
    if (::PathFileExistsW(destination.c_str())) {
      LogInfo(L"目标文件大小: " + oku::ToWide(GetFileSizeBytes(destination)) + L" 字节");
    }
    return result;
  }
  const DWORD error = ::GetLastError();
  // A copy cut short by a full disk is not left behind as if it were the file (Wine keeps it).
  if (IsDiskFull(error)) ::DeleteFileW(destination.c_str());
  result.errorCode = error;
  result.errorText = GetCopyErrorText(error);
  LogError(L"✗ 文件复制失败: " + result.errorText + L" (错误码: " + oku::ToWide(error) + L")");
  return result;
}
