// VCDIFF encoder. The source is indexed once by fingerprints of its aligned blocks; each target
// window is scanned with a rolling hash, candidate blocks are verified and extended greedily in
// both directions, and the resulting copies are coded against one source segment per window that
// spans exactly the source bytes the window uses.
#include <algorithm>
#include <cstring>
#include <vector>

#include "tools/zucchini/portable/vcdiff.h"
#include "tools/zucchini/portable/vcdiff_format.h"

namespace oku::zucchini {

namespace {

using namespace format;

constexpr uint64_t kHashMultiplier = 0x100000001B3ULL;
constexpr uint64_t kMix = 0x9E3779B97F4A7C15ULL;
constexpr size_t kMinRun = 16;
constexpr size_t kReadChunk = size_t{1} << 20;

Result Fail(ResultCode code, std::string message) { return Result{code, std::move(message)}; }

class RollingHash {
 public:
  explicit RollingHash(size_t width) : width_(width) {
    power_ = 1;
    for (size_t i = 1; i < width; ++i) power_ *= kHashMultiplier;
  }
  uint64_t Of(const uint8_t* p) const {
    uint64_t h = 0;
    for (size_t i = 0; i < width_; ++i) h = h * kHashMultiplier + p[i];
    return h;
  }
  uint64_t Roll(uint64_t h, uint8_t out, uint8_t in) const { return (h - out * power_) * kHashMultiplier + in; }

 private:
  size_t width_;
  uint64_t power_;
};

// Aligned source block fingerprints, one entry per bucket; the first block of a bucket is kept.
class SourceIndex {
 public:
  SourceIndex(size_t blockSize, uint64_t sourceSize) : blockSize_(blockSize), hash_(blockSize) {
    const uint64_t blocks = sourceSize / blockSize;
    bits_ = 10;
    while ((uint64_t{1} << bits_) < blocks && bits_ < 26) ++bits_;
    table_.assign(size_t{1} << bits_, 0);
  }

  bool Build(RandomSource& source) {
    std::vector<uint8_t> chunk(kReadChunk - kReadChunk % blockSize_);
    const uint64_t blocks = source.Size() / blockSize_;
    uint64_t block = 0;
    while (block < blocks) {
      const uint64_t count = std::min<uint64_t>(blocks - block, chunk.size() / blockSize_);
      if (!source.ReadAt(block * blockSize_, chunk.data(), static_cast<size_t>(count * blockSize_))) return false;
      for (uint64_t i = 0; i < count; ++i) {
        const uint64_t h = hash_.Of(chunk.data() + i * blockSize_);
        uint64_t& slot = table_[Bucket(h)];
        if (slot == 0 && block + i < UINT32_MAX) slot = (uint64_t{Check(h)} << 32) | (block + i + 1);
      }
      block += count;
    }
    return true;
  }

  const RollingHash& hash() const { return hash_; }
  // The source offset of the candidate block for fingerprint h, or UINT64_MAX.
  uint64_t Lookup(uint64_t h) const {
    const uint64_t slot = table_[Bucket(h)];
    if (slot == 0 || (slot >> 32) != Check(h)) return UINT64_MAX;
    return ((slot & 0xFFFFFFFFu) - 1) * blockSize_;
  }

 private:
  size_t Bucket(uint64_t h) const { return static_cast<size_t>((h * kMix) >> (64 - bits_)); }
  // A second 32-bit fingerprint kept with each entry, so candidates whose block differs are
  // discarded without reading the source.
  static uint32_t Check(uint64_t h) { return static_cast<uint32_t>(h ^ (h >> 32)); }

  size_t blockSize_;
  RollingHash hash_;
  int bits_;
  std::vector<uint64_t> table_;  // check << 32 | block number + 1; 0 = empty
};

struct Op {
  uint8_t type;         // kAdd, kRun or kCopy
  size_t position;      // start in the window
  size_t length;
  uint64_t source = 0;  // kCopy: absolute source offset
};

// Codes one window's operations into the three VCDIFF sections.
class WindowWriter {
 public:
  WindowWriter() : table_(DefaultCodeTable()) {}

