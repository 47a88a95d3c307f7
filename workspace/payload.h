// Payload resources (RT_RCDATA of the installer's own module) written to files, singly or in
// groups with a summary, and the file copy with a readable error text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct ResourceEntry {
  std::uint32_t id;
  const wchar_t* fileName;
};

struct BatchExtractResult {
  bool allSucceeded = true;
  std::int32_t total = 0;
  std::int32_t succeeded = 0;
  std::int32_t failed = 0;
  std::vector<std::wstring> failedFiles;
  std::uint32_t lastError = 0;
};

struct CopyResult {
  bool success = false;
  std::uint32_t errorCode = 0;
  std::uint64_t sourceSize = 0;
  std::wstring errorText;
};

[[nodiscard]] bool ExtractResource(HMODULE module, std::uint32_t id, const std::wstring& targetPath);
[[nodiscard]] bool ExtractResourceToDirectory(HMODULE module, const ResourceEntry& entry,
                                              const std::wstring& directory);
[[nodiscard]] BatchExtractResult ExtractResources(HMODULE module, const ResourceEntry* entries, int count,
                                                 const std::wstring& directory);
// The same for a whole group: its element count comes with it.
[[nodiscard]] inline BatchExtractResult ExtractResources(HMODULE module, std::span<const ResourceEntry> entries,
                                                         const std::wstring& directory) {
  return ExtractResources(module, entries.data(), static_cast<int>(entries.size()), directory);
}
[[nodiscard]] CopyResult CopyFileWithReport(const std::wstring& source, const std::wstring& destination);
std::wstring GetCopyErrorText(std::uint32_t error);
std::uint64_t GetFileSizeBytes(const std::wstring& path);
