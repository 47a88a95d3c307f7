// The file-system toolbox on real directories: the listing without "." and "..", the tree
// remover's links (made on the Linux side, as Wine cannot make them), its bounds and its per-file
// failure hook, the deep directory creator and the temporary directory.
#include "common/file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "tests/support/test_support.h"
#include "tests/uninstall/removal_test_util.h"

namespace {

using oku::test::ReadFileBytes;
using oku::test::ScratchDirectory;
using oku::test::WriteFileBytes;

std::set<std::wstring> Names(oku::DirectoryListing& listing) {
  std::set<std::wstring> names;
  for (const oku::DirectoryEntry entry : listing) names.insert(entry.name());
  return names;
}

// Writes down every path the remover hands to a hook, and each failure.
class RecordingRemoval : public oku::TreeRemoval {
 public:
  using TreeRemoval::TreeRemoval;

  bool OnEnterDirectory(const std::wstring& path, bool isLink) override {
    touched.push_back(path);
    if (isLink) enteredLinks.push_back(path);
    return true;
  }
  bool RemoveFile(const std::wstring& path, const oku::DirectoryEntry& entry) override {
    touched.push_back(path);
    return TreeRemoval::RemoveFile(path, entry);
  }
  bool RemoveDirectoryLink(const std::wstring& path) override {
    touched.push_back(path);
    links.push_back(path);
    return TreeRemoval::RemoveDirectoryLink(path);
  }
  bool OnEntryFailed(const std::wstring& path, DWORD error) override {
    failures.emplace_back(path, error);
    return false;
  }
  void OnDirectoryListed(const std::wstring& path, const oku::TreeCounts& counts) override {
    listed.emplace_back(path, counts.files + counts.directories);
  }

  std::vector<std::wstring> touched;
  std::vector<std::wstring> enteredLinks;
  std::vector<std::wstring> links;
  std::vector<std::pair<std::wstring, DWORD>> failures;
  std::vector<std::pair<std::wstring, int>> listed;
};

TEST(DirectoryListing, SkipsDotEntriesAndKeepsEverythingElse) {
  ScratchDirectory scratch(L"fs_listing");
  oku::DirectoryListing empty(scratch.path());
  EXPECT_TRUE(empty.ok());
  EXPECT_TRUE(Names(empty).empty());

  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"a.txt"), "a"));
  ASSERT_TRUE(WriteFileBytes(scratch.Child(L".hidden"), "h"));
  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"..two"), "t"));
  ASSERT_TRUE(::CreateDirectoryW(scratch.Child(L"sub").c_str(), nullptr));
  oku::DirectoryListing all(scratch.path());
  EXPECT_TRUE(all.ok());
  EXPECT_EQ(Names(all), (std::set<std::wstring>{L"a.txt", L".hidden", L"..two", L"sub"}));

  oku::DirectoryListing texts(scratch.path(), L"*.txt");
  EXPECT_EQ(Names(texts), std::set<std::wstring>{L"a.txt"});

  oku::DirectoryListing missing(scratch.Child(L"absent"));
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(Names(missing).empty());
}

TEST(RemoveTree, RemovesEverythingBelowTheRootAndNothingBesideIt) {
  ScratchDirectory scratch(L"fs_bounds");
  const std::wstring root = scratch.Child(L"tree");
  ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((root + L"\\a").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((root + L"\\a\\b").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(root + L"\\top.txt", "1"));
  ASSERT_TRUE(WriteFileBytes(root + L"\\a\\b\\deep.txt", "2"));
  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"sibling.txt"), "beside"));
  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"tree2"), "a name that starts like the root"));

  RecordingRemoval removal;
  EXPECT_TRUE(oku::RemoveTree(root, removal));
  EXPECT_FALSE(oku::PathExists(root));
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"sibling.txt")), "beside");
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"tree2")), "a name that starts like the root");
  EXPECT_TRUE(oku::DirectoryExists(scratch.path()));
  for (const std::wstring& path : removal.touched) {
    EXPECT_TRUE(path == root || path.rfind(root + L"\\", 0) == 0) << oku::Utf8FromWide(path);
  }
  // Each directory is listed after it is entered and before it is removed, innermost first.
  ASSERT_EQ(removal.listed.size(), 3u);
  EXPECT_EQ(removal.listed[0], std::make_pair(root + L"\\a\\b", 1));
  EXPECT_EQ(removal.listed[1], std::make_pair(root + L"\\a", 1));
  EXPECT_EQ(removal.listed[2], std::make_pair(root, 2));
  EXPECT_TRUE(removal.failures.empty());
}