  void Encode(const std::vector<Op>& ops, const uint8_t* window, uint64_t segmentStart, uint64_t segmentLength) {
    data_.clear();
    inst_.clear();
    addr_.clear();
    cache_.Reset();
    pending_ = false;
    for (const Op& op : ops) {
      Instruction in{op.type, 0, 0};
      if (op.type == kAdd) {
        data_.insert(data_.end(), window + op.position, window + op.position + op.length);
      } else if (op.type == kRun) {
        data_.push_back(window[op.position]);
      } else {
        in.mode = EncodeAddress(op.source - segmentStart, segmentLength + op.position);
      }
      Push(in, op.length);
    }
    Flush();
  }

  const std::vector<uint8_t>& data() const { return data_; }
  const std::vector<uint8_t>& inst() const { return inst_; }
  const std::vector<uint8_t>& addr() const { return addr_; }

 private:
  uint8_t EncodeAddress(uint64_t address, uint64_t here) {
    const size_t sameSlot = address % (kSameSize * 256);
    uint8_t mode;
    if (cache_.same(sameSlot) == address) {
      mode = static_cast<uint8_t>(2 + kNearSize + sameSlot / 256);
      addr_.push_back(static_cast<uint8_t>(sameSlot % 256));
    } else {
      mode = kModeSelf;
      uint64_t best = address;
      if (here - address < best) {
        mode = kModeHere;
        best = here - address;
      }
      for (int i = 0; i < kNearSize; ++i) {
        if (address >= cache_.near(i) && address - cache_.near(i) < best) {
          mode = static_cast<uint8_t>(2 + i);
          best = address - cache_.near(i);
        }
      }
      AppendVarint(addr_, best);
    }
    cache_.Update(address);
    return mode;
  }

  // Emits instructions one behind, so an ADD followed by a COPY (or a COPY by an ADD) can share
  // one of the table's double codes.
  void Push(Instruction in, size_t length) {
    if (pending_) {
      const int pairCode = FindPair(pendingIn_, pendingLength_, in, length);
      if (pairCode >= 0) {
        inst_.push_back(static_cast<uint8_t>(pairCode));
        pending_ = false;
        return;
      }
      EmitSingle(pendingIn_, pendingLength_);
    }
    pending_ = true;
    pendingIn_ = in;
    pendingLength_ = length;
  }

  void Flush() {
    if (pending_) EmitSingle(pendingIn_, pendingLength_);
    pending_ = false;
  }

  int FindPair(Instruction a, size_t aLength, Instruction b, size_t bLength) const {
    if (aLength > 255 || bLength > 255) return -1;
    for (int code = 163; code < 256; ++code) {
      const CodeEntry& e = table_[code];
      if (e.first.type == a.type && e.first.size == aLength && e.first.mode == a.mode && e.second.type == b.type &&
          e.second.size == bLength && e.second.mode == b.mode) {
        return code;
      }
    }
    return -1;
  }

  void EmitSingle(Instruction in, size_t length) {
    int code = -1;
    int explicitCode = -1;
    for (int c = 0; c < 163; ++c) {
      const CodeEntry& e = table_[c];
      if (e.first.type != in.type || e.first.mode != in.mode || e.second.type != kNoop) continue;
      if (e.first.size == 0) explicitCode = c;
      if (e.first.size != 0 && e.first.size == length) {
        code = c;
        break;
      }
    }
    if (code >= 0) {
      inst_.push_back(static_cast<uint8_t>(code));
    } else {
      inst_.push_back(static_cast<uint8_t>(explicitCode));
      AppendVarint(inst_, length);
    }
  }

