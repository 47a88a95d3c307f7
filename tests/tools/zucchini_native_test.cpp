// The patcher on Linux: its own format (suffix array, round trips, wrong old files, hostile
// patches), and the VCDIFF coder it still applies: round trips, cross-checks with xdelta3 in both
// directions through real files, and corrupt or unsupported patches.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tools/zucchini/portable/byte_io.h"
#include "tools/zucchini/portable/code_model.h"
#include "tools/zucchini/portable/file_system.h"
#include "tools/zucchini/portable/sha256.h"
#include "tools/zucchini/portable/suffix_array.h"
#include "tools/zucchini/portable/vcdiff.h"
#include "tools/zucchini/portable/zpatch.h"

namespace {

using oku::zucchini::DecodeVcdiff;
using oku::zucchini::EncodeOptions;
using oku::zucchini::EncodeVcdiff;
using oku::zucchini::MemorySink;
using oku::zucchini::MemorySource;
using oku::zucchini::ResultCode;
using Bytes = std::vector<uint8_t>;

constexpr const char* kXdelta = "/usr/bin/xdelta3";

Bytes RandomBytes(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Archive-like content: random stretches mixed with text-like repetitive ones and zero padding.
Bytes ArchiveLike(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  Bytes b;
  b.reserve(n);
  while (b.size() < n) {
    const size_t len = 512 + rng() % 65536;
    switch (rng() % 3) {
      case 0:
        for (size_t i = 0; i < len; ++i) b.push_back(static_cast<uint8_t>(rng()));
        break;
      case 1:
        for (size_t i = 0; i < len; ++i) b.push_back(static_cast<uint8_t>("abcdefgh ijk\n"[(i * 7 + rng() % 3) % 13]));
        break;
      default:
        b.insert(b.end(), len / 8, 0);
    }
  }
  b.resize(n);
  return b;
}

// A new version of source: some changed bytes, insertions, deletions and a moved block.
Bytes Edited(const Bytes& source, uint64_t seed, int edits) {
  std::mt19937_64 rng(seed);
  Bytes t = source;
  for (int e = 0; e < edits && !t.empty(); ++e) {
    const size_t at = rng() % t.size();
    const size_t len = 1 + rng() % 2000;
    switch (rng() % 4) {
      case 0:
        for (size_t i = at; i < std::min(t.size(), at + len); ++i) t[i] = static_cast<uint8_t>(rng());
        break;
      case 1: {
        const Bytes ins = RandomBytes(len, rng());
        t.insert(t.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
        break;
      }
      case 2:
        t.erase(t.begin() + static_cast<std::ptrdiff_t>(at), t.begin() + static_cast<std::ptrdiff_t>(std::min(t.size(), at + len)));
        break;
      default: {
        const size_t from = rng() % t.size();
        const size_t n = std::min<size_t>(len * 20, t.size() - from);
        const Bytes block(t.begin() + static_cast<std::ptrdiff_t>(from), t.begin() + static_cast<std::ptrdiff_t>(from + n));
        t.insert(t.begin() + static_cast<std::ptrdiff_t>(rng() % t.size()), block.begin(), block.end());
      }
    }
  }
  return t;
}

Bytes Encode(const Bytes& source, const Bytes& target, const EncodeOptions& options = {}) {
  MemorySource s(source), t(target);
  MemorySink patch;
  const auto r = EncodeVcdiff(s, t, patch, options);
  EXPECT_TRUE(r.ok()) << r.message;
  return patch.bytes();
}

oku::zucchini::Result Decode(const Bytes& source, const Bytes& patch, Bytes* out) {
  MemorySource s(source), p(patch);
  MemorySink sink;
  auto r = DecodeVcdiff(s, p, sink);
  *out = std::move(sink.bytes());
  return r;
}

struct RoundTripCase {
  const char* name;
  Bytes source;
  Bytes target;
  size_t windowSize;
  double maxPatchShare;  // patch size / target size must stay below this (1.0 = no bound)
};

TEST(ZucchiniRoundTrip, ReproducesTargets) {
  const Bytes base = ArchiveLike(3 << 20, 1);
  const Bytes big = ArchiveLike(20 << 20, 2);
  const Bytes random = RandomBytes(300000, 3);
  std::vector<RoundTripCase> cases = {
      {"unrelated random", RandomBytes(200000, 4), random, 8 << 20, 1.01},
      {"similar, many edits", base, Edited(base, 5, 60), 8 << 20, 0.05},
      {"identical", base, base, 8 << 20, 0.001},
      {"empty source", {}, random, 8 << 20, 1.01},
      {"empty target", base, {}, 8 << 20, 1.0},
      {"both empty", {}, {}, 8 << 20, 1.0},
      {"runs of one byte", Bytes(100000, 7), Bytes(500000, 7), 8 << 20, 0.01},
      {"small windows", base, Edited(base, 6, 30), 256 << 10, 0.06},
      {"large, several windows", big, Edited(big, 7, 40), 8 << 20, 0.02},
      {"tiny", Bytes{1, 2, 3}, Bytes{1, 2, 3, 4}, 8 << 20, 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EncodeOptions options;
    options.windowSize = c.windowSize;
    const Bytes patch = Encode(c.source, c.target, options);
    Bytes out;
    const auto r = Decode(c.source, patch, &out);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_TRUE(out == c.target);
    if (c.target.size() > 1000) {
      EXPECT_LT(static_cast<double>(patch.size()), c.maxPatchShare * static_cast<double>(c.target.size()))
          << "patch " << patch.size() << " for target " << c.target.size();
    }
  }
}

// ---- Files and xdelta3 ----

class ZucchiniFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zucchini_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const Bytes& bytes) const {
    std::ofstream f(Path(name), std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  Bytes Read(const std::string& name) const {
    std::ifstream f(Path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::string& name) const {
    struct stat st {};
    return stat(Path(name).c_str(), &st) == 0;
  }
  int Xdelta(const std::string& args) const {
    return std::system(("timeout 120 " + std::string(kXdelta) + " " + args + " >/dev/null 2>&1").c_str());
  }
  int Zucchini(const std::vector<std::string>& args, std::string* message = nullptr) const {
    std::string m;
    const int code = oku::zucchini::RunZucchini(args, oku::zucchini::StdioFileSystem(), &m);
    if (message) *message = m;
    return code;
  }
  static bool HaveXdelta() { return access(kXdelta, X_OK) == 0; }

  std::string dir_;
};

struct XdeltaCase {
  const char* name;
  const char* options;  // encoder options besides -e -s
  Bytes source;
  Bytes target;
};

TEST_F(ZucchiniFiles, AppliesXdelta3Patches) {
  if (!HaveXdelta()) GTEST_SKIP() << "xdelta3 not installed";
  const Bytes base = ArchiveLike(6 << 20, 11);
  const Bytes edited = Edited(base, 12, 50);
  const std::vector<XdeltaCase> cases = {
      {"no secondary compression", "-S none", base, edited},
      {"application header and checksum", "-S none -A=okutest", base, edited},
      {"no checksum, no header", "-S none -n -A", base, edited},
      {"small windows and source window", "-S none -W 65536 -B 1048576", base, edited},
      {"unrelated data (target copies)", "-S none", RandomBytes(100000, 13), ArchiveLike(400000, 14)},
      {"empty old file", "-S none", {}, edited},
      {"empty new file", "-S none", base, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write("old", c.source);
    Write("new", c.target);
    ASSERT_EQ(Xdelta(std::string("-e -f ") + c.options + " -s " + Path("old") + " " + Path("new") + " " + Path("patch")), 0);
    std::string message;
    ASSERT_EQ(Zucchini({"-apply", Path("old"), Path("patch"), Path("out")}, &message), 0) << message;
    EXPECT_TRUE(Read("out") == c.target);
  }
}

TEST_F(ZucchiniFiles, Xdelta3AppliesOurPatches) {
  if (!HaveXdelta()) GTEST_SKIP() << "xdelta3 not installed";
  const Bytes base = ArchiveLike(12 << 20, 21);
  const std::vector<XdeltaCase> cases = {
      {"similar, several windows", "", base, Edited(base, 22, 80)},
      {"identical", "", base, base},
      {"empty old file", "", {}, RandomBytes(50000, 23)},
      {"empty new file", "", base, {}},
      {"unrelated", "", RandomBytes(70000, 24), RandomBytes(90000, 25)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write("old", c.source);
    Write("new", c.target);
    std::string message;
    Write("patch", Encode(c.source, c.target));
    ASSERT_EQ(Xdelta("-d -f -s " + Path("old") + " " + Path("patch") + " " + Path("out")), 0);
    EXPECT_TRUE(Read("out") == c.target);
    ASSERT_EQ(Zucchini({"-apply", Path("old"), Path("patch"), Path("out2")}, &message), 0) << message;
    EXPECT_TRUE(Read("out2") == c.target);
  }
}

TEST_F(ZucchiniFiles, GenWritesOwnFormatAndApplyTakesBoth) {
  const Bytes base = ArchiveLike(2 << 20, 35);
  const Bytes edited = Edited(base, 36, 20);
  Write("old", base);
  Write("new", edited);
  std::string message;
  ASSERT_EQ(Zucchini({"-gen", Path("old"), Path("new"), Path("patch")}, &message), 0) << message;
  const Bytes patch = Read("patch");
  ASSERT_TRUE(oku::zucchini::LooksLikeZpatch(patch.data(), patch.size()));
  EXPECT_LT(patch.size(), edited.size() / 20);
  ASSERT_EQ(Zucchini({"-apply", Path("old"), Path("patch"), Path("out")}, &message), 0) << message;
  EXPECT_TRUE(Read("out") == edited);
  Write("vcdiff", Encode(base, edited));
  ASSERT_EQ(Zucchini({"-apply", Path("old"), Path("vcdiff"), Path("out2")}, &message), 0) << message;
  EXPECT_TRUE(Read("out2") == edited);

  // Applied to another old file: refused before anything is written.
  Bytes other = base;
  other[12345] ^= 1;
  Write("other", other);
  EXPECT_EQ(Zucchini({"-apply", Path("other"), Path("patch"), Path("out3")}, &message), oku::zucchini::kExitWrongOld);
  EXPECT_EQ(Zucchini({"-apply", Path("new"), Path("patch"), Path("out3")}, &message), oku::zucchini::kExitWrongOld);
  EXPECT_FALSE(Exists("out3"));
  EXPECT_FALSE(Exists("out3.zucchini-partial"));
}

TEST_F(ZucchiniFiles, NativeProgramRoundTrip) {
  const Bytes base = ArchiveLike(1 << 20, 31);
  Write("old", base);
  Write("new", Edited(base, 32, 10));
  const std::string exe = ZUCCHINI_NATIVE_EXE;
  EXPECT_EQ(std::system(("timeout 60 " + exe + " -gen " + Path("old") + " " + Path("new") + " " + Path("patch")).c_str()), 0);
  EXPECT_EQ(std::system(("timeout 60 " + exe + " -apply " + Path("old") + " " + Path("patch") + " " + Path("out")).c_str()), 0);
  EXPECT_TRUE(Read("out") == Read("new"));
  EXPECT_NE(std::system(("timeout 60 " + exe + " -apply " + Path("old") + " 2>/dev/null").c_str()), 0);
}

TEST_F(ZucchiniFiles, CommandLineFailures) {
  const Bytes base = ArchiveLike(200000, 41);
  Write("old", base);
  Write("new", Edited(base, 42, 5));
  ASSERT_EQ(Zucchini({"-gen", Path("old"), Path("new"), Path("patch")}), 0);
  Bytes corrupt = Read("patch");
  corrupt[corrupt.size() - 10] ^= 0x5A;
  Write("corrupt", corrupt);
  Write("existing", Bytes{'k', 'e', 'e', 'p'});

  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exit;
  };
  const std::vector<Case> cases = {
      {"no arguments", {}, oku::zucchini::kExitUsage},
      {"unknown command", {"-merge", Path("old"), Path("patch"), Path("out")}, oku::zucchini::kExitUsage},
      {"missing argument", {"-apply", Path("old"), Path("patch")}, oku::zucchini::kExitUsage},
      {"missing old file", {"-apply", Path("nothing"), Path("patch"), Path("out")}, oku::zucchini::kExitInput},
      {"missing patch", {"-apply", Path("old"), Path("nothing"), Path("out")}, oku::zucchini::kExitInput},
      {"unwritable output", {"-apply", Path("old"), Path("patch"), Path("no/such/dir/out")}, oku::zucchini::kExitWrite},
      {"corrupt patch over an existing file", {"-apply", Path("old"), Path("corrupt"), Path("existing")}, -1},
      {"patch is not VCDIFF", {"-apply", Path("old"), Path("old"), Path("out")}, oku::zucchini::kExitCorrupt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string message;
    const int code = Zucchini(c.args, &message);
    if (c.exit >= 0) {
      EXPECT_EQ(code, c.exit);
    } else {
      EXPECT_NE(code, 0);
    }
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_FALSE(Exists("out"));
    EXPECT_FALSE(Exists("out.zucchini-partial"));
    EXPECT_FALSE(Exists("existing.zucchini-partial"));
  }
  EXPECT_TRUE(Read("existing") == (Bytes{'k', 'e', 'e', 'p'}));
  // Success replaces an existing output.
  ASSERT_EQ(Zucchini({"-apply", Path("old"), Path("patch"), Path("existing")}), 0);
  EXPECT_TRUE(Read("existing") == Read("new"));
}

// ---- Corrupt and unsupported patches ----

Bytes Patch(const Bytes& source, const Bytes& target) { return Encode(source, target); }

TEST(ZucchiniCorrupt, RejectsMalformedAndUnsupportedPatches) {
  const Bytes source = ArchiveLike(100000, 51);
  const Bytes target = Edited(source, 52, 8);
  const Bytes good = Patch(source, target);
  // Layout of our patches: 5 header bytes, then Win_Indicator (VCD_SOURCE | VCD_ADLER32).
  ASSERT_EQ(good[5], 0x05);

  struct Case {
    const char* name;
    Bytes patch;
    Bytes source;
    ResultCode expected;
  };
  auto with = [&](size_t at, uint8_t value) {
    Bytes p = good;
    p[at] = value;
    return p;
  };
  Bytes trailing = good;
  trailing.push_back(0x00);
  Bytes header = Bytes(good.begin(), good.begin() + 5);
  // One ADD of 1000 bytes: header 5, window header 14, then the data section.
  Bytes literal = Patch({}, RandomBytes(1000, 53));
  literal[40] ^= 0xFF;
  const std::vector<Case> cases = {
      {"empty file", {}, source, ResultCode::kCorruptPatch},
      {"bad magic", with(0, 0xD7), source, ResultCode::kCorruptPatch},
      {"unknown version", with(3, 0x01), source, ResultCode::kUnsupported},
      {"secondary compressor", with(4, 0x01), source, ResultCode::kUnsupported},
      {"custom code table", with(4, 0x02), source, ResultCode::kUnsupported},
      {"unknown header bits", with(4, 0x10), source, ResultCode::kCorruptPatch},
      {"unknown window bits", with(5, 0x0D), source, ResultCode::kCorruptPatch},
      {"source and target segment", with(5, 0x07), source, ResultCode::kCorruptPatch},
      {"header only", header, source, ResultCode::kCorruptPatch},
      {"old file too short", good, Bytes(source.begin(), source.begin() + 1000), ResultCode::kCorruptPatch},
      {"trailing garbage", trailing, source, ResultCode::kCorruptPatch},
      {"changed literal byte", literal, {}, ResultCode::kChecksumMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out;
    const auto r = Decode(c.source, c.patch, &out);
    EXPECT_EQ(r.code, c.expected) << r.message;
    EXPECT_FALSE(r.message.empty());
  }
}

TEST(ZucchiniCorrupt, HandWrittenWindows) {
  // header, then one window without a source segment, sections spelled out.
  auto window = [](std::vector<uint8_t> body, uint8_t deltaIndicator = 0) {
    Bytes p = {0xD6, 0xC3, 0xC4, 0x00, 0x00, 0x00};
    Bytes delta = {static_cast<uint8_t>(body[0]), deltaIndicator};
    delta.insert(delta.end(), body.begin() + 1, body.end());
    p.push_back(static_cast<uint8_t>(delta.size()));
    p.insert(p.end(), delta.begin(), delta.end());
    return p;
  };
  struct Case {
    const char* name;
    Bytes patch;
    ResultCode expected;
    Bytes output;
  };
  // body: target length, data/inst/addr lengths, sections.
  const std::vector<Case> cases = {
      {"ADD 3", window({3, 3, 1, 0, 'a', 'b', 'c', 4}), ResultCode::kOk, Bytes{'a', 'b', 'c'}},
      {"RUN 5", window({5, 1, 2, 0, 'z', 0, 5}), ResultCode::kOk, Bytes(5, 'z')},
      {"ADD 1 + overlapping COPY 4 (HERE)", window({5, 1, 1, 1, 'q', 175, 1}), ResultCode::kOk, Bytes(5, 'q')},
      {"compressed sections", window({3, 3, 1, 0, 'a', 'b', 'c', 4}, 0x01), ResultCode::kUnsupported, {}},
      {"ADD 1 + overlapping COPY 4 (SELF)", window({5, 1, 1, 1, 'q', 163, 0}), ResultCode::kOk, Bytes(5, 'q')},
      {"copy address not yet decoded", window({5, 1, 1, 1, 'q', 163, 0x7F}), ResultCode::kCorruptPatch, {}},
      {"ADD past the window", window({2, 3, 1, 0, 'a', 'b', 'c', 4}), ResultCode::kCorruptPatch, {}},
      {"window longer than its instructions", window({4, 3, 1, 0, 'a', 'b', 'c', 4}), ResultCode::kCorruptPatch, {}},
      {"data section too short", window({3, 2, 1, 0, 'a', 'b', 4}), ResultCode::kCorruptPatch, {}},
      {"unused data", window({3, 4, 1, 0, 'a', 'b', 'c', 'd', 4}), ResultCode::kCorruptPatch, {}},
      {"lengths disagree", [&] { Bytes p = window({3, 3, 1, 0, 'a', 'b', 'c', 4}); p[6] += 1; return p; }(),
       ResultCode::kCorruptPatch, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out;
    const auto r = Decode({}, c.patch, &out);
    EXPECT_EQ(r.code, c.expected) << r.message;
    if (c.expected == ResultCode::kOk) {
      EXPECT_TRUE(out == c.output);
    }
  }
}

TEST(ZucchiniCorrupt, TruncationsAndBitFlipsNeverPass) {
  const Bytes source = ArchiveLike(50000, 61);
  const Bytes target = Edited(source, 62, 5);
  const Bytes good = Patch(source, target);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    Bytes out;
    const auto r = Decode(source, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)), &out);
    EXPECT_FALSE(r.ok()) << "cut at " << cut;
  }
  std::mt19937_64 rng(63);
  for (int i = 0; i < 300; ++i) {
    Bytes p = good;
    p[5 + rng() % (p.size() - 5)] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Bytes out;
    const auto r = Decode(source, p, &out);
    if (r.ok()) {
      EXPECT_TRUE(out == target) << "flip " << i << " decoded to a different file";
    }
  }
}

// ---- Own format: suffix array, hash, round trips, hostile patches ----

std::vector<int32_t> NaiveSuffixArray(const Bytes& text) {
  std::vector<int32_t> sa(text.size());
  for (size_t i = 0; i < sa.size(); ++i) sa[i] = static_cast<int32_t>(i);
  std::sort(sa.begin(), sa.end(), [&](int32_t a, int32_t b) {
    return std::lexicographical_compare(text.begin() + a, text.end(), text.begin() + b, text.end());
  });
  return sa;
}

TEST(ZpatchSuffixArray, MatchesNaiveSort) {
  std::mt19937_64 rng(71);
  std::vector<Bytes> texts = {{}, {5}, {1, 1}, {2, 1}, Bytes(1000, 0), Bytes(777, 255)};
  for (size_t alphabet : {2, 3, 4, 17, 256}) {
    for (size_t n : {2, 7, 64, 500, 3000}) {
      Bytes t(n);
      for (auto& b : t) b = static_cast<uint8_t>(rng() % alphabet);
      texts.push_back(t);
    }
  }
  Bytes periodic;
  for (int i = 0; i < 4000; ++i) periodic.push_back("abaabaaabaaaab"[i % 14]);
  texts.push_back(periodic);
  for (const Bytes& t : texts) {
    SCOPED_TRACE(t.size());
    EXPECT_TRUE(oku::zucchini::BuildSuffixArray(t.data(), t.size()) == NaiveSuffixArray(t));
  }
}

std::string Hex(const oku::zucchini::Sha256::Digest& d) {
  std::string s;
  for (uint8_t b : d) {
    s += "0123456789abcdef"[b >> 4];
    s += "0123456789abcdef"[b & 15];
  }
  return s;
}

TEST(ZpatchSha256, KnownVectors) {
  using oku::zucchini::Sha256Of;
  const std::string abc = "abc";
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Hex(Sha256Of(nullptr, 0)), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(Sha256Of(reinterpret_cast<const uint8_t*>(abc.data()), abc.size())),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Hex(Sha256Of(reinterpret_cast<const uint8_t*>(two.data()), two.size())),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  oku::zucchini::Sha256 pieces;  // a million 'a', fed in uneven pieces
  const Bytes a(1000, 'a');
  for (size_t done = 0, step = 1; done < 1000000; done += step, step = step % 997 + 1) {
    pieces.Update(a.data(), std::min(step, 1000000 - done));
  }
  EXPECT_EQ(Hex(pieces.Finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

Bytes EncodeOwn(const Bytes& source, const Bytes& target) {
  MemorySource s(source), t(target);
  MemorySink patch;
  const auto r = oku::zucchini::EncodeZpatch(s, t, patch);
  EXPECT_TRUE(r.ok()) << r.message;
  return patch.bytes();
}

oku::zucchini::Result DecodeOwn(const Bytes& source, const Bytes& patch, Bytes* out) {
  MemorySource s(source), p(patch);
  MemorySink sink;
  auto r = oku::zucchini::ApplyAnyPatch(s, p, sink);
  *out = std::move(sink.bytes());
  return r;
}

TEST(ZpatchRoundTrip, ReproducesTargets) {
  const Bytes base = ArchiveLike(3 << 19, 81);
  const Bytes random = RandomBytes(300000, 83);
  // Code-like: a new build shifts every absolute value by a constant.
  Bytes code = ArchiveLike(1 << 20, 84), shifted = code;
  for (size_t i = 0; i + 4 < shifted.size(); i += 37) shifted[i] = static_cast<uint8_t>(shifted[i] + 16);
  struct Case {
    const char* name;
    Bytes source;
    Bytes target;
    double maxPatchShare;  // raw patch size / target size must stay below this
  };
  const std::vector<Case> cases = {
      {"unrelated random", RandomBytes(200000, 82), random, 1.01},
      {"similar, many edits", base, Edited(base, 85, 60), 0.05},
      {"identical", base, base, 0.001},
      {"empty source", {}, random, 1.01},
      {"empty target", base, {}, 1.0},
      {"both empty", {}, {}, 1.0},
      {"runs of one byte", Bytes(100000, 7), Bytes(500000, 7), 0.01},
      {"regular small changes", code, shifted, 0.1},
      {"moved halves", Bytes(base.begin() + 750000, base.end()), base, 0.6},
      {"tiny", Bytes{1, 2, 3}, Bytes{1, 2, 3, 4}, 1.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes patch = EncodeOwn(c.source, c.target);
    Bytes out;
    const auto r = DecodeOwn(c.source, patch, &out);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_TRUE(out == c.target);
    if (c.target.size() > 1000) {
      EXPECT_LT(static_cast<double>(patch.size()), c.maxPatchShare * static_cast<double>(c.target.size()))
          << "patch " << patch.size() << " for target " << c.target.size();
    }
  }
}

void PutVarint(Bytes& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

// A patch with a correct header (sizes, hashes, stream table) around hand-written streams.
// Four streams make version 1, five (the last one the image layouts) version 3.
Bytes OwnPatch(const Bytes& source, const Bytes& target, const std::vector<Bytes>& streams, uint64_t newSize = UINT64_MAX) {
  Bytes p(96 + 8 * streams.size(), 0);
  std::memcpy(p.data(), "OKZP", 4);
  auto le = [&](size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  le(4, streams.size() == 5 ? 3 : 1, 4);
  le(8, source.size(), 8);
  le(16, newSize == UINT64_MAX ? target.size() : newSize, 8);
  const auto oldHash = oku::zucchini::Sha256Of(source.data(), source.size());
  const auto newHash = oku::zucchini::Sha256Of(target.data(), target.size());
  std::memcpy(p.data() + 24, oldHash.data(), 32);
  std::memcpy(p.data() + 56, newHash.data(), 32);
  le(88, streams.size(), 4);
  for (size_t i = 0; i < streams.size(); ++i) le(96 + 8 * i, streams[i].size(), 8);
  for (const Bytes& s : streams) p.insert(p.end(), s.begin(), s.end());
  return p;
}

Bytes Varints(std::initializer_list<uint64_t> values) {
  Bytes b;
  for (uint64_t v : values) PutVarint(b, v);
  return b;
}

TEST(ZpatchCorrupt, HostilePatchesFailCleanly) {
  const Bytes source = {10, 20, 30, 40, 50, 60, 70, 80};
  const Bytes target = {10, 21, 30, 40, 'x', 'y', 60, 70};
  // copy 4 with one difference byte, 2 new bytes, skip one old byte, copy 2.
  const Bytes control = Varints({4, 2, 2, 2, 0, 0});
  const Bytes runs = Varints({1, 1, 4, 0});
  const Bytes good = OwnPatch(source, target, {control, runs, {1}, {'x', 'y'}});
  Bytes out;
  ASSERT_TRUE(DecodeOwn(source, good, &out).ok());
  ASSERT_TRUE(out == target);

  auto with = [&](size_t at, uint8_t value) {
    Bytes p = good;
    p[at] = value;
    return p;
  };
  auto huge = [&](size_t field) {  // a header length field set to 2^63
    Bytes p = good;
    p[field + 7] = 0x80;
    return p;
  };
  Bytes trailing = good;
  trailing.push_back(0);
  // Version 3: the same edit with a fifth stream of image layouts (here: none).
  auto layouts = [&](const Bytes& stream) { return OwnPatch(source, target, {control, runs, {1}, {'x', 'y'}, stream}); };
  const Bytes good3 = layouts(Varints({0}));
  ASSERT_TRUE(DecodeOwn(source, good3, &out).ok());
  ASSERT_TRUE(out == target);
  // An image over the whole old and new file: prediction runs, the result is still checked.
  ASSERT_TRUE(DecodeOwn(source, layouts(Varints({1, 0, 0, 0, 0, 1, 0x1000, 8, 0, 8, 1, 0x1000, 8, 0, 8, 0x1000, 8, 0x1000, 24})),
                        &out).code != ResultCode::kCorruptPatch);
  auto with3 = [&](size_t at, uint8_t value) {
    Bytes p = good3;
    p[at] = value;
    return p;
  };
  struct Case {
    const char* name;
    Bytes patch;
    Bytes source;
    ResultCode expected;
  };
  const std::vector<Case> cases = {
      {"header cut short", Bytes(good.begin(), good.begin() + 100), source, ResultCode::kCorruptPatch},
      {"unknown version", with(4, 4), source, ResultCode::kUnsupported},
      {"stream count", with(88, 5), source, ResultCode::kCorruptPatch},
      {"version 3 with four streams", with(4, 3), source, ResultCode::kCorruptPatch},
      {"version 1 with five streams", with3(4, 1), source, ResultCode::kCorruptPatch},
      {"version 3 header cut short", Bytes(good3.begin(), good3.begin() + 130), source, ResultCode::kCorruptPatch},
      {"image layouts missing", layouts({}), source, ResultCode::kCorruptPatch},
      {"image layouts: too many images", layouts(Varints({5000})), source, ResultCode::kCorruptPatch},
      {"image layouts: cut inside an image", layouts(Varints({1, 0, 0, 0, 0, 1, 0x1000, 8})), source, ResultCode::kCorruptPatch},
      {"image layouts: no new sections", layouts(Varints({1, 0, 0, 0, 0, 1, 0x1000, 8, 0, 8, 0, 0, 0, 0, 0})), source, ResultCode::kCorruptPatch},
      {"image layouts: no old sections", layouts(Varints({1, 0, 0, 0, 0, 0})), source, ResultCode::kCorruptPatch},
      {"image layouts: too many sections", layouts(Varints({1, 0, 0, 0, 0, 97})), source, ResultCode::kCorruptPatch},
      {"image layouts: old section past the old file",
       layouts(Varints({1, 0, 0, 0, 0, 1, 0x1000, 8, 0, 9, 1, 0x1000, 8, 0, 8, 0, 0, 0, 0})), source, ResultCode::kCorruptPatch},
      {"image layouts: new section past the new file",
       layouts(Varints({1, 0, 0, 0, 0, 1, 0x1000, 8, 0, 8, 1, 0x1000, 8, 1, 8, 0, 0, 0, 0})), source, ResultCode::kCorruptPatch},
      {"image layouts: image start past the old file", layouts(Varints({1, 9, 0, 0, 0, 1})), source, ResultCode::kCorruptPatch},
      {"image layouts: section RVA over 32 bits",
       layouts(Varints({1, 0, 0, 0, 0, 1, uint64_t{1} << 32, 8, 0, 8, 1, 0x1000, 8, 0, 8, 0, 0, 0, 0})), source,
       ResultCode::kCorruptPatch},
      {"image layouts: overlapping images",
       layouts(Varints({2, 0, 0, 0, 0, 1, 0x1000, 8, 0, 8, 1, 0x1000, 8, 0, 8, 0, 0, 0, 0, 4, 0, 0, 0, 1, 0x1000, 4, 0,
                        4, 1, 0x1000, 4, 0, 4, 0, 0, 0, 0})),
       source, ResultCode::kCorruptPatch},
      {"image layouts: trailing bytes", layouts(Varints({0, 0})), source, ResultCode::kCorruptPatch},
      {"image layouts: longer than 4 MiB", layouts(Bytes((size_t{4} << 20) + 1, 0)), source, ResultCode::kCorruptPatch},
      {"reserved field", with(92, 1), source, ResultCode::kCorruptPatch},
      {"stream longer than the patch", huge(96), source, ResultCode::kCorruptPatch},
      {"last stream longer than the patch", huge(120), source, ResultCode::kCorruptPatch},
      {"trailing bytes", trailing, source, ResultCode::kCorruptPatch},
      {"old size differs", huge(8), source, ResultCode::kSourceMismatch},
      {"other old file", good, Bytes{10, 20, 30, 40, 50, 60, 70, 81}, ResultCode::kSourceMismatch},
      {"old hash differs", with(30, good[30] ^ 1), source, ResultCode::kSourceMismatch},
      {"new hash differs", with(60, good[60] ^ 1), source, ResultCode::kChecksumMismatch},
      {"declared new size huge", OwnPatch(source, target, {control, runs, {1}, {'x', 'y'}}, uint64_t{1} << 62), source,
       ResultCode::kCorruptPatch},
      {"declared new size short", OwnPatch(source, target, {control, runs, {1}, {'x', 'y'}}, 5), source,
       ResultCode::kCorruptPatch},
      {"copy past the old file", OwnPatch(source, target, {Varints({9, 0, 0}), {}, {}, {}}), source, ResultCode::kCorruptPatch},
      {"seek before the start", OwnPatch(source, target, {Varints({4, 2, 9, 2, 0, 0}), runs, {1}, {'x', 'y'}}), source,
       ResultCode::kCorruptPatch},
      {"seek past the end", OwnPatch(source, target, {Varints({4, 2, 10, 2, 0, 0}), runs, {1}, {'x', 'y'}}), source,
       ResultCode::kCorruptPatch},
      {"extra past the new size", OwnPatch(source, target, {Varints({0, UINT64_MAX, 0}), {}, {}, {}}), source,
       ResultCode::kCorruptPatch},
      {"control record cut", OwnPatch(source, target, {Varints({4, 2}), runs, {1}, {'x', 'y'}}), source, ResultCode::kCorruptPatch},
      {"varint longer than 64 bits", OwnPatch(source, target, {Bytes(11, 0xFF), {}, {}, {}}), source, ResultCode::kCorruptPatch},
      {"difference runs missing", OwnPatch(source, target, {control, {}, {1}, {'x', 'y'}}), source, ResultCode::kCorruptPatch},
      {"difference bytes missing", OwnPatch(source, target, {control, runs, {}, {'x', 'y'}}), source, ResultCode::kCorruptPatch},
      {"new bytes missing", OwnPatch(source, target, {control, runs, {1}, {'x'}}), source, ResultCode::kCorruptPatch},
      {"unused new bytes", OwnPatch(source, target, {control, runs, {1}, {'x', 'y', 'z'}}), source, ResultCode::kCorruptPatch},
      {"unused difference runs", OwnPatch(source, target, {control, Varints({1, 1, 4, 0, 0, 0}), {1}, {'x', 'y'}}), source,
       ResultCode::kCorruptPatch},
      {"endless empty records", OwnPatch(source, target, {Bytes(30000, 0), {}, {}, {}}), source, ResultCode::kCorruptPatch},
      {"wrong difference byte", OwnPatch(source, target, {control, runs, {2}, {'x', 'y'}}), source, ResultCode::kChecksumMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = DecodeOwn(c.source, c.patch, &out);
    EXPECT_EQ(r.code, c.expected) << r.message;
    EXPECT_FALSE(r.message.empty());
  }
}

TEST(ZpatchCorrupt, TruncationsAndBitFlipsNeverPass) {
  const Bytes source = ArchiveLike(50000, 91);
  const Bytes target = Edited(source, 92, 5);
  const Bytes good = EncodeOwn(source, target);
  for (size_t cut = 0; cut < good.size(); cut += 1 + cut / 64) {
    Bytes out;
    EXPECT_FALSE(DecodeOwn(source, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)), &out).ok())
        << "cut at " << cut;
  }
  std::mt19937_64 rng(93);
  for (int i = 0; i < 500; ++i) {
    Bytes p = good;
    p[rng() % p.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    Bytes out;
    const auto r = DecodeOwn(source, p, &out);
    if (r.ok()) {
      EXPECT_TRUE(out == target) << "flip " << i << " decoded to a different file";
    }
  }
}

// ---- Own format: predicted code displacements ----

TEST(ZpatchCodeModel, AddressMapPrefersLongestRegion) {
  using oku::zucchini::AddressMap;
  using oku::zucchini::CopyRegion;
  // old [0, 1000) -> new 100; old [200, 300) also copied to new 5000 (shorter: loses); old
  // [2000, 2500) -> new 1500; a 10-byte region is ignored.
  const AddressMap map({{200, 5000, 100}, {0, 100, 1000}, {2000, 1500, 500}, {1500, 9000, 10}});
  struct Case {
    int64_t old;
    int64_t expected;
  };
  for (const Case& c : std::vector<Case>{{0, 100}, {250, 350}, {999, 1099}, {1500, 1600}, {1999, 2099}, {2000, 1500},
                                         {2600, 2100}, {-5, -5}}) {
    EXPECT_EQ(map.Map(c.old), c.expected) << c.old;
  }
  EXPECT_EQ(AddressMap({}).Map(1234), 1234);
}

// x86-64-like code: functions calling each other (E8, E9, 0F 8x) and loading data RIP-relative
// (48 8D 05), padded with filler bytes.
Bytes BuildCode(const std::vector<size_t>& functionSizes) {
  std::vector<size_t> starts;
  size_t total = 0;
  for (size_t size : functionSizes) {
    starts.push_back(total);
    total += size;
  }
  const size_t dataStart = total;
  Bytes code(total + 4096, 0x00);
  for (size_t i = 0; i < 4096; ++i) code[dataStart + i] = static_cast<uint8_t>(i * 7);
  for (size_t f = 0; f < functionSizes.size(); ++f) {
    size_t at = starts[f];
    const size_t end = starts[f] + functionSizes[f];
    std::mt19937_64 body(f * 977 + 13);  // the same function body in every build
    while (at + 8 < end) {
      const size_t choice = body() % 5;
      int64_t target = 0;
      size_t length = 0, disp = 0;
      Bytes op;
      if (choice == 0) {
        op = {0xE8};
        target = static_cast<int64_t>(starts[body() % starts.size()]);
      } else if (choice == 1) {
        op = {0x0F, static_cast<uint8_t>(0x80 | (body() & 15))};
        target = static_cast<int64_t>(starts[f] + body() % functionSizes[f]);
      } else if (choice == 2) {
        op = {0x48, 0x8D, 0x05};
        target = static_cast<int64_t>(dataStart + body() % 4096);
      } else {
        for (int k = 0; k < 3 && at < end; ++k) code[at++] = static_cast<uint8_t>(0x90 + body() % 8);
        continue;
      }
      length = op.size() + 4;
      disp = op.size();
      if (at + length > end) break;
      std::copy(op.begin(), op.end(), code.begin() + static_cast<std::ptrdiff_t>(at));
      const uint32_t rel = static_cast<uint32_t>(target - static_cast<int64_t>(at + length));
      for (int k = 0; k < 4; ++k) code[at + disp + static_cast<size_t>(k)] = static_cast<uint8_t>(rel >> (8 * k));
      at += length;
    }
  }
  return code;
}

TEST(ZpatchCodeModel, MovedCodeCostsLittle) {
  // 150 functions; the new build grows three of them, which moves everything after them.
  std::vector<size_t> sizes;
  std::mt19937_64 rng(101);
  for (int i = 0; i < 150; ++i) sizes.push_back(200 + rng() % 6000);
  const Bytes old = BuildCode(sizes);
  sizes[20] += 40;
  sizes[90] += 3000;
  sizes[91] -= 100;
  const Bytes next = BuildCode(sizes);
  ASSERT_GT(old.size(), size_t{300} << 10) << "must span several decoder chunks";

  const Bytes patch = EncodeOwn(old, next);
  ASSERT_GE(patch.size(), 8u);
  EXPECT_EQ(patch[4], oku::zucchini::zpatch::kVersionPredicted);
  Bytes out;
  const auto r = DecodeOwn(old, patch, &out);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_TRUE(out == next);
  // Without prediction every call into moved code would differ.
  const uint64_t diffBytes = [&] {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | patch[112 + static_cast<size_t>(i)];
    return v;
  }();
  EXPECT_LT(diffBytes, 3000u) << "difference bytes left after prediction";

  // Bit flips in a predicted patch never yield a wrong file.
  std::mt19937_64 flips(102);
  for (int i = 0; i < 60; ++i) {
    Bytes p = patch;
    p[flips() % p.size()] ^= static_cast<uint8_t>(1u << (flips() % 8));
    Bytes o;
    if (DecodeOwn(old, p, &o).ok()) {
      EXPECT_TRUE(o == next) << "flip " << i;
    }
  }
}

}  // namespace

// A PE32+ image: .text with functions that call each other and load .rdata RIP-relative, .rdata
// with absolute pointers to every function (listed in .reloc) and the .pdata RVAs of each
// function. Growing a function moves .rdata by whole pages in RVAs but by 0x200 steps in the file.
Bytes BuildPe(const std::vector<size_t>& functionSizes) {
  const uint64_t base = 0x140000000;
  const size_t n = functionSizes.size();
  auto align = [](size_t v, size_t a) { return (v + a - 1) / a * a; };
  std::vector<size_t> starts;
  size_t textSize = 0;
  for (size_t s : functionSizes) {
    starts.push_back(textSize);
    textSize += s;
  }
  const size_t textRaw = 0x400, textVa = 0x1000;
  const size_t rdataRaw = align(textRaw + textSize, 0x200), rdataVa = align(textVa + textSize, 0x1000);
  const size_t rdataSize = 8 * n + 12 * n;  // pointers, then the exception table
  const size_t relocRaw = align(rdataRaw + rdataSize, 0x200), relocVa = align(rdataVa + rdataSize, 0x1000);
  Bytes reloc;
  for (size_t page = 0; page < 8 * n; page += 0x1000) {
    const size_t count = std::min<size_t>(512, n - page / 8);
    const size_t blockSize = 8 + 2 * count;
    for (uint64_t v : {uint64_t{rdataVa + page}, uint64_t{blockSize}}) {
      for (int i = 0; i < 4; ++i) reloc.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    for (size_t k = 0; k < count; ++k) {
      const uint16_t entry = static_cast<uint16_t>((10u << 12) | (8 * k));
      reloc.push_back(static_cast<uint8_t>(entry));
      reloc.push_back(static_cast<uint8_t>(entry >> 8));
    }
  }
  Bytes pe(align(relocRaw + reloc.size(), 0x200), 0);
  auto put = [&](size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) pe[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  pe[0] = 'M';
  pe[1] = 'Z';
  put(0x3C, 0x80, 4);
  std::memcpy(pe.data() + 0x80, "PE\0\0", 4);
  put(0x84, 0x8664, 2);
  put(0x86, 3, 2);
  put(0x94, 0xF0, 2);
  const size_t opt = 0x98;
  put(opt, 0x20B, 2);
  put(opt + 24, base, 8);
  put(opt + 108, 16, 4);
  put(opt + 112 + 24, rdataVa + 8 * n, 4);  // exception directory
  put(opt + 112 + 28, 12 * n, 4);
  put(opt + 112 + 40, relocVa, 4);  // base relocations
  put(opt + 112 + 44, reloc.size(), 4);
  const size_t sectionVa[3] = {textVa, rdataVa, relocVa}, sectionRaw[3] = {textRaw, rdataRaw, relocRaw};
  const size_t sectionSize[3] = {textSize, rdataSize, reloc.size()};
  for (size_t s = 0; s < 3; ++s) {
    const size_t at = opt + 0xF0 + 40 * s;
    put(at + 8, sectionSize[s], 4);
    put(at + 12, sectionVa[s], 4);
    put(at + 16, align(sectionSize[s], 0x200), 4);
    put(at + 20, sectionRaw[s], 4);
  }
  for (size_t f = 0; f < n; ++f) {
    std::mt19937_64 rng(f);
    size_t at = starts[f];
    const size_t end = starts[f] + functionSizes[f];
    for (size_t k = 0; at + 40 <= end; ++k) {
      const size_t from = textRaw + at;
      if (k % 2 == 0) {  // call another function
        pe[from] = 0xE8;
        put(from + 1, static_cast<uint32_t>(starts[(f * 7 + k) % n] - (at + 5)), 4);
        at += 5;
      } else {  // lea rax, [rip + pointer of another function]
        pe[from] = 0x48;
        pe[from + 1] = 0x8D;
        pe[from + 2] = 0x05;
        put(from + 3, static_cast<uint32_t>(rdataVa + 8 * ((f + k) % n) - (textVa + at + 7)), 4);
        at += 7;
      }
      for (size_t i = 0; i < 28; ++i) pe[textRaw + at++] = static_cast<uint8_t>(0x10 + rng() % 16);
    }
    put(rdataRaw + 8 * f, base + textVa + starts[f], 8);
    put(rdataRaw + 8 * n + 12 * f, textVa + starts[f], 4);
    put(rdataRaw + 8 * n + 12 * f + 4, textVa + end, 4);
  }
  std::copy(reloc.begin(), reloc.end(), pe.begin() + static_cast<std::ptrdiff_t>(relocRaw));
  return pe;
}

TEST(ZpatchCodeModel, PeReferencesBetweenSectionsCostLittle) {
  std::vector<size_t> sizes;
  std::mt19937_64 rng(103);
  for (int i = 0; i < 600; ++i) sizes.push_back(200 + rng() % 1500);
  const Bytes old = BuildPe(sizes);
  sizes[40] += 700;
  sizes[300] += 2600;
  sizes[301] -= 100;
  const Bytes next = BuildPe(sizes);
  // Inside an archive: other bytes before the image.
  Bytes oldArchive(5000, 7), newArchive(5300, 7);
  oldArchive.insert(oldArchive.end(), old.begin(), old.end());
  newArchive.insert(newArchive.end(), next.begin(), next.end());

  const Bytes patch = EncodeOwn(oldArchive, newArchive);
  ASSERT_GE(patch.size(), oku::zucchini::zpatch::kHeaderSizePe);
  EXPECT_EQ(patch[4], oku::zucchini::zpatch::kVersionPe);
  Bytes out;
  const auto r = DecodeOwn(oldArchive, patch, &out);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_TRUE(out == newArchive);
  const uint64_t diffBytes = [&] {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | patch[112 + static_cast<size_t>(i)];
    return v;
  }();
  // 600 pointers, 1800 exception table RVAs and ~7000 cross-section loads all moved.
  EXPECT_LT(diffBytes, 1500u) << "difference bytes left after prediction";
  const uint64_t newBytes = [&] {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | patch[120 + static_cast<size_t>(i)];
    return v;
  }();
  // The grown functions' filler only: the shifted pointer tables are copies, not new bytes.
  EXPECT_LT(newBytes, 4000u) << "new bytes";

  std::mt19937_64 flips(104);
  for (int i = 0; i < 60; ++i) {
    Bytes p = patch;
    p[flips() % p.size()] ^= static_cast<uint8_t>(1u << (flips() % 8));
    Bytes o;
    if (DecodeOwn(oldArchive, p, &o).ok()) {
      EXPECT_TRUE(o == newArchive) << "flip " << i;
    }
  }
}
