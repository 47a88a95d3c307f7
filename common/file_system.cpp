#include "common/file_system.h"

namespace oku {

namespace {

bool IsDotOrDotDot(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool IsLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A directory, its entries first. Entry paths are the directory's path, a backslash and a name
// the listing gave (never "." or ".."), so nothing outside the tree is ever named.
bool RemoveDirectoryNode(const std::wstring& path, bool isRoot, TreeRemoval& removal) {
  // Read again here, not taken from the parent's listing: a directory replaced by a link in
  // the meantime is still not entered.
  const bool isLink = IsLinkAttributes(::GetFileAttributesW(path.c_str()));
  if (isLink && !isRoot) return removal.RemoveDirectoryLink(path);
  if (!removal.OnEnterDirectory(path, isLink)) return false;
  bool ok = true;
  TreeCounts counts;
  if (!isLink) {
    DirectoryListing listing(path);
    if (!listing.ok() && !removal.OnListingFailed(path, listing.error())) return false;
    for (const DirectoryEntry entry : listing) {
      if (entry.IsDirectory()) {
        ++counts.directories;
      } else {
        ++counts.files;
      }
      const std::wstring child = path + L"\\" + entry.name();
      if (!removal.Accepts(child)) {
        ok = false;
      } else if (entry.IsDirectory() && entry.IsLink()) {
        ok = removal.RemoveDirectoryLink(child) && ok;
      } else if (entry.IsDirectory()) {
        ok = RemoveDirectoryNode(child, false, removal) && ok;
      } else {
        ok = removal.RemoveFile(child, entry) && ok;
      }
    }
  }
  removal.OnDirectoryListed(path, counts);
  return removal.RemoveEmptiedDirectory(path, isLink) && ok;
}

}  // namespace

DirectoryListing::DirectoryListing(const std::wstring& directory, const wchar_t* pattern) {
  find_.reset(::FindFirstFileW((directory + L"\\" + pattern).c_str(), &data_));
  if (!find_) {
    error_ = ::GetLastError();
    if (error_ == ERROR_SUCCESS) error_ = ERROR_INVALID_HANDLE;  // ok() must say it failed
    return;
  }
  SkipDots();
}

void DirectoryListing::Advance() {
  if (!find_) return;
  if (!::FindNextFileW(find_.get(), &data_)) {
    find_.reset();
    return;
  }
  SkipDots();
}

void DirectoryListing::SkipDots() {
  while (IsDotOrDotDot(data_.cFileName)) {
    if (!::FindNextFileW(find_.get(), &data_)) {
      find_.reset();
      return;
    }
  }
}

bool TreeRemoval::OnEnterDirectory(const std::wstring&, bool) { return true; }

bool TreeRemoval::OnListingFailed(const std::wstring&, DWORD) { return true; }

bool TreeRemoval::Accepts(const std::wstring&) { return true; }

bool TreeRemoval::RemoveFile(const std::wstring& path, const DirectoryEntry& entry) {
  if (resetsFiles() && !entry.IsLink()) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::DeleteFileW(path.c_str())) return true;
  return OnEntryFailed(path, ::GetLastError());
}

bool TreeRemoval::RemoveDirectoryLink(const std::wstring& path) {
  if (::RemoveDirectoryW(path.c_str())) return true;
  return OnEntryFailed(path, ::GetLastError());
}

bool TreeRemoval::OnEntryFailed(const std::wstring&, DWORD) { return false; }

void TreeRemoval::OnDirectoryListed(const std::wstring&, const TreeCounts&) {}

bool TreeRemoval::RemoveEmptiedDirectory(const std::wstring& path, bool isLink) {
  if (resetsDirectories() && !isLink) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return ::RemoveDirectoryW(path.c_str()) != FALSE;
}

bool RemoveTree(const std::wstring& root, TreeRemoval& removal) { return RemoveDirectoryNode(root, true, removal); }

DWORD CreateDirectoryTree(const std::wstring& path, std::wstring* failedAt) {
  // Each directory above path, at its separator; the first three characters hold at most a drive.
  for (size_t i = path.find_first_of(L"\\/", 3); i != std::wstring::npos; i = path.find_first_of(L"\\/", i + 1)) {
    const std::wstring parent = path.substr(0, i);
    if (::GetFileAttributesW(parent.c_str()) != INVALID_FILE_ATTRIBUTES || ::CreateDirectoryW(parent.c_str(), nullptr)) {
      continue;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) continue;
    if (failedAt) *failedAt = parent;
    return error;
  }
  if (::CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return ERROR_SUCCESS;
  if (failedAt) *failedAt = path;
  return error;
}

std::wstring TempDirectoryPath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring directory(buffer, length);
  while (directory.size() > 3 && directory.back() == L'\\') directory.pop_back();
  return directory;
}

}  // namespace oku