  const std::array<CodeEntry, 256>& table_;
  std::vector<uint8_t> data_, inst_, addr_;
  AddressCache cache_;
  bool pending_ = false;
  Instruction pendingIn_;
  size_t pendingLength_ = 0;
};

class Encoder {
 public:
  Encoder(RandomSource& source, RandomSource& target, ByteSink& patch, const EncodeOptions& options)
      : source_(source),
        target_(target),
        patch_(patch),
        options_(options),
        blockSize_(ChooseBlockSize(options.blockSize, source.Size())),
        index_(blockSize_, source.Size()),
        sourceCache_(source, size_t{256} << 10, 64) {}

  Result Run() {
    if (!index_.Build(source_)) return Fail(ResultCode::kReadSourceFailed, "cannot read the old file");
    std::vector<uint8_t> header(kMagic, kMagic + 4);
    header.push_back(0);  // Hdr_Indicator: default code table, no compression, no application data
    if (!patch_.Write(header.data(), header.size())) return Fail(ResultCode::kWriteFailed, "cannot write the patch");

    const uint64_t total = target_.Size();
    const size_t windowSize =
        static_cast<size_t>(std::clamp<uint64_t>(options_.windowSize, 1024, kMaxDecodeWindow));
    std::vector<uint8_t> window;
    uint64_t offset = 0;
    do {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(windowSize, total - offset));
      window.resize(length);
      if (!target_.ReadAt(offset, window.data(), length)) {
        return Fail(ResultCode::kReadTargetFailed, "cannot read the new file");
      }
      Result r = EncodeWindow(window);
      if (!r.ok()) return r;
      offset += length;
    } while (offset < total);  // an empty target still gets one (empty) window
    return {};
  }

 private:
  static size_t ChooseBlockSize(size_t requested, uint64_t sourceSize) {
    if (requested != 0) return std::clamp<size_t>(requested, 4, 4096);
    if (sourceSize < (uint64_t{4} << 20)) return 16;
    return 32;
  }

  Result EncodeWindow(const std::vector<uint8_t>& window) {
    ops_.clear();
    Result r = Match(window);
    if (!r.ok()) return r;

    uint64_t lo = UINT64_MAX, hi = 0;
    for (const Op& op : ops_) {
      if (op.type != kCopy) continue;
      lo = std::min(lo, op.source);
      hi = std::max(hi, op.source + op.length);
    }
    const bool hasSource = lo != UINT64_MAX;
    const uint64_t segmentStart = hasSource ? lo : 0;
    const uint64_t segmentLength = hasSource ? hi - lo : 0;
    writer_.Encode(ops_, window.data(), segmentStart, segmentLength);

    std::vector<uint8_t> head;
    uint8_t indicator = hasSource ? kWinSource : 0;
    if (options_.checksum) indicator |= kWinAdler32;
    head.push_back(indicator);
    if (hasSource) {
      AppendVarint(head, segmentLength);
      AppendVarint(head, segmentStart);
    }
    std::vector<uint8_t> delta;
    AppendVarint(delta, window.size());
    delta.push_back(0);  // Delta_Indicator: no compressed sections
    AppendVarint(delta, writer_.data().size());
    AppendVarint(delta, writer_.inst().size());
    AppendVarint(delta, writer_.addr().size());
    if (options_.checksum) {
      const uint32_t adler = Adler32(1, window.data(), window.size());
      for (int shift = 24; shift >= 0; shift -= 8) delta.push_back(static_cast<uint8_t>(adler >> shift));
    }
    AppendVarint(head, delta.size() + writer_.data().size() + writer_.inst().size() + writer_.addr().size());
    const std::vector<uint8_t>* parts[] = {&head, &delta, &writer_.data(), &writer_.inst(), &writer_.addr()};
    for (const std::vector<uint8_t>* part : parts) {
      if (!part->empty() && !patch_.Write(part->data(), part->size())) {
        return Fail(ResultCode::kWriteFailed, "cannot write the patch");
      }
    }
    return {};
  }

