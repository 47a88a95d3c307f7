// zucchini.exe under Wine, started without a window like the incremental installation starts it:
// patches it made itself (large data, two builds of a program) and one made by xdelta3 rebuild the
// new file byte for byte; bad input or the wrong old file fails with a non-zero exit and leaves no
// output file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/handles.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A Unix path as Wine sees it (the root is Z:).
std::wstring WinePath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(*p));
  return path;
}

std::wstring ZucchiniPath() {
  const char* bin = std::getenv("OKU_BIN_DIR");
  EXPECT_NE(bin, nullptr) << "OKU_BIN_DIR not set";
  std::wstring dir;
  for (const char* p = bin ? bin : ""; *p; ++p) dir.push_back(static_cast<wchar_t>(*p));
  // OKU_BIN_DIR is a Unix path; Wine maps the root to Z:.
  for (auto& c : dir) {
    if (c == L'/') c = L'\\';
  }
  return L"Z:" + dir + L"\\tools\\zucchini.exe";
}

// Runs a command line without a window and without inherited handles; the exit code, or -1.
int RunHidden(const std::wstring& commandLine, DWORD timeoutMs = 120000) {
  std::wstring buffer = commandLine;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    return -1;
  }
  oku::KernelHandle process(pi.hProcess), thread(pi.hThread);
  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 99);
    ::WaitForSingleObject(process.get(), 10000);
    return -1;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  return static_cast<int>(code);
}

std::wstring Quote(const std::wstring& s) { return L"\"" + s + L"\""; }

int Zucchini(const std::wstring& verb, const std::wstring& a, const std::wstring& b, const std::wstring& c) {
  return RunHidden(Quote(ZucchiniPath()) + L" " + verb + L" " + Quote(a) + L" " + Quote(b) + L" " + Quote(c));
}

bool WriteBytes(const std::wstring& path, const Bytes& bytes) {
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return bytes.empty() || (::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                           written == bytes.size());
}