TEST(RemoveTree, LinkInsideIsRemovedAsALinkAndItsTargetKept) {
  ScratchDirectory scratch(L"fs_link");
  const std::wstring outside = scratch.Child(L"outside");
  ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(outside + L"\\precious.txt", "keep me"));
  ::SetFileAttributesW((outside + L"\\precious.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring root = scratch.Child(L"tree");
  ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(root + L"\\own.txt", "x"));
  const std::wstring link = root + L"\\link";
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, link));
  ASSERT_EQ(::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT,
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));

  RecordingRemoval removal(oku::TreeRemoval::Reset::kFilesAndDirectories);
  const bool removed = oku::RemoveTree(root, removal);
  EXPECT_EQ(removal.links, std::vector<std::wstring>{link});
  for (const std::wstring& path : removal.touched) {
    EXPECT_EQ(path.find(L"precious"), std::wstring::npos) << "the link's target was listed";
  }
  EXPECT_EQ(ReadFileBytes(outside + L"\\precious.txt"), "keep me");
  EXPECT_NE(::GetFileAttributesW((outside + L"\\precious.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
      << "the target's attributes were changed";
  EXPECT_FALSE(oku::PathExists(root + L"\\own.txt"));
  // Windows removes the link; Wine cannot remove a Unix link to a non-empty directory, which then
  // is the one failure the hook hears of.
  if (oku::PathExists(link)) {
    EXPECT_FALSE(removed);
    ASSERT_EQ(removal.failures.size(), 1u);
    EXPECT_EQ(removal.failures[0].first, link);
  } else {
    EXPECT_TRUE(removed);
    EXPECT_FALSE(oku::PathExists(root));
  }
  oku::test::RemoveUnixSymlink(link);
  ::SetFileAttributesW((outside + L"\\precious.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(RemoveTree, LinkGivenAsTheRootIsNotEntered) {
  ScratchDirectory scratch(L"fs_rootlink");
  const std::wstring outside = scratch.Child(L"outside");
  ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(outside + L"\\precious.txt", "keep me"));
  const std::wstring link = scratch.Child(L"root-link");
  ASSERT_TRUE(oku::test::MakeUnixSymlink(outside, link));

  RecordingRemoval removal(oku::TreeRemoval::Reset::kFilesAndDirectories);
  (void)oku::RemoveTree(link, removal);  // judged by what it entered and touched
  EXPECT_EQ(removal.enteredLinks, std::vector<std::wstring>{link});
  ASSERT_EQ(removal.listed.size(), 1u);
  EXPECT_EQ(removal.listed[0], std::make_pair(link, 0));
  EXPECT_EQ(removal.touched, std::vector<std::wstring>{link});
  EXPECT_EQ(ReadFileBytes(outside + L"\\precious.txt"), "keep me");
  oku::test::RemoveUnixSymlink(link);
}

TEST(RemoveTree, EachFileThatWillNotGoReachesTheHookOnce) {
  ScratchDirectory scratch(L"fs_failures");
  const std::wstring root = scratch.Child(L"tree");
  ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
  const std::wstring held = root + L"\\held.dat";
  const std::wstring heldDeep = root + L"\\sub\\held.dat";
  const std::wstring readOnly = root + L"\\sub\\read-only.txt";
  for (const std::wstring& path : {held, heldDeep, readOnly, root + L"\\free.txt"}) {
    ASSERT_TRUE(WriteFileBytes(path, "x"));
  }
  ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  std::vector<oku::FileHandle> holders;
  for (const std::wstring& path : {held, heldDeep}) {
    holders.emplace_back(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holders.back());
  }

  // Attributes kept: the read-only file fails too.
  RecordingRemoval keeping;
  EXPECT_FALSE(oku::RemoveTree(root, keeping));
  std::vector<std::pair<std::wstring, DWORD>> failures = keeping.failures;
  std::sort(failures.begin(), failures.end());
  const std::vector<std::pair<std::wstring, DWORD>> expected = {
      {held, ERROR_SHARING_VIOLATION}, {heldDeep, ERROR_SHARING_VIOLATION}, {readOnly, ERROR_ACCESS_DENIED}};
  EXPECT_EQ(failures, expected);
  EXPECT_FALSE(oku::PathExists(root + L"\\free.txt"));
  EXPECT_TRUE(oku::PathExists(readOnly));

  // Attributes reset: only the held files are left.
  RecordingRemoval resetting(oku::TreeRemoval::Reset::kFilesAndDirectories);
  EXPECT_FALSE(oku::RemoveTree(root, resetting));
  ASSERT_EQ(resetting.failures.size(), 2u);
  EXPECT_FALSE(oku::PathExists(readOnly));

  holders.clear();
  RecordingRemoval last;
  EXPECT_TRUE(oku::RemoveTree(root, last));
  EXPECT_FALSE(oku::PathExists(root));
}

TEST(CreateDirectoryTree, MakesEveryMissingParentAndNamesWhatFails) {
  ScratchDirectory scratch(L"fs_create");
  const std::wstring deep = scratch.Child(L"a\\b/c\\d");
  EXPECT_EQ(oku::CreateDirectoryTree(deep), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(oku::DirectoryExists(scratch.Child(L"a\\b\\c\\d")));
  EXPECT_EQ(oku::CreateDirectoryTree(deep), static_cast<DWORD>(ERROR_SUCCESS));

  ASSERT_TRUE(WriteFileBytes(scratch.Child(L"file"), "x"));
  std::wstring failedAt;
  EXPECT_NE(oku::CreateDirectoryTree(scratch.Child(L"file\\x\\y"), &failedAt), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(failedAt, scratch.Child(L"file\\x"));
  EXPECT_EQ(ReadFileBytes(scratch.Child(L"file")), "x");
}

TEST(TempDirectoryPath, DropsTheTrailingBackslashButNotARootsOwn) {
  wchar_t saved[MAX_PATH] = {};
  const DWORD savedLength = ::GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
  const std::wstring before = oku::TempDirectoryPath();
  ASSERT_FALSE(before.empty());
  EXPECT_NE(before.back(), L'\\');
  ScratchDirectory scratch(L"fs_temp");
  for (const auto& [value, expected] : std::vector<std::pair<std::wstring, std::wstring>>{
           {scratch.path() + L"\\", scratch.path()}, {scratch.path(), scratch.path()}, {L"C:\\", L"C:\\"}}) {
    ::SetEnvironmentVariableW(L"TMP", value.c_str());
    EXPECT_EQ(oku::TempDirectoryPath(), expected);
  }
  ::SetEnvironmentVariableW(L"TMP", savedLength > 0 && savedLength < MAX_PATH ? saved : nullptr);
  EXPECT_EQ(oku::TempDirectoryPath(), before);
}

}  // namespace
