// Encoder: approximate matches in the style of bsdiff. An exact match of the new file's next bytes
// is found by binary search in the old file's suffix array; a match is taken when it beats the
// current alignment (old offset carried over from the last match) by more than a few bytes, and
// both neighbouring matches are then stretched over the bytes between them as far as at least half
// of the stretched bytes still agree. Stretched regions are coded as byte differences (mostly
// zero), the rest as new bytes. Where it leaves fewer non-zero differences, the copies are taken
// against the old bytes with their code displacements predicted from the address map of all copies
// (code_model.h), and the patch says so by its version; where both files hold PE images, also in
// RVAs of the paired images with their relocated pointers and exception tables (pe_model.h).
// Time: O(n) for the suffix array plus O(m log n) searches, each comparing at most kMaxMatch bytes.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tools/zucchini/portable/code_model.h"
#include "tools/zucchini/portable/pe_model.h"
#include "tools/zucchini/portable/sha256.h"
#include "tools/zucchini/portable/suffix_array.h"
#include "tools/zucchini/portable/zpatch.h"

namespace oku::zucchini {

namespace {

using Bytes = std::vector<uint8_t>;

// Cap on one comparison in the suffix search: bounds the work per searched position on long
// repeats (zero padding); longer matches are still found by the stretching step.
constexpr int64_t kMaxMatch = 4096;
// A zero run at least this long ends a literal run of the difference stream.
constexpr size_t kMinZeroRun = 4;

void PutVarint(Bytes& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

void PutLe(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t ZigZag(int64_t value) {
  return value < 0 ? ((~static_cast<uint64_t>(value)) << 1) | 1 : static_cast<uint64_t>(value) << 1;
}

class Matcher {
 public:
  Matcher(const Bytes& old, const Bytes& target, const std::vector<int32_t>& sa)
      : old_(old), new_(target), sa_(sa), n_(static_cast<int64_t>(old.size())), m_(static_cast<int64_t>(target.size())) {}

  // Fills the control, difference and extra streams, and the regions copied with a difference.
  void Run(Bytes& control, Bytes& diff, Bytes& extra, std::vector<CopyRegion>& regions) {
    int64_t scan = 0, length = 0, position = 0;
    int64_t lastScan = 0, lastPosition = 0, lastOffset = 0;
    while (scan < m_) {
      int64_t oldScore = 0;
      int64_t scored = scan += length;
      for (; scan < m_; ++scan) {
        length = Search(scan, &position);
        for (; scored < scan + length; ++scored) {
          if (Agrees(scored + lastOffset, scored)) ++oldScore;
        }
        if ((length == oldScore && length != 0) || length > oldScore + 8) break;
        if (Agrees(scan + lastOffset, scan)) --oldScore;
      }
      if (length == oldScore && scan != m_) continue;

      // Stretch the previous match forward and the new one backward.
      int64_t forward = 0;
      for (int64_t i = 0, agree = 0, best = 0; lastScan + i < scan && lastPosition + i < n_;) {
        if (old_[static_cast<size_t>(lastPosition + i)] == new_[static_cast<size_t>(lastScan + i)]) ++agree;
        ++i;
        if (agree * 2 - i > best * 2 - forward) {
          best = agree;
          forward = i;
        }
      }
      int64_t backward = 0;
      if (scan < m_) {
        for (int64_t i = 1, agree = 0, best = 0; scan >= lastScan + i && position >= i; ++i) {
          if (old_[static_cast<size_t>(position - i)] == new_[static_cast<size_t>(scan - i)]) ++agree;
          if (agree * 2 - i > best * 2 - backward) {
            best = agree;
            backward = i;
          }
        }
      }
      if (lastScan + forward > scan - backward) {  // overlap: split where the two agree best
        const int64_t overlap = (lastScan + forward) - (scan - backward);
        int64_t score = 0, bestScore = 0, split = 0;
        for (int64_t i = 0; i < overlap; ++i) {
          if (new_[static_cast<size_t>(lastScan + forward - overlap + i)] ==
              old_[static_cast<size_t>(lastPosition + forward - overlap + i)]) {
            ++score;
          }
          if (new_[static_cast<size_t>(scan - backward + i)] == old_[static_cast<size_t>(position - backward + i)]) --score;
          if (score > bestScore) {
            bestScore = score;
            split = i + 1;
          }
        }
        forward += split - overlap;
        backward -= split;
      }

      regions.push_back(CopyRegion{static_cast<uint64_t>(lastPosition), static_cast<uint64_t>(lastScan),
                                   static_cast<uint64_t>(forward)});
      for (int64_t i = 0; i < forward; ++i) {
        diff.push_back(static_cast<uint8_t>(new_[static_cast<size_t>(lastScan + i)] - old_[static_cast<size_t>(lastPosition + i)]));
      }
      const int64_t extraLength = (scan - backward) - (lastScan + forward);
      extra.insert(extra.end(), new_.begin() + lastScan + forward, new_.begin() + scan - backward);
      const bool last = scan >= m_;
      const int64_t seek = last ? 0 : (position - backward) - (lastPosition + forward);
      PutVarint(control, static_cast<uint64_t>(forward));
      PutVarint(control, static_cast<uint64_t>(extraLength));
      PutVarint(control, ZigZag(seek));
      lastScan = scan - backward;
      lastPosition = position - backward;
      lastOffset = position - scan;
    }
  }

 private:
  bool Agrees(int64_t oldAt, int64_t newAt) const {
    return oldAt >= 0 && oldAt < n_ && old_[static_cast<size_t>(oldAt)] == new_[static_cast<size_t>(newAt)];
  }

  int64_t CommonPrefix(int64_t oldAt, int64_t newAt) const {
    const int64_t limit = std::min({n_ - oldAt, m_ - newAt, kMaxMatch});
    int64_t i = 0;
    while (i < limit && old_[static_cast<size_t>(oldAt + i)] == new_[static_cast<size_t>(newAt + i)]) ++i;
    return i;
  }

  // Length (capped) and old position of the longest old match of new[at...].
  int64_t Search(int64_t at, int64_t* position) const {
    *position = 0;
    if (n_ == 0) return 0;
    const uint8_t* pattern = new_.data() + at;
    const int64_t patternLength = std::min(m_ - at, kMaxMatch);
    // First suffix not smaller than the pattern (compared over at most patternLength bytes).
    int64_t lo = 0, hi = n_;
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      const int64_t suffix = sa_[static_cast<size_t>(mid)];
      const int64_t common = std::min(n_ - suffix, patternLength);
      const int c = std::memcmp(old_.data() + suffix, pattern, static_cast<size_t>(common));
      if (c < 0 || (c == 0 && common < patternLength)) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    int64_t best = -1;
    for (int64_t i : {lo - 1, lo}) {
      if (i < 0 || i >= n_) continue;
      const int64_t suffix = sa_[static_cast<size_t>(i)];
      const int64_t common = CommonPrefix(suffix, at);
      if (common > best) {
        best = common;
        *position = suffix;
      }
    }
    return best;
  }

  const Bytes& old_;
  const Bytes& new_;
  const std::vector<int32_t>& sa_;
  const int64_t n_;
  const int64_t m_;
};

// Splits the difference bytes into (zero run, literal run) pairs and the literal bytes.
void SplitDifference(const Bytes& diff, Bytes& runs, Bytes& literals) {
  size_t i = 0;
  while (i < diff.size()) {
    size_t zeros = 0;
    while (i + zeros < diff.size() && diff[i + zeros] == 0) ++zeros;
    i += zeros;
    size_t end = i;
    while (end < diff.size()) {
      if (diff[end] != 0) {
        ++end;
        continue;
      }
      size_t run = 0;
      while (end + run < diff.size() && diff[end + run] == 0 && run < kMinZeroRun) ++run;
      if (run >= kMinZeroRun || end + run == diff.size()) break;
      end += run;
    }
    PutVarint(runs, zeros);
    PutVarint(runs, end - i);
    literals.insert(literals.end(), diff.begin() + static_cast<std::ptrdiff_t>(i), diff.begin() + static_cast<std::ptrdiff_t>(end));
    i = end;
  }
}

// The difference of every copied region against the old bytes as predict rewrites them.
template <typename Predict>
Bytes PredictedDifference(const Bytes& old, const Bytes& target, const std::vector<CopyRegion>& regions,
                          const Predict& predict) {
  Bytes diff, buffer;
  for (const CopyRegion& r : regions) {
    buffer.assign(old.begin() + static_cast<std::ptrdiff_t>(r.oldStart),
                  old.begin() + static_cast<std::ptrdiff_t>(r.oldStart + r.length));
    predict(buffer, r.oldStart, static_cast<int64_t>(r.newStart) - static_cast<int64_t>(r.oldStart));
    for (size_t i = 0; i < buffer.size(); ++i) diff.push_back(static_cast<uint8_t>(target[r.newStart + i] - buffer[i]));
  }
  return diff;
}

// The version 3 difference for regions, with the layouts stream and the old file with its pointers
// predicted (for a second matching pass); false when no images pair up or their tables are too big.
bool PeDifference(const Bytes& old, const Bytes& target, const std::vector<CopyRegion>& regions,
                  const std::vector<PeLayout>& oldImages, const std::vector<PeLayout>& newImages, Bytes* diff,
                  Bytes* layouts, Bytes* predictedOld) {
  const AddressMap map(regions);
  std::vector<PePair> pairs = PairPeImages(oldImages, newImages, map);
  if (pairs.empty()) return false;
  layouts->clear();
  WritePeLayouts(pairs, *layouts);
  if (layouts->size() > kMaxLayoutStream) return false;
  PeModel pe(std::move(pairs), map, old.size());
  if (!pe.LoadPointers([&](uint64_t at, uint8_t* out, size_t n) {
        std::memcpy(out, old.data() + at, n);
        return true;
      })) {
    return false;
  }
  *diff = PredictedDifference(old, target, regions, [&](Bytes& b, uint64_t start, int64_t delta) {
    pe.Predict(b.data(), b.size(), 0, b.size(), start, delta);
  });
  *predictedOld = old;
  pe.PredictPointers(predictedOld->data(), predictedOld->size(), 0);
  return true;
}

size_t NonZero(const Bytes& bytes) { return bytes.size() - static_cast<size_t>(std::count(bytes.begin(), bytes.end(), 0)); }

bool ReadAll(RandomSource& source, Bytes& out) {
  const uint64_t size = source.Size();
  if (size > SIZE_MAX) return false;
  out.resize(static_cast<size_t>(size));
  return source.ReadAt(0, out.data(), out.size());
}

}  // namespace

Result EncodeZpatch(RandomSource& oldSource, RandomSource& targetSource, ByteSink& patch) {
  Bytes old, target;
  if (!ReadAll(oldSource, old)) return Result{ResultCode::kReadSourceFailed, "cannot read the old file"};
  if (old.size() > kMaxSuffixArrayText) return Result{ResultCode::kUnsupported, "the old file is larger than 2 GiB"};
  if (!ReadAll(targetSource, target)) return Result{ResultCode::kReadTargetFailed, "cannot read the new file"};

  Bytes streams[zpatch::kStreamCountPe];
  uint32_t version = zpatch::kVersion;
  {
    Bytes diff;
    std::vector<CopyRegion> regions;
    {
      const std::vector<int32_t> sa = BuildSuffixArray(old.data(), old.size());
      Matcher(old, target, sa).Run(streams[zpatch::kControl], diff, streams[zpatch::kExtra], regions);
    }
    // Predicted displacements pay off in code; elsewhere the plain difference may be sparser.
    if (regions.size() <= zpatch::kMaxPredictedRecords) {
      const AddressMap map(regions);
      Bytes predicted = PredictedDifference(old, target, regions, [&](Bytes& b, uint64_t start, int64_t delta) {
        PredictDisplacements(b.data(), b.size(), 0, b.size(), start, delta, map, old.size());
      });
      if (NonZero(predicted) < NonZero(diff)) {
        diff.swap(predicted);
        version = zpatch::kVersionPredicted;
      }
      // With PE images in both files: RVA targets and the old images' pointer tables.
      const std::vector<PeLayout> oldImages = FindPeImages(old.data(), old.size());
      const std::vector<PeLayout> newImages = FindPeImages(target.data(), target.size());
      Bytes layouts, predictedOld;
      if (PeDifference(old, target, regions, oldImages, newImages, &predicted, &layouts, &predictedOld) &&
          NonZero(predicted) < NonZero(diff)) {
        diff.swap(predicted);
        version = zpatch::kVersionPe;
        streams[zpatch::kLayout].swap(layouts);
      }
      // Tables whose every entry moved (.pdata, pointer arrays) match nothing in the old bytes but
      // do in the old bytes with their pointers predicted: match again against those, and keep
      // the second edit when it leaves fewer non-zero differences and new bytes.
      if (!predictedOld.empty()) {
        Bytes control2, unused, extra2;
        std::vector<CopyRegion> regions2;
        {
          const std::vector<int32_t> sa = BuildSuffixArray(predictedOld.data(), predictedOld.size());
          Matcher(predictedOld, target, sa).Run(control2, unused, extra2, regions2);
        }
        Bytes().swap(predictedOld);
        Bytes diff2, layouts2, ignored;
        if (regions2.size() <= zpatch::kMaxPredictedRecords &&
            PeDifference(old, target, regions2, oldImages, newImages, &diff2, &layouts2, &ignored) &&
            NonZero(diff2) + extra2.size() < NonZero(diff) + streams[zpatch::kExtra].size()) {
          diff.swap(diff2);
          version = zpatch::kVersionPe;
          streams[zpatch::kControl].swap(control2);
          streams[zpatch::kExtra].swap(extra2);
          streams[zpatch::kLayout].swap(layouts2);
        }
      }
    }
    SplitDifference(diff, streams[zpatch::kDiffRuns], streams[zpatch::kDiffBytes]);
  }

  const uint32_t streamCount = version == zpatch::kVersionPe ? zpatch::kStreamCountPe : zpatch::kStreamCount;
  const size_t headerSize = 96 + 8 * size_t{streamCount};
  uint8_t header[zpatch::kHeaderSizePe] = {};
  std::memcpy(header, zpatch::kMagic, 4);
  PutLe(header + 4, version, 4);
  PutLe(header + 8, old.size(), 8);
  PutLe(header + 16, target.size(), 8);
  const Sha256::Digest oldHash = Sha256Of(old.data(), old.size());
  const Sha256::Digest newHash = Sha256Of(target.data(), target.size());
  std::memcpy(header + 24, oldHash.data(), 32);
  std::memcpy(header + 56, newHash.data(), 32);
  PutLe(header + 88, streamCount, 4);
  for (size_t i = 0; i < streamCount; ++i) PutLe(header + 96 + 8 * i, streams[i].size(), 8);
  if (!patch.Write(header, headerSize)) return Result{ResultCode::kWriteFailed, "cannot write the patch"};
  for (size_t i = 0; i < streamCount; ++i) {
    if (!streams[i].empty() && !patch.Write(streams[i].data(), streams[i].size())) {
      return Result{ResultCode::kWriteFailed, "cannot write the patch"};
    }
  }
  return Result{};
}

}  // namespace oku::zucchini