  // Literal bytes [from, to) of the window as ADDs, with long runs of one byte as RUNs.
  void EmitLiteral(const std::vector<uint8_t>& w, size_t from, size_t to) {
    size_t addStart = from;
    size_t p = from;
    while (p < to) {
      size_t run = 1;
      while (p + run < to && w[p + run] == w[p]) ++run;
      if (run >= kMinRun) {
        if (addStart < p) ops_.push_back(Op{kAdd, addStart, p - addStart});
        ops_.push_back(Op{kRun, p, run});
        addStart = p + run;
      }
      p += run;
    }
    if (addStart < to) ops_.push_back(Op{kAdd, addStart, to - addStart});
  }

  // Number of equal bytes of w[pos..end) and the source from s onwards; SIZE_MAX on a read error.
  size_t ExtendForward(const std::vector<uint8_t>& w, size_t pos, uint64_t s) {
    size_t matched = 0;
    const uint64_t sourceSize = source_.Size();
    while (pos + matched < w.size() && s + matched < sourceSize) {
      size_t available = 0;
      const uint8_t* span = sourceCache_.Span(s + matched, &available);
      if (span == nullptr) return SIZE_MAX;
      const size_t n = std::min(available, w.size() - pos - matched);
      const uint8_t* t = w.data() + pos + matched;
      size_t i = 0;
      while (i < n && t[i] == span[i]) ++i;
      matched += i;
      if (i < n) break;
    }
    return matched;
  }

  // Number of equal bytes going backwards from w[pos-1] / source[s-1], at most limit.
  size_t ExtendBackward(const std::vector<uint8_t>& w, size_t pos, uint64_t s, size_t limit) {
    size_t matched = 0;
    uint8_t buffer[256];
    while (matched < limit && s > matched) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>({sizeof buffer, limit - matched, s - matched}));
      if (!sourceCache_.ReadAt(s - matched - n, buffer, n)) return SIZE_MAX;
      size_t i = 0;
      while (i < n && buffer[n - 1 - i] == w[pos - matched - 1 - i]) ++i;
      matched += i;
      if (i < n) break;
    }
    return matched;
  }

  Result Match(const std::vector<uint8_t>& w) {
    const size_t n = w.size();
    const size_t b = blockSize_;
    const RollingHash& hash = index_.hash();
    size_t literalStart = 0;
    size_t p = 0;
    uint64_t h = 0;
    bool hashValid = false;
    uint8_t probe[4096];
    while (p + b <= n) {
      if (!hashValid) {
        h = hash.Of(w.data() + p);
        hashValid = true;
      }
      const uint64_t candidate = index_.Lookup(h);
      if (candidate != UINT64_MAX) {
        if (!sourceCache_.ReadAt(candidate, probe, b)) return Fail(ResultCode::kReadSourceFailed, "cannot read the old file");
        if (std::memcmp(probe, w.data() + p, b) == 0) {
          const size_t back = ExtendBackward(w, p, candidate, p - literalStart);
          const size_t forward = ExtendForward(w, p + b, candidate + b);
          if (back == SIZE_MAX || forward == SIZE_MAX) {
            return Fail(ResultCode::kReadSourceFailed, "cannot read the old file");
          }
          const size_t start = p - back;
          const size_t length = back + b + forward;
          EmitLiteral(w, literalStart, start);
          ops_.push_back(Op{kCopy, start, length, candidate - back});
          p = start + length;
          literalStart = p;
          hashValid = false;
          continue;
        }
      }
      if (p + b >= n) break;
      h = hash.Roll(h, w[p], w[p + b]);
      ++p;
    }
    EmitLiteral(w, literalStart, n);
    return {};
  }

  RandomSource& source_;
  RandomSource& target_;
  ByteSink& patch_;
  EncodeOptions options_;
  size_t blockSize_;
  SourceIndex index_;
  BlockCache sourceCache_;
  WindowWriter writer_;
  std::vector<Op> ops_;
};

}  // namespace

Result EncodeVcdiff(RandomSource& source, RandomSource& target, ByteSink& patch, const EncodeOptions& options) {
  Encoder encoder(source, target, patch, options);
  return encoder.Run();
}

}  // namespace oku::zucchini
