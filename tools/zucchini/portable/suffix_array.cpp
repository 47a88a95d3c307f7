#include "tools/zucchini/portable/suffix_array.h"

#include <algorithm>

namespace oku::zucchini {

namespace {

// The text is followed by a virtual sentinel smaller than every symbol, so the last symbol is
// L-type and the sentinel itself is the last LMS position (never stored).
constexpr uint8_t kS = 1;
constexpr uint8_t kL = 0;

template <class C>
class Sais {
 public:
  Sais(const C* s, int32_t* sa, int32_t n, int32_t k) : s_(s), sa_(sa), n_(n), k_(k), type_(static_cast<size_t>(n)) {}

  void Run() {
    if (n_ == 0) return;
    if (n_ == 1) {
      sa_[0] = 0;
      return;
    }
    type_[static_cast<size_t>(n_ - 1)] = kL;
    for (int32_t i = n_ - 2; i >= 0; --i) {
      type_[static_cast<size_t>(i)] =
          (s_[i] < s_[i + 1] || (s_[i] == s_[i + 1] && type_[static_cast<size_t>(i + 1)] == kS)) ? kS : kL;
    }
    // Sort the LMS substrings: seed the LMS positions at their bucket ends and induce.
    std::fill(sa_, sa_ + n_, -1);
    BucketEnds(true);
    for (int32_t i = 1; i < n_; ++i) {
      if (IsLms(i)) sa_[--bucket_[static_cast<size_t>(s_[i])]] = i;
    }
    Induce();

    // Compact the sorted LMS positions to the front and name their substrings.
    int32_t n1 = 0;
    for (int32_t i = 0; i < n_; ++i) {
      if (IsLms(sa_[i])) sa_[n1++] = sa_[i];
    }
    std::fill(sa_ + n1, sa_ + n_, -1);
    int32_t names = 0;
    int32_t previous = -1;
    for (int32_t i = 0; i < n1; ++i) {
      const int32_t position = sa_[i];
      if (previous < 0 || !SameLmsSubstring(position, previous)) {
        ++names;
        previous = position;
      }
      sa_[n1 + position / 2] = names - 1;  // LMS positions are never adjacent: slots are distinct
    }
    int32_t j = n_ - 1;
    for (int32_t i = n_ - 1; i >= n1; --i) {
      if (sa_[i] >= 0) sa_[j--] = sa_[i];
    }

    // Order the LMS suffixes: recurse on the reduced string unless all names are distinct.
    int32_t* reduced = sa_ + n_ - n1;
    if (names < n1) {
      Sais<int32_t>(reduced, sa_, n1, names).Run();
    } else {
      for (int32_t i = 0; i < n1; ++i) sa_[reduced[i]] = i;
    }
    j = 0;
    for (int32_t i = 1; i < n_; ++i) {
      if (IsLms(i)) reduced[j++] = i;
    }
    for (int32_t i = 0; i < n1; ++i) sa_[i] = reduced[sa_[i]];
    std::fill(sa_ + n1, sa_ + n_, -1);
    BucketEnds(true);
    for (int32_t i = n1 - 1; i >= 0; --i) {
      const int32_t position = sa_[i];
      sa_[i] = -1;
      sa_[--bucket_[static_cast<size_t>(s_[position])]] = position;
    }
    Induce();
  }

 private:
  bool IsLms(int32_t i) const {
    return i > 0 && i < n_ && type_[static_cast<size_t>(i)] == kS && type_[static_cast<size_t>(i - 1)] == kL;
  }

  bool SameLmsSubstring(int32_t a, int32_t b) const {
    for (int32_t d = 0;; ++d) {
      if (a + d == n_ || b + d == n_) return false;  // only one of them can reach the sentinel
      if (s_[a + d] != s_[b + d] || type_[static_cast<size_t>(a + d)] != type_[static_cast<size_t>(b + d)]) return false;
      if (d > 0 && IsLms(a + d)) return true;  // both end here: symbols and types agree so far
    }
  }

  void BucketEnds(bool ends) {
    bucket_.assign(static_cast<size_t>(k_), 0);
    for (int32_t i = 0; i < n_; ++i) ++bucket_[static_cast<size_t>(s_[i])];
    int32_t sum = 0;
    for (int32_t& b : bucket_) {
      sum += b;
      b = ends ? sum : sum - b;
    }
  }

  void Induce() {
    BucketEnds(false);
    // The suffix before the sentinel is L-type and the smallest of its bucket.
    sa_[bucket_[static_cast<size_t>(s_[n_ - 1])]++] = n_ - 1;
    for (int32_t i = 0; i < n_; ++i) {
      const int32_t j = sa_[i] - 1;
      if (j >= 0 && type_[static_cast<size_t>(j)] == kL) sa_[bucket_[static_cast<size_t>(s_[j])]++] = j;
    }
    BucketEnds(true);
    for (int32_t i = n_ - 1; i >= 0; --i) {
      const int32_t j = sa_[i] - 1;
      if (j >= 0 && type_[static_cast<size_t>(j)] == kS) sa_[--bucket_[static_cast<size_t>(s_[j])]] = j;
    }
  }

  const C* s_;
  int32_t* sa_;
  int32_t n_;
  int32_t k_;
  std::vector<uint8_t> type_;
  std::vector<int32_t> bucket_;
};

}  // namespace

std::vector<int32_t> BuildSuffixArray(const uint8_t* text, size_t n) {
  if (n > kMaxSuffixArrayText) return {};
  std::vector<int32_t> sa(n);
  Sais<uint8_t>(text, sa.data(), static_cast<int32_t>(n), 256).Run();
  return sa;
}

}  // namespace oku::zucchini
