// File-system toolbox for both programs: a directory listing without "." and "..", one tree
// remover that removes links as links and never leaves the tree it was given, one creator of a
// directory with its missing parents, and the system's temporary directory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/handles.h"

namespace oku {

// One entry of a directory listing; never "." or "..".
class DirectoryEntry {
 public:
  explicit DirectoryEntry(const WIN32_FIND_DATAW& data) noexcept : data_(data) {}

  [[nodiscard]] const wchar_t* name() const noexcept { return data_.cFileName; }
  [[nodiscard]] DWORD attributes() const noexcept { return data_.dwFileAttributes; }
  [[nodiscard]] bool IsDirectory() const noexcept { return (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
  // Any reparse point: junction, symbolic link, mount point. Never listed through.
  [[nodiscard]] bool IsLink() const noexcept { return (data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  [[nodiscard]] std::uint64_t size() const noexcept {
    return (static_cast<std::uint64_t>(data_.nFileSizeHigh) << 32) + data_.nFileSizeLow;
  }

 private:
  const WIN32_FIND_DATAW& data_;
};

// The entries of directory matching pattern, in the order FindFirstFileW and FindNextFileW give
// them, for a range-for. A listing that cannot be opened yields nothing; ok() and error() tell.
class DirectoryListing {
 public:
  explicit DirectoryListing(const std::wstring& directory, const wchar_t* pattern = L"*");
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // True when FindFirstFileW succeeded (also once every entry has been read).
  [[nodiscard]] bool ok() const noexcept { return error_ == ERROR_SUCCESS; }
  // FindFirstFileW's error when the listing could not be opened.
  [[nodiscard]] DWORD error() const noexcept { return error_; }

  class Iterator {
   public:
    DirectoryEntry operator*() const noexcept { return DirectoryEntry(listing_->data_); }
    Iterator& operator++() {
      listing_->Advance();
      return *this;
    }
    bool operator!=(const Iterator&) const noexcept { return listing_ && listing_->find_.valid(); }

   private:
    friend class DirectoryListing;
    explicit Iterator(DirectoryListing* listing) noexcept : listing_(listing) {}
    DirectoryListing* listing_;
  };
  // One pass only: the listing is consumed as it is iterated.
  Iterator begin() noexcept { return Iterator(this); }
  Iterator end() noexcept { return Iterator(nullptr); }

 private:
  void Advance();  // to the next entry that is not "." or ".."; closes the handle at the end
  void SkipDots();

  WIN32_FIND_DATAW data_{};
  FindHandle find_;
  DWORD error_ = ERROR_SUCCESS;
};

// Entries met in one directory of a removal, links counted by their kind.
struct TreeCounts {
  int files = 0;
  int directories = 0;
};

// What RemoveTree does at each step; a remover overrides what it logs or does differently. The
// defaults make the plain calls and write nothing.
class TreeRemoval {
 public:
  // Which attributes go before a deletion (FILE_ATTRIBUTE_NORMAL is set; a read-only file or
  // directory could not go otherwise). A link's attributes are never changed: they would be its
  // target's.
  enum class Reset { kNothing, kDirectories, kFilesAndDirectories };

  explicit TreeRemoval(Reset reset = Reset::kNothing) noexcept : reset_(reset) {}
  virtual ~TreeRemoval() = default;

  // Before a directory is listed: the root (isLink: it is a link, which is not listed) and every
  // plain directory inside it. False gives up on that directory: it stays, and the removal fails.
  [[nodiscard]] virtual bool OnEnterDirectory(const std::wstring& path, bool isLink);
  // The directory could not be listed (FindFirstFileW's error). True still removes it.
  [[nodiscard]] virtual bool OnListingFailed(const std::wstring& path, DWORD error);
  // False leaves the entry at path alone; the directory holding it then stays.
  virtual bool Accepts(const std::wstring& path);
  // A file or a link to a file: DeleteFileW, on failure OnEntryFailed.
  [[nodiscard]] virtual bool RemoveFile(const std::wstring& path, const DirectoryEntry& entry);
  // A link to a directory inside the tree, removed as the link: RemoveDirectoryW, on failure
  // OnEntryFailed. Its target is never listed.
  [[nodiscard]] virtual bool RemoveDirectoryLink(const std::wstring& path);
  // The per-file failure: the entry at path could not be deleted (error: the failing call's).
  // True when the hook dealt with it; false makes the removal fail.
  [[nodiscard]] virtual bool OnEntryFailed(const std::wstring& path, DWORD error);
  // After every entry of the directory was dealt with.
  virtual void OnDirectoryListed(const std::wstring& path, const TreeCounts& counts);
  // The emptied directory itself, or the root when it is a link: RemoveDirectoryW.
  [[nodiscard]] virtual bool RemoveEmptiedDirectory(const std::wstring& path, bool isLink);

 protected:
  [[nodiscard]] bool resetsFiles() const noexcept { return reset_ == Reset::kFilesAndDirectories; }
  [[nodiscard]] bool resetsDirectories() const noexcept { return reset_ != Reset::kNothing; }

 private:
  Reset reset_;
};

// Removes root with everything below it, entries in listing order, each directory after its
// contents. A link (at the root or inside) is removed as the link and never entered; every path
// touched is root or lies below it. True when every step succeeded (or its hook dealt with it).
[[nodiscard]] bool RemoveTree(const std::wstring& root, TreeRemoval& removal);

// Creates path and every missing directory above it ("\" and "/" separate; a drive such as "C:"
// is never created). ERROR_SUCCESS also when it exists already; otherwise the Windows error, and
// failedAt (when given) receives the directory that could not be created.
[[nodiscard]] DWORD CreateDirectoryTree(const std::wstring& path, std::wstring* failedAt = nullptr);

// The system's temporary directory without its trailing backslash (a drive root keeps it);
// empty when GetTempPathW fails or the path needs MAX_PATH characters or more.
std::wstring TempDirectoryPath();

}  // namespace oku