Bytes ReadBytes(const std::wstring& path) {
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  Bytes bytes;
  if (!file) return bytes;
  uint8_t chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  return bytes;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Bytes Lcg(size_t n, uint64_t seed) {
  Bytes out(n);
  uint64_t x = seed;
  for (auto& b : out) {
    x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    b = static_cast<uint8_t>(x >> 56);
  }
  return out;
}

// The pair the embedded xdelta3 patch was made from: an insertion, a deletion and a run.
Bytes XdeltaOld() { return Lcg(65536, 1); }
Bytes XdeltaNew() {
  const Bytes old = XdeltaOld();
  const std::string text = "OkuSetup incremental update";
  Bytes n(old.begin(), old.begin() + 20000);
  n.insert(n.end(), text.begin(), text.end());
  n.insert(n.end(), old.begin() + 20000, old.begin() + 40000);
  n.insert(n.end(), old.begin() + 41000, old.end());
  for (size_t i = 50000; i < 50010; ++i) n[i] = 0xAA;
  return n;
}

// xdelta3 -e -S none -s old new patch (application header, Adler-32 per window).
const uint8_t kXdeltaPatch[] = {
      0xd6, 0xc3, 0xc4, 0x00, 0x04, 0x0b, 0x77, 0x6e, 0x65, 0x77, 0x2f, 0x2f,
      0x77, 0x6f, 0x6c, 0x64, 0x2f, 0x05, 0x84, 0x80, 0x00, 0x00, 0x42, 0x83,
      0xf8, 0x33, 0x00, 0x1c, 0x12, 0x09, 0x7e, 0xde, 0xe3, 0x3b, 0x4f, 0x6b,
      0x75, 0x53, 0x65, 0x74, 0x75, 0x70, 0x20, 0x69, 0x6e, 0x63, 0x72, 0x65,
      0x6d, 0x65, 0x6e, 0x74, 0x61, 0x6c, 0x20, 0x75, 0x70, 0x64, 0x61, 0x74,
      0x65, 0xaa, 0x13, 0x81, 0x9c, 0x20, 0x01, 0x1b, 0x13, 0x81, 0x9c, 0x20,
      0x43, 0xcd, 0x75, 0x00, 0x0a, 0x53, 0xf1, 0x59, 0x00, 0x81, 0x9c, 0x20,
      0x81, 0xa4, 0x08, 0xcd, 0x7f
};

class ZucchiniExe : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    dir_ = std::wstring(temp) + L"zucchini 测试 " + std::to_wstring(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryW(dir_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    for (const wchar_t* name : {L"old.7z", L"new.7z", L"patch", L"out.7z", L"bad", L"out.7z.zucchini-partial", L"own"}) {
      ::DeleteFileW(Path(name).c_str());
    }
    ::RemoveDirectoryW(dir_.c_str());
  }
  std::wstring Path(const wchar_t* name) const { return dir_ + L"\\" + name; }

  std::wstring dir_;
};

TEST_F(ZucchiniExe, GenThenApplyRebuildsTheNewFile) {
  // Several windows (8 MiB each) and edits spread over the file.
  Bytes old = Lcg(20u << 20, 7);
  Bytes next = old;
  for (size_t at = 1000; at + 5000 < next.size(); at += 3u << 20) {
    for (size_t i = 0; i < 300; ++i) next[at + i] ^= 0x33;
    next.erase(next.begin() + static_cast<std::ptrdiff_t>(at + 2000), next.begin() + static_cast<std::ptrdiff_t>(at + 2100));
  }
  const Bytes extra = Lcg(100000, 8);
  next.insert(next.begin() + 12345678, extra.begin(), extra.end());
  ASSERT_TRUE(WriteBytes(Path(L"old.7z"), old));
  ASSERT_TRUE(WriteBytes(Path(L"new.7z"), next));

  ASSERT_EQ(Zucchini(L"-gen", Path(L"old.7z"), Path(L"new.7z"), Path(L"patch")), 0);
  const Bytes patch = ReadBytes(Path(L"patch"));
  EXPECT_LT(patch.size(), 300000u) << "a patch for a few edits should be small";
  ASSERT_EQ(Zucchini(L"-apply", Path(L"old.7z"), Path(L"patch"), Path(L"out.7z")), 0);
  EXPECT_TRUE(ReadBytes(Path(L"out.7z")) == next);
  EXPECT_FALSE(Exists(Path(L"out.7z.zucchini-partial")));
}

TEST_F(ZucchiniExe, TwoBuildsOfAProgram) {
  const Bytes old = ReadBytes(WinePath(ZUCCHINI_SAMPLE_OLD));
  const Bytes next = ReadBytes(WinePath(ZUCCHINI_SAMPLE_NEW));
  ASSERT_GT(old.size(), 10000u);
  ASSERT_FALSE(old == next);
  ASSERT_TRUE(WriteBytes(Path(L"old.7z"), old));
  ASSERT_TRUE(WriteBytes(Path(L"new.7z"), next));
  ASSERT_EQ(Zucchini(L"-gen", Path(L"old.7z"), Path(L"new.7z"), Path(L"patch")), 0);
  const Bytes patch = ReadBytes(Path(L"patch"));
  EXPECT_LT(patch.size(), next.size() / 2);
  ASSERT_GT(patch.size(), 8u);
  EXPECT_EQ(patch[4], 3) << "two PE images: predicted through their layouts";
  ASSERT_EQ(Zucchini(L"-apply", Path(L"old.7z"), Path(L"patch"), Path(L"out.7z")), 0);
  EXPECT_TRUE(ReadBytes(Path(L"out.7z")) == next);
  ASSERT_TRUE(::DeleteFileW(Path(L"out.7z").c_str()));

  // The patch names its old file: the new build in its place is refused (exit code 7).
  EXPECT_EQ(Zucchini(L"-apply", Path(L"new.7z"), Path(L"patch"), Path(L"out.7z")), 7);
  EXPECT_FALSE(Exists(Path(L"out.7z")));
  EXPECT_FALSE(Exists(Path(L"out.7z.zucchini-partial")));
}

TEST_F(ZucchiniExe, AppliesAnXdelta3Patch) {
  ASSERT_TRUE(WriteBytes(Path(L"old.7z"), XdeltaOld()));
  ASSERT_TRUE(WriteBytes(Path(L"patch"), Bytes(std::begin(kXdeltaPatch), std::end(kXdeltaPatch))));
  ASSERT_EQ(Zucchini(L"-apply", Path(L"old.7z"), Path(L"patch"), Path(L"out.7z")), 0);
  EXPECT_TRUE(ReadBytes(Path(L"out.7z")) == XdeltaNew());
}

TEST_F(ZucchiniExe, FailuresExitNonZeroWithoutOutput) {
  ASSERT_TRUE(WriteBytes(Path(L"old.7z"), XdeltaOld()));
  Bytes bad(std::begin(kXdeltaPatch), std::end(kXdeltaPatch));
  bad[bad.size() - 30] ^= 0x40;  // a literal byte: the window's Adler-32 no longer matches
  ASSERT_TRUE(WriteBytes(Path(L"bad"), bad));
  Bytes truncated(std::begin(kXdeltaPatch), std::end(kXdeltaPatch) - 5);
  ASSERT_TRUE(WriteBytes(Path(L"patch"), truncated));
  ASSERT_TRUE(WriteBytes(Path(L"new.7z"), XdeltaNew()));
  ASSERT_EQ(Zucchini(L"-gen", Path(L"old.7z"), Path(L"new.7z"), Path(L"own")), 0);
  Bytes own = ReadBytes(Path(L"own"));
  ASSERT_GT(own.size(), 128u);
  own.back() ^= 0x01;  // inside the streams: the output's SHA-256 no longer matches
  ASSERT_TRUE(WriteBytes(Path(L"own"), own));

  struct Case {
    const char* name;
    std::wstring commandLine;
  };
  const std::wstring exe = Quote(ZucchiniPath());
  const std::vector<Case> cases = {
      {"no arguments", exe},
      {"unknown verb", exe + L" -patch " + Quote(Path(L"old.7z")) + L" " + Quote(Path(L"bad")) + L" " + Quote(Path(L"out.7z"))},
      {"checksum mismatch", exe + L" -apply " + Quote(Path(L"old.7z")) + L" " + Quote(Path(L"bad")) + L" " + Quote(Path(L"out.7z"))},
      {"truncated patch", exe + L" -apply " + Quote(Path(L"old.7z")) + L" " + Quote(Path(L"patch")) + L" " + Quote(Path(L"out.7z"))},
      {"missing old file", exe + L" -apply " + Quote(Path(L"none")) + L" " + Quote(Path(L"patch")) + L" " + Quote(Path(L"out.7z"))},
      {"damaged own patch", exe + L" -apply " + Quote(Path(L"old.7z")) + L" " + Quote(Path(L"own")) + L" " + Quote(Path(L"out.7z"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int code = RunHidden(c.commandLine);
    EXPECT_NE(code, 0);
    EXPECT_NE(code, -1) << "did not start or did not finish";
    EXPECT_FALSE(Exists(Path(L"out.7z")));
    EXPECT_FALSE(Exists(Path(L"out.7z.zucchini-partial")));
  }
}

}  // namespace
